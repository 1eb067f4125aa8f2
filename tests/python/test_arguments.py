# Argument parsing: every argument error, word for word, for each calling form.
import pytest

import quil

L = quil.List([1, 2])
Q = quil.Queue(1, 2)
S = quil.Stack(1, 2)

CASES = [
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


def test_keyword_argument_by_name():
    assert list(L.push_front(other=0)) == [0, 1, 2]
    assert list(Q.enqueue(value=3)) == [1, 2, 3]
    assert list(S.push(other=3)) == [3, 2, 1]
