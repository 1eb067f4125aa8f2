# Collections nested deeper than the C stack allows to recurse: hash, ==, repr, pickling,
# iteration and destruction raise RecursionError (or, where the recursion runs through a
# stored key's __eq__, PanicException), as tuple and frozenset do, and never crash. Each
# structure is built and used in a child interpreter, so a crash fails only its test.
import textwrap

import pytest

from helpers import run_child

DEPTH = 100_000

CHILD = """
import pickle
from quil import HashTrieMap, HashTrieSet, List, Queue, Stack

def nested():
    x = 0
    for _ in range({depth}):
        x = {make}
    return x

a, b = nested(), nested()
operations = [
    ("hash", lambda: hash(a) and "ok"),
    ("==", lambda: a == b),
    ("repr", lambda: repr(a) and "ok"),
    ("pickle", lambda: pickle.dumps(a) and "ok"),
    ("iter", lambda: list(a) and "ok"),
]
for name, operation in operations:
    try:
        print(name, operation())
    except BaseException as error:
        print(name, type(error).__name__)
del a, b
print("freed")
"""

# Through keys, hashing reads the keys' cached hashes and does not recurse; == and the
# iterators' step compare keys by their __eq__, whose failure is an internal failure.
THROUGH_VALUES = {"hash": "RecursionError", "==": "RecursionError", "repr": "RecursionError",
                  "pickle": "RecursionError", "iter": "ok"}
THROUGH_KEYS = {"hash": "ok", "==": "PanicException", "repr": "RecursionError",
                "pickle": "RecursionError", "iter": "PanicException"}
NOT_PICKLABLE = {"pickle": "TypeError"}


@pytest.mark.parametrize(
    "make, outcomes",
    [
        ("List([x])", THROUGH_VALUES),
        ("Queue([x])", THROUGH_VALUES | NOT_PICKLABLE),
        ("Stack([x])", THROUGH_VALUES | NOT_PICKLABLE),
        ("HashTrieMap({1: x})", THROUGH_VALUES),
        ("HashTrieMap({x: 1})", THROUGH_KEYS),
        ("HashTrieSet([x])", THROUGH_KEYS),
    ],
    ids=["list", "queue", "stack", "map-values", "map-keys", "set"],
)
def test_deep_nesting_raises_instead_of_crashing(make, outcomes):
    child = run_child(textwrap.dedent(CHILD).format(depth=DEPTH, make=make))
    assert child.returncode == 0, child.stderr[-2000:]
    expected = "".join(f"{name} {outcome}\n" for name, outcome in outcomes.items())
    assert child.stdout == expected + "freed\n"
