"""The README's Python snippets and the examples run as written."""

import re
import subprocess
import sys

import pytest

from conftest import ROOT


def readme_snippets():
    text = (ROOT / "README.md").read_text()
    section = text.split("\n## Python", 1)[1].split("\n## ", 1)[0]
    return re.findall(r"```python\n(.*?)```", section, re.S)


@pytest.mark.parametrize("snippet", readme_snippets())
def test_readme_snippet_runs(snippet):
    exec(compile(snippet, "README.md", "exec"), {})


@pytest.mark.parametrize("example", sorted((ROOT / "python" / "examples").glob("*.py")),
                         ids=lambda p: p.name)
def test_example_runs(example):
    done = subprocess.run([sys.executable, str(example)], capture_output=True, text=True,
                          timeout=120, cwd=ROOT)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip()
