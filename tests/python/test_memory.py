# Running out of memory: a call that cannot allocate raises MemoryError and leaves its
# receiver, and every version it came from, as it was. The interpreter's allocator is
# made to fail one allocation at a time (_testcapi.set_nomemory); the engine's nodes come
# from that allocator too, so each run fails at a Python allocation or an engine one.
import itertools
import pickle
import textwrap

import pytest

from helpers import HashKey, run_child
from quil import HashTrieMap, HashTrieSet, List, Queue, Stack

_testcapi = pytest.importorskip("_testcapi")


def fail_each_allocation(call, intact, *, repeatable=True):
    """Calls `call()` with its first allocation failing, then its second, and so on until
    it returns; after each MemoryError, `intact()` checks the receiver. Returns the result
    and how many calls failed."""
    if repeatable:
        # Once without failures first: what the interpreter sets up on first use (a lazy
        # import, a cache) is then in place, and only the call's own allocations fail.
        call()
    for n in itertools.count():
        _testcapi.set_nomemory(n, n + 1)
        try:
            result = call()
            failed = False
        except MemoryError:
            failed = True
        finally:
            _testcapi.remove_mem_hooks()
        if not failed:
            return result, n
        intact()


def test_running_out_raises_memory_error_instead_of_ending_the_process():
    # In a child: a process that ends here would take the session with it.
    child = run_child(textwrap.dedent("""
        import _testcapi
        from quil import HashTrieMap, List
        m, x = HashTrieMap({i: i for i in range(100)}), List(range(10))
        for call in (lambda: m.insert(-1, 0), lambda: m.remove(5), lambda: x.push_front(0)):
            for n in range(200):
                _testcapi.set_nomemory(n, n + 1)
                try:
                    call()
                except MemoryError:
                    pass
                finally:
                    _testcapi.remove_mem_hooks()
        print(len(m), len(x))
        """))
    assert (child.returncode, child.stdout) == (0, "100 10\n"), child.stderr


def test_memory_error_inside_a_keys_eq_is_reported_as_memory_error():
    stored = HashKey(1, "a")
    m = HashTrieMap({stored: 1})
    stored.error_on_eq = MemoryError()
    with pytest.raises(MemoryError):
        m.insert(HashKey(1, "b"), 2)
    stored.error_on_eq = None
    assert len(m) == 1 and list(m.values()) == [1]


# Everything a call needs is made before allocations start to fail, so that only the call
# itself meets them (the debug interpreter asserts in its own list code when one fails).
KEYS = [f"k{i}" for i in range(40)] + [HashKey(7, name) for name in "abc"]
PAIRS = list(zip(KEYS, range(len(KEYS))))
UPDATES = {f"u{i}": i for i in range(20)}
NUMBERS = HashTrieSet(range(30))
EVENS = HashTrieSet(KEYS[::2])
THIRDS = HashTrieSet(KEYS[::3])
THIRDS_AND_MORE = HashTrieSet([*KEYS[::3], 1, 2])
RANGE = range(20)
TWENTY = list(RANGE)
MORE = HashKey(7, "d")
B = HashKey(7, "b")


@pytest.fixture
def m():
    """Strs (built in one go), and colliding keys that go in one at a time."""
    return HashTrieMap(PAIRS)


@pytest.fixture
def s():
    return HashTrieSet(KEYS)


MAP_CALLS = {
    "construct": lambda m: HashTrieMap(PAIRS),
    "insert": lambda m: m.insert("new", 1),
    "insert colliding": lambda m: m.insert(MORE, 1),
    "replace colliding": lambda m: m.insert(B, 1),
    "remove": lambda m: m.remove("k3"),
    "remove colliding": lambda m: m.remove(B),
    "update": lambda m: m.update(UPDATES, x=1),
    "items": lambda m: list(m.items()),
    "pickle": lambda m: pickle.loads(pickle.dumps(m)),
}


@pytest.mark.parametrize("call", MAP_CALLS.values(), ids=MAP_CALLS.keys())
def test_map_calls_leave_the_map_as_it_was(m, call):
    before = dict(m)
    result, failures = fail_each_allocation(lambda: call(m), lambda: assert_map(m, before))
    assert failures > 0
    assert_map(m, before)
    assert result == call(m)


def assert_map(m, expected):
    assert len(m) == len(expected)
    assert dict(m) == expected
    assert all(m[k] == v for k, v in expected.items())


SET_CALLS = {
    "construct": lambda s, v: HashTrieSet(KEYS),
    "insert": lambda s, v: s.insert("new"),
    "remove": lambda s, v: s.remove(B),
    "union": lambda s, v: s | NUMBERS,
    "intersection": lambda s, v: s & EVENS,
    "difference": lambda s, v: s - THIRDS,
    "symmetric difference": lambda s, v: s ^ THIRDS_AND_MORE,
    "update": lambda s, v: s.update(RANGE, KEYS),
    # With a version of the same set, the algebra walks both tries together.
    "union of versions": lambda s, v: s | v,
    "intersection of versions": lambda s, v: s & v,
    "difference of versions": lambda s, v: s - v,
    "symmetric difference of versions": lambda s, v: s ^ v,
}


@pytest.mark.parametrize("call", SET_CALLS.values(), ids=SET_CALLS.keys())
def test_set_calls_leave_the_set_as_it_was(s, call):
    before = set(s)
    version = s.update(RANGE).remove("k1")

    def intact():
        assert set(s) == before and len(s) == len(before)
        assert all(k in s for k in before)

    result, failures = fail_each_allocation(lambda: call(s, version), intact)
    assert failures > 0
    intact()
    assert result == call(s, version)


# rest and pop allocate nothing but their instance, which a free list usually serves.
SEQUENCE_CALLS = {
    "List": (lambda: List(range(20)), lambda x: List(TWENTY)),
    "List.push_front": (lambda: List(range(20)), lambda x: x.push_front(-1)),
    "List.__reversed__": (lambda: List(range(20)), lambda x: x.__reversed__()),
    "List pickle": (lambda: List(range(20)), lambda x: pickle.loads(pickle.dumps(x))),
    "Queue.enqueue": (lambda: Queue(range(20)), lambda x: x.enqueue(20)),
    "Queue.dequeue": (lambda: Queue(range(20)), lambda x: x.dequeue()),
    "Stack.push": (lambda: Stack(range(20)), lambda x: x.push(20)),
}


@pytest.mark.parametrize("make, call", SEQUENCE_CALLS.values(), ids=SEQUENCE_CALLS.keys())
def test_sequence_calls_leave_the_receiver_as_it_was(make, call):
    x = make()
    before = list(x)

    def intact():
        assert list(x) == before and len(x) == len(before)

    result, failures = fail_each_allocation(lambda: call(x), intact)
    assert failures > 0
    intact()
    assert list(result) == list(call(x))


@pytest.mark.parametrize(
    "collection",
    [HashTrieMap.fromkeys(KEYS, 0).items(), HashTrieSet(KEYS), List(range(20)),
     Queue(range(20)).dequeue().enqueue(20), Stack(range(20))],
    ids=["items", "set", "List", "Queue", "Stack"])
def test_an_iterator_that_runs_out_goes_on_where_it_was(collection):
    expected = list(collection)
    it = iter(collection)
    seen = []
    while True:
        step, _ = fail_each_allocation(lambda: next(it, StopIteration), lambda: None,
                                       repeatable=False)
        if step is StopIteration:
            break
        seen.append(step)
    assert seen == expected


def test_a_mutation_that_runs_out_holds_what_it_held(m):
    expected = dict(m)
    mm = m.mutate()

    def intact():
        assert len(mm) == len(expected)
        assert all(mm[k] == v for k, v in expected.items())

    for i, k in enumerate(["n1", HashKey(7, "d"), HashKey(7, "a"), "k5"]):
        fail_each_allocation(lambda: mm.set(k, -i), intact, repeatable=False)
        expected[k] = -i
        intact()
    fail_each_allocation(lambda: mm.remove(HashKey(7, "b")), intact, repeatable=False)
    del expected[HashKey(7, "b")]
    assert dict(mm.finish()) == expected
