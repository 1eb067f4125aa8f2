# HashTrieMap.mutate() and HashTrieSet.mutate() against dict and set models. A machine
# keeps one mutation open at a time, started from any version made so far (a map built
# from scratch or what an earlier finish() returned), and re-checks every version after
# each step: an update in place that wrote a node some version still shares shows there.
# Keys include colliding ones and flaky keys whose __eq__ can be made to fail in the middle
# of an operation, after which the mutation must still match its model; a finished
# mutation must refuse everything but finish().
from hypothesis import strategies as st
from hypothesis.stateful import invariant, precondition, rule

from helpers import HashKey
from versioned import VersionedMachine
from quil import HashTrieMap, HashTrieSet


class Flaky(HashKey):
    """A HashKey whose __eq__ raises on its `countdown`-th call once armed."""

    countdown = 0

    def __eq__(self, other):
        if self.countdown:
            self.countdown -= 1
            if self.countdown == 0:
                raise ValueError("flaky")
        return super().__eq__(other)

    __hash__ = HashKey.__hash__


# Shared by every example: the machines disarm them before and after each step.
FLAKY = [Flaky(h, "flaky") for h in (0, 1, 2)]


def disarm():
    for key in FLAKY:
        key.countdown = 0


keys = st.one_of(
    st.integers(-20, 20),
    st.text(max_size=2),
    st.builds(HashKey, st.integers(0, 2), st.sampled_from("abc")),
    st.sampled_from(FLAKY),
)
values = st.integers(0, 5)
# Which flaky key fails, on which of its next __eq__ calls, during one operation; mostly none.
failures = st.one_of(st.none(), st.none(), st.tuples(st.sampled_from(FLAKY), st.integers(1, 4)))


def discard_from(d, key):
    d.pop(key, None)


def is_panic(error):
    return type(error).__name__ == "PanicException"


def outcome(call):
    """What `call()` gives: ("ok", result), ("KeyError", args), or ("panic",)."""
    try:
        return ("ok", call())
    except KeyError as error:
        return ("KeyError", error.args)
    except BaseException as error:
        if not is_panic(error):
            raise
        return ("panic",)


class MutationMachine(VersionedMachine):
    """Subclasses give `mutating(version)`, `check(version, model)` and their rules."""

    versions = VersionedMachine.versions

    def __init__(self):
        super().__init__()
        disarm()
        self.mutation = None
        self.model = None
        self.finished = None  # what the open mutation's finish() returned

    def apply(self, on_mutation, on_model, failure=None):
        """Runs one operation on the mutation, with `failure` armed, then, unless it failed
        inside the engine, on the model; both must answer alike. A failure must leave the
        mutation as it was, which the invariant then checks."""
        if failure is not None:
            key, countdown = failure
            key.countdown = countdown
        try:
            got = outcome(lambda: on_mutation(self.mutation))
        finally:
            disarm()
        if got == ("panic",):
            assert failure is not None, "an internal failure with no flaky key armed"
            return
        assert got == outcome(lambda: on_model(self.model))

    def open(self):
        return self.mutation is not None and self.finished is None

    @rule(version=versions)
    def start(self, version):
        collection, model = version
        self.mutation, self.model, self.finished = collection.mutate(), self.copy(model), None

    @precondition(lambda self: self.open())
    @rule(target=versions)
    def finish(self):
        self.finished = self.mutation.finish()
        assert self.mutation.finish() is self.finished
        return self.keep(self.finished, self.model)

    @precondition(lambda self: self.mutation is not None and self.finished is not None)
    @rule(use=st.sampled_from([len, lambda m: 1 in m, lambda m: m.update(), lambda m: m.discard(1),
                               lambda m: m.__enter__()]))
    def use_after_finish(self, use):
        try:
            use(self.mutation)
        except ValueError as error:
            assert str(error) == "mutation has finished"
        else:
            raise AssertionError("a finished mutation was used")
        assert self.mutation.finish() is self.finished
        assert self.mutation.__exit__(None, None, None) is None

    @invariant()
    def mutation_matches_model(self):
        if self.open():
            self.check_mutation(self.mutation, self.model)


class MapMutationMachine(MutationMachine):
    versions = MutationMachine.versions

    @staticmethod
    def copy(model):
        return dict(model)

    @rule(target=versions, pairs=st.lists(st.tuples(keys, values), max_size=10))
    def build(self, pairs):
        return self.keep(HashTrieMap(pairs), dict(pairs))

    @precondition(lambda self: self.open())
    @rule(key=keys, value=values, form=st.booleans(), failure=failures)
    def set(self, key, value, form, failure):
        def on_mutation(mm):
            if form:
                mm[key] = value
            else:
                assert mm.set(key, value) is None

        self.apply(on_mutation, lambda d: d.__setitem__(key, value), failure)

    @precondition(lambda self: self.open())
    @rule(key=keys, how=st.sampled_from(["del", "remove", "discard", "pop", "pop-default"]),
          failure=failures)
    def take_out(self, key, how, failure):
        on_mutation = {
            "del": lambda mm: mm.__delitem__(key),
            "remove": lambda mm: mm.remove(key),
            "discard": lambda mm: mm.discard(key),
            "pop": lambda mm: mm.pop(key),
            "pop-default": lambda mm: mm.pop(key, -1),
        }[how]
        on_model = {
            "del": lambda d: d.__delitem__(key),
            "remove": lambda d: d.__delitem__(key),
            "discard": lambda d: discard_from(d, key),
            "pop": lambda d: d.pop(key),
            "pop-default": lambda d: d.pop(key, -1),
        }[how]
        self.apply(on_mutation, on_model, failure)

    @precondition(lambda self: self.open())
    @rule(other=versions, pairs=st.lists(st.tuples(keys, values), max_size=4), failure=failures)
    def update(self, other, pairs, failure):
        collection, other_model = other

        def on_model(d):
            d.update(other_model)
            d.update(pairs)

        self.apply(lambda mm: mm.update(collection, pairs), on_model, failure)

    @precondition(lambda self: self.open())
    @rule(key=keys, failure=failures)
    def look_up(self, key, failure):
        self.apply(lambda mm: (mm.get(key, -1), key in mm), lambda d: (d.get(key, -1), key in d),
                   failure)
        self.apply(lambda mm: mm[key], lambda d: d[key])

    def check(self, m, model):
        assert len(m) == len(model)
        assert all(m[key] == value for key, value in model.items())
        assert len(list(m.items())) == len(model)

    def check_mutation(self, mm, model):
        assert len(mm) == len(model)
        assert all(mm[key] == value for key, value in model.items())


class SetMutationMachine(MutationMachine):
    versions = MutationMachine.versions

    @staticmethod
    def copy(model):
        return set(model)

    @rule(target=versions, elements=st.lists(keys, max_size=10))
    def build(self, elements):
        return self.keep(HashTrieSet(elements), set(elements))

    @precondition(lambda self: self.open())
    @rule(element=keys, failure=failures)
    def add(self, element, failure):
        self.apply(lambda ms: ms.add(element), lambda s: s.add(element), failure)

    @precondition(lambda self: self.open())
    @rule(element=keys, raising=st.booleans(), failure=failures)
    def take_out(self, element, raising, failure):
        if raising:
            self.apply(lambda ms: ms.remove(element), lambda s: s.remove(element), failure)
        else:
            self.apply(lambda ms: ms.discard(element), lambda s: s.discard(element), failure)

    @precondition(lambda self: self.open())
    @rule(other=versions, elements=st.lists(keys, max_size=4), failure=failures)
    def update(self, other, elements, failure):
        collection, _ = other
        self.apply(lambda ms: ms.update(collection, elements),
                   lambda s: s.update(collection, elements), failure)

    @precondition(lambda self: self.open())
    @rule(element=keys)
    def look_up(self, element):
        self.apply(lambda ms: element in ms, lambda s: element in s)

    def check(self, s, model):
        assert len(s) == len(model)
        assert all(element in s for element in model)
        assert s == model

    def check_mutation(self, ms, model):
        assert len(ms) == len(model)
        assert all(element in ms for element in model)


TestMapMutation = MapMutationMachine.TestCase
TestSetMutation = SetMutationMachine.TestCase
