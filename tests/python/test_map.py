# HashTrieMap: construction, lookup, updates, repr, equality, hashing and pickling.
import collections.abc
import pickle
import subprocess
import sys

import pytest

from helpers import BadRepr, HashKey
from quil import HashTrieMap


class Mapping(collections.abc.Mapping):
    """A mapping that is not a dict."""

    def __init__(self, data):
        self.data = dict(data)

    def __getitem__(self, key):
        return self.data[key]

    def __iter__(self):
        return iter(self.data)

    def __len__(self):
        return len(self.data)


def as_dict(m):
    return {k: m[k] for k in m}


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((), {}, {}),
        ((None,), {}, {}),
        ((), {"value": None, "a": 1}, {"a": 1}),
        (({"a": 1, "b": 2},), {}, {"a": 1, "b": 2}),
        (([("a", 1), ("b", 2)],), {}, {"a": 1, "b": 2}),
        (([("a", 1), ("a", 2)],), {}, {"a": 2}),
        ((Mapping({"x": 1}),), {}, {"x": 1}),
        ((HashTrieMap({"m": 1}),), {}, {"m": 1}),
        (({"a": 1},), {"a": 2}, {"a": 2}),
        ((), {"value": {"v": 0}, "x": 1}, {"v": 0, "x": 1}),
        ((iter([("g", 1)]),), {}, {"g": 1}),
    ],
    ids=["empty", "none", "keywords", "dict", "pairs", "later-pair-wins", "mapping",
         "map", "keyword-wins", "value-keyword", "iterator"],
)
def test_construction(args, kwargs, expected):
    assert as_dict(HashTrieMap(*args, **kwargs)) == expected


@pytest.mark.parametrize(
    "value, error, message",
    [
        ([1, 2], TypeError, "'int' object is not an instance of 'tuple'"),
        ([[1, 2]], TypeError, "'list' object is not an instance of 'tuple'"),
        ([(1, 2, 3)], ValueError, "expected tuple of length 2, but got tuple of length 3"),
        (5, TypeError, "'int' object is not iterable"),
        ([([], 1)], TypeError, "unhashable type: 'list'"),
    ],
    ids=["int-item", "list-pair", "triple", "not-iterable", "unhashable-key"],
)
def test_construction_errors_carry_the_value_note(value, error, message):
    with pytest.raises(error) as info:
        HashTrieMap(value)
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'value'"]


def test_failing_items_of_a_mapping_is_reported_with_the_note():
    class Broken(Mapping):
        def items(self):
            raise RuntimeError("no items")

    with pytest.raises(RuntimeError, match="no items") as info:
        HashTrieMap(Broken({}))
    assert info.value.__notes__ == ["while processing 'value'"]


def test_lookup():
    m = HashTrieMap({"a": 1, (1, 2): "t"})
    assert m["a"] == 1
    assert m[(1, 2)] == "t"
    assert "a" in m and "z" not in m
    assert len(m) == 2
    assert m.get("a") == 1
    assert m.get("z") is None
    assert m.get("z", 5) == 5
    assert m.get("z", None) is None
    assert m.get(key="a", default=2) == 1


def test_missing_key_error_carries_the_key():
    m = HashTrieMap()
    with pytest.raises(KeyError) as info:
        m["missing"]
    assert info.value.args == ("missing",)
    with pytest.raises(KeyError) as info:
        m[(1, 2)]
    assert info.value.args == (1, 2)


@pytest.mark.parametrize(
    "operation",
    [lambda m: m[[]], lambda m: [] in m, lambda m: m.get([]), lambda m: m.insert([], 1),
     lambda m: m.remove([]), lambda m: m.discard([])],
    ids=["getitem", "contains", "get", "insert", "remove", "discard"],
)
def test_unhashable_key_is_an_error_with_the_key_note(operation):
    with pytest.raises(TypeError, match="unhashable type: 'list'") as info:
        operation(HashTrieMap({"a": 1}))
    assert info.value.__notes__ == ["while processing 'key'"]


def test_numeric_keys_of_different_types_are_found():
    assert HashTrieMap({1: "a"})[1.0] == "a"
    assert 1.0 in HashTrieMap({1: "a"})
    assert HashTrieMap({1.0: "a"})[1] == "a"
    assert HashTrieMap({1: "a"}).get(True) == "a"


def test_a_str_subclass_compares_by_its_own_eq_and_exact_str_by_str_eq():
    log = []

    class LoudStr(str):
        def __eq__(self, other):
            log.append((str(self), str(other)))
            return str.__eq__(self, other)

        __hash__ = str.__hash__

    assert HashTrieMap([(LoudStr("a"), 1)])["a"] == 1
    assert log == [("a", "a")]
    assert HashTrieMap({"a": 1})[LoudStr("a")] == 1  # the stored exact str answers
    assert log == [("a", "a")]


def test_insert_remove_discard_leave_the_receiver_unchanged():
    m = HashTrieMap({"a": 1})
    assert as_dict(m.insert("b", 2)) == {"a": 1, "b": 2}
    assert as_dict(m.insert("a", 3)) == {"a": 3}
    assert as_dict(m.remove("a")) == {}
    assert as_dict(m.discard("a")) == {}
    same = m.insert("a", 1)
    assert same == m and same is not m
    assert as_dict(m) == {"a": 1}


def test_remove_and_discard_of_a_missing_key():
    m = HashTrieMap({"a": 1})
    with pytest.raises(KeyError) as info:
        m.remove("missing")
    assert info.value.args == ("missing",)
    d = m.discard("missing")
    assert d == m and d is not m


def test_insert_replaces_the_key_object_too():
    a, b = HashKey(1, "x"), HashKey(1, "x")
    m = HashTrieMap({a: 1}).insert(b, 2)
    assert next(iter(m)) is b


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda m: m.update(), {"a": 1}),
        (lambda m: m.update({"a": 2}, {"a": 3}, a=4), {"a": 4}),
        (lambda m: m.update({"a": 2}, {"a": 3}), {"a": 3}),
        (lambda m: m.update([("b", 2)]), {"a": 1, "b": 2}),
        (lambda m: m.update(maps=1, kwds=2), {"a": 1, "maps": 1, "kwds": 2}),
        (lambda m: m.update(HashTrieMap(c=3)), {"a": 1, "c": 3}),
    ],
    ids=["nothing", "keywords-last", "later-wins", "pairs", "keyword-names", "map"],
)
def test_update(call, expected):
    m = HashTrieMap({"a": 1})
    result = call(m)
    assert as_dict(result) == expected
    assert result is not m
    assert as_dict(m) == {"a": 1}


def test_update_errors_have_no_note():
    with pytest.raises(TypeError, match="'int' object is not iterable") as info:
        HashTrieMap().update(1)
    assert not hasattr(info.value, "__notes__")


def test_convert():
    m = HashTrieMap({"a": 1})
    assert HashTrieMap.convert(m) is m
    assert HashTrieMap.convert({"a": 1}) == m
    assert HashTrieMap.convert([("a", 1)]) == m
    assert m.convert({"b": 2}) == HashTrieMap(b=2)
    with pytest.raises(TypeError) as info:
        HashTrieMap.convert(5)
    assert not hasattr(info.value, "__notes__")


def test_fromkeys():
    assert as_dict(HashTrieMap.fromkeys("ab")) == {"a": None, "b": None}
    assert as_dict(HashTrieMap.fromkeys([1, 2], 0)) == {1: 0, 2: 0}
    assert len(HashTrieMap.fromkeys([1, 1])) == 1
    assert as_dict(HashTrieMap().fromkeys([1], None)) == {1: None}
    with pytest.raises(TypeError, match="unhashable type: 'list'"):
        HashTrieMap.fromkeys([[1]])
    with pytest.raises(TypeError, match="'int' object is not iterable"):
        HashTrieMap.fromkeys(1)


@pytest.mark.parametrize(
    "m, text",
    [
        (HashTrieMap(), "HashTrieMap({})"),
        (HashTrieMap({"a": 1}), "HashTrieMap({'a': 1})"),
        (HashTrieMap({BadRepr(): 1}), "HashTrieMap({<repr error>: 1})"),
        (HashTrieMap({"a": BadRepr()}), "HashTrieMap({'a': <repr error>})"),
    ],
    ids=["empty", "one", "bad-key", "bad-value"],
)
def test_repr(m, text):
    assert repr(m) == text


def test_equality():
    assert HashTrieMap({"a": 1}) == HashTrieMap([("a", 1)])
    assert HashTrieMap({"a": 1}) == HashTrieMap({"a": 1.0})
    assert HashTrieMap({"a": 1, "b": 2}) != HashTrieMap({"a": 1, "b": 3})
    assert not (HashTrieMap({"a": 1, "b": 2}) == HashTrieMap({"a": 1, "b": 3}))
    assert HashTrieMap({"a": 1}) != HashTrieMap({"a": 1, "b": 2})
    assert not (HashTrieMap({"a": 1}) == {"a": 1})
    assert HashTrieMap({"a": 1}) != {"a": 1}


def test_a_key_missing_from_the_other_map_makes_them_unequal():
    a, b = HashTrieMap({"a": None}), HashTrieMap({"b": None})
    assert not (a == b)
    assert a != b


def test_value_comparison_has_no_identity_shortcut_and_failures_mean_unequal():
    nan = float("nan")
    m = HashTrieMap({"a": nan})
    assert m != m

    class Bad:
        def __eq__(self, other):
            raise ValueError

        __ne__ = __eq__
        __hash__ = object.__hash__

    bad = HashTrieMap({"a": Bad()})
    assert not (bad == HashTrieMap({"a": 1}))
    assert bad != HashTrieMap({"a": 1})


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_ordering_is_not_supported(op):
    with pytest.raises(TypeError):
        eval(f"a {op} b", {"a": HashTrieMap(), "b": HashTrieMap()})


def test_hash():
    assert hash(HashTrieMap()) == 133146708735736
    pairs = [(i, str(i)) for i in range(50)]
    assert hash(HashTrieMap(pairs)) == hash(HashTrieMap(reversed(pairs)))
    assert hash(HashTrieMap({"a": 1})) == hash(HashTrieMap({"a": 1.0}))
    assert hash(HashTrieMap({"a": 1})) != hash(HashTrieMap({"a": 2}))


def test_unhashable_value():
    with pytest.raises(TypeError) as info:
        hash(HashTrieMap({"a": []}))
    assert str(info.value) == "Unhashable type in HashTrieMap of key 'a': []"
    assert info.value.__context__ is None


def test_pickling():
    m = HashTrieMap({"a": 1, (2, 3): [4]})
    assert m.__reduce__() == (HashTrieMap, (list(zip(m, [m[k] for k in m])),))
    assert pickle.loads(pickle.dumps(m)) == m


def test_is_a_registered_mapping():
    assert isinstance(HashTrieMap(), collections.abc.Mapping)


def test_colliding_keys_are_stored_found_replaced_and_removed():
    keys = [HashKey(7, name) for name in "abc"]
    m = HashTrieMap((k, i) for i, k in enumerate(keys))
    assert len(m) == 3
    assert [m[HashKey(7, name)] for name in "abc"] == [0, 1, 2]
    assert HashKey(7, "z") not in m
    replaced = m.insert(HashKey(7, "b"), 10)
    assert len(replaced) == 3 and replaced[HashKey(7, "b")] == 10
    removed = m.remove(HashKey(7, "a"))
    assert len(removed) == 2 and HashKey(7, "a") not in removed
    assert m[HashKey(7, "a")] == 0


def test_equal_keys_with_different_hashes_are_separate_entries():
    m = HashTrieMap([(HashKey(1, "a"), 1), (HashKey(2, "a"), 2)])
    assert len(m) == 2


def test_stored_key_keeps_its_hash():
    key = HashKey(1, "a")
    m = HashTrieMap({key: 1})
    key.hash_value = 2
    assert m[HashKey(1, "a")] == 1
    assert HashKey(2, "a") not in m


class Logged:
    """A key that hashes like `twin` and logs its __hash__ and __eq__ calls; it is equal
    to nothing, so it ends up in a bucket with `twin`. `on_hash` runs inside __hash__."""

    def __init__(self, twin, log, on_hash=None):
        self.twin, self.log, self.on_hash = twin, log, on_hash

    def __hash__(self):
        self.log.append("hash")
        if self.on_hash is not None:
            self.on_hash()
        return hash(self.twin)

    def __eq__(self, other):
        self.log.append(("eq", other))
        return False


def built_one_by_one(pairs, log):
    """The map of `pairs` by successive inserts, logging as `logged_pairs` does."""
    m = HashTrieMap()
    for key, value in pairs:
        log.append(("next", value))
        m = m.insert(key, value)
    return m


def calls(log):
    """The log with each run of repeated comparisons counted once. How many times a key
    that collides with another is compared depends on how deep the two meet, which
    depends on the map's random hash keys, so only the order of calls is compared
    between separately built maps."""
    squashed = []
    for entry in log:
        if not (squashed and entry == squashed[-1] and entry[0] == "eq"):
            squashed.append(entry)
    return squashed


def logged_pairs(pairs, log):
    for key, value in pairs:
        log.append(("next", value))
        yield key, value


def surviving_keys(m):
    return {value: id(key) for key, value in m.items()}


def test_python_code_runs_where_insertion_one_by_one_runs_it():
    # Built-in keys, then a Python key colliding with one of them, then more built-in
    # keys, one of which replaces an earlier equal one (a new object) and meets the
    # Python key's __eq__ on the way.
    log = []
    twin, twin_again = "".join(["tw", "in"]), "".join(["t", "win"])
    pairs = [(twin, 1), ("b", 2), (Logged(twin, log), 3), (2.5, 4), (twin_again, 5), (7, 6)]
    expected = built_one_by_one(pairs, log)
    expected_log = log[:]
    del log[:]
    m = HashTrieMap(logged_pairs(pairs, log))
    assert calls(log) == calls(expected_log)
    assert ("eq", twin_again) in log
    assert surviving_keys(m) == surviving_keys(expected)
    assert surviving_keys(m)[5] == id(twin_again)


def test_a_dict_is_read_as_it_stood_before_the_first_python_key_was_hashed():
    log = []
    d = {"a": 1, "twin": 2}
    key = Logged("twin", log)
    d[key] = 3
    d["z"] = 4
    del log[:]
    expected = built_one_by_one(list(d.items()), log)
    expected_log = [entry for entry in log if entry[0] != "next"]
    del log[:]
    key.on_hash = lambda: d.update(late=5)
    m = HashTrieMap(d)
    assert calls(log) == calls(expected_log)
    assert "late" in d and "late" not in m
    assert surviving_keys(m) == surviving_keys(expected)


def test_bytes_meet_str_one_by_one_when_the_interpreter_warns_about_it():
    # hash(b"abc") == hash("abc"); under -b comparing them warns, and a warning can run
    # Python code, so it must come as the bytes key is inserted, not later.
    code = """if True:
        import warnings, quil
        log = []
        warnings.showwarning = lambda *args, **kwargs: log.append("warning")
        def pairs():
            yield "abc", 1
            yield b"abc", 2
            log.append("after")
            yield "x", 3
        m = quil.HashTrieMap(pairs())
        print(len(m), log[0], log[-1])
    """
    run = subprocess.run(
        [sys.executable, "-b", "-W", "always::BytesWarning", "-c", code],
        capture_output=True, text=True, check=True,
    )
    assert run.stdout.split() == ["3", "warning", "after"]
