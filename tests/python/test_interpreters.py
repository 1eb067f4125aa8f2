# quil in several interpreters of one process: each interpreter gets its own classes,
# PanicException and collections.abc registrations, whichever imports first, and closing
# one leaves the others working. Each scenario runs in a child process, so that the main
# interpreter's import order is the scenario's own and a crash fails only its test.
import importlib.util
import textwrap

import pytest

from helpers import run_child

# Every class, its views, iterators and mutations, the abstract base classes, pickling, an
# internal failure, and a re-import that must give the same classes.
USE_EVERY_CLASS = '''
import collections.abc, pickle, sys
import quil
from quil import HashTrieMap, HashTrieSet, List, Queue, Stack

m = HashTrieMap({"a": 1}, b=2).insert("c", 3).remove("a")
assert dict(m.items()) == {"b": 2, "c": 3} and sorted(m) == ["b", "c"]
assert sorted(m.values()) == [2, 3] and sorted(m.keys() | {"d"}) == ["b", "c", "d"]
assert isinstance(m, collections.abc.Mapping)
assert isinstance(m.keys(), collections.abc.KeysView)
assert isinstance(m.items(), collections.abc.ItemsView)
s = HashTrieSet([1, 2]) | HashTrieSet([3])
assert s == {1, 2, 3} and isinstance(s, collections.abc.Set) and sorted(iter(s)) == [1, 2, 3]
assert list(List([1, 2]).push_front(0)) == [0, 1, 2]
assert list(Queue(1, 2).enqueue(3).dequeue()) == [2, 3]
assert list(Stack(1, 2).push(3)) == [3, 2, 1]
walked, popped = List(range(50)), Stack(range(50))
while walked:
    walked, popped = walked.rest, popped.pop()
assert sum(x for x in List(range(10))) == 45 and not popped
changing = m.mutate()
changing["d"] = 4
assert changing.finish() == m.insert("d", 4)
changing = s.mutate()
changing.add(4)
assert changing.finish() == {1, 2, 3, 4}
assert repr(m) and hash(HashTrieMap()) == hash(HashTrieSet()) == hash(frozenset())
assert pickle.loads(pickle.dumps(m)) == m and pickle.loads(pickle.dumps(List([1]))) == List([1])

class Broken:
    def __hash__(self):
        return 1
    def __eq__(self, other):
        raise ValueError
try:
    HashTrieMap({Broken(): 1})[Broken()]
except BaseException as error:
    assert type(error).__name__ == "PanicException", error
    first_panic = type(error)
try:
    HashTrieSet([Broken()]).insert(Broken())
except BaseException as error:
    assert type(error) is first_panic

del sys.modules["quil"]
import quil as again
assert again is not quil and again.HashTrieMap is HashTrieMap and again.List is List
sys.modules["quil"] = quil
'''

SCENARIOS = {
    # 3.14's own interpreters (isolated: their own lock and object allocator), the main
    # interpreter importing first, then the other way round.
    "interpreters, main first": """
        from concurrent import interpreters
        import quil
        interpreter = interpreters.create()
        interpreter.exec(USE)
        interpreter.exec(USE)
        interpreter.close()
        exec(USE)
    """,
    "interpreters, main last": """
        from concurrent import interpreters
        interpreter = interpreters.create()
        interpreter.exec(USE)
        interpreter.close()
        exec(USE)
    """,
    # Several at once, each on its own thread: with a lock each, they run in parallel.
    "interpreters in parallel": """
        import threading
        from concurrent import interpreters
        failures = []
        def run():
            try:
                interpreter = interpreters.create()
                for _ in range(20):
                    interpreter.exec(USE)
                interpreter.close()
            except BaseException as error:
                failures.append(error)
        threads = [threading.Thread(target=run) for _ in range(4)]
        for thread in threads:
            thread.start()
        for _ in range(20):
            exec(USE)
        for thread in threads:
            thread.join()
        assert not failures, failures
    """,
    # Legacy subinterpreters share the main interpreter's lock.
    "legacy, main first": """
        import _testcapi
        import quil
        exec(USE)
        assert _testcapi.run_in_subinterp(USE) == 0
        exec(USE)
    """,
    "legacy, main last": """
        import _testcapi
        assert _testcapi.run_in_subinterp(USE) == 0
        assert _testcapi.run_in_subinterp(USE) == 0
        exec(USE)
    """,
}


@pytest.mark.parametrize("scenario", SCENARIOS.values(), ids=SCENARIOS.keys())
def test_quil_in_several_interpreters(scenario):
    if "_testcapi" in scenario and importlib.util.find_spec("_testcapi") is None:
        pytest.skip("this interpreter has no _testcapi")
    code = f"USE = {USE_EVERY_CLASS!r}\n" + textwrap.dedent(scenario) + "\nprint('done')\n"
    child = run_child(code)
    assert child.returncode == 0, child.stderr[-3000:]
    assert child.stdout == "done\n"
