"""The shared shape of the function tables: an expected value, or the exception a call raises."""
import pytest


class Raises:
    def __init__(self, kind, message):
        self.kind = kind
        self.message = message

    def __repr__(self):
        return f"Raises({self.kind.__name__}, {self.message!r})"


def check(function, args, expected, kwargs=None, same=lambda a, b: a == b):
    """Calls function and compares with expected: a value of the same type that `same` accepts, or
    the exact exception type and message of a Raises."""
    kwargs = kwargs or {}
    if isinstance(expected, Raises):
        with pytest.raises(expected.kind) as caught:
            function(*args, **kwargs)
        assert type(caught.value) is expected.kind
        assert str(caught.value) == expected.message
    else:
        result = function(*args, **kwargs)
        assert type(result) is type(expected)
        assert same(result, expected)
