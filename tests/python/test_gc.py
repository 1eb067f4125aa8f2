# The cyclic garbage collector: reference cycles through every class are collected, what
# versions share stays alive and intact while another version holds it, and a traversal
# reports each reference from one holder at most. Which objects are tracked at all is
# test_module.py's.
import gc
import sys
import tracemalloc
import weakref

import pytest

from quil import HashTrieMap, HashTrieSet, List, Queue, Stack


class Owner:
    """An object in a cycle; its finaliser counts the ones the collector frees."""

    freed = 0

    def __del__(self):
        Owner.freed += 1

    def on_save(self):
        pass


def map_mutation(x):
    mutation = HashTrieMap(a=1).mutate()
    mutation["k"] = x
    return mutation


def set_mutation(x):
    mutation = HashTrieSet().mutate()
    mutation.add(x)
    return mutation


def finished_mutation(x):
    mutation = map_mutation(x)
    mutation.finish()
    return mutation


# Each wraps one (hashable) object in a collection, or in something made from one.
HOLDERS = {
    "HashTrieMap value": lambda x: HashTrieMap({"k": x, "n": 1}),
    "HashTrieMap key": lambda x: HashTrieMap({x: 1}),
    "HashTrieMap insert": lambda x: HashTrieMap(a=1).insert("k", x),
    "HashTrieSet": lambda x: HashTrieSet([x, "n"]),
    "HashTrieSet union": lambda x: HashTrieSet([1]) | HashTrieSet([x]),
    "List": lambda x: List(x, 1),
    "List push_front": lambda x: List(1, 2).push_front(x),
    "Queue": lambda x: Queue(1, x),
    "Stack": lambda x: Stack(x, 1),
    "KeysView": lambda x: HashTrieMap({x: 1}).keys(),
    "ValuesView": lambda x: HashTrieMap(k=x).values(),
    "ItemsView": lambda x: HashTrieMap(k=x).items(),
    "map iterator": lambda x: iter(HashTrieMap(k=x).values()),
    "set iterator": lambda x: iter(HashTrieSet([x])),
    "List iterator": lambda x: iter(List(x, 1)),
    "Queue iterator, started": lambda x: started(iter(Queue(1, x, 2))),
    "Stack iterator": lambda x: iter(Stack(x, 1)),
    "HashTrieMapMutation": map_mutation,
    "HashTrieSetMutation": set_mutation,
    "finished mutation": finished_mutation,
}


def started(iterator):
    next(iterator)  # a queue iterator reads its rear list through an array once there
    return iterator


def handler_cycle(hold):
    """An object whose collection holds its bound method: self.handlers = {"save": ...}."""
    owner = Owner()
    owner.handlers = hold(owner.on_save)


def tree_cycle(hold):
    """A parent whose collection of children holds a child that refers to its parent."""
    parent = Owner()
    child = Owner()
    child.parent = parent
    parent.children = hold(child)


def cache_cycle(hold):
    """A cache whose entries refer to the cache."""
    cache = Owner()
    entry = Owner()
    entry.cache = cache
    cache.entries = hold(entry)


SHAPES = {"handler": (handler_cycle, 1), "tree": (tree_cycle, 2), "cache": (cache_cycle, 2)}


def total_refcount():
    return sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else 0


def assert_dropped_cycles_are_collected(build, owners_per_cycle, cycles=100, rounds=4):
    """Builds `cycles` cycles with build(), drops them and collects, `rounds` times: every
    Owner in them is finalised each time, and traced memory and (on a debug interpreter)
    the total reference count come back to where they were. The finalisers run before
    the collector breaks the cycles, so only the last two show that it freed them. A cycle
    left alive keeps a few hundred bytes and several references, in every round; the
    interpreter's own caches (its attribute cache keeps recent name objects) fill in the
    first rounds and then stop growing, so one late round must show no growth. What
    exists beforehand is frozen, so that each collection looks only at what the rounds
    make."""
    memory, references = [], []
    gc.collect()
    gc.freeze()
    tracemalloc.start()
    try:
        for _ in range(rounds):
            gc.collect()
            # A call into the module releases what an earlier round's collection left for
            # later; this round's must be released by the collection itself.
            List()
            freed = Owner.freed
            refs = total_refcount()
            traced = tracemalloc.get_traced_memory()[0]
            for _ in range(cycles):
                build()
            gc.collect()
            assert Owner.freed - freed == cycles * owners_per_cycle
            memory.append(tracemalloc.get_traced_memory()[0] - traced)
            references.append(total_refcount() - refs)
    finally:
        tracemalloc.stop()
        gc.unfreeze()
    assert min(memory[1:]) < cycles * 64, memory
    assert min(references[1:]) < cycles, references


@pytest.mark.parametrize("shape", SHAPES)
@pytest.mark.parametrize("hold", HOLDERS.values(), ids=HOLDERS)
def test_dropped_cycles_through_a_collection_are_collected(hold, shape):
    make_cycle, owners = SHAPES[shape]
    assert_dropped_cycles_are_collected(lambda: make_cycle(hold), owners)


@pytest.mark.parametrize(
    "make",
    [List, Queue, Stack, lambda elements: HashTrieMap(k=elements[0]).values()],
    ids=["List", "Queue", "Stack", "ValuesView"],
)
def test_a_list_holding_a_collection_of_itself_is_collected(make):
    """The measured case: box = [payload]; box.append(List([box])). `make` takes the
    elements as one iterable, as the constructors do."""

    def build():
        box = [Owner()]
        box.append(make([box]))

    assert_dropped_cycles_are_collected(build, 1)


@pytest.mark.parametrize("finish", [False, True], ids=["in its record", "through its map"])
def test_a_mutation_holding_itself_is_collected(finish):
    """No list or dict in the cycle: the mutation's own clear breaks it."""

    def build():
        mutation = HashTrieMap().mutate()
        mutation["me"] = mutation
        mutation["owner"] = Owner()
        if finish:
            mutation.finish()

    assert_dropped_cycles_are_collected(build, 1)


def test_a_cycle_through_an_entry_shared_with_a_live_version_stays_alive_and_intact():
    gc.collect()
    owner = Owner()
    base = HashTrieMap({f"k{i}": i for i in range(300)}).insert("owner", owner)
    # The new version shares the owner's entry with base; the cycle runs through it.
    owner.state = base.insert("extra", 1)
    freed = Owner.freed
    del owner
    gc.collect()
    assert Owner.freed == freed
    state = base["owner"].state
    assert state["owner"] is base["owner"] and state["extra"] == 1
    assert dict(state) == {**dict(base), "extra": 1}
    del state
    # Once the other version is gone, the survivor holds the entry alone.
    del base
    gc.collect()
    assert Owner.freed == freed + 1


@pytest.mark.parametrize(
    "share",
    [lambda tail, x: tail.push_front(x), lambda tail, x: tail.rest, lambda tail, x: iter(tail)],
    ids=["push_front", "rest", "iterator"],
)
def test_a_cycle_through_list_nodes_shared_with_a_live_list_stays_alive(share):
    gc.collect()
    owner = Owner()
    tail = List([0, owner, 1, 2])
    owner.state = share(tail, owner)
    freed = Owner.freed
    del owner
    gc.collect()
    assert Owner.freed == freed
    assert list(tail)[1].state is not None and list(List(tail))[1] is list(tail)[1]
    del tail
    gc.collect()
    assert Owner.freed == freed + 1


def test_versions_sharing_an_entry_never_report_it_twice():
    """x is held by one entry that two versions share, and by itself. Were the entry
    reported by both, the collector would count x as referenced from inside once too
    often: a debug interpreter aborts ("refcount is too small"), a release one clears x."""
    x = Owner()
    x.me = x
    m = HashTrieMap(a=x, b=[])
    versions = [m.insert("c", 1), m.remove("b"), m.keys(), iter(m.items()), m.mutate()]
    alive = weakref.ref(x)
    del x
    gc.collect()
    assert alive() is m["a"] and m["a"].me is m["a"]
    assert all(v["a"] is m["a"] for v in versions[:2])


def test_referents_are_what_a_version_holds_alone():
    x = []
    m = HashTrieMap(a=x)
    assert any(r is x for r in gc.get_referents(m))
    m2 = m.insert("b", 1)
    assert not any(r is x for r in gc.get_referents(m) + gc.get_referents(m2))
    del m
    assert any(r is x for r in gc.get_referents(m2))
    assert type(m2) in gc.get_referents(m2)
