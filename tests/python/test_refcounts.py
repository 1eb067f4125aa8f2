# Reference leaks: on the debug interpreter, repeating a workload must leave the total
# reference count where it was. Skipped on release builds (no sys.gettotalrefcount).
import sys

import pytest

from helpers import BadRepr
from quil import List

pytestmark = pytest.mark.skipif(
    not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter"
)


def assert_no_leak(workload, rounds=8, warmup=3):
    """Runs `workload` repeatedly; the total refcount must settle (no steady growth)."""
    for _ in range(warmup):
        workload()
    # Preallocated, so that recording a delta does not itself hold a new reference.
    deltas = [0] * rounds
    for i in range(rounds):
        before = sys.gettotalrefcount()
        workload()
        deltas[i] = sys.gettotalrefcount() - before
    assert sum(deltas[-4:]) <= 0, deltas


def list_workload():
    for i in range(500):
        lst = List(range(i % 7))
        lst = lst.push_front(object()).push_front(str(i))
        _ = list(lst), len(lst), lst.rest, reversed(lst), repr(lst)
        _ = lst == List(list(lst)), lst != lst.rest
        try:
            hash(lst)
        except TypeError:
            pass
        _ = lst.__reduce__()
        if lst:
            lst.drop_first()
    for bad in ([], 5):
        try:
            hash(List([bad]))
        except TypeError:
            pass
        try:
            List(bad)
        except TypeError:
            pass
    repr(List([BadRepr()]))
    try:
        List().first
    except IndexError:
        pass
    try:
        List().push_front(1, 2)
    except TypeError:
        pass


def test_list_operations_do_not_leak():
    assert_no_leak(list_workload)
