# Reference leaks: on the debug interpreter, repeating a workload must leave the total
# reference count where it was. Skipped on release builds (no sys.gettotalrefcount).
import copy
import gc
import pickle
import sys

import pytest

from helpers import BadRepr, HashKey
from quil import HashTrieMap, HashTrieSet, List, Queue, Stack

pytestmark = pytest.mark.skipif(
    not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter"
)


def assert_no_leak(workload, rounds=8, warmup=4):
    """Runs `workload` repeatedly; the total refcount must settle. A leak grows the count
    in every round; the interpreter's own caches filling up late can add a little in one
    round, so the test asks that the late rounds do not all grow. Garbage cycles (an
    exception's traceback holds its frames) are collected before each count, so that
    whether the collector happened to run inside a round does not show as a leak."""
    for _ in range(warmup):
        workload()
    # Preallocated, so that recording a delta does not itself hold a new reference.
    deltas = [0] * rounds
    for i in range(rounds):
        gc.collect()
        before = sys.gettotalrefcount()
        workload()
        gc.collect()
        deltas[i] = sys.gettotalrefcount() - before
    assert min(deltas[-4:]) <= 0, deltas


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


def map_workload():
    for i in range(200):
        m = HashTrieMap({str(j): [j] for j in range(i % 9)}, extra=object())
        m = m.insert(HashKey(3, "a"), 1).insert(HashKey(3, "b"), object())
        _ = m[HashKey(3, "a")], HashKey(3, "c") in m, m.get("missing", 0), len(m)
        _ = list(m), list(m.keys()), list(m.values()), list(m.items()), repr(m)
        _ = repr(m.keys()), repr(m.values()), repr(m.items()), ("extra", 1) in m.items()
        _ = m.remove(HashKey(3, "a")).discard("zz"), m.update({"u": 1}, [("v", 2)], w=3)
        _ = m == HashTrieMap(m), m != m.insert("x", 1), m.__reduce__()
        _ = HashTrieMap.fromkeys(range(i % 5), 0), HashTrieMap.convert([(1, 2)])
        k, v = m.keys(), m.items()
        _ = k & ["1", "zz"], k | ["q"], v & [("zz", 0), ("extra", 1)], k.union([]), v.intersection([])
        _ = k == {"1"}, k <= set(m), v >= set(), v != [], k < 5, list(iter(m.values()))
        try:
            hash(m)
        except TypeError:
            pass
    for bad in ([1], [(1, 2, 3)], 5, [([], 1)]):
        try:
            HashTrieMap(bad)
        except (TypeError, ValueError):
            pass
    m = HashTrieMap({HashKey(1, "a", error_on_eq=ValueError("boom")): 1, "b": 2})
    for operation in (lambda: m[HashKey(1, "z")], lambda: m.insert(HashKey(1, "z"), 0)):
        try:
            operation()
        except BaseException:
            pass
    for missing in (lambda: m["missing"], lambda: m.remove("missing"), lambda: m[[]]):
        try:
            missing()
        except (KeyError, TypeError):
            pass


def test_map_operations_do_not_leak():
    assert_no_leak(map_workload)


def failing_generator():
    yield object()
    raise ValueError("stop")


def swallow(call, *errors):
    try:
        call()
    except errors:
        pass


def queue_workload():
    for i in range(300):
        q = Queue(range(i % 7)).enqueue(object()).enqueue(str(i))
        d = q.dequeue()
        mixed = d.enqueue([i])
        _ = list(q), list(mixed), len(q), q.peek(), d.peek(), q.is_empty(), repr(mixed)
        _ = q == Queue(list(q)), d != q.dequeue(), hash(d)
        it = iter(mixed)
        _ = next(it), next(it)  # abandoned before its rear list
        swallow(lambda: hash(mixed), TypeError)
        swallow(lambda: pickle.dumps(q), TypeError)
    for call in (lambda: Queue().peek(), lambda: Queue().dequeue(), lambda: Queue(5),
                 lambda: Queue(failing_generator()), lambda: Queue(1, x=2),
                 lambda: Queue().enqueue()):
        swallow(call, IndexError, TypeError, ValueError)
    repr(Queue([BadRepr()]))


def stack_workload():
    for i in range(300):
        s = Stack(range(i % 7)).push(object()).push(str(i))
        p = s.pop()
        mixed = p.push([i])
        _ = list(s), list(mixed), len(s), s.peek(), p.peek(), repr(mixed)
        _ = s == Stack(list(s)[::-1]), p != s, hash(p)
        it = iter(mixed)
        _ = next(it)
        swallow(lambda: hash(mixed), TypeError)
        swallow(lambda: pickle.dumps(s), TypeError)
    for call in (lambda: Stack().peek(), lambda: Stack().pop(), lambda: Stack(5),
                 lambda: Stack(failing_generator()), lambda: Stack(1, x=2),
                 lambda: Stack().push()):
        swallow(call, IndexError, TypeError, ValueError)
    repr(Stack([BadRepr()]))


@pytest.mark.parametrize("workload", [queue_workload, stack_workload], ids=["Queue", "Stack"])
def test_queue_and_stack_operations_do_not_leak(workload):
    assert_no_leak(workload)


def set_workload():
    for i in range(200):
        s = HashTrieSet([str(j) for j in range(i % 9)] + [object(), HashKey(3, "a")])
        o = HashTrieSet([HashKey(3, "a"), HashKey(3, "b"), (i, "t")]).update(range(i % 4))
        s = s.insert(HashKey(3, "c")).insert(HashKey(3, "a")).discard("zz").discard("1")
        _ = HashKey(3, "b") in s, len(s), list(s), repr(s), hash(s), s.__reduce__()
        _ = s | o, s & o, s - o, o - s, s ^ o, o ^ s, s.union(o), s.intersection(o)
        _ = s == o, s != set(o), s <= o, s > frozenset(), s == [1], s < HashTrieMap({1: 2}).keys()
        _ = pickle.loads(pickle.dumps(o)), s.remove(HashKey(3, "c"))
    swallow(lambda: HashTrieSet([1]).remove((1, 2)), KeyError)
    swallow(lambda: HashTrieSet([1]).union({1}), TypeError)
    swallow(lambda: HashTrieSet([1]) | {1}, TypeError)
    for bad in (5, [[]], failing_generator()):
        swallow(lambda: HashTrieSet(bad), TypeError, ValueError)
        swallow(lambda: HashTrieSet().update([1], bad), TypeError, ValueError)
    swallow(lambda: [] in HashTrieSet(), TypeError)
    repr(HashTrieSet([BadRepr()]))
    failing = HashTrieSet([HashKey(1, "a", error_on_eq=ValueError("boom")), "b"])
    for operation in (lambda: HashKey(1, "z") in failing, lambda: failing.insert(HashKey(1, "z")),
                      lambda: failing | HashTrieSet([HashKey(1, "z"), 2, 3]),
                      lambda: failing ^ HashTrieSet([HashKey(1, "z")])):
        swallow(operation, BaseException)


def test_set_operations_do_not_leak():
    assert_no_leak(set_workload)


def mutation_workload():
    for i in range(100):
        mm = HashTrieMap({str(j): [j] for j in range(i % 9)}).mutate()
        mm["x"] = object()
        mm[HashKey(3, "a")] = [1]
        mm.set(HashKey(3, "b"), [2])
        mm.set(str(i), [i])
        del mm[HashKey(3, "a")]
        mm.discard("zz")
        _ = mm.pop("x"), mm.pop("zz", None), mm.get("1"), "1" in mm, len(mm), mm.get("q", 0)
        mm.update({"u": [1]}, [("v", 2)], w=[3])
        swallow(lambda: mm["missing"], KeyError)
        swallow(lambda: mm.remove("missing"), KeyError)
        swallow(lambda: mm.update({"y": 1}, [(1, 2, 3)]), ValueError)
        swallow(lambda: mm.set([], 1), TypeError)
        with mm:
            mm[HashKey(3, "c")] = object()
        _ = mm.finish(), mm.finish()
        swallow(lambda: mm.set(1, 2), ValueError)
        ms = HashTrieSet(range(i % 7)).mutate()
        ms.add(object())
        ms.add(HashKey(3, "c"))
        ms.discard(1)
        ms.update([(i, "t")], range(3))
        swallow(lambda: ms.update([2], [[1]]), TypeError)
        swallow(lambda: ms.remove("missing"), KeyError)
        _ = len(ms), 2 in ms, ms.finish()
    # Failures inside the engine: the mutation puts its saved record back.
    failing = HashKey(1, "a", error_on_eq=ValueError("boom"))
    mm = HashTrieMap({failing: [1], "b": [2]}).mutate()
    ms = HashTrieSet([failing, "b"]).mutate()
    for operation in (lambda: mm.set(HashKey(1, "z"), [0]), lambda: mm.pop(HashKey(1, "z"), 0),
                      lambda: mm.update({HashKey(1, "z"): 1}), lambda: ms.add(HashKey(1, "z"))):
        swallow(operation, BaseException)
    _ = mm.finish(), ms.finish()


def copy_workload():
    holder = []
    cyclic = HashTrieMap(a=holder)
    holder.append(cyclic)
    for i in range(100):
        shared = [i]
        for collection in (HashTrieMap({str(i): shared, (i, "t"): 1}), HashTrieSet([(i, "t"), i]),
                           List([shared, str(i)]), Queue(shared, [i]), Stack([shared], "s")):
            _ = copy.copy(collection), copy.deepcopy(collection)
            _ = copy.deepcopy([shared, collection])
        _ = copy.deepcopy(HashTrieMap(a=1)), List([shared]).__deepcopy__(None)
        _ = HashTrieMap[str, int], List[int]
        # The copy of a cycle is a cycle, left to the collector.
        copy.deepcopy(cyclic)


@pytest.mark.parametrize("workload", [mutation_workload, copy_workload],
                         ids=["mutations", "copies"])
def test_mutations_and_copies_do_not_leak(workload):
    assert_no_leak(workload)


class Interrupting:
    """Every protocol raises KeyboardInterrupt, which quil never absorbs."""

    def __eq__(self, other):
        raise KeyboardInterrupt

    def __hash__(self):
        raise KeyboardInterrupt

    def __repr__(self):
        raise KeyboardInterrupt


class SurrogateRepr:
    def __repr__(self):
        return "\ud800"


def keyword_and_interrupt_workload():
    for i in range(200):
        _ = HashTrieMap(value={"a": i}, b=[i]), HashTrieSet(value=[i])
        _ = repr(HashTrieMap({SurrogateRepr(): i}).items())
        swallow(lambda: HashTrieMap().get(1, **{"\ud800": i}), TypeError)
        swallow(lambda: List(value=[i]), TypeError)
        for interrupted in (lambda: List([Interrupting()]) == List([Interrupting()]),
                            lambda: HashTrieMap({1: Interrupting()}) == HashTrieMap({1: 2}),
                            lambda: repr(HashTrieMap({1: Interrupting()})),
                            lambda: repr(Stack([1, Interrupting()])),
                            lambda: repr(HashTrieMap({1: Interrupting()}).items()),
                            lambda: hash(List([Interrupting()]))):
            swallow(interrupted, KeyboardInterrupt)


def test_keyword_reading_and_unabsorbed_errors_do_not_leak():
    assert_no_leak(keyword_and_interrupt_workload)
