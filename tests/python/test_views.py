# Map views: length, repr, membership, set algebra and comparisons.
import collections.abc
import sys

import pytest

from helpers import BadRepr, HashKey
from quil import HashTrieMap, HashTrieSet

M = HashTrieMap({1: 2, 3: 4})


@pytest.mark.parametrize("view", ["keys", "values", "items"])
def test_views_have_the_maps_length(view):
    assert len(getattr(M, view)()) == 2
    assert len(getattr(HashTrieMap(), view)()) == 0


@pytest.mark.parametrize(
    "make, text",
    [
        (lambda: HashTrieMap({1: 2}).keys(), "keys_view({1})"),
        (lambda: HashTrieMap({1: 2}).values(), "values_view([2])"),
        (lambda: HashTrieMap({1: 2}).items(), "items_view([(1, 2)])"),
        (lambda: HashTrieMap().keys(), "keys_view({})"),
        (lambda: HashTrieMap().values(), "values_view([])"),
        (lambda: HashTrieMap().items(), "items_view([])"),
        (lambda: HashTrieMap({BadRepr(): 1}).keys(), "keys_view({<repr failed>})"),
        (lambda: HashTrieMap({1: BadRepr()}).values(), "values_view([<repr failed>])"),
    ],
    ids=["keys", "values", "items", "empty-keys", "empty-values", "empty-items",
         "bad-key", "bad-value"],
)
def test_repr(make, text):
    assert repr(make()) == text


class SurrogateRepr:
    def __repr__(self):
        return "\ud800"


def test_items_repr_replaces_text_that_does_not_encode():
    # As text.encode("utf-8", "surrogatepass").decode("utf-8", "replace"): one U+FFFD per
    # byte of the surrogate's three.
    text = repr(HashTrieMap({SurrogateRepr(): 1}).items())
    assert text == "items_view([(\ufffd\ufffd\ufffd, 1)])"


def test_items_repr_reports_a_failing_element_as_unraisable(monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    assert repr(HashTrieMap({BadRepr(): 1}).items()) == "items_view([<unprintable tuple object>])"
    assert len(seen) == 1 and isinstance(seen[0].exc_value, ValueError)


def test_keys_membership():
    assert 1 in M.keys() and 2 not in M.keys()
    with pytest.raises(TypeError, match="unhashable") as info:
        [] in M.keys()
    assert info.value.__notes__ == ["while processing 'key'"]


def test_values_membership_falls_back_to_iteration():
    assert 2 in M.values() and 1 not in M.values()


@pytest.mark.parametrize(
    "item, found", [((1, 2), True), ((1, 3), False), ((5, 2), False), ((1, 2.0), True)]
)
def test_items_membership(item, found):
    assert (item in M.items()) is found


@pytest.mark.parametrize(
    "item, error, message",
    [
        ([1, 2], TypeError, "'list' object is not an instance of 'tuple'"),
        ((1, 2, 3), ValueError, "expected tuple of length 2, but got tuple of length 3"),
        (([], 2), TypeError, "failed to extract field ItemViewQuery.0"),
    ],
    ids=["not-a-tuple", "triple", "unhashable-key"],
)
def test_items_membership_errors(item, error, message):
    with pytest.raises(error) as info:
        item in M.items()
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'item'"]
    if item == ([], 2):
        assert isinstance(info.value.__cause__, TypeError)


@pytest.mark.parametrize(
    "operation, result_type, contents",
    [
        (lambda: M.keys() & [1, 5], HashTrieSet, {1}),
        (lambda: M.keys().intersection([3]), HashTrieSet, {3}),
        (lambda: M.keys() | [5], type(M.keys()), {1, 3, 5}),
        (lambda: M.keys().union(other=[]), type(M.keys()), {1, 3}),
        (lambda: M.items() & [(1, 2), [1, 2], (3, 5)], HashTrieSet, {(1, 2)}),
        (lambda: M.items().intersection([(3, 4)]), HashTrieSet, {(3, 4)}),
        (lambda: M.items() | [(9, 9)], HashTrieSet, {(1, 2), (3, 4), (9, 9)}),
        (lambda: M.items().union([]), HashTrieSet, {(1, 2), (3, 4)}),
    ],
    ids=["keys-and", "keys-intersection", "keys-or", "keys-union", "items-and",
         "items-intersection", "items-or", "items-union"],
)
def test_algebra(operation, result_type, contents):
    result = operation()
    assert type(result) is result_type
    assert set(result) == contents


def test_keys_union_maps_new_keys_to_none_in_the_views_map():
    union = HashTrieMap({1: 2}).keys() | [5]
    assert set(union) == {1, 5}


def test_keys_intersection_holds_the_other_operands_objects():
    key = (1,)
    equal = (1,)
    result = HashTrieMap({key: 0}).keys() & [equal]
    assert next(iter(result)) is equal


@pytest.mark.parametrize(
    "operation",
    [lambda: HashTrieMap({1: []}).items() | [], lambda: M.items() | [[1]],
     lambda: M.keys() | [[1]], lambda: M.keys() & 5],
    ids=["unhashable-value", "unhashable-element", "keys-unhashable", "not-iterable"],
)
def test_algebra_errors(operation):
    with pytest.raises(TypeError):
        operation()


@pytest.mark.parametrize("left", [[1], {1}, frozenset([1])], ids=["list", "set", "frozenset"])
def test_operators_need_the_view_on_the_left(left):
    with pytest.raises(TypeError, match="unsupported operand"):
        left & M.keys()


@pytest.mark.parametrize(
    "expression, expected",
    [
        ("k == {1, 3}", True),
        ("k == frozenset({1, 3})", True),
        ("k == [1, 3]", False),
        ("k != [1, 3]", True),
        ("k != {1, 3}", False),
        ("k < {1, 3, 5}", True),
        ("k < {1, 3}", False),
        ("k <= {1, 3}", True),
        ("k > {1}", True),
        ("k >= {1, 3}", True),
        ("k >= {1, 5}", False),
        ("k < 5", False),
        ("k >= 5", False),
        ("k == HashTrieSet([1, 3])", True),
        ("i == {(1, 2), (3, 4)}", True),
        ("i == {(1, 2), (3, 5)}", False),
        ("i <= {(1, 2), (3, 4), (5, 6)}", True),
        ("i > {(1, 2)}", True),
        ("i != {(1, 2)}", True),
    ],
)
def test_comparisons(expression, expected):
    env = {"k": M.keys(), "i": M.items(), "HashTrieSet": HashTrieSet}
    assert eval(expression, env) is expected


def test_views_are_registered():
    assert isinstance(M.keys(), collections.abc.KeysView)
    assert isinstance(M.values(), collections.abc.ValuesView)
    assert isinstance(M.items(), collections.abc.ItemsView)
    for view in (M.keys(), M.values(), M.items()):
        assert isinstance(view, collections.abc.MappingView)
    assert isinstance(M.keys(), collections.abc.Set)
    assert isinstance(M.items(), collections.abc.Set)


def test_keys_and_items_views_are_unhashable_values_view_is_not():
    with pytest.raises(TypeError):
        hash(M.keys())
    with pytest.raises(TypeError):
        hash(M.items())
    assert isinstance(hash(M.values()), int)


def test_views_show_the_map_they_came_from():
    keys = M.keys()
    bigger = M.insert(5, 6)
    assert set(keys) == {1, 3}
    assert set(bigger.keys()) == {1, 3, 5}


def test_dict_of_a_map_through_the_mapping_protocol():
    assert dict(M) == {1: 2, 3: 4}
    assert dict(M.items()) == {1: 2, 3: 4}
    assert HashTrieMap(M) == M


class CountingSet(collections.abc.Set):
    """A Set that counts the elements its iterator hands out."""

    def __init__(self, items):
        self.items, self.pulled = list(items), 0

    def __iter__(self):
        for item in self.items:
            self.pulled += 1
            yield item

    def __len__(self):
        return len(self.items)

    def __contains__(self, item):
        return item in self.items


@pytest.mark.parametrize(
    "make", [lambda: HashTrieMap({1: 0, 2: 0, 3: 0}).keys(), lambda: HashTrieSet([1, 2, 3])],
    ids=["keys-view", "set"],
)
def test_equality_stops_reading_the_other_set_at_the_first_stranger(make):
    other = CountingSet([9, 1, 2])
    assert not (make() == other)
    assert other.pulled == 1


@pytest.mark.parametrize(
    "make", [lambda keys: HashTrieMap.fromkeys(keys, 0).keys(), HashTrieSet],
    ids=["keys-view", "set"],
)
@pytest.mark.parametrize("other_type", [set, frozenset])
def test_equality_with_a_builtin_set_compares_as_one_item_at_a_time(make, other_type):
    # Against a set of strs and ints the lookups go sixteen at a time; a stored key with
    # Python __eq__ that an int meets (same hash) is still asked exactly once, and the
    # answer is the same.
    stored = HashKey(7, "seven")
    strs = [f"s{i}" for i in range(100)]
    mine = make(strs + [stored])
    assert (mine == other_type(strs + [7])) is False
    assert stored.eq_calls == 1
    assert (mine == other_type(strs + [stored])) is True
    assert (make(strs + [7]) == other_type(strs + [7, 8])) is False
