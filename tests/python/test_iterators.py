# The seven iterator classes: private snapshots, independence, exhaustion, re-entrancy,
# failing and self-unequal keys.
import pytest

from helpers import HashKey
from quil import HashTrieMap, HashTrieSet, List, Queue, Stack

MAP = HashTrieMap({1: "a", 2: "b", 3: "c"})
# One collection per iterator class, so that several iterators walk the same snapshot.
ITERABLES = {
    "KeysIterator": MAP,
    "ValuesIterator": MAP.values(),
    "ItemsIterator": MAP.items(),
    "SetIterator": HashTrieSet([1, 2, 3]),
    "ListIterator": List([1, 2, 3]),
    "StackIterator": Stack([1, 2, 3]),
    "QueueIterator": Queue([1, 2, 3]),
}


@pytest.fixture(params=list(ITERABLES), ids=list(ITERABLES))
def make(request):
    return lambda: iter(ITERABLES[request.param])


def test_class_name_and_identity(make, request):
    it = make()
    assert type(it).__name__ == request.node.callspec.id
    assert iter(it) is it


def test_exhausted_stays_exhausted(make):
    it = make()
    assert len(list(it)) == 3
    for _ in range(2):
        with pytest.raises(StopIteration):
            next(it)


def test_iterators_over_one_collection_are_independent(make):
    a, b = make(), make()
    first = next(a)
    rest_a = list(a)
    assert [first] + rest_a == list(b)


def test_iterators_cannot_be_made_from_python(make):
    with pytest.raises(TypeError):
        type(make())()


def test_orders():
    m = HashTrieMap({i: str(i) for i in range(50)})
    assert list(m) == list(m.keys())
    assert [k for k, _ in m.items()] == list(m)
    assert list(m.values()) == [m[k] for k in m]
    assert list(List([1, 2, 3])) == [1, 2, 3]
    assert list(Stack().push(1).push(2).push(3)) == [3, 2, 1]
    assert list(Queue().enqueue(1).enqueue(2).enqueue(3)) == [1, 2, 3]


def test_iterator_keeps_its_snapshot():
    m = HashTrieMap({1: 2})
    it = iter(m.items())
    del m
    assert list(it) == [(1, 2)]


@pytest.mark.parametrize(
    "make_iterable",
    [lambda k: HashTrieMap({k: 1, 2: 3}), lambda k: HashTrieMap({k: 1, 2: 3}).items(),
     lambda k: HashTrieSet([k, 2])],
    ids=["keys", "items", "set"],
)
def test_nan_key_is_yielded_once_and_iteration_ends(make_iterable):
    nan = float("nan")
    seen = list(make_iterable(nan))
    assert len(seen) == 2


class FlakyKey(HashKey):
    """Fails its first comparison with itself, then behaves."""

    def __init__(self):
        super().__init__(7, "flaky")
        self.failures_left = 1

    def __eq__(self, other):
        if self.failures_left:
            self.failures_left -= 1
            raise ValueError("not yet")
        return super().__eq__(other)

    __hash__ = HashKey.__hash__


@pytest.mark.parametrize(
    "make_iterable",
    [lambda k: HashTrieMap({k: 1}), lambda k: HashTrieMap({k: 1}).values(),
     lambda k: HashTrieSet([k])],
    ids=["keys", "values", "set"],
)
def test_a_failing_eq_does_not_skip_the_entry(make_iterable):
    key = FlakyKey()
    it = iter(make_iterable(key))
    with pytest.raises(BaseException) as info:
        next(it)
    assert type(info.value).__name__ == "PanicException"
    assert "not yet" in str(info.value)
    assert next(it) in (key, 1)
    with pytest.raises(StopIteration):
        next(it)


class ReentrantKey(HashKey):
    """Calls next() and iter() on the iterator from inside its own comparison."""

    iterator = None
    seen = []

    def __eq__(self, other):
        for action in (next, iter):
            try:
                action(ReentrantKey.iterator)
            except RuntimeError as error:
                ReentrantKey.seen.append(str(error))
        return super().__eq__(other)

    __hash__ = HashKey.__hash__


def test_reentrant_use_during_a_step_is_refused():
    ReentrantKey.seen = []
    key = ReentrantKey(1, "a")
    ReentrantKey.iterator = iter(HashTrieMap({key: 1}))
    assert list(ReentrantKey.iterator) == [key]
    assert ReentrantKey.seen == ["Already borrowed", "Already mutably borrowed"]
