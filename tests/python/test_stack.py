# Stack: construction, peek/push/pop, protocols (top down, repr bottom to top), and the
# missing pickling form.
import pickle

import pytest

from helpers import BadEq, BadRepr, Unhashable
from quil import List, Queue, Stack


def gen():
    yield 1
    yield 2
    yield 3


@pytest.mark.parametrize(
    "args, top_down",
    [
        ((), []),
        ((1, 2, 3), [3, 2, 1]),
        (([1, 2, 3],), [3, 2, 1]),
        (((1, 2, 3),), [3, 2, 1]),
        ((gen(),), [3, 2, 1]),
        ((iter([1, 2]),), [2, 1]),
        (("ab",), ["b", "a"]),
        (([1, 2], 3), [3, [1, 2]]),
        ((range(3),), [2, 1, 0]),
        ((Stack(1, 2),), [1, 2]),
    ],
    ids=["empty", "elements", "list", "tuple", "generator", "iterator", "str", "two-args",
         "range", "Stack"],
)
def test_construction_pushes_in_the_given_order(args, top_down):
    s = Stack(*args)
    assert list(s) == top_down
    assert len(s) == len(top_down)
    if top_down:
        assert s.peek() == top_down[0]


def test_construction_errors_propagate_unchanged():
    with pytest.raises(TypeError, match="'int' object is not iterable"):
        Stack(5)

    def failing():
        yield 1
        raise ValueError("stop here")

    with pytest.raises(ValueError, match="stop here"):
        Stack(failing())


@pytest.mark.parametrize(
    "operation, message",
    [(Stack.peek, "peeked an empty stack"), (Stack.pop, "popped an empty stack")],
    ids=["peek", "pop"],
)
def test_empty_stack_errors(operation, message):
    for empty in (Stack(), Stack([1]).pop()):
        with pytest.raises(IndexError) as info:
            operation(empty)
        assert info.value.args == (message,)


def test_push_and_pop_leave_the_sources_unchanged():
    source = Stack(1, 2)
    pushed = source.push(3)
    assert pushed.peek() == 3
    popped = pushed.pop()
    assert popped == Stack(1, 2)
    assert list(pushed) == [3, 2, 1]
    assert list(source) == [2, 1] and source.peek() == 2


def test_steps_of_lists_and_stacks_in_turn_keep_every_result_in_its_class():
    # A List and a Stack object have the same size, so the memory one step frees is the
    # memory the other's next step is made in.
    lst, stack, queue = List(range(40)), Stack(range(40)), Queue(range(40))
    for expected in range(1, 40):
        lst, stack, queue = lst.rest, stack.pop(), queue.dequeue()
        assert (type(lst), type(stack), type(queue)) == (List, Stack, Queue)
        assert (lst.first, stack.peek(), queue.peek()) == (expected, 39 - expected, expected)
        assert len(lst) == len(stack) == len(queue) == 40 - expected


def test_stack_has_no_is_empty():
    with pytest.raises(AttributeError):
        Stack().is_empty()
    assert not Stack() and Stack([None])


@pytest.mark.parametrize(
    "stack, text",
    [
        (Stack(), "Stack([])"),
        (Stack(1, 2, 3), "Stack([1, 2, 3])"),
        (Stack([1]).push("a"), "Stack([1, 'a'])"),
        (Stack(BadRepr(), 2), "Stack([<repr failed>, 2])"),
        (Stack([Stack(1, 2)]), "Stack([Stack([1, 2])])"),
    ],
    ids=["empty", "bottom-to-top", "pushed", "failing-repr", "nested"],
)
def test_repr_lists_bottom_to_top(stack, text):
    assert repr(stack) == text


def test_repr_rebuilds_the_stack_and_asks_elements_top_down():
    asked = []

    class Named:
        def __init__(self, name):
            self.name = name

        def __repr__(self):
            asked.append(self.name)
            return self.name

    s = Stack(Named("a"), Named("b"), Named("c"))
    assert repr(s) == "Stack([a, b, c])"
    assert asked == ["c", "b", "a"]
    assert eval(repr(Stack(1, "x", (2,))), {"Stack": Stack}) == Stack(1, "x", (2,))


def test_equality():
    assert Stack(1, 2) == Stack([1, 2])
    assert Stack(1, 2) != Stack(2, 1)
    assert Stack(1, 2) != Stack(0, 1, 2)
    assert Stack(1, 2) != List([2, 1]) and not (Stack(1, 2) == List([2, 1]))
    nan = Stack([float("nan")])
    assert nan != nan and not (nan == nan)
    bad = Stack([BadEq()])
    assert not (bad == Stack([1])) and bad != Stack([1])


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_ordering_is_not_supported(op):
    with pytest.raises(TypeError):
        eval(f"a {op} b", {"a": Stack([1]), "b": Stack([2])})


def test_hash_is_the_list_hash_from_the_top_down():
    assert hash(Stack(1, 2, 3)) == hash(List([3, 2, 1]))
    assert hash(Stack(1, 2, 3)) != hash(List([1, 2, 3]))
    assert hash(Stack()) == -3315872660926475476
    assert hash(Stack(1, 2).push(3).pop()) == hash(Stack(1, 2))


def test_unhashable_element_position_counts_from_the_top():
    with pytest.raises(TypeError) as info:
        hash(Stack([], 1, 2))
    assert str(info.value) == "Unhashable type at 2 element in Stack: []"
    assert info.value.__cause__ is None and info.value.__context__ is None

    class Both(Unhashable):
        def __repr__(self):
            raise ValueError

    with pytest.raises(TypeError, match=r"^Unhashable type at 0 element in Stack: <repr> error$"):
        hash(Stack([Both()]))


@pytest.mark.parametrize(
    "dump",
    [lambda s, p=p: pickle.dumps(s, protocol=p) for p in range(pickle.HIGHEST_PROTOCOL + 1)],
    ids=[f"protocol-{p}" for p in range(pickle.HIGHEST_PROTOCOL + 1)],
)
def test_stacks_cannot_be_pickled(dump):
    with pytest.raises(TypeError, match=r"^cannot pickle '(quil\.)?Stack' object$"):
        dump(Stack(1, 2))


def test_iteration():
    s = Stack(1, 2, 3)
    it = iter(s)
    assert iter(it) is it
    assert next(it) == 3
    other = iter(s)
    assert list(it) == [2, 1]
    with pytest.raises(StopIteration):
        next(it)
    with pytest.raises(StopIteration):
        next(it)
    assert list(other) == [3, 2, 1]
    assert list(iter(Stack())) == []


def test_deeply_nested_stacks_are_released_without_exhausting_the_stack():
    s = Stack()
    for _ in range(200_000):
        s = Stack(s, None).pop()
    del s
