# Stack against a Python list model (bottom first, top last). Every version ever made
# stays in a bundle and is re-checked after each step.
import pytest
from hypothesis import strategies as st
from hypothesis.stateful import multiple, rule

from versioned import VersionedMachine, elements
from quil import List, Stack


class StackMachine(VersionedMachine):
    versions = VersionedMachine.versions

    @rule(target=versions, items=st.lists(elements, max_size=8))
    def build(self, items):
        return self.keep(Stack(items), list(items))

    @rule(target=versions, items=st.lists(elements, max_size=4))
    def build_from_arguments(self, items):
        stack = Stack(*items) if len(items) != 1 else Stack(iter(items))
        return self.keep(stack, list(items))

    @rule(target=versions, version=versions, element=elements)
    def push(self, version, element):
        stack, model = version
        return self.keep(stack.push(element), [*model, element])

    @rule(target=versions, version=versions)
    def pop(self, version):
        stack, model = version
        if not model:
            with pytest.raises(IndexError, match="^popped an empty stack$"):
                stack.pop()
            return multiple()
        return self.keep(stack.pop(), model[:-1])

    @rule(version=versions, other=versions)
    def compare(self, version, other):
        (a, model_a), (b, model_b) = version, other
        assert (a == b) == (model_a == model_b)
        assert (a != b) == (model_a != model_b)
        if model_a == model_b:
            assert hash(a) == hash(b)

    @rule(version=versions, count=st.integers(0, 4))
    def iterate_partially(self, version, count):
        stack, model = version
        it = iter(stack)
        for expected in model[::-1][:count]:
            assert next(it) == expected

    def check(self, stack, model):
        assert list(stack) == model[::-1]
        assert len(stack) == len(model)
        assert repr(stack) == f"Stack({model!r})"
        assert hash(stack) == hash(List(model[::-1]))
        if model:
            assert stack.peek() == model[-1]


TestStack = StackMachine.TestCase
