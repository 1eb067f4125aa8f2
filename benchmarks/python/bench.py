"""Speed and memory of quil against its peers, measured in one run.

Every group runs the same workload on quil and on its peers (Python's built-in
collections and the persistent collection libraries in PEERS), interleaved and repeated,
and prints the median time per operation with the ratio quil/peer. A peer library that is
not installed is left out: the run names it and skips its cases. Memory is what
tracemalloc sees in blocks the object allocator serves from its own arenas, plus the
growth of the C heap (mallinfo2) while the structure is built again without tracing, so
a block from malloc is counted once whether it is traced or not. tracemalloc counts the
bytes asked for, not the allocator's rounding.

    python benchmarks/python/bench.py                 # all groups, sizes 10, 1000, 100000
    python benchmarks/python/bench.py --only list     # groups whose name contains "list"
    python benchmarks/python/bench.py --sizes 100000 --repeat 9
    python benchmarks/python/bench.py --only "map:" --map-sizes 100000,1000000
    python benchmarks/python/bench.py --sizes 100000 --json run.json   # also record the run
    python3 benchmarks/python/bench.py --plot chart.png --from run.json  # draw a recorded run

--plot draws quil against its peers (ns per operation, log scale, at the largest size
run) with matplotlib. Drawing a recorded run imports neither quil nor any peer, so any
Python 3 with matplotlib can do it (on Debian, the system python3 with
python3-matplotlib).

Class families add their groups with the @group decorator below. A case's label starts
with the module it measures (quil.List, pyrsistent.pmap, dict), which is how a missing
peer's cases and each bar's colour are found.
"""

import argparse
import collections
import ctypes
import ctypes.util
import datetime
import gc
import importlib
import importlib.metadata
import json
import os
import platform
import random
import re
import statistics
import sys
import time
import tracemalloc

# Persistent collection libraries compared with quil; each is optional.
PEERS = ("pyrsistent", "immutables")


class MissingPeer:
    """Stands in for a module that is not installed. Groups build their structures while
    they are set up: through a stand-in those calls build nothing, and the driver drops
    every case whose label names the module before any case runs."""

    def __init__(self, name):
        self.__name__ = name

    def __getattr__(self, attribute):
        return self

    def __call__(self, *args, **kwargs):
        return self


def optional_import(name):
    try:
        return importlib.import_module(name)
    except ImportError:
        return MissingPeer(name)


# Imported softly so that drawing a recorded run needs neither; a run without quil stops
# in main() with quil's own import error.
quil = optional_import("quil")
pyrsistent = optional_import("pyrsistent")
immutables = optional_import("immutables")

GROUPS = []


def group(name):
    """Registers a workload group.

    The decorated function takes the size n and returns (ops, cases): `ops` is the
    number of operations one run performs (the time is divided by it), and `cases` maps
    a label to a zero-argument callable that performs one run. The first case is quil's;
    ratios are quil's time over each other case's.
    """

    def register(build):
        GROUPS.append((name, build))
        return build

    return register


def memory_group(name):
    """Registers a memory comparison: the function takes n and returns (count, cases),
    where each case builds and returns a structure; bytes per element are measured with
    tracemalloc while the structure is alive."""

    def register(build):
        GROUPS.append((name, build, "memory"))
        return build

    return register


def keys(n, seed=1):
    rng = random.Random(seed)
    return [f"k{rng.getrandbits(48):x}" for _ in range(n)]


# ---------------------------------------------------------------- List


@group("list: push_front chain")
def list_push_front(n):
    items = list(range(n))

    def quil_chain():
        lst = quil.List()
        for x in items:
            lst = lst.push_front(x)

    def plist_chain():
        lst = pyrsistent.plist()
        for x in items:
            lst = lst.cons(x)

    def tuple_copy():  # copy-then-modify of an immutable built-in, for scale
        t = ()
        for x in items[: min(n, 2000)]:
            t = (x,) + t

    cases = {"quil.List.push_front": quil_chain, "pyrsistent.plist.cons": plist_chain}
    if n <= 2000:
        cases["tuple copy-then-prepend"] = tuple_copy
    return n, cases


@group("list: iterate")
def list_iterate(n):
    items = list(range(n))
    q = quil.List(items)
    p = pyrsistent.plist(items)

    def run(collection):
        def loop():
            for _ in collection:
                pass

        return loop

    return n, {"quil.List": run(q), "list": run(items), "pyrsistent.plist": run(p)}


@group("list: rest walk")
def list_rest_walk(n):
    items = list(range(n))
    q = quil.List(items)
    p = pyrsistent.plist(items)

    def run(start):
        def loop():
            lst = start
            while lst:
                lst = lst.rest

        return loop

    return n, {"quil.List.rest": run(q), "pyrsistent.plist.rest": run(p)}


@group("list: construct from a list")
def list_construct(n):
    items = list(range(n))
    return n, {
        "quil.List(x)": lambda: quil.List(items),
        "list(x)": lambda: list(items),
        "pyrsistent.plist(x)": lambda: pyrsistent.plist(items),
    }


@memory_group("list: memory per element")
def list_memory(n):
    items = list(range(n))
    return n, {
        "quil.List": lambda: quil.List(items),
        "pyrsistent.plist": lambda: pyrsistent.plist(items),
        "list": lambda: list(items),
    }


# ---------------------------------------------------------------- HashTrieMap


def map_peers(n):
    ks = keys(n)
    d = {k: i for i, k in enumerate(ks)}
    return ks, d, quil.HashTrieMap(d), pyrsistent.pmap(d)


def probes(ks, count=10_000):
    rng = random.Random(2)
    return [rng.choice(ks) for _ in range(count)] if ks else []


def lookup_group(name, sample_of):
    """m[k] for the probes sample_of(ks) gives, on every mapping."""

    @group(name)
    def build(n):
        ks, d, m, p = map_peers(n)
        sample = sample_of(ks)

        def run(mapping):
            def loop():
                for k in sample:
                    mapping[k]

            return loop

        return len(sample), {"quil.HashTrieMap": run(m), "dict": run(d),
                             "pyrsistent.pmap": run(p), "immutables.Map": run(immutables.Map(d))}

    return build


map_getitem_hit = lookup_group(
    "map: m[k] hit", lambda ks: [(k + "!")[:-1] for k in probes(ks)])  # equal, not stored
map_getitem_hit_stored = lookup_group("map: m[k] hit, stored key objects", probes)


@group("map: k in m miss")
def map_contains_miss(n):
    ks, d, m, p = map_peers(n)
    sample = [f"missing{i}" for i in range(10_000)]

    def run(mapping):
        def loop():
            for k in sample:
                k in mapping

        return loop

    return len(sample), {"quil.HashTrieMap": run(m), "dict": run(d), "pyrsistent.pmap": run(p),
                         "immutables.Map": run(immutables.Map(d))}


@group("map: m.get(k) miss")
def map_get_miss(n):
    ks, d, m, p = map_peers(n)
    sample = [f"missing{i}" for i in range(10_000)]

    def run(mapping):
        def loop():
            get = mapping.get
            for k in sample:
                get(k)

        return loop

    return len(sample), {"quil.HashTrieMap": run(m), "dict": run(d), "pyrsistent.pmap": run(p),
                         "immutables.Map": run(immutables.Map(d))}


def update_case(method, items):
    """Calls `method(*item)` for every item: one persistent update each."""

    def loop():
        for item in items:
            method(*item)

    return loop


@group("map: one insert")
def map_insert_one(n):
    ks, d, m, p = map_peers(n)
    new = [(f"new{i}", 1) for i in range(2_000)]
    return len(new), {"quil.HashTrieMap.insert": update_case(m.insert, new),
                      "pyrsistent.pmap.set": update_case(p.set, new),
                      "immutables.Map.set": update_case(immutables.Map(d).set, new)}


@group("map: insert chain")
def map_insert_chain(n):
    ks = keys(n)

    def chain(empty, method):
        def loop():
            m = empty
            for k in ks:
                m = method(m, k, 1)

        return loop

    return n, {"quil.HashTrieMap.insert": chain(quil.HashTrieMap(), quil.HashTrieMap.insert),
               "pyrsistent.pmap.set": chain(pyrsistent.pmap(), lambda p, k, v: p.set(k, v)),
               "immutables.Map.set": chain(immutables.Map(), lambda i, k, v: i.set(k, v))}


@group("map: one remove")
def map_remove_one(n):
    ks, d, m, p = map_peers(n)
    gone = [(k,) for k in probes(ks, 2_000)]
    return len(gone), {"quil.HashTrieMap.remove": update_case(m.remove, gone),
                       "pyrsistent.pmap.remove": update_case(p.remove, gone),
                       "immutables.Map.delete": update_case(immutables.Map(d).delete, gone)}


@group("map: construct from a dict")
def map_construct(n):
    ks, d, m, p = map_peers(n)
    return n, {
        "quil.HashTrieMap(d)": lambda: quil.HashTrieMap(d),
        "pyrsistent.pmap(d)": lambda: pyrsistent.pmap(d),
        "dict(d)": lambda: dict(d),
        "immutables.Map(d)": lambda: immutables.Map(d),
    }


@group("map: equality of equal maps")
def map_equality(n):
    ks, d, m, p = map_peers(n)
    d2 = dict(reversed(list(d.items())))
    m2 = quil.HashTrieMap(d2)
    i, i2 = immutables.Map(d), immutables.Map(d2)
    return n, {"quil ==": lambda: m == m2, "dict ==": lambda: d == d2,
               "immutables ==": lambda: i == i2}


@group("map: hash")
def map_hash(n):
    ks, d, m, p = map_peers(n)
    i = immutables.Map(d)
    # The peer keeps a map's hash once computed, so each run hashes a new version of it
    # (one set, then the whole walk).
    return n, {
        "hash(HashTrieMap)": lambda: hash(m),
        "hash(frozenset(d.items()))": lambda: hash(frozenset(d.items())),
        "hash(immutables.Map.set(...))": lambda: hash(i.set("", 0)),
    }


@group("map: iterate keys")
def map_iterate(n):
    ks, d, m, p = map_peers(n)

    def run(mapping):
        def loop():
            for _ in mapping:
                pass

        return loop

    return n, {"quil.HashTrieMap": run(m), "dict": run(d), "pyrsistent.pmap": run(p),
               "immutables.Map": run(immutables.Map(d))}


@memory_group("map: memory per entry")
def map_memory(n):
    ks = keys(n)
    vals = list(range(n))
    d = dict(zip(ks, vals))
    return n, {
        "quil.HashTrieMap": lambda: quil.HashTrieMap(d),
        "dict": lambda: dict(d),
        "pyrsistent.pmap": lambda: pyrsistent.pmap(d),
        "immutables.Map": lambda: immutables.Map(d),
    }


# ---------------------------------------------------------------- batch updates


@group("mutate: n updates to a map of n, then finish")
def mutate_updates(n):
    """One batch of n updates, half to keys the map holds and half adding new keys, in a
    seeded random order; every case leaves the original as it was. The dict case copies
    its dict first for that; the persistent ones start a batch on their map in O(1)."""
    ks, d, m, p = map_peers(n)
    im = immutables.Map(d)
    rng = random.Random(3)
    updates = rng.sample(ks, n // 2) + keys(n - n // 2, seed=4)
    rng.shuffle(updates)

    def quil_mutate():
        mm = m.mutate()
        for k in updates:
            mm[k] = 0
        mm.finish()

    def dict_copy():
        copied = d.copy()
        for k in updates:
            copied[k] = 0

    def immutables_mutate():
        mm = im.mutate()
        for k in updates:
            mm[k] = 0
        mm.finish()

    def pmap_evolver():
        e = p.evolver()
        for k in updates:
            e[k] = 0
        e.persistent()

    return n, {
        "quil.HashTrieMap.mutate": quil_mutate,
        "dict: copy, then d[k] = v": dict_copy,
        "immutables.Map.mutate": immutables_mutate,
        "pyrsistent.pmap.evolver": pmap_evolver,
    }


# ---------------------------------------------------------------- maps the collector tracks
#
# A map holding lists is tracked by the cyclic garbage collector (a map of str and int
# is not): these groups show what that costs beside dict, which is tracked too. The
# driver times with the collector off, so the first two show the bookkeeping alone
# (asking each value whether it may be tracked, tracking each new map); the third times
# the traversal each collection runs over a live map.


def lists_by_key(n):
    return {k: [i] for i, k in enumerate(keys(n))}


@group("map of lists: construct from a dict")
def tracked_map_construct(n):
    d = lists_by_key(n)
    return n, {
        "quil.HashTrieMap(d)": lambda: quil.HashTrieMap(d),
        "dict(d)": lambda: dict(d),
        "immutables.Map(d)": lambda: immutables.Map(d),
        "pyrsistent.pmap(d)": lambda: pyrsistent.pmap(d),
    }


@group("map of lists: insert chain")
def tracked_map_insert_chain(n):
    items = list(lists_by_key(n).items())

    def chain(empty, method):
        def loop():
            m = empty
            for k, v in items:
                m = method(m, k, v)

        return loop

    def dict_in_place():  # a dict's own insertion, for scale: nothing is copied
        d = {}
        for k, v in items:
            d[k] = v

    return n, {"quil.HashTrieMap.insert": chain(quil.HashTrieMap(), quil.HashTrieMap.insert),
               "dict: d[k] = v, in place": dict_in_place,
               "immutables.Map.set": chain(immutables.Map(), lambda i, k, v: i.set(k, v)),
               "pyrsistent.pmap.set": chain(pyrsistent.pmap(), lambda p, k, v: p.set(k, v))}


@group("map of lists: traversal (gc.get_referents)")
def tracked_map_traversal(n):
    d = lists_by_key(n)
    m = quil.HashTrieMap(d)
    # The traversal a collection runs over each tracked map, here with a visit that lists
    # what it is shown. (An immutables.Map shows only its root node: its nodes are objects
    # the collector traverses one by one.)
    return n, {"quil.HashTrieMap": lambda: gc.get_referents(m),
               "dict": lambda: gc.get_referents(d)}


# ---------------------------------------------------------------- HashTrieSet


def pset(items):
    """A pset sized for its items. With pset's default of 8 buckets, every lookup in a
    large pset scans an n/8-long bucket, and the comparison would measure only that."""
    return pyrsistent.pset(items, pre_size=2 * len(items))


def set_operands(n):
    """Two sets of n elements each sharing half of them, as quil, frozenset and pset."""
    ks = keys(n)
    others = ks[: n // 2] + keys(n - n // 2, seed=3)
    return [(quil.HashTrieSet(ks), quil.HashTrieSet(others)),
            (frozenset(ks), frozenset(others)),
            (pset(ks), pset(others))]


def set_algebra_group(name, operation):
    @group(f"set: {name} of half-overlapping sets")
    def build(n):
        (q, q2), (f, f2), (p, p2) = set_operands(n)
        return n, {
            f"quil.HashTrieSet {name}": lambda: operation(q, q2),
            f"frozenset {name}": lambda: operation(f, f2),
            f"pyrsistent.pset {name}": lambda: operation(p, p2),
        }

    return build


set_union = set_algebra_group("|", lambda a, b: a | b)
set_intersection = set_algebra_group("&", lambda a, b: a & b)
set_difference = set_algebra_group("-", lambda a, b: a - b)
set_symmetric_difference = set_algebra_group("^", lambda a, b: a ^ b)


def version_operands(n):
    """A set of n elements and a version of it with 1 % of them replaced by others (so one
    HashBuilder and most subtrees shared), as quil versions, as quil sets built
    independently with the same elements, as frozensets and as psets."""
    ks = keys(n)
    changed = max(1, n // 100)
    rng = random.Random(5)
    gone = rng.sample(ks, changed)
    fresh = keys(changed, seed=7)
    q = quil.HashTrieSet(ks)
    mutation = q.mutate()
    for k in gone:
        mutation.discard(k)
    for k in fresh:
        mutation.add(k)
    q2 = mutation.finish()
    ks2 = list(q2)
    return [(q, q2), (quil.HashTrieSet(ks), quil.HashTrieSet(ks2)),
            (frozenset(ks), frozenset(ks2)), (pset(ks), pset(ks2))]


def set_versions_group(name, operation):
    @group(f"set: {name} of two versions of one set, 1 % changed")
    def build(n):
        (q, q2), (i, i2), (f, f2), (p, p2) = version_operands(n)
        return n, {
            f"quil.HashTrieSet {name}, versions": lambda: operation(q, q2),
            f"quil.HashTrieSet {name}, built apart": lambda: operation(i, i2),
            f"frozenset {name}": lambda: operation(f, f2),
            f"pyrsistent.pset {name}": lambda: operation(p, p2),
        }

    return build


set_versions_union = set_versions_group("|", lambda a, b: a | b)
set_versions_intersection = set_versions_group("&", lambda a, b: a & b)
set_versions_difference = set_versions_group("-", lambda a, b: a - b)
set_versions_symmetric_difference = set_versions_group("^", lambda a, b: a ^ b)


@group("set: x in s hit")
def set_contains_hit(n):
    ks = keys(n)
    # Equal but distinct objects, so every hit compares strings (hashes are cached).
    sample = [(k + ".")[:-1] for k in probes(ks)]
    for k in sample:
        hash(k)

    def run(collection):
        def loop():
            for k in sample:
                k in collection

        return loop

    return len(sample), {
        "quil.HashTrieSet": run(quil.HashTrieSet(ks)),
        "frozenset": run(frozenset(ks)),
        "pyrsistent.pset": run(pset(ks)),
    }


@group("set: construct from a list")
def set_construct(n):
    ks = keys(n)
    return n, {
        "quil.HashTrieSet(x)": lambda: quil.HashTrieSet(ks),
        "frozenset(x)": lambda: frozenset(ks),
        "pyrsistent.pset(x)": lambda: pset(ks),
    }


@memory_group("set: memory per element")
def set_memory(n):
    ks = keys(n)
    entries = dict.fromkeys(ks)
    return n, {
        "quil.HashTrieSet": lambda: quil.HashTrieSet(ks),
        "frozenset": lambda: frozenset(ks),
        "pyrsistent.pset": lambda: pset(ks),
        "quil.HashTrieMap, same keys": lambda: quil.HashTrieMap(entries),
    }


# ---------------------------------------------------------------- Queue and Stack


@group("queue: enqueue chain")
def queue_enqueue_chain(n):
    items = list(range(n))

    def quil_chain():
        q = quil.Queue()
        for x in items:
            q = q.enqueue(x)

    def pdeque_chain():
        q = pyrsistent.pdeque()
        for x in items:
            q = q.append(x)

    def deque_copy():  # copy-then-modify: quadratic, so only at small sizes
        q = collections.deque()
        for x in items:
            q = q.copy()
            q.append(x)

    cases = {"quil.Queue.enqueue": quil_chain, "pyrsistent.pdeque.append": pdeque_chain}
    if n <= 2000:
        cases["deque copy-then-append"] = deque_copy
    return n, cases


@group("queue: dequeue chain")
def queue_dequeue_chain(n):
    items = list(range(n))
    # Built by enqueuing, so the first dequeue of every run reverses all n elements.
    start = quil.Queue(items)
    peer = pyrsistent.pdeque(items)

    def quil_chain():
        q = start
        for _ in items:
            q = q.dequeue()

    def pdeque_chain():
        q = peer
        for _ in items:
            q = q.popleft()

    def deque_copy():
        q = collections.deque(items)
        for _ in items:
            q = q.copy()
            q.popleft()

    cases = {"quil.Queue.dequeue": quil_chain, "pyrsistent.pdeque.popleft": pdeque_chain}
    if n <= 2000:
        cases["deque copy-then-popleft"] = deque_copy
    return n, cases


@group("queue: iterate")
def queue_iterate(n):
    items = list(range(n))
    # Every element waits in the rear list: iteration reads it through its array.
    q = quil.Queue(items)

    def run(collection):
        def loop():
            for _ in collection:
                pass

        return loop

    return n, {
        "quil.Queue": run(q),
        "collections.deque": run(collections.deque(items)),
        "pyrsistent.pdeque": run(pyrsistent.pdeque(items)),
    }


@memory_group("queue: memory per element")
def queue_memory(n):
    items = list(range(n))
    return n, {
        "quil.Queue": lambda: quil.Queue(items),
        "pyrsistent.pdeque": lambda: pyrsistent.pdeque(items),
        "collections.deque": lambda: collections.deque(items),
    }


@group("stack: push chain")
def stack_push_chain(n):
    items = list(range(n))

    def quil_chain():
        s = quil.Stack()
        for x in items:
            s = s.push(x)

    def plist_chain():
        s = pyrsistent.plist()
        for x in items:
            s = s.cons(x)

    return n, {"quil.Stack.push": quil_chain, "pyrsistent.plist.cons": plist_chain}


@group("stack: pop chain")
def stack_pop_chain(n):
    items = list(range(n))
    start = quil.Stack(items)
    peer = pyrsistent.plist(items)

    def quil_chain():
        s = start
        for _ in items:
            s = s.pop()

    def plist_walk():
        s = peer
        for _ in items:
            s = s.rest

    return n, {"quil.Stack.pop": quil_chain, "pyrsistent.plist.rest": plist_walk}


# ---------------------------------------------------------------- views and iteration


@group("views: for k, v in m.items()")
def views_items_iteration(n):
    ks, d, m, p = map_peers(n)

    def run(items):
        def loop():
            for _k, _v in items():
                pass

        return loop

    return n, {"quil items()": run(m.items), "dict items()": run(d.items),
               "pyrsistent.pmap items()": run(p.items)}


@group("views: list(s)")
def views_list_of_set(n):
    ks = keys(n)
    s, fs = quil.HashTrieSet(ks), frozenset(ks)
    return n, {"list(HashTrieSet)": lambda: list(s), "list(frozenset)": lambda: list(fs)}


@group("views: len(m.keys())")
def views_len(n):
    ks, d, m, p = map_peers(n)
    calls = 10_000

    def run(mapping):
        def loop():
            for _ in range(calls):
                len(mapping.keys())

        return loop

    return calls, {"quil": run(m), "dict": run(d)}


@group("views: m.keys() == set of the same keys")
def views_keys_equal_set(n):
    ks, d, m, p = map_peers(n)
    same = set(ks)
    return n, {"quil keys() == set": lambda: m.keys() == same,
               "dict keys() == set": lambda: d.keys() == same}


# ---------------------------------------------------------------- driver


def time_case(fn, ops):
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter_ns()
        fn()
        return (time.perf_counter_ns() - start) / ops
    finally:
        gc.enable()


def _malloc_info():
    """glibc's mallinfo2, or None where there is no such call."""
    libc_name = ctypes.util.find_library("c")
    if libc_name is None:
        return None
    libc = ctypes.CDLL(libc_name)
    if not hasattr(libc, "mallinfo2"):
        return None

    class MallInfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
            "uordblks", "fordblks", "keepcost")]

    libc.mallinfo2.restype = MallInfo2

    def in_use():
        info = libc.mallinfo2()
        return info.uordblks + info.hblkhd  # heap chunks in use plus mmapped chunks

    return in_use


malloc_in_use = _malloc_info()

# The object allocator serves requests up to this size from its own arenas, which the C
# heap never sees; larger ones it passes to malloc.
SMALL_REQUEST_THRESHOLD = 512


def measure_memory(make, count):
    """Bytes per element of the structure make() builds: blocks of the object allocator
    seen by tracemalloc, plus C heap growth measured on a second, untraced build (so the
    C heap's own chunk overhead is counted, and tracemalloc's bookkeeping is not)."""
    gc.collect()
    tracemalloc.start()
    try:
        structure = make()
        snapshot = tracemalloc.take_snapshot()
        del structure
    finally:
        tracemalloc.stop()
    small = sum(trace.size for trace in snapshot.traces
                if trace.size <= SMALL_REQUEST_THRESHOLD)
    del snapshot
    heap = 0
    if malloc_in_use is not None:
        gc.collect()
        before = malloc_in_use()
        structure = make()
        heap = max(0, malloc_in_use() - before)
        del structure
    return (small + heap) / count


def names_module(label, module):
    """Whether a case label names the module as a word (pyrsistent.pmap, hash(quil ...))."""
    return re.search(rf"(?<![\w.]){re.escape(module)}\b", label) is not None


def run_group(entry, n, repeat, missing=()):
    """Runs one group at size n and prints it; returns its record (see record_run)."""
    name, build, *kind = entry
    count, cases = build(n)
    labels = [label for label in cases if not any(names_module(label, m) for m in missing)]
    if kind == ["memory"]:
        results = {label: measure_memory(cases[label], count) for label in labels}
        unit = "B/element"
    else:
        samples = {label: [] for label in labels}
        for _ in range(repeat):  # interleaved: every case once per round
            for label in labels:
                samples[label].append(time_case(cases[label], count))
        results = {label: statistics.median(samples[label]) for label in labels}
        unit = "ns/op"
    ours = results[labels[0]]
    print(f"\n{name}  (n={n})")
    for label in labels:
        ratio = "" if label == labels[0] else f"   quil/this = {ours / results[label]:.2f}"
        print(f"  {label:<38} {results[label]:>12.1f} {unit}{ratio}")
    return {
        "group": name,
        "n": n,
        "unit": unit,
        "ops": count,
        "cases": [{"label": label, "value": round(results[label], 1)} for label in labels],
    }


def version_of(module):
    try:
        return importlib.metadata.version(module)
    except importlib.metadata.PackageNotFoundError:
        return None


def record_run(argv, results, missing):
    """A run as JSON-ready data: where it ran, and per group and size the cases in order
    (quil's first) with their median ns per operation or bytes per element."""
    return {
        "python": sys.version.split()[0],
        "debug_build": hasattr(sys, "gettotalrefcount"),
        "machine": platform.machine(),
        "cpus": os.cpu_count(),
        "platform": platform.platform(),
        "date": datetime.date.today().isoformat(),
        "command": " ".join(["bench.py", *argv]),
        "versions": {m: version_of(m) for m in ("quil", *PEERS) if m not in missing},
        "missing_peers": list(missing),
        "results": results,
    }


def record_text(record):
    """The record as JSON with one line per group and size, so recorded runs diff well."""
    head = json.dumps({k: v for k, v in record.items() if k != "results"}, indent=1)
    lines = ",\n".join("  " + json.dumps(result) for result in record["results"])
    return f'{head[:-2]},\n "results": [\n{lines}\n ]\n}}\n'


# ---------------------------------------------------------------- chart

# Bar series, in drawing order: quil, then the built-in baseline and each peer library.
BUILTIN = "built-in"
COLOURS = {"quil": "#1f5fa8", BUILTIN: "#9a9a9a", "immutables": "#e08a1e",
           "pyrsistent": "#3a9a4a"}


def series_of(label, first):
    """The bar series a case belongs to, or None for a second quil variant."""
    if first:
        return "quil"
    for peer in COLOURS:
        if peer not in ("quil", BUILTIN) and names_module(label, peer):
            return peer
    if names_module(label, "quil") or "HashTrie" in label:
        return None
    return BUILTIN


def chart_rows(record):
    """(n, rows) for the chart: the timed groups at the largest size recorded, each row
    (group name, {series: ns per op, the first case of each series}, built-in label)."""
    timed = [r for r in record["results"] if r["unit"] == "ns/op"]
    n = max(r["n"] for r in timed)
    rows = []
    for result in timed:
        if result["n"] != n:
            continue
        values, builtin_label = {}, None
        for index, case in enumerate(result["cases"]):
            series = series_of(case["label"], index == 0)
            if series is not None and series not in values:
                values[series] = case["value"]
                if series == BUILTIN:
                    builtin_label = case["label"]
        rows.append((result["group"], values, builtin_label))
    return n, rows


def import_pyplot():
    try:
        import matplotlib
    except ImportError:
        sys.exit(f"--plot needs matplotlib, which Python {sys.version.split()[0]} here lacks. "
                 "Record the run with --json RUN.json and draw it with a Python that has "
                 "matplotlib: --plot OUT.png --from RUN.json (on Debian, the system python3 "
                 "after apt-get install python3-matplotlib).")
    matplotlib.use("Agg")
    import matplotlib.pyplot

    return matplotlib.pyplot


def draw_chart(record, path):
    """Draws the record as grouped horizontal bars, ns per operation on a log scale."""
    plt = import_pyplot()
    n, rows = chart_rows(record)
    series = [s for s in COLOURS if any(s in values for _, values, _ in rows)]
    height = 0.8 / len(series)
    fig, ax = plt.subplots(figsize=(10, 1.0 + 0.12 * len(rows) * (len(series) + 1)))
    for position, name in enumerate(series):
        ys = [i + (position - (len(series) - 1) / 2) * height for i in range(len(rows))]
        xs = [values.get(name, 0) for _, values, _ in rows]
        kept = [(y, x) for y, x in zip(ys, xs) if x > 0]
        ax.barh([y for y, _ in kept], [x for _, x in kept], height=height,
                color=COLOURS[name], label=name)
    ax.set_yticks(range(len(rows)))
    ax.set_yticklabels([f"{group}  [{label}]" if label else group
                        for group, _, label in rows], fontsize=8)
    ax.set_ylim(len(rows) - 0.5, -0.5)  # first group on top
    ax.set_xscale("log")
    ax.set_xlabel("ns per operation (log scale; shorter is faster)")
    ax.grid(axis="x", which="both", alpha=0.3)
    ax.legend(loc="lower right", fontsize=8)
    build = "debug" if record.get("debug_build") else "release"
    ax.set_title(f"quil and its peers at n = {n:,}".replace(",", " ")
                 + f"\nCPython {record['python']} ({build}), {record['machine']}, "
                 f"{record['cpus']} CPUs, {record['date']}", fontsize=10)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


# ---------------------------------------------------------------- driver


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", default="", help="run groups whose name contains this")
    parser.add_argument("--sizes", default="10,1000,100000")
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--map-sizes", default="",
                        help="sizes for the map groups instead of --sizes, e.g. 100000,1000000")
    parser.add_argument("--json", metavar="FILE", help="also write the results to FILE")
    parser.add_argument("--plot", metavar="PNG", help="draw the results (needs matplotlib)")
    parser.add_argument("--from", dest="recorded", metavar="FILE",
                        help="with --plot: draw this recorded run instead of running")
    args = parser.parse_args(argv)
    if args.recorded:
        if not args.plot:
            parser.error("--from needs --plot")
        with open(args.recorded, encoding="utf-8") as file:
            draw_chart(json.load(file), args.plot)
        return
    if args.plot:
        import_pyplot()  # before a long run, not after it
    if isinstance(quil, MissingPeer):
        importlib.import_module("quil")  # raises the reason
    missing = [peer for peer in PEERS if isinstance(globals()[peer], MissingPeer)]
    sizes = [int(s) for s in args.sizes.split(",")]
    map_sizes = [int(s) for s in args.map_sizes.split(",")] if args.map_sizes else sizes
    print(f"Python {sys.version.split()[0]}, quil from {quil.__file__}")
    for peer in missing:
        print(f"{peer} is not installed: its cases are skipped")
    results = []
    for entry in GROUPS:
        if args.only in entry[0]:
            for n in map_sizes if entry[0].startswith("map:") else sizes:
                results.append(run_group(entry, n, args.repeat, missing))
    record = record_run(argv, results, missing)
    if args.json:
        with open(args.json, "w", encoding="utf-8") as file:
            file.write(record_text(record))
    if args.plot:
        draw_chart(record, args.plot)


if __name__ == "__main__":
    main()
