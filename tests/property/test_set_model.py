# HashTrieSet against a set model. Every set built from scratch has its own HashBuilder,
# so the algebra mixes operands whose tries are shaped differently; elements include
# colliding ones (equal hashes, unequal elements) so collision buckets are exercised.
# Every version is re-checked after each step.
import operator

from hypothesis import strategies as st
from hypothesis.stateful import rule

from helpers import HashKey
from versioned import VersionedMachine
from quil import HashTrieSet

elements = st.one_of(
    st.integers(-20, 20),
    st.text(max_size=2),
    st.builds(HashKey, st.integers(0, 2), st.sampled_from("abc")),
)

ALGEBRA = {
    "union": operator.or_,
    "intersection": operator.and_,
    "difference": operator.sub,
    "symmetric_difference": operator.xor,
}
COMPARISONS = [operator.eq, operator.ne, operator.lt, operator.le, operator.gt, operator.ge]


def check(s, model):
    assert len(s) == len(model)
    listed = list(s)
    assert len(listed) == len(model)
    assert set(listed) == model
    for element in model:
        assert element in s
    assert s == model


class SetMachine(VersionedMachine):
    versions = VersionedMachine.versions

    @rule(target=versions, items=st.lists(elements, max_size=12))
    def build(self, items):
        return self.keep(HashTrieSet(items), set(items))

    @rule(target=versions, version=versions, element=elements)
    def insert(self, version, element):
        s, model = version
        return self.keep(s.insert(element), model | {element})

    @rule(target=versions, version=versions, element=elements)
    def discard(self, version, element):
        s, model = version
        return self.keep(s.discard(element), model - {element})

    @rule(target=versions, version=versions)
    def remove_present(self, version):
        s, model = version
        if not model:
            return self.keep(s, model)
        element = next(iter(model))
        return self.keep(s.remove(element), model - {element})

    @rule(target=versions, version=versions, other=versions, items=st.lists(elements, max_size=4))
    def update(self, version, other, items):
        (s, model), (o, other_model) = version, other
        return self.keep(s.update(o, items), model | other_model | set(items))

    @rule(target=versions, version=versions, other=versions,
          name=st.sampled_from(sorted(ALGEBRA)), by_method=st.booleans())
    def algebra(self, version, other, name, by_method):
        (s, model), (o, other_model) = version, other
        result = getattr(s, name)(o) if by_method else ALGEBRA[name](s, o)
        return self.keep(result, ALGEBRA[name](model, other_model))

    @rule(version=versions, other=versions)
    def compare(self, version, other):
        (s, model), (o, other_model) = version, other
        for compare in COMPARISONS:
            assert compare(s, o) == compare(model, other_model)
            assert compare(s, other_model) == compare(model, other_model)
        if model == other_model:
            assert hash(s) == hash(o) == hash(frozenset(model))

    @rule(version=versions, element=elements)
    def lookup(self, version, element):
        s, model = version
        assert (element in s) == (element in model)

    def check(self, s, model):
        check(s, model)


TestSet = SetMachine.TestCase
