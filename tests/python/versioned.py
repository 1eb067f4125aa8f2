# The skeleton every model-based state machine shares: each version ever made is kept
# beside its model and re-checked after every step, so an operation that damaged the
# version it was derived from (a shared node written in place, say) is caught.
from hypothesis import strategies as st
from hypothesis.stateful import Bundle, RuleBasedStateMachine, invariant

# Small, colliding-prone elements for the sequence machines.
elements = st.one_of(st.integers(-3, 3), st.text(max_size=2), st.none())


class VersionedMachine(RuleBasedStateMachine):
    """Subclasses refer to `VersionedMachine.versions` in their rules, return
    `self.keep(version, model)` from the rules that make versions, and define
    `check(version, model)`."""

    versions = Bundle("versions")

    def __init__(self):
        super().__init__()
        self.all_versions = []

    def keep(self, version, model):
        self.all_versions.append((version, model))
        return (version, model)

    def check(self, version, model):
        raise NotImplementedError

    @invariant()
    def every_version_is_unchanged(self):
        for version, model in self.all_versions:
            self.check(version, model)
