# Argument parsing: every argument error, word for word, for each calling form.
import pytest

import quil

L = quil.List([1, 2])

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
]


@pytest.mark.parametrize("call, error, message", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_argument_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message
    assert getattr(info.value, "__notes__", None) is None


def test_keyword_argument_by_name():
    assert list(L.push_front(other=0)) == [0, 1, 2]
