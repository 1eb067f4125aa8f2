# List: construction, the cons operations, protocols and pickling.
import pickle

import pytest

from helpers import BadEq, BadRepr, Unhashable
from quil import List


def gen():
    yield 1
    yield 2


@pytest.mark.parametrize(
    "args, expected",
    [
        ((), []),
        ((1, 2, 3), [1, 2, 3]),
        (([1, 2, 3],), [1, 2, 3]),
        (((1, 2, 3),), [1, 2, 3]),
        (("ab",), ["a", "b"]),
        (([1, 2], 3), [[1, 2], 3]),
        ((List([1, 2]),), [1, 2]),
        ((range(4),), [0, 1, 2, 3]),
    ],
    ids=["empty", "elements", "list", "tuple", "str", "two-args", "List", "range"],
)
def test_construction(args, expected):
    assert list(List(*args)) == expected


@pytest.mark.parametrize(
    "argument", [5, iter([1, 2]), gen(), {1, 2}], ids=["int", "iterator", "generator", "set"]
)
def test_single_argument_must_be_reversible(argument):
    with pytest.raises(TypeError, match="not reversible"):
        List(argument)


def test_first_and_rest():
    lst = List([1, 2, 3])
    assert lst.first == 1
    assert lst.rest == List([2, 3])
    assert lst.rest.rest.rest == List()
    assert List().rest == List()


@pytest.mark.parametrize("operation", [lambda l: l.first, lambda l: l.drop_first()],
                         ids=["first", "drop_first"])
def test_empty_list_has_no_first_element(operation):
    with pytest.raises(IndexError) as info:
        operation(List())
    assert info.value.args == ("empty list has no first element",)


def test_updates_leave_the_source_unchanged():
    source = List([1, 2])
    assert source.push_front(0) == List([0, 1, 2])
    assert source.drop_first() == List([2])
    assert reversed(source) == List([2, 1])
    assert source == List([1, 2])


def test_reversed_is_a_list():
    assert type(reversed(List([1, 2, 3]))) is List
    assert list(reversed(List([1, 2, 3]))) == [3, 2, 1]


def test_length_and_truth():
    assert len(List([1, 2, 3])) == 3
    assert not List()
    assert List([None])


@pytest.mark.parametrize(
    "lst, text",
    [
        (List(), "List([])"),
        (List([1, "a"]), "List([1, 'a'])"),
        (List([BadRepr(), 2]), "List([<repr failed>, 2])"),
        (List([List([1])]), "List([List([1])])"),
    ],
    ids=["empty", "mixed", "failing-repr", "nested"],
)
def test_repr(lst, text):
    assert repr(lst) == text


def test_repr_falls_back_for_non_str_result():
    class Weird:
        def __repr__(self):
            return 5

    assert repr(List([Weird()])) == "List([<repr failed>])"


def test_repr_uses_the_elements_own_method():
    class Custom:
        pass

    c = Custom()
    c.__repr__ = lambda: "instance attribute"  # looked up on the object, like a method call
    assert repr(List([c])) == "List([instance attribute])"


def test_equality():
    assert List([1, 2]) == List([1, 2])
    assert List([1, 2]) != List([1, 3])
    assert List([1, 2]) != List([1, 2, 3])
    assert not (List([1, 2]) == [1, 2])
    assert List([1, 2]) != [1, 2]


def test_equality_has_no_identity_shortcut():
    nan = float("nan")
    lst = List([nan])
    assert lst != lst
    assert not (lst == lst)


def test_failing_element_comparison_counts_as_a_difference():
    lst = List([BadEq()])
    assert not (lst == List([1]))
    assert lst != List([1])


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_ordering_is_not_supported(op):
    with pytest.raises(TypeError):
        eval(f"a {op} b", {"a": List([1]), "b": List([2])})


@pytest.mark.parametrize(
    "lst, expected",
    [(List(), -3315872660926475476), (List([1]), 2206609067086327257)],
    ids=["empty", "one"],
)
def test_hash_values_are_fixed(lst, expected):
    assert hash(lst) == expected


def test_equal_lists_hash_alike():
    assert hash(List([1, "a", (2, 3)])) == hash(List([1, "a", (2, 3)]))
    assert hash(List([1])) == hash(List([1.0]))


def test_unhashable_element():
    with pytest.raises(TypeError) as info:
        hash(List([1, []]))
    assert str(info.value) == "Unhashable type at 1 element in List: []"
    assert info.value.__cause__ is None and info.value.__context__ is None


def test_unhashable_element_with_failing_repr():
    class Both(Unhashable):
        def __repr__(self):
            raise ValueError

    with pytest.raises(TypeError, match=r"^Unhashable type at 0 element in List: <repr> error$"):
        hash(List([Both()]))


def test_pickle_round_trip_and_reduce():
    lst = List([1, 2, 3])
    assert lst.__reduce__() == (List, ([1, 2, 3],))
    assert pickle.loads(pickle.dumps(lst)) == lst


def test_iteration():
    lst = List([1, 2, 3])
    it = iter(lst)
    assert iter(it) is it
    assert list(it) == [1, 2, 3]
    with pytest.raises(StopIteration):
        next(it)
    with pytest.raises(StopIteration):
        next(it)
    assert list(lst) == [1, 2, 3]


def test_iterators_are_independent():
    lst = List([1, 2, 3])
    a, b = iter(lst), iter(lst)
    assert next(a) == 1
    assert next(a) == 2
    assert next(b) == 1
    assert list(a) == [3]
    assert list(b) == [2, 3]


def test_deeply_nested_lists_are_released_without_exhausting_the_stack():
    lst = List()
    for _ in range(200_000):
        lst = List([lst])
    del lst
