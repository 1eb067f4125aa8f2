# Errors quil discards by design (== answers False when an element comparison fails, reprs
# show a placeholder, a failing element hash becomes a fixed TypeError, a failing
# isinstance means "not a mapping") never include KeyboardInterrupt, SystemExit,
# MemoryError or RecursionError, nor their subclasses: those reach the caller unchanged.
import pytest

from quil import HashTrieMap, HashTrieSet, List, Queue, Stack


class Fails:
    """Hashable by identity; the protocols named in `failing` ("eq", "hash", "repr") raise
    `error`."""

    def __init__(self, error, *failing):
        self.error = error
        self.failing = failing

    def fail(self, protocol):
        if protocol in self.failing:
            raise self.error

    def __eq__(self, other):
        self.fail("eq")
        return self is other

    def __hash__(self):
        self.fail("hash")
        return id(self) >> 4

    def __repr__(self):
        self.fail("repr")
        return "Fails()"


def unhashable_with_failing_repr(error):
    class Unhashable:
        __hash__ = None

        def __repr__(self):
            raise error

    return Unhashable()


def not_sure_if_mapping(error):
    class Cagey:
        @property
        def __class__(self):
            raise error

    return Cagey()


def key_whose_hash_error_refuses_notes(error):
    class Refuses(Exception):
        def add_note(self, note):
            raise error

    class Key:
        def __hash__(self):
            raise Refuses

    return Key()


def keyword_name_without_text(error):
    class Name(str):
        def __str__(self):
            raise error

    return {Name("x"): 1}


SITES = {
    "map ==": lambda e: HashTrieMap({1: Fails(e, "eq")}) == HashTrieMap({1: Fails(e, "eq")}),
    "map !=": lambda e: HashTrieMap({1: Fails(e, "eq")}) != HashTrieMap({1: Fails(e, "eq")}),
    "list ==": lambda e: List([Fails(e, "eq")]) == List([Fails(e, "eq")]),
    "queue ==": lambda e: Queue([Fails(e, "eq")]) == Queue([Fails(e, "eq")]),
    "stack ==": lambda e: Stack([Fails(e, "eq")]) == Stack([Fails(e, "eq")]),
    "map repr": lambda e: repr(HashTrieMap({Fails(e, "repr"): 1})),
    "set repr": lambda e: repr(HashTrieSet([Fails(e, "repr")])),
    "list repr": lambda e: repr(List([Fails(e, "repr")])),
    "queue repr": lambda e: repr(Queue([Fails(e, "repr")])),
    "stack repr": lambda e: repr(Stack([1, Fails(e, "repr")])),
    "keys repr": lambda e: repr(HashTrieMap({Fails(e, "repr"): 1}).keys()),
    "values repr": lambda e: repr(HashTrieMap({1: Fails(e, "repr")}).values()),
    "items repr": lambda e: repr(HashTrieMap({1: Fails(e, "repr")}).items()),
    "list hash": lambda e: hash(List([Fails(e, "hash")])),
    "map hash": lambda e: hash(HashTrieMap({1: Fails(e, "hash")})),
    "hash message": lambda e: hash(List([unhashable_with_failing_repr(e)])),
    "mapping test": lambda e: HashTrieMap(not_sure_if_mapping(e)),
    "argument note": lambda e: HashTrieMap().get(key_whose_hash_error_refuses_notes(e)),
    "keyword text": lambda e: HashTrieMap().get(1, **keyword_name_without_text(e)),
}


@pytest.mark.parametrize("site", SITES.values(), ids=SITES.keys())
def test_interrupt_propagates_where_errors_are_discarded(site):
    with pytest.raises(KeyboardInterrupt):
        site(KeyboardInterrupt())


class DeepRecursion(RecursionError):
    pass


@pytest.mark.parametrize(
    "error", [KeyboardInterrupt(), SystemExit(3), MemoryError(), DeepRecursion()],
    ids=lambda error: type(error).__name__,
)
def test_each_kind_of_error_that_must_be_heard_propagates(error):
    with pytest.raises(type(error)) as info:
        List([Fails(error, "eq")]) == List([Fails(error, "eq")])
    assert info.value is error


def test_other_errors_are_still_discarded():
    assert SITES["map =="](ValueError()) is False
    assert SITES["list =="](ValueError()) is False
    assert SITES["map repr"](ValueError()) == "HashTrieMap({<repr error>: 1})"
    with pytest.raises(TypeError, match="^Unhashable type at 0 element in List: Fails()"):
        SITES["list hash"](ValueError())
