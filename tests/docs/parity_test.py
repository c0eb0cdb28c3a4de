#!/usr/bin/python3
"""Every public C++ operation has a row in docs/parity.md naming its C and Python form, or saying
with "—" and a reason why there is none.

The operations come from the public headers (include/orv/*.h): public member functions of every
exported class (overloads are one operation; constructors, destructors and operators are not
operations) and every exported free function. A record class (one with CodingKeys) is one
operation: its accessors and JSON forms travel together. C names in the table must exist in
orv_c.h.

Usage: parity_test.py SOURCE_DIR
"""
import pathlib
import re
import sys

SKIPPED_HEADERS = {"orv_c.h", "export.h"}


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def block_end(text, open_at):
    """Index just past the brace that closes the one at `open_at`."""
    depth = 0
    for i in range(open_at, len(text)):
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return i + 1
    raise ValueError("unbalanced braces")


def declarations(body):
    """The class body's top-level declarations, with nested bodies cut out."""
    out, current, i = [], "", 0
    while i < len(body):
        c = body[i]
        if c == "{":
            end = block_end(body, i)
            current += "{}"
            i = end
            if not re.search(r"\b(enum|struct|class|union)\b[^;()]*\{\}$", current.strip()):
                out.append(current)  # a function with its body: the declaration ends here
                current = ""
            continue
        current += c
        if c == ";" or c == ":" and re.search(r"\b(public|private|protected)\s*:$", current):
            out.append(current)
            current = ""
        i += 1
    return out


def class_operations(name, body, hidden):
    if re.search(r"\benum\s+class\s+CodingKeys\b", body):
        return {name}
    ops, access = set(), "private"
    for decl in declarations(body):
        decl = " ".join(decl.split())
        label = re.fullmatch(r"(public|private|protected)\s*:", decl)
        if label:
            access = label.group(1)
            continue
        if access != "public" or "(" not in decl:
            continue
        if re.match(r"(using|typedef|friend|enum|struct|class)\b", decl):
            continue
        if "= delete" in decl or "ORV_HIDDEN" in decl or any(h in decl for h in hidden):
            continue
        head = decl[: decl.index("(")]
        words = re.findall(r"~?\w+", head)
        if not words or "operator" in head:
            continue
        member = words[-1]
        if member in (name, "~" + name) or (member == "explicit" and len(words) == 1):
            continue
        ops.add(f"{name}::{member}")
    return ops


def public_operations(include_dir):
    ops = set()
    for header in sorted([*include_dir.glob("*.h"), *include_dir.glob("*.h.in")]):
        if header.name in SKIPPED_HEADERS:
            continue
        text = strip_comments(header.read_text(encoding="utf-8"))
        hidden = set(re.findall(r"struct\s+ORV_HIDDEN\s+(\w+)", text))
        for m in re.finditer(r"\bclass\s+ORV_API\s+(\w+)[^;{]*\{", text):
            end = block_end(text, m.end() - 1)
            ops |= class_operations(m.group(1), text[m.end() : end - 1], hidden)
        for m in re.finditer(r"^ORV_API\s+([^;{]*?)\b(\w+)\s*\(", text, flags=re.M):
            ops.add(m.group(2))
    return ops


def table_rows(parity):
    """C++ name -> (C cell, Python cell), from the table's `name` | C | Python rows."""
    rows = {}
    for line in parity.read_text(encoding="utf-8").splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) != 3 or not cells[0].startswith("`"):
            continue
        for name in re.findall(r"`([^`]+)`", cells[0]):
            rows[name] = (cells[1], cells[2])
    return rows


def main():
    root = pathlib.Path(sys.argv[1])
    ops = public_operations(root / "include" / "orv")
    rows = table_rows(root / "docs" / "parity.md")
    c_header = (root / "include" / "orv" / "orv_c.h").read_text(encoding="utf-8")
    problems = []
    if len(ops) < 50:
        problems.append(f"only {len(ops)} operations found: the header parser lost track")
    for op in sorted(ops):
        if op not in rows:
            problems.append(f"{op}: no row")
            continue
        for language, cell in zip(("C", "Python"), rows[op]):
            if not cell or cell == "—":
                problems.append(f"{op}: no {language} form and no reason for its absence")
    for op, (c_cell, _) in sorted(rows.items()):
        if op not in ops:
            problems.append(f"{op}: a row for an operation the headers do not have")
        for name in re.findall(r"`(orv_\w+)", c_cell):
            if not re.search(r"\b" + re.escape(name) + r"\b", c_header):
                problems.append(f"{op}: {name} is not in orv_c.h")
    for p in problems:
        print(p)
    print(f"{len(ops)} operations, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
