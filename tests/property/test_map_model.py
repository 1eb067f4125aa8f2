# HashTrieMap against a dict model. Keys include colliding ones (equal hashes, unequal
# keys) so collision buckets are exercised; every version is re-checked after each step.
from hypothesis import strategies as st
from hypothesis.stateful import rule

from helpers import HashKey
from versioned import VersionedMachine
from quil import HashTrieMap

keys = st.one_of(
    st.integers(-20, 20),
    st.text(max_size=2),
    st.builds(HashKey, st.integers(0, 2), st.sampled_from("abc")),
)
values = st.integers(0, 5)


def check(m, model):
    assert len(m) == len(model)
    for key, value in model.items():
        assert m[key] == value
    assert set(m) == set(model)
    assert len(list(m)) == len(model)


class MapMachine(VersionedMachine):
    versions = VersionedMachine.versions

    @rule(target=versions, pairs=st.lists(st.tuples(keys, values), max_size=10))
    def build(self, pairs):
        return self.keep(HashTrieMap(pairs), dict(pairs))

    @rule(target=versions, version=versions, key=keys, value=values)
    def insert(self, version, key, value):
        m, model = version
        return self.keep(m.insert(key, value), {**model, key: value})

    @rule(target=versions, version=versions, key=keys)
    def discard(self, version, key):
        m, model = version
        rest = dict(model)
        rest.pop(key, None)
        return self.keep(m.discard(key), rest)

    @rule(target=versions, version=versions)
    def remove_present(self, version):
        m, model = version
        if not model:
            return self.keep(m, model)
        key = next(iter(model))
        rest = dict(model)
        del rest[key]
        return self.keep(m.remove(key), rest)

    @rule(target=versions, version=versions, other=versions, pairs=st.lists(st.tuples(keys, values), max_size=3))
    def update(self, version, other, pairs):
        (m, model), (o, other_model) = version, other
        merged = {**model, **other_model, **dict(pairs)}
        return self.keep(m.update(o, pairs), merged)

    @rule(version=versions, other=versions)
    def compare(self, version, other):
        (a, model_a), (b, model_b) = version, other
        assert (a == b) == (model_a == model_b)
        assert (a != b) == (model_a != model_b)
        if model_a == model_b:
            assert hash(a) == hash(b)

    @rule(version=versions, key=keys)
    def lookup(self, version, key):
        m, model = version
        assert (key in m) == (key in model)
        assert m.get(key, -1) == model.get(key, -1)

    def check(self, m, model):
        check(m, model)


TestMap = MapMachine.TestCase
