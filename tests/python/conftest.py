"""Shared fixtures: the package under test and the in-process service emulator.

The package is the build tree's when $ORV_PYTHON_DIR names it, otherwise the installed orvlib (CI
installs it with pip into a virtual environment), otherwise build/python's."""

import importlib.util
import os
import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
# Dask workers and example scripts import orvlib and the tests' own helpers from the same places.
paths = [str(ROOT / "tests" / "python")]
if "ORV_PYTHON_DIR" in os.environ or importlib.util.find_spec("orvlib") is None:
    build = str(pathlib.Path(os.environ.get("ORV_PYTHON_DIR", ROOT / "build" / "python")))
    sys.path.insert(0, build)
    paths.insert(0, build)
os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [*paths, os.environ.get("PYTHONPATH")]))

import orvlib  # noqa: E402
from orvlib.emulator import DEMO_KEY, Emulator  # noqa: E402


@pytest.fixture(scope="session")
def service():
    with Emulator() as emulator:
        orvlib.set_service(emulator.base_url, ca_file=emulator.ca_file)
        yield emulator
    orvlib.set_service()


class Outcomes:
    """Every callback of a client, recorded by kind."""

    def __init__(self):
        self.location, self.error, self.reverse, self.geocode, self.poi = [], [], [], [], []

    def wait(self, kind, count=1, timeout=10):
        orvlib.run_until(lambda: len(getattr(self, kind)) >= count or self.error, timeout)
        assert not self.error or kind == "error", self.error
        assert len(getattr(self, kind)) >= count, f"no {kind} outcome within {timeout} s"
        return getattr(self, kind)


@pytest.fixture
def outcomes():
    return Outcomes()


@pytest.fixture
def client(service, outcomes):
    orvlib.set_service(service.base_url, ca_file=service.ca_file)  # snippets may have changed it
    c = orvlib.Client(**{"on_" + kind: getattr(outcomes, kind).append
                         for kind in ("location", "error", "reverse", "geocode", "poi")})
    c.init_key(DEMO_KEY)
    c.set_agree_privacy(True)
    return c
