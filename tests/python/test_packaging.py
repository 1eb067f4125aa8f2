# The `test` extra in pyproject.toml lists exactly the third-party modules the suite imports,
# so `pip install ".[test]"` is all a newcomer needs before `python -m pytest`.
import ast
import pathlib
import re
import sys
import tomllib

ROOT = pathlib.Path(__file__).parents[2]
TESTS = ROOT / "tests"


def imported_modules(source):
    """Top-level names of the modules a file imports, `pytest.importorskip` included."""
    names = set()
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, ast.Import):
            names.update(alias.name.split(".")[0] for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.level == 0:
            names.add(node.module.split(".")[0])
        elif (
            isinstance(node, ast.Call)
            and isinstance(node.func, ast.Attribute)
            and node.func.attr == "importorskip"
            and node.args
            and isinstance(node.args[0], ast.Constant)
        ):
            names.add(node.args[0].value.split(".")[0])
    return names


# Test modules that ship with CPython itself but are not in sys.stdlib_module_names.
INTERPRETER_TEST_MODULES = {"_testcapi"}


def third_party_imports():
    files = list(TESTS.rglob("*.py"))
    local = {path.stem for path in files} | {"quil"}
    found = set()
    for path in files:
        found |= imported_modules(path.read_text(encoding="utf-8"))
    return {
        name
        for name in found - local - INTERPRETER_TEST_MODULES
        if name not in sys.stdlib_module_names
    }


def listed_in_the_test_extra():
    project = tomllib.loads((ROOT / "pyproject.toml").read_text(encoding="utf-8"))["project"]
    requirements = project["optional-dependencies"]["test"]
    # Distribution names as PEP 503 normalises them; for these, also the import names.
    names = (re.match(r"[A-Za-z0-9._-]+", r).group() for r in requirements)
    return {name.lower().replace("_", "-") for name in names}


def test_the_test_extra_lists_what_the_suite_imports():
    assert third_party_imports() == listed_in_the_test_extra()


def test_import_scan_sees_plain_from_and_optional_imports():
    source = (
        "import os, numpy.linalg\n"
        "from hypothesis import strategies\n"
        "from . import sibling\n"
        "np = pytest.importorskip('scipy.sparse')\n"
    )
    assert imported_modules(source) == {"os", "numpy", "hypothesis", "scipy"}
