"""The type stubs declare exactly the public names of the modules they describe (installed beside
them), so that what editors complete is what the package offers."""

import ast
import importlib
import inspect
import pathlib

import pytest

import orvlib


def public(name):
    return not name.startswith("_")


def stub_names(path):
    """What a stub declares: module-level names, re-exports (`import X as X`) and class members
    (as "Class.member"), those of the stub's own base classes included."""
    body = ast.parse(path.read_text()).body
    classes = {node.name: node for node in body if isinstance(node, ast.ClassDef)}

    def declared(nodes):
        for node in nodes:
            if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
                yield node.name
            elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
                yield node.target.id
            elif isinstance(node, ast.Assign):
                yield from (t.id for t in node.targets if isinstance(t, ast.Name))
            elif isinstance(node, ast.ImportFrom) and nodes is body:
                yield from (a.name for a in node.names if a.asname == a.name)

    def members(cls):
        bases = [classes[b.id] for b in cls.bases if isinstance(b, ast.Name) and b.id in classes]
        return set(declared(cls.body)).union(*map(members, bases))

    names = {name for name in declared(body) if public(name)}
    for name in names & classes.keys():
        names |= {f"{name}.{member}" for member in members(classes[name]) if public(member)}
    return names


def runtime_names(module, scope):
    """The module's public names and the public members (annotated ones included) of its classes.
    scope "own": only what the module defines itself; "reexports": also what it imports (its
    purpose), members of its own classes only; "all": a compiled module, everything."""
    names = set()
    for name, value in vars(module).items():
        if not public(name) or inspect.ismodule(value):
            continue
        owned = scope == "all" or getattr(value, "__module__", module.__name__) == module.__name__
        if owned or scope == "reexports":
            names.add(name)
        if owned and inspect.isclass(value):
            members = {*vars(value), *getattr(value, "__annotations__", {})}
            names.update(f"{name}.{member}" for member in members if public(member))
    return names


@pytest.mark.parametrize("name, scope", [
    ("orvlib", "reexports"), ("orvlib._orvlib", "all"), ("orvlib._location_error", "own"),
    ("orvlib.asyncio", "own"), ("orvlib.batch", "own"), ("orvlib.dask", "own"),
    ("orvlib._emulator", "all"), ("orvlib.emulator", "reexports"),
])
def test_stub_names_every_public_attribute(name, scope):
    module = importlib.import_module(name)
    path = pathlib.Path(module.__file__)
    stub = path.parent / ("__init__" if path.stem == "__init__" else name.rpartition(".")[2])
    declared, offered = stub_names(stub.with_suffix(".pyi")), runtime_names(module, scope)
    assert sorted(offered - declared) == [], "missing from the stub"
    assert sorted(declared - offered) == [], "in the stub only"
    assert (pathlib.Path(orvlib.__file__).parent / "py.typed").exists()
