# Internal failures: PanicException, and keys whose __eq__ fails.
import textwrap

import pytest

from helpers import HashKey, run_child
from quil import HashTrieMap

np = pytest.importorskip("numpy")


def panic_type():
    """The PanicException class, reachable only through a raised instance."""
    m = HashTrieMap({HashKey(1, "a", error_on_eq=ValueError("boom")): 1})
    try:
        m[HashKey(1, "b")]
    except BaseException as error:  # noqa: B036 - the point of the test
        return type(error)
    raise AssertionError("no PanicException raised")


def test_panic_exception_type():
    cls = panic_type()
    assert cls.__name__ == "PanicException"
    assert cls.__module__ == "vexa_runtime"
    assert cls.__bases__ == (BaseException,)
    assert not issubclass(cls, Exception)
    assert "BaseException" in cls.__doc__
    assert panic_type() is cls


def test_except_exception_does_not_catch_it():
    m = HashTrieMap({HashKey(1, "a", error_on_eq=ValueError("boom")): 1})
    with pytest.raises(BaseException) as info:
        try:
            m[HashKey(1, "b")]
        except Exception:
            pytest.fail("caught by except Exception")
    assert type(info.value) is panic_type()


@pytest.mark.parametrize(
    "operation",
    [
        lambda m, k: m[k],
        lambda m, k: k in m,
        lambda m, k: m.get(k),
        lambda m, k: m.insert(k, 2),
        lambda m, k: m.remove(k),
        lambda m, k: m.discard(k),
        lambda m, k: HashTrieMap({k: 1, "other": 2}) == m,
    ],
    ids=["getitem", "contains", "get", "insert", "remove", "discard", "eq"],
)
@pytest.mark.parametrize(
    "stored, message",
    [
        (lambda: HashKey(1, "a", error_on_eq=ValueError("boom")),
         "__eq__ failed!: PyErr { type: <class 'ValueError'>, value: ValueError('boom'), "
         "traceback: Some(<traceback object at "),
        (lambda: HashKey(1, "a", eq_result=1),
         "__eq__ failed!: PyErr { type: <class 'TypeError'>, value: TypeError(\"'int' object "
         "is not an instance of 'bool'\"), traceback: None }"),
        (lambda: HashKey(1, "a", eq_result=np.int64(1)),
         "__eq__ failed!: PyErr { type: <class 'TypeError'>, value: TypeError(\"'int64' "
         "object is not an instance of 'bool'\"), traceback: None }"),
    ],
    ids=["raises", "returns-int", "returns-numpy-int"],
)
def test_failing_eq_raises_panic_and_leaves_the_map_intact(stored, message, operation):
    stored = stored()
    m = HashTrieMap({stored: 1, "other": 2})
    with pytest.raises(BaseException) as info:
        operation(m, HashKey(1, "b"))
    assert type(info.value) is panic_type()
    assert str(info.value).startswith(message)
    stored.error_on_eq = stored.eq_result = None
    assert dict(zip(m, [m[k] for k in m])) == {stored: 1, "other": 2}


def test_panic_raised_inside_eq_is_resumed_with_its_message():
    cls = panic_type()
    m = HashTrieMap({HashKey(1, "a", error_on_eq=cls("inner failure")): 1})
    with pytest.raises(cls) as info:
        m[HashKey(1, "b")]
    assert str(info.value) == "inner failure"


@pytest.mark.parametrize("result, found", [(np.True_, True), (np.False_, False)])
def test_numpy_booleans_are_accepted(result, found):
    m = HashTrieMap({HashKey(1, "a", eq_result=result): 1})
    assert (HashKey(1, "b") in m) is found


def test_eq_is_never_called_without_a_hash_match():
    stored = HashKey(1, "a", error_on_eq=ValueError("boom"))
    m = HashTrieMap({stored: 1})
    assert HashKey(2, "a") not in m
    assert stored.eq_calls == 0
    assert HashKey(1, "x") not in HashTrieMap()


def test_reinserting_an_equal_key_compares_twice():
    stored = HashKey(1, "a")
    m = HashTrieMap({stored: 1})
    m.insert(HashKey(1, "a"), 2)
    assert stored.eq_calls == 2


def test_eq_error_whose_repr_does_not_encode_is_named_by_the_fallback_text():
    # repr() of the error succeeds, so there is no error to report, only text that cannot
    # be UTF-8.
    child = run_child(textwrap.dedent("""
        from quil import HashTrieMap

        class Surrogate(Exception):
            def __repr__(self):
                return "\\ud800"

        class Key:
            def __hash__(self):
                return 1

            def __eq__(self, other):
                raise Surrogate

        try:
            HashTrieMap({Key(): 1})[Key()]
        except BaseException as error:
            print(type(error).__name__, str(error).split(",")[1])
    """))
    assert child.returncode == 0, child.stderr
    assert child.stdout == "PanicException  value: <unprintable Surrogate object>\n"
    assert "Exception ignored" not in child.stderr


def test_first_panic_of_the_process_with_the_stack_nearly_exhausted():
    # Equal maps nested through their keys: the comparison recurses through the keys'
    # __eq__ until the recursion guard stops it, deep in the C stack, where the first
    # PanicException of the process is raised.
    child = run_child(textwrap.dedent("""
        from quil import HashTrieMap

        def nested():
            m = HashTrieMap()
            for _ in range(100_000):
                m = HashTrieMap({m: 1})
            return m

        try:
            nested() == nested()
        except BaseException as error:
            print(type(error).__name__)
    """))
    assert child.returncode == 0, child.stderr[-2000:]
    assert child.stdout == "PanicException\n"
