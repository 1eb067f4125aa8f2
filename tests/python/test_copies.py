# copy.copy and copy.deepcopy of the five collection classes.
import copy

import pytest

from helpers import HashKey
from quil import HashTrieMap, HashTrieSet, List, Queue, Stack

# Each class with a maker from a list of elements (a map maps each element to itself),
# and how to read its elements back in order (a map's as key, value, key, value, ...).
CLASSES = [
    (lambda xs: HashTrieMap((x, x) for x in xs), lambda m: [x for item in m.items() for x in item]),
    (HashTrieSet, list),
    (List, list),
    (Queue, list),
    (Stack, list),
]
IDS = ["HashTrieMap", "HashTrieSet", "List", "Queue", "Stack"]


class Box:
    """A hashable object that deep-copies to a new, equal object."""

    def __init__(self, value):
        self.value = value

    def __eq__(self, other):
        return isinstance(other, Box) and self.value == other.value

    def __hash__(self):
        return hash(self.value)


@pytest.mark.parametrize("make, read", CLASSES, ids=IDS)
def test_copy_is_the_collection_itself(make, read):
    collection = make([Box(1), "a"])
    assert copy.copy(collection) is collection


@pytest.mark.parametrize("make, read", CLASSES, ids=IDS)
@pytest.mark.parametrize(
    "elements",
    [[], ["a", 1, 2.5, None, b"x", (1, "t")], [List([1]), HashTrieSet(["s"])]],
    ids=["empty", "atoms-and-tuples", "quil-collections"],
)
def test_deepcopy_is_the_collection_itself_when_nothing_inside_changes(make, read, elements):
    collection = make(elements)
    assert copy.deepcopy(collection) is collection


@pytest.mark.parametrize("make, read", CLASSES, ids=IDS)
def test_deepcopy_makes_a_new_collection_of_copies_in_the_same_order(make, read):
    elements = [Box(i) for i in range(20)] + ["plain", 100]
    collection = make(elements)
    deep = copy.deepcopy(collection)
    assert type(deep) is type(collection) and deep is not collection and deep == collection
    for original, copied in zip(read(collection), read(deep), strict=True):
        assert copied == original
        assert (copied is original) == (not isinstance(original, Box))


@pytest.mark.parametrize("make, read", CLASSES, ids=IDS)
def test_deepcopy_shares_the_memo_with_the_rest_of_the_copy(make, read):
    shared = Box(0)
    pair = copy.deepcopy((shared, make([shared])))
    assert pair[0] is not shared
    assert all(inside is pair[0] for inside in read(pair[1]))


def test_a_cycle_through_a_mutable_element_comes_out_as_one_copy():
    holder = []
    m = HashTrieMap(a=holder)
    holder.append(m)
    deep = copy.deepcopy(m)
    assert deep is not m and deep["a"] is not holder
    assert deep["a"][0] is deep
    lst_holder = []
    lst = List([lst_holder])
    lst_holder.append(lst)
    deep_lst = copy.deepcopy(lst)
    assert deep_lst.first[0] is deep_lst


def test_map_deepcopy_copies_keys_and_values_and_keeps_the_order():
    keys = [Box(i) for i in range(50)] + [f"s{i}" for i in range(50)]
    m = HashTrieMap((key, [i]) for i, key in enumerate(keys))
    deep = copy.deepcopy(m)
    assert deep == m
    assert [k.value if isinstance(k, Box) else k for k in deep] == [
        k.value if isinstance(k, Box) else k for k in m]
    assert all(deep[k] is not m[k] for k in m)
    # A key that deep-copies to a new object is hashed again: it is found by equality.
    assert deep[Box(3)] == [3]


def test_deepcopy_of_colliding_keys():
    m = HashTrieMap({HashKey(1, "a"): [1], HashKey(1, "b"): [2]})
    deep = copy.deepcopy(m)
    assert deep == m and len(deep) == 2
    assert deep[HashKey(1, "a")] == [1] and deep[HashKey(1, "a")] is not m[HashKey(1, "a")]


def test_an_element_that_cannot_be_deep_copied_raises():
    class Refuses:
        def __deepcopy__(self, memo):
            raise RuntimeError("no copies")

    for collection in (List([Refuses()]), HashTrieMap(a=Refuses())):
        with pytest.raises(RuntimeError, match="no copies"):
            copy.deepcopy(collection)


def test_deepcopy_method_takes_a_memo_or_none():
    box = Box(1)
    lst = List([box, box])
    memo = {id(box): "from memo"}
    assert list(lst.__deepcopy__(memo)) == ["from memo", "from memo"]
    fresh = lst.__deepcopy__(None)
    assert fresh.first is fresh.rest.first is not box
