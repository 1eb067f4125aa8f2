# Queue against a collections.deque model. Every version ever made stays in a bundle
# and is re-checked after each step, so a derived queue that damaged its source (a
# dequeue's reversal writing shared nodes, say) is caught.
from collections import deque

import pytest
from hypothesis import strategies as st
from hypothesis.stateful import multiple, rule

from versioned import VersionedMachine, elements
from quil import List, Queue


class QueueMachine(VersionedMachine):
    versions = VersionedMachine.versions

    @rule(target=versions, items=st.lists(elements, max_size=8))
    def build(self, items):
        return self.keep(Queue(items), deque(items))

    @rule(target=versions, items=st.lists(elements, max_size=4))
    def build_from_arguments(self, items):
        queue = Queue(*items) if len(items) != 1 else Queue(iter(items))
        return self.keep(queue, deque(items))

    @rule(target=versions, version=versions, element=elements)
    def enqueue(self, version, element):
        queue, model = version
        return self.keep(queue.enqueue(element), deque([*model, element]))

    @rule(target=versions, version=versions)
    def dequeue(self, version):
        queue, model = version
        if not model:
            with pytest.raises(IndexError, match="^dequeued an empty queue$"):
                queue.dequeue()
            return multiple()
        return self.keep(queue.dequeue(), deque(list(model)[1:]))

    @rule(target=versions, version=versions)
    def dequeue_twice_from_the_same_source(self, version):
        queue, model = version
        if not model:
            return multiple()
        first, second = queue.dequeue(), queue.dequeue()
        assert first == second and hash(first) == hash(second)
        assert list(first) == list(second) == list(model)[1:]
        return self.keep(second, deque(list(model)[1:]))

    @rule(version=versions, other=versions)
    def compare(self, version, other):
        (a, model_a), (b, model_b) = version, other
        assert (a == b) == (model_a == model_b)
        assert (a != b) == (model_a != model_b)
        if model_a == model_b:
            assert hash(a) == hash(b)

    @rule(version=versions, count=st.integers(0, 4))
    def iterate_partially(self, version, count):
        queue, model = version
        it = iter(queue)
        for expected in list(model)[:count]:
            assert next(it) == expected

    def check(self, queue, model):
        assert list(queue) == list(model)
        assert len(queue) == len(model)
        assert queue.is_empty() == (not model)
        assert hash(queue) == hash(List(list(model)))
        if model:
            assert queue.peek() == model[0]


TestQueue = QueueMachine.TestCase
