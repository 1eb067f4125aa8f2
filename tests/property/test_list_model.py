# List against a Python list model. Every version ever made stays in a bundle and is
# re-checked after each step, so a derived list that damaged its source is caught.
from hypothesis import strategies as st
from hypothesis.stateful import rule

from versioned import VersionedMachine, elements
from quil import List


class ListMachine(VersionedMachine):
    versions = VersionedMachine.versions

    @rule(target=versions, items=st.lists(elements, max_size=8))
    def build(self, items):
        return self.keep(List(items), list(items))

    @rule(target=versions, items=st.lists(elements, max_size=4))
    def build_from_arguments(self, items):
        lst = List(*items) if len(items) != 1 else List(items)
        return self.keep(lst, list(items))

    @rule(target=versions, version=versions, element=elements)
    def push_front(self, version, element):
        lst, model = version
        return self.keep(lst.push_front(element), [element] + model)

    @rule(target=versions, version=versions)
    def drop_first(self, version):
        lst, model = version
        if not model:
            return self.keep(lst.rest, [])
        return self.keep(lst.drop_first(), model[1:])

    @rule(target=versions, version=versions)
    def reverse(self, version):
        lst, model = version
        return self.keep(reversed(lst), model[::-1])

    @rule(version=versions, other=versions)
    def compare(self, version, other):
        (a, model_a), (b, model_b) = version, other
        assert (a == b) == (model_a == model_b)
        assert (a != b) == (model_a != model_b)
        if model_a == model_b:
            assert hash(a) == hash(b)

    @rule(version=versions)
    def iterate_partially(self, version):
        lst, model = version
        it = iter(lst)
        for expected in model[:2]:
            assert next(it) == expected

    def check(self, lst, model):
        assert list(lst) == model
        assert len(lst) == len(model)
        if model:
            assert lst.first == model[0]


TestList = ListMachine.TestCase
