# Argument parsing: every argument error, word for word, for each calling form.
import textwrap

import pytest

import quil
from helpers import run_child

L = quil.List([1, 2])
Q = quil.Queue(1, 2)
S = quil.Stack(1, 2)
M = quil.HashTrieMap({"a": 1})
T = quil.HashTrieSet([1])

CASES = [
    ("map-get-missing", lambda: quil.HashTrieMap.get(M), TypeError,
     "HashTrieMap.get() missing 1 required positional argument: 'key'"),
    ("map-get-too-many", lambda: M.get(1, 2, 3), TypeError,
     "HashTrieMap.get() takes from 1 to 2 positional arguments but 3 were given"),
    ("map-get-multiple", lambda: M.get(1, key=1), TypeError,
     "HashTrieMap.get() got multiple values for argument 'key'"),
    ("map-insert-too-many", lambda: M.insert(1, 2, 3), TypeError,
     "HashTrieMap.insert() takes 2 positional arguments but 3 were given"),
    ("map-insert-keyword", lambda: M.insert(1, 2, foo=3), TypeError,
     "HashTrieMap.insert() got an unexpected keyword argument 'foo'"),
    ("map-insert-one-missing", lambda: M.insert(1), TypeError,
     "HashTrieMap.insert() missing 1 required positional argument: 'value'"),
    ("map-insert-two-missing", lambda: M.insert(), TypeError,
     "HashTrieMap.insert() missing 2 required positional arguments: 'key' and 'value'"),
    ("map-new-too-many", lambda: quil.HashTrieMap(1, 2), TypeError,
     "HashTrieMap.__new__() takes from 0 to 1 positional arguments but 2 were given"),
    ("map-new-multiple", lambda: quil.HashTrieMap({}, value={}), TypeError,
     "HashTrieMap.__new__() got multiple values for argument 'value'"),
    ("map-remove-missing", lambda: M.remove(), TypeError,
     "HashTrieMap.remove() missing 1 required positional argument: 'key'"),
    ("map-convert-missing", lambda: quil.HashTrieMap.convert(), TypeError,
     "HashTrieMap.convert() missing 1 required positional argument: 'value'"),
    ("map-fromkeys-too-many", lambda: quil.HashTrieMap.fromkeys(1, 2, 3), TypeError,
     "HashTrieMap.fromkeys() takes from 1 to 2 positional arguments but 3 were given"),
    ("set-new-too-many", lambda: quil.HashTrieSet(1, 2), TypeError,
     "HashTrieSet.__new__() takes from 0 to 1 positional arguments but 2 were given"),
    ("set-new-keyword", lambda: quil.HashTrieSet(values=[1]), TypeError,
     "HashTrieSet.__new__() got an unexpected keyword argument 'values'"),
    ("set-new-multiple", lambda: quil.HashTrieSet([], value=[]), TypeError,
     "HashTrieSet.__new__() got multiple values for argument 'value'"),
    ("set-insert-missing", lambda: T.insert(), TypeError,
     "HashTrieSet.insert() missing 1 required positional argument: 'value'"),
    ("set-remove-too-many", lambda: T.remove(1, 2), TypeError,
     "HashTrieSet.remove() takes 1 positional arguments but 2 were given"),
    ("set-discard-keyword", lambda: T.discard(key=1), TypeError,
     "HashTrieSet.discard() got an unexpected keyword argument 'key'"),
    ("set-update-keyword", lambda: T.update([1], x=2), TypeError,
     "HashTrieSet.update() got an unexpected keyword argument 'x'"),
    ("set-union-missing", lambda: T.union(), TypeError,
     "HashTrieSet.union() missing 1 required positional argument: 'other'"),
    ("set-difference-multiple", lambda: T.difference(T, other=T), TypeError,
     "HashTrieSet.difference() got multiple values for argument 'other'"),
    ("set-reduce-noargs", lambda: T.__reduce__(1), TypeError,
     "HashTrieSet.__reduce__() takes no arguments (1 given)"),
    # (id, call, exception type, message)
    ("missing", lambda: L.push_front(), TypeError,
     "List.push_front() missing 1 required positional argument: 'other'"),
    ("too-many", lambda: L.push_front(1, 2), TypeError,
     "List.push_front() takes 1 positional arguments but 2 were given"),
    ("multiple-values", lambda: L.push_front(1, other=2), TypeError,
     "List.push_front() got multiple values for argument 'other'"),
    ("unexpected-keyword", lambda: L.push_front(1, foo=2), TypeError,
     "List.push_front() got an unexpected keyword argument 'foo'"),
    ("constructor-keyword", lambda: quil.List(1, x=2), TypeError,
     "List.__new__() got an unexpected keyword argument 'x'"),
    ("noargs-method", lambda: L.drop_first(1), TypeError,
     "List.drop_first() takes no arguments (1 given)"),
    ("enqueue-missing", lambda: Q.enqueue(), TypeError,
     "Queue.enqueue() missing 1 required positional argument: 'value'"),
    ("enqueue-too-many", lambda: Q.enqueue(1, 2), TypeError,
     "Queue.enqueue() takes 1 positional arguments but 2 were given"),
    ("enqueue-multiple-values", lambda: Q.enqueue(1, value=2), TypeError,
     "Queue.enqueue() got multiple values for argument 'value'"),
    ("enqueue-unexpected-keyword", lambda: Q.enqueue(other=2), TypeError,
     "Queue.enqueue() got an unexpected keyword argument 'other'"),
    ("push-missing", lambda: S.push(), TypeError,
     "Stack.push() missing 1 required positional argument: 'other'"),
    ("push-too-many", lambda: S.push(1, 2), TypeError,
     "Stack.push() takes 1 positional arguments but 2 were given"),
    ("push-multiple-values", lambda: S.push(1, other=2), TypeError,
     "Stack.push() got multiple values for argument 'other'"),
    ("push-unexpected-keyword", lambda: S.push(value=2), TypeError,
     "Stack.push() got an unexpected keyword argument 'value'"),
    ("queue-constructor-keyword", lambda: quil.Queue(1, x=2), TypeError,
     "Queue.__new__() got an unexpected keyword argument 'x'"),
    ("stack-constructor-keyword", lambda: quil.Stack(elements=[1]), TypeError,
     "Stack.__new__() got an unexpected keyword argument 'elements'"),
    ("queue-noargs-method", lambda: Q.dequeue(1), TypeError,
     "Queue.dequeue() takes no arguments (1 given)"),
    ("stack-noargs-method", lambda: S.peek(1), TypeError,
     "Stack.peek() takes no arguments (1 given)"),
]


@pytest.mark.parametrize("call, error, message", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_argument_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message
    assert getattr(info.value, "__notes__", None) is None


def test_keyword_arguments_by_name():
    assert list(L.push_front(other=0)) == [0, 1, 2]
    assert list(Q.enqueue(value=3)) == [1, 2, 3]
    assert list(S.push(other=3)) == [3, 2, 1]
    assert M.get(key="a", default=2) == 1
    assert M.insert(value=2, key="b")["b"] == 2
    assert quil.HashTrieMap.fromkeys(keys=[1], val=2)[1] == 2
    assert quil.HashTrieSet(value=[2]) == {2}
    assert T.insert(value=2) == {1, 2} and T.remove(value=1) == set()
    assert T.symmetric_difference(other=quil.HashTrieSet([2])) == {1, 2}


def test_unknown_keywords_of_the_map_constructor_become_entries():
    assert dict(quil.HashTrieMap(value={}, x=1).items()) == {"x": 1}


def test_unhashable_argument_gets_the_note():
    with pytest.raises(TypeError, match="unhashable type: 'list'") as info:
        M.get([])
    assert info.value.__notes__ == ["while processing 'key'"]


# A keyword name whose __hash__ empties every dict that holds it: the caller's keyword dict
# and the dict of extra keywords drop their references to the names and values while quil
# is still reading them. Pairs says when it is read and when it is freed.
EMPTYING_NAME = """
import gc
from quil import HashTrieMap

class Name(str):
    def __hash__(self):
        for holder in gc.get_referrers(self):
            if type(holder) is dict:
                holder.clear()
        return str.__hash__(self)

class Pairs:
    def __iter__(self):
        print("read")
        return iter([("x", 1)])

    def __del__(self):
        print("freed")

try:
    {call}
except BaseException as error:
    print(type(error).__name__, error)
"""


@pytest.mark.parametrize(
    "call, before",
    [
        ("HashTrieMap(**{Name('a'): 1})", ""),
        ("HashTrieMap().update(**{Name('a'): 1})", ""),
        ("HashTrieMap(**{'value': Pairs(), Name('a'): 1})", "read\nfreed\n"),
    ],
    ids=["constructor", "update", "constructor-with-value"],
)
def test_keyword_dict_emptied_while_it_is_read(call, before):
    child = run_child(textwrap.dedent(EMPTYING_NAME).format(call=call))
    assert child.returncode == 0, child.stderr
    assert child.stdout == before + "PanicException dictionary changed size during iteration\n"


def test_keyword_name_that_does_not_encode_is_named_by_the_fallback_text():
    # str() of the name succeeds, so there is no error to report, only text that cannot
    # be UTF-8.
    child = run_child(textwrap.dedent("""
        from quil import HashTrieMap
        try:
            HashTrieMap().get(1, **{"\\ud800": 1})
        except TypeError as error:
            print(error)
    """))
    assert child.returncode == 0, child.stderr
    assert child.stdout == (
        "HashTrieMap.get() got an unexpected keyword argument '<unprintable str object>'\n")
    assert child.stderr == ""
