# Queue: construction, peek/enqueue/dequeue, protocols, and the missing pickling form.
import pickle

import pytest

from helpers import BadEq, BadRepr, Unhashable
from quil import List, Queue


def gen():
    yield 1
    yield 2
    yield 3


def split(front, rear):
    """A queue holding `front` in its front list and `rear` (oldest first) in its rear list."""
    q = Queue(None, *front).dequeue() if front else Queue()
    for x in rear:
        q = q.enqueue(x)
    return q


@pytest.mark.parametrize(
    "args, expected",
    [
        ((), []),
        ((1, 2, 3), [1, 2, 3]),
        (([1, 2, 3],), [1, 2, 3]),
        (((1, 2, 3),), [1, 2, 3]),
        ((gen(),), [1, 2, 3]),
        ((iter([1, 2]),), [1, 2]),
        (("ab",), ["a", "b"]),
        (([1, 2], 3), [[1, 2], 3]),
        ((range(4),), [0, 1, 2, 3]),
        ((split([1, 2], [3]),), [1, 2, 3]),
    ],
    ids=["empty", "elements", "list", "tuple", "generator", "iterator", "str", "two-args",
         "range", "Queue"],
)
def test_construction_keeps_the_given_order(args, expected):
    q = Queue(*args)
    assert list(q) == expected
    assert len(q) == len(expected)
    if expected:
        assert q.peek() == expected[0]


def test_construction_errors_propagate_unchanged():
    with pytest.raises(TypeError, match="'int' object is not iterable"):
        Queue(5)

    def failing():
        yield 1
        raise ValueError("stop here")

    with pytest.raises(ValueError, match="stop here"):
        Queue(failing())


@pytest.mark.parametrize(
    "operation, message",
    [(Queue.peek, "peeked an empty queue"), (Queue.dequeue, "dequeued an empty queue")],
    ids=["peek", "dequeue"],
)
def test_empty_queue_errors(operation, message):
    for empty in (Queue(), Queue([1]).dequeue(), split([1], []).dequeue()):
        with pytest.raises(IndexError) as info:
            operation(empty)
        assert info.value.args == (message,)


def test_is_empty_is_a_method():
    assert Queue().is_empty() is True
    assert Queue([None]).is_empty() is False
    assert Queue([1]).dequeue().is_empty() is True
    assert not Queue() and Queue([0])


def test_updates_leave_the_source_unchanged():
    source = Queue(1, 2)
    assert list(source.enqueue(3)) == [1, 2, 3]
    assert list(source.dequeue()) == [2]
    assert list(source) == [1, 2] and source.peek() == 1


def test_dequeue_and_enqueue_interleaved():
    q = Queue(1, 2, 3).dequeue().enqueue(4)
    assert q.peek() == 2
    assert list(q) == [2, 3, 4]
    seen = []
    while q:
        seen.append(q.peek())
        q = q.dequeue()
    assert seen == [2, 3, 4]
    assert q == Queue()


def test_dequeuing_twice_from_one_source_gives_equal_queues():
    source = Queue(*range(5))
    a, b = source.dequeue(), source.dequeue()
    assert a == b and hash(a) == hash(b)
    assert list(a) == list(b) == [1, 2, 3, 4]
    assert list(a.dequeue()) == list(b.dequeue()) == [2, 3, 4]
    assert list(source) == [0, 1, 2, 3, 4]


@pytest.mark.parametrize(
    "front, rear", [([1, 2, 3], []), ([], [1, 2, 3]), ([1], [2, 3]), ([1, 2], [3])],
    ids=["all-front", "all-rear", "one-front", "one-rear"],
)
def test_equality_and_hash_ignore_how_elements_are_split(front, rear):
    q = split(front, rear)
    assert q == Queue(1, 2, 3)
    assert not (q != Queue(1, 2, 3))
    assert hash(q) == hash(Queue(1, 2, 3)) == hash(List([1, 2, 3]))
    assert repr(q) == "Queue([1, 2, 3])"


def test_equality():
    assert Queue(1, 2) != Queue(1, 3)
    assert Queue(1, 2) != Queue(1, 2, 3)
    assert not (Queue(1, 2) == Queue(2, 1))
    assert Queue(1, 2) != List([1, 2]) and not (Queue(1, 2) == List([1, 2]))
    assert Queue(1, 2) != [1, 2]
    nan = Queue([float("nan")])
    assert nan != nan and not (nan == nan)
    bad = Queue([BadEq()])
    assert not (bad == Queue([1])) and bad != Queue([1])


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_ordering_is_not_supported(op):
    with pytest.raises(TypeError):
        eval(f"a {op} b", {"a": Queue([1]), "b": Queue([2])})


def test_hash_matches_list_hash():
    assert hash(Queue()) == hash(List()) == -3315872660926475476
    assert hash(Queue([1])) == 2206609067086327257


@pytest.mark.parametrize(
    "queue, message",
    [
        (split([0], [[]]), "Unhashable type at 1 element in Queue: []"),
        (split([0, 1], [2, Unhashable()]), "Unhashable type at 3 element in Queue: Unhashable()"),
        (Queue([[1]]), "Unhashable type at 0 element in Queue: [1]"),
    ],
    ids=["rear", "after-both-lists", "front"],
)
def test_unhashable_element_position_counts_across_both_lists(queue, message):
    with pytest.raises(TypeError) as info:
        hash(queue)
    assert str(info.value) == message
    assert info.value.__cause__ is None and info.value.__context__ is None


def test_unhashable_element_with_failing_repr():
    class Both(Unhashable):
        def __repr__(self):
            raise ValueError

    with pytest.raises(TypeError, match=r"^Unhashable type at 0 element in Queue: <repr> error$"):
        hash(Queue([Both()]))


@pytest.mark.parametrize(
    "queue, text",
    [
        (Queue(), "Queue([])"),
        (Queue(1, "a"), "Queue([1, 'a'])"),
        (Queue(BadRepr(), 2), "Queue([<repr failed>, 2])"),
        (Queue([Queue([1])]), "Queue([Queue([1])])"),
    ],
    ids=["empty", "mixed", "failing-repr", "nested"],
)
def test_repr(queue, text):
    assert repr(queue) == text


@pytest.mark.parametrize(
    "dump",
    [lambda q, p=p: pickle.dumps(q, protocol=p) for p in range(pickle.HIGHEST_PROTOCOL + 1)],
    ids=[f"protocol-{p}" for p in range(pickle.HIGHEST_PROTOCOL + 1)],
)
def test_queues_cannot_be_pickled(dump):
    with pytest.raises(TypeError, match=r"^cannot pickle '(quil\.)?Queue' object$"):
        dump(Queue(1, 2))


def test_iteration():
    q = split([1, 2], [3, 4])
    it = iter(q)
    assert iter(it) is it
    assert next(it) == 1
    other = iter(q)
    assert list(it) == [2, 3, 4]
    with pytest.raises(StopIteration):
        next(it)
    with pytest.raises(StopIteration):
        next(it)
    assert list(other) == [1, 2, 3, 4]
    assert list(iter(Queue())) == []
    assert list(q) == [1, 2, 3, 4]


def test_iterator_keeps_its_snapshot_alive():
    q = Queue([object() for _ in range(3)])
    expected = list(q)
    it = iter(q.enqueue("last"))
    del q
    assert list(it) == expected + ["last"]


def test_long_queue_of_both_lists():
    q = Queue(range(50_000)).dequeue()
    for x in range(50_000, 100_000):
        q = q.enqueue(x)
    assert list(q) == list(range(1, 100_000))
    assert q == Queue(range(1, 100_000))
