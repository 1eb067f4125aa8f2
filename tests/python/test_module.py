# The module's surface: __all__, the classes' identities, signatures and flags.
import collections.abc
import gc
import importlib
import importlib.util
import inspect
import sys
import types
import typing

import pytest

import quil

COLLECTIONS = ["HashTrieMap", "HashTrieSet", "List", "Stack", "Queue"]


def test_all_lists_the_collection_classes_in_order():
    assert quil.__all__ == COLLECTIONS
    assert all(getattr(quil, name).__name__ == name for name in COLLECTIONS)


def test_reimport_gives_new_module_with_same_types():
    list_type = quil.List
    del sys.modules["quil"]
    try:
        again = importlib.import_module("quil")
        assert again is not quil
        assert again.List is list_type
        assert again.__all__ == quil.__all__
    finally:
        sys.modules["quil"] = quil


@pytest.mark.parametrize("name", ["HashTrieMap", "HashTrieSet", "List", "Stack", "Queue"])
def test_collection_class_names(name):
    cls = getattr(quil, name)
    assert cls.__module__ == "quil"
    assert cls.__name__ == cls.__qualname__ == name


@pytest.mark.parametrize(
    "cls, signature",
    [(quil.HashTrieMap, "(value=None, **kwds)"), (quil.HashTrieSet, "(value=None)"),
     (quil.List, "(*elements)"),
     (quil.Stack, "(*args)"), (quil.Queue, "(*elements)")],
    ids=lambda value: getattr(value, "__name__", value),
)
def test_text_signatures(cls, signature):
    assert cls.__text_signature__ == signature
    # The docstring is the signature line only.
    assert cls.__doc__ is None or cls.__doc__ == ""


def test_method_signatures_are_introspectable():
    get = inspect.signature(quil.HashTrieMap.get)
    assert list(get.parameters) == ["self", "key", "default"]
    assert get.parameters["default"].default is None
    assert quil.HashTrieMap.fromkeys.__text_signature__ == "($type, keys, val=None)"
    params = inspect.signature(quil.List.push_front).parameters
    assert list(params) == ["self", "other"]
    assert quil.List.push_front.__text_signature__ == "($self, other)"
    assert quil.List.drop_first.__text_signature__ == "($self)"


@pytest.mark.parametrize(
    "method, signature",
    [
        (quil.Queue.peek, "($self)"),
        (quil.Queue.is_empty, "($self)"),
        (quil.Queue.enqueue, "($self, value)"),
        (quil.Queue.dequeue, "($self)"),
        (quil.Stack.peek, "($self)"),
        (quil.Stack.pop, "($self)"),
        (quil.Stack.push, "($self, other)"),
        (quil.HashTrieSet.insert, "($self, value)"),
        (quil.HashTrieSet.discard, "($self, value)"),
        (quil.HashTrieSet.remove, "($self, value)"),
        (quil.HashTrieSet.update, "($self, *iterables)"),
        (quil.HashTrieSet.union, "($self, other)"),
        (quil.HashTrieSet.intersection, "($self, other)"),
        (quil.HashTrieSet.difference, "($self, other)"),
        (quil.HashTrieSet.symmetric_difference, "($self, other)"),
        (quil.HashTrieSet.__reduce__, "($self)"),
    ],
    ids=lambda value: getattr(value, "__qualname__", None),
)
def test_queue_and_stack_method_signatures(method, signature):
    assert method.__text_signature__ == signature
    assert method.__doc__ is None


@pytest.mark.parametrize(
    "cls", [quil.HashTrieMap, quil.HashTrieSet, quil.List, quil.Stack, quil.Queue],
    ids=lambda c: c.__name__,
)
def test_classes_cannot_be_subclassed(cls):
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})


class Plain:
    """An instance of a class: the collector tracks it."""


def atoms_tuple():
    return tuple([1, "a"])  # a new tuple of untracked objects, made untracked


UNTRACKED = {
    "empty HashTrieMap": lambda: quil.HashTrieMap(),
    "HashTrieMap of str and int": lambda: quil.HashTrieMap({"a": 1}),
    "HashTrieMap of float, bytes, None": lambda: quil.HashTrieMap({1.5: b"x", "n": None}),
    "List of int, str, None": lambda: quil.List([1, "x", None]),
    "Stack": lambda: quil.Stack(1, 2),
    "Queue": lambda: quil.Queue(1, 2),
    "HashTrieSet of an untracked tuple": lambda: quil.HashTrieSet([atoms_tuple()]),
    "nested untracked collections": lambda: quil.List([quil.HashTrieMap(a=quil.Queue(1, 2))]),
    "KeysView": lambda: quil.HashTrieMap(a=1).keys(),
    "iterators": lambda: iter(quil.HashTrieMap(a=1).items()),
    "QueueIterator": lambda: iter(quil.Queue(1, 2)),
    "insert of an int": lambda: quil.HashTrieMap(a=1).insert("b", 2),
    "set algebra": lambda: quil.HashTrieSet([1]) | quil.HashTrieSet(["a"]),
    "rest of a tracked List": lambda: quil.List([[]]).rest,
    "remove of the last tracked entry": lambda: quil.HashTrieMap(a=[]).remove("a"),
    "finished mutation": lambda: quil.HashTrieMap(a=1).mutate().finish(),
}

TRACKED = {
    "HashTrieMap of a list": lambda: quil.HashTrieMap({"a": [1]}),
    "HashTrieMap of an empty dict": lambda: quil.HashTrieMap(a={}),
    "HashTrieMap with an instance key": lambda: quil.HashTrieMap({Plain(): 1}),
    "List of a list": lambda: quil.List([[]]),
    "Stack of an instance": lambda: quil.Stack([Plain()]),
    "Queue of a function": lambda: quil.Queue([len, lambda: None]),
    "HashTrieSet of a tracked tuple": lambda: quil.HashTrieSet([(1, Plain())]),
    "HashTrieSet of a frozenset": lambda: quil.HashTrieSet([frozenset()]),
    "nested tracked collections": lambda: quil.List([quil.HashTrieMap(a=[])]),
    "List of a mutation": lambda: quil.List([quil.HashTrieMap().mutate()]),
    "ValuesView": lambda: quil.HashTrieMap(a=[]).values(),
    "iterator": lambda: iter(quil.List([[]])),
    "insert of a list": lambda: quil.HashTrieMap(a=1).insert("b", []),
    "push of an instance": lambda: quil.Stack(1, 2).push(Plain()),
    "remove keeps the receiver's state": lambda: quil.HashTrieMap(a=[], b=1).remove("a"),
    "set union": lambda: quil.HashTrieSet([1]) | quil.HashTrieSet([Plain()]),
    "set intersection": lambda: quil.HashTrieSet([1]) & quil.HashTrieSet([1, Plain()]),
    "mutation of a tracked map": lambda: quil.HashTrieMap(a=[]).mutate(),
}


@pytest.mark.parametrize(
    "make, tracked",
    [(make, False) for make in UNTRACKED.values()] + [(make, True) for make in TRACKED.values()],
    ids=list(UNTRACKED) + list(TRACKED),
)
def test_instances_are_tracked_only_when_they_may_hold_a_tracked_object(make, tracked):
    assert gc.is_tracked(make()) is tracked


def test_a_mutation_is_tracked_from_the_first_tracked_object_put_in():
    mm = quil.HashTrieMap(a=1).mutate()
    mm["b"] = 2
    assert not gc.is_tracked(mm)
    mm["c"] = []
    assert gc.is_tracked(mm) and gc.is_tracked(mm.finish())
    sm = quil.HashTrieSet().mutate()
    sm.update([1, "a"])
    assert not gc.is_tracked(sm)
    sm.update([Plain()])
    assert gc.is_tracked(sm)


@pytest.mark.parametrize(
    "make_iterator",
    [lambda: iter(quil.HashTrieMap()), lambda: iter(quil.HashTrieMap().values()),
     lambda: iter(quil.HashTrieMap().items()), lambda: iter(quil.List([1])),
     lambda: iter(quil.Stack([1])), lambda: iter(quil.Queue([1])),
     lambda: iter(quil.HashTrieSet())],
    ids=["KeysIterator", "ValuesIterator", "ItemsIterator", "ListIterator",
         "StackIterator", "QueueIterator", "SetIterator"],
)
def test_iterator_classes_are_not_instantiable_nor_exported(make_iterator):
    cls = type(make_iterator())
    assert cls.__module__ == "quil"
    assert not hasattr(quil, cls.__name__)
    with pytest.raises(TypeError, match="cannot create"):
        cls()


@pytest.mark.parametrize(
    "make_view, name", [(lambda m: m.keys(), "KeysView"), (lambda m: m.values(), "ValuesView"),
                        (lambda m: m.items(), "ItemsView")],
    ids=["keys", "values", "items"],
)
def test_view_classes_are_not_instantiable_nor_exported(make_view, name):
    cls = type(make_view(quil.HashTrieMap()))
    assert (cls.__module__, cls.__qualname__) == ("quil", name)
    assert not hasattr(quil, name)
    with pytest.raises(TypeError):
        cls()


@pytest.mark.parametrize(
    "cls, args",
    [(quil.HashTrieMap, (str, int)), (quil.HashTrieSet, (int,)), (quil.List, (str,)),
     (quil.Queue, (int,)), (quil.Stack, (bytes,))],
    ids=lambda value: getattr(value, "__name__", ""),
)
def test_classes_are_subscriptable_as_generic_aliases(cls, args):
    alias = cls[args]
    assert type(alias) is types.GenericAlias
    assert alias.__origin__ is cls and alias.__args__ == args
    assert repr(alias) == f"quil.{cls.__name__}[{', '.join(arg.__name__ for arg in args)}]"
    assert cls.__class_getitem__.__text_signature__ == "($type, item, /)"


def test_annotations_that_subscript_the_classes_evaluate():
    from quil import HashTrieMap, HashTrieSet, List, Queue, Stack

    def lazy(m: HashTrieMap[str, List[int]], q: Queue[int]) -> Stack[HashTrieSet[str]]:
        raise NotImplementedError

    def strings(m: "quil.HashTrieMap[str, quil.List[int]]",
                q: "quil.Queue[int]") -> "quil.Stack[quil.HashTrieSet[str]]":
        raise NotImplementedError

    expected = {"m": HashTrieMap[str, List[int]], "q": Queue[int],
                "return": Stack[HashTrieSet[str]]}
    for f in (lazy, strings):
        assert typing.get_type_hints(f) == expected
        assert inspect.get_annotations(f, eval_str=True) == expected


def test_map_is_registered_as_a_mapping():
    assert isinstance(quil.HashTrieMap(), collections.abc.Mapping)


def test_set_is_registered_as_a_set():
    assert isinstance(quil.HashTrieSet(), collections.abc.Set)
    assert issubclass(quil.HashTrieSet, collections.abc.Set)


def test_list_is_not_registered_as_a_sequence():
    assert not isinstance(quil.List(), collections.abc.Sequence)


def test_class_attributes_can_be_assigned():
    quil.List.extra = 1
    try:
        assert quil.List().extra == 1
    finally:
        del quil.List.extra


def fresh_module():
    spec = importlib.util.find_spec("quil")
    return spec, importlib.util.module_from_spec(spec)


def test_exec_step_appends_to_an_existing_all():
    spec, module = fresh_module()
    module.__all__ = ["before"]
    spec.loader.exec_module(module)
    assert module.__all__ == ["before"] + COLLECTIONS


def test_exec_step_refuses_an_all_that_is_not_a_list():
    spec, module = fresh_module()
    module.__all__ = ("a",)
    with pytest.raises(TypeError, match=r"^'tuple' object is not an instance of 'list'$"):
        spec.loader.exec_module(module)
