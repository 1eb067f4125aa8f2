# Test helpers: keys with controlled hashes and equality, elements whose protocols fail
# on demand, and a child interpreter for code that could crash.
import os
import subprocess
import sys

import quil


class HashKey:
    """A key with a chosen hash; equal to other HashKeys with the same name.

    `error_on_eq` makes __eq__ raise; `eq_result` makes it return that object instead of
    a bool. `eq_calls` counts the comparisons made on this key.
    """

    def __init__(self, hash_value, name, *, error_on_eq=None, eq_result=None):
        self.hash_value = hash_value
        self.name = name
        self.error_on_eq = error_on_eq
        self.eq_result = eq_result
        self.eq_calls = 0

    def __hash__(self):
        return self.hash_value

    def __eq__(self, other):
        self.eq_calls += 1
        if self.error_on_eq is not None:
            # A fresh exception each time: re-raising one instance grows its traceback.
            raise type(self.error_on_eq)(*self.error_on_eq.args)
        if self.eq_result is not None:
            return self.eq_result
        if not isinstance(other, HashKey):
            return NotImplemented
        return self.name == other.name

    def __repr__(self):
        return f"HashKey({self.hash_value}, {self.name!r})"


class BadRepr:
    """An element whose __repr__ raises."""

    def __repr__(self):
        raise ValueError("no repr")


class Unhashable:
    __hash__ = None

    def __repr__(self):
        return "Unhashable()"


class BadHash:
    """An element whose __hash__ raises ValueError."""

    def __hash__(self):
        raise ValueError("no hash")

    def __repr__(self):
        return "BadHash()"


class BadEq:
    """An element whose __eq__ raises; equality comparisons against it fail."""

    def __eq__(self, other):
        raise ValueError("no eq")

    __hash__ = object.__hash__


def run_child(code, *, timeout=300):
    """Runs `code` in a fresh interpreter (this one's executable, importing the same quil)
    and returns the finished process, its output captured as text. Code that could crash
    or abort runs here, so that a crash fails one test instead of ending the session."""
    env = dict(os.environ)
    root = os.path.dirname(os.path.dirname(quil.__file__))
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [root, env.get("PYTHONPATH")]))
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                          text=True, timeout=timeout)
