# The type stubs document every public class and method, so an IDE shows help on hover.
import ast
import pathlib

STUBS = pathlib.Path(__file__).parents[2] / "python" / "quil" / "__init__.pyi"


def undocumented(source):
    """Names (Class or Class.method) without a docstring; overloads of one method need one
    docstring between them."""
    missing = []
    for cls in ast.parse(source).body:
        if not isinstance(cls, ast.ClassDef):
            continue
        if ast.get_docstring(cls) is None:
            missing.append(cls.name)
        documented = {}
        for node in cls.body:
            if isinstance(node, ast.FunctionDef):
                has_doc = ast.get_docstring(node) is not None
                documented[node.name] = documented.get(node.name, False) or has_doc
        missing += [f"{cls.name}.{name}" for name, ok in documented.items() if not ok]
    return missing


def test_every_class_and_method_in_the_stubs_has_a_docstring():
    assert undocumented(STUBS.read_text(encoding="utf-8")) == []


def test_the_check_finds_an_undocumented_method_and_class():
    source = (
        "class A:\n"
        '    """Doc."""\n'
        "    @overload\n"
        "    def f(self) -> int: ...\n"
        "    @overload\n"
        '    def f(self, x: int) -> int:\n        """Doc."""\n'
        "    def g(self) -> None: ...\n"
        "class B: ...\n"
    )
    assert undocumented(source) == ["A.g", "B"]
