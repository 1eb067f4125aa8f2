# Type stubs for quil, the persistent collections extension.
from collections.abc import (
    Iterable,
    ItemsView,
    Iterator,
    KeysView,
    Mapping,
    Reversible,
    ValuesView,
)
from collections.abc import Set as AbstractSet
from types import GenericAlias, TracebackType
from typing import Any, ClassVar, Generic, Self, TypeVar, final, overload

_T = TypeVar("_T")
_T_co = TypeVar("_T_co", covariant=True)
_K = TypeVar("_K")
_V = TypeVar("_V")
_V_co = TypeVar("_V_co", covariant=True)
_K2 = TypeVar("_K2")

__all__ = ["HashTrieMap", "HashTrieSet", "List", "Stack", "Queue"]

@final
class HashTrieMap(Mapping[_K, _V_co]):
    """An immutable hash map; every update returns a new map.

    The new map shares all untouched structure with the receiver, which never changes. Keys must be
    hashable: a key's __hash__ runs once, when it enters a map, and lookups compare with the stored
    key's __eq__. Iteration order is arbitrary: it differs from map to map, but maps derived from
    one another list their common keys in the same relative order. A map equals only another
    HashTrieMap with equal entries (never a dict), and is hashable when its values are. A
    collections.abc.Mapping; it pickles.
    """

    @overload
    def __new__(cls, value: None = None) -> HashTrieMap[Any, Any]:
        """Build a map from a mapping or an iterable of (key, value) pairs, then keywords.

        Later pairs win over earlier ones and keywords over `value`. Raises TypeError for a value
        that is not iterable, a pair that is not a tuple, or an unhashable key, and ValueError for a
        tuple whose length is not 2 (each with the note "while processing 'value'"). O(n).
        """
    @overload
    def __new__(cls, value: None = None, **kwds: _V) -> HashTrieMap[str, _V]: ...
    @overload
    def __new__(
        cls, value: Mapping[_K, _V] | Iterable[tuple[_K, _V]], **kwds: _V
    ) -> HashTrieMap[_K, _V]: ...
    def __getitem__(self, key: _K, /) -> _V_co:
        """The value stored under `key`. Raises KeyError (carrying the key) when it is absent and
        TypeError when the key is unhashable. O(log n).
        """
    def __contains__(self, key: object, /) -> bool:
        """Whether `key` is in the map. An unhashable key raises TypeError rather than answering
        False. O(log n).
        """
    def __len__(self) -> int:
        """The number of entries. O(1)."""
    def __iter__(self) -> Iterator[_K]:
        """An iterator over the keys of this map as it is now. O(1) to start; the map can be shared
        with other iterators meanwhile.
        """
    @overload
    def get(self, key: _K, default: None = None) -> _V_co | None:
        """The value stored under `key`, or `default` when it is absent. Raises TypeError for an
        unhashable key. O(log n).
        """
    @overload
    def get(self, key: _K, default: _V_co | _T) -> _V_co | _T: ...
    def insert(self, key: _K, value: _V) -> HashTrieMap[_K, _V_co | _V]:
        """A new map with `key` mapped to `value`; an equal key already present is replaced, key
        object included. O(log n) new map; the receiver is unchanged.
        """
    def remove(self, key: _K) -> HashTrieMap[_K, _V_co]:
        """A new map without `key`. Raises KeyError (carrying the key) when it is absent. O(log n)
        new map; the receiver is unchanged.
        """
    def discard(self, key: _K) -> HashTrieMap[_K, _V_co]:
        """A new map without `key`, or a new map equal to the receiver when it is absent (never the
        receiver itself). O(log n); the receiver is unchanged.
        """
    def update(
        self, *maps: Mapping[_K, _V] | Iterable[tuple[_K, _V]], **kwds: _V
    ) -> HashTrieMap[_K, _V_co | _V]:
        """A new map with the entries of each argument applied in order, then the keywords.

        Each positional argument is a mapping or an iterable of (key, value) pairs; later arguments
        win over earlier ones, keywords over all. Conversion errors (TypeError, ValueError)
        propagate without a note. O(k log n) for k entries added; the receiver is unchanged.
        """
    def mutate(self) -> _HashTrieMapMutation[_K, _V_co]:
        """A mutation object that starts from this map: change it in place like a dict, then
        finish() returns the new map. The receiver never changes. O(1); each update then costs
        O(log n), copying a node only the first time it is touched.
        """
    @classmethod
    def convert(
        cls, value: Mapping[_K2, _V] | Iterable[tuple[_K2, _V]]
    ) -> HashTrieMap[_K2, _V]:
        """`value` itself if it is a HashTrieMap, else a new map built from it as HashTrieMap(value)
        does. Always a HashTrieMap, whatever class it is called on.
        """
    @overload
    @classmethod
    def fromkeys(cls, keys: Iterable[_K2], val: None = None) -> HashTrieMap[_K2, None]:
        """A new map with every key of the iterable `keys` mapped to `val` (the same object). Raises
        TypeError for a non-iterable or an unhashable key. O(n).
        """
    @overload
    @classmethod
    def fromkeys(cls, keys: Iterable[_K2], val: _V) -> HashTrieMap[_K2, _V]: ...
    def keys(self) -> _KeysView[_K]:
        """A set-like view of the keys (a collections.abc.KeysView). O(1)."""
    def values(self) -> _ValuesView[_V_co]:
        """A view of the values (a collections.abc.ValuesView). O(1)."""
    def items(self) -> _ItemsView[_K, _V_co]:
        """A set-like view of the (key, value) pairs (a collections.abc.ItemsView). O(1)."""
    def __reduce__(
        self,
    ) -> tuple[type[HashTrieMap[Any, Any]], tuple[list[tuple[_K, _V_co]]]]:
        """Pickling support: (HashTrieMap, ([(key, value), ...],)), the pairs in iteration order."""
    def __copy__(self) -> Self:
        """copy.copy(): the map itself, which never changes. O(1)."""
    def __deepcopy__(self, memo: dict[int, Any], /) -> Self:
        """copy.deepcopy(): the map itself when every key and value deep-copies to itself
        (strings, numbers, tuples of those, quil collections of those), else a new map of the deep
        copies (each key, then its value). Shares `memo` with the rest of the copy. O(n).
        """
    @classmethod
    def __class_getitem__(cls, item: Any, /) -> GenericAlias:
        """HashTrieMap[K, V] at runtime, for annotations: a types.GenericAlias, as dict[K, V] is."""
    def __hash__(self) -> int:
        """A hash of the entries that ignores their order, like a frozenset of the items'; equal
        maps hash alike. Raises TypeError naming the key of the first unhashable value. O(n),
        recomputed on every call.
        """
    def __eq__(self, other: object, /) -> bool:
        """Whether `other` is a HashTrieMap with equal keys and values; any other object (a dict
        included) is unequal. O(n); ordering comparisons raise TypeError.
        """
    def __ne__(self, other: object, /) -> bool:
        """The negation of ==."""

# The view classes exist at runtime as quil.KeysView and so on, but are not module
# attributes: the stubs name them privately.
@final
class _KeysView(KeysView[_K]):
    """The keys of one map, as a set: what HashTrieMap.keys() returns.

    The view shows the map it came from for its whole life (maps never change). It is a
    collections.abc.KeysView, compares with any collections.abc.Set and is unhashable.
    """

    def __len__(self) -> int:
        """The map's number of entries. O(1)."""
    def __iter__(self) -> Iterator[_K]:
        """An iterator over the map's keys, in the map's order."""
    def __contains__(self, key: object, /) -> bool:
        """Whether `key` is a key of the map. Raises TypeError for an unhashable key. O(log n)."""
    def intersection(self, other: Iterable[_T]) -> HashTrieSet[_T]:
        """A new HashTrieSet of the elements of the iterable `other` that are keys of the map (the
        objects from `other`). O(len(other) log n).
        """
    def union(self, other: Iterable[_T]) -> _KeysView[_K | _T]:
        """A new keys view holding the map's keys and the elements of the iterable `other`. Raises
        TypeError for an unhashable element. O(len(other) log n).
        """
    # & and | accept any iterable on the right and return quil collections.
    def __and__(self, other: Iterable[_T], /) -> HashTrieSet[_T]:  # type: ignore[override]
        """view & iterable: as intersection(); a new HashTrieSet."""
    def __or__(self, other: Iterable[_T], /) -> _KeysView[_K | _T]:  # type: ignore[override]
        """view | iterable: as union(); a new keys view."""
    def __lt__(self, other: object, /) -> bool:
        """A proper subset of the collections.abc.Set `other`; False for anything else."""
    def __le__(self, other: object, /) -> bool:
        """A subset of the collections.abc.Set `other`; False for anything else."""
    def __gt__(self, other: object, /) -> bool:
        """A proper superset of the collections.abc.Set `other`; False for anything else."""
    def __ge__(self, other: object, /) -> bool:
        """A superset of the collections.abc.Set `other`; False for anything else."""
    def __eq__(self, other: object, /) -> bool:
        """Equal as sets to the collections.abc.Set `other`; False for anything else."""
    def __ne__(self, other: object, /) -> bool:
        """The negation of ==."""

@final
class _ValuesView(ValuesView[_V_co]):
    """The values of one map: what HashTrieMap.values() returns.

    Not set-like: membership tests iterate, and equality is identity.
    """

    def __len__(self) -> int:
        """The map's number of entries. O(1)."""
    def __iter__(self) -> Iterator[_V_co]:
        """An iterator over the map's values, in the map's order."""

@final
class _ItemsView(ItemsView[_K, _V_co]):
    """The (key, value) pairs of one map, as a set: what HashTrieMap.items() returns.

    The view shows the map it came from for its whole life. It is a collections.abc.ItemsView,
    compares with any collections.abc.Set and is unhashable.
    """

    def __len__(self) -> int:
        """The map's number of entries. O(1)."""
    def __iter__(self) -> Iterator[tuple[_K, _V_co]]:
        """An iterator over (key, value) tuples, in the map's order."""
    def __contains__(self, item: object, /) -> bool:
        """Whether `item`, a (key, value) tuple, is in the map: the key is present and its stored
        value equals the tuple's. Raises TypeError for a non-tuple or an unhashable key and
        ValueError for a tuple whose length is not 2. O(log n).
        """
    def intersection(self, other: Iterable[Any]) -> HashTrieSet[tuple[_K, _V_co]]:
        """A new HashTrieSet of the (key, value) tuples in both the map and the iterable `other`.
        Raises TypeError when a matching value is unhashable.
        """
    def union(self, other: Iterable[_T]) -> HashTrieSet[tuple[_K, _V_co] | _T]:
        """A new HashTrieSet of the map's (key, value) tuples and the elements of the iterable
        `other`. Raises TypeError when a value or an element is unhashable. O(n + len(other)).
        """
    def __and__(self, other: Iterable[Any], /) -> HashTrieSet[tuple[_K, _V_co]]:  # type: ignore[override]
        """view & iterable: as intersection(); a new HashTrieSet."""
    def __or__(self, other: Iterable[_T], /) -> HashTrieSet[tuple[_K, _V_co] | _T]:  # type: ignore[override]
        """view | iterable: as union(); a new HashTrieSet."""
    def __lt__(self, other: object, /) -> bool:
        """A proper subset of the collections.abc.Set `other`; False for anything else."""
    def __le__(self, other: object, /) -> bool:
        """A subset of the collections.abc.Set `other`; False for anything else."""
    def __gt__(self, other: object, /) -> bool:
        """A proper superset of the collections.abc.Set `other`; False for anything else."""
    def __ge__(self, other: object, /) -> bool:
        """A superset of the collections.abc.Set `other`; False for anything else."""
    def __eq__(self, other: object, /) -> bool:
        """Equal as sets to the collections.abc.Set `other`; False for anything else."""
    def __ne__(self, other: object, /) -> bool:
        """The negation of ==."""

@final
class HashTrieSet(AbstractSet[_T_co]):
    """An immutable hash set; every update returns a new set.

    The new set shares all untouched structure with the receiver, which never changes. Elements must
    be hashable: an element's __hash__ runs once, when it enters a set. Iteration order is
    arbitrary, as for HashTrieMap. A set equals any collections.abc.Set with the same elements (set
    and frozenset included) and hashes as the frozenset of its elements does. A collections.abc.Set;
    it pickles.
    """

    @overload
    def __new__(cls, value: None = None) -> HashTrieSet[Any]:
        """Build a set from the elements of an iterable (none for None). Of equal elements the last
        one given stays. Raises TypeError for a non-iterable or an unhashable element (with the note
        "while processing 'value'"). O(n).
        """
    @overload
    def __new__(cls, value: Iterable[_T]) -> HashTrieSet[_T]: ...
    def __contains__(self, key: object, /) -> bool:
        """Whether `key` is in the set, decided by the stored element's __eq__ (so a NaN is never
        found). Raises TypeError for an unhashable probe. O(log n).
        """
    def __len__(self) -> int:
        """The number of elements. O(1)."""
    def __iter__(self) -> Iterator[_T_co]:
        """An iterator over the elements of this set as it is now. O(1) to start."""
    def insert(self, value: _T) -> HashTrieSet[_T_co | _T]:
        """A new set with `value` added, replacing an equal element. O(log n) new set; the receiver
        is unchanged.
        """
    def discard(self, value: object) -> HashTrieSet[_T_co]:
        """A new set without `value`, or a new set equal to the receiver when it is absent. Raises
        TypeError for an unhashable value. O(log n); the receiver is unchanged.
        """
    def remove(self, value: object) -> HashTrieSet[_T_co]:
        """A new set without `value`. Raises KeyError (carrying the value) when it is absent.
        O(log n) new set; the receiver is unchanged.
        """
    def update(self, *iterables: Iterable[_T]) -> HashTrieSet[_T_co | _T]:
        """A new set with the elements of every iterable added, in order. Errors propagate without a
        note. O(k log n) for k elements added; the receiver is unchanged.
        """
    def mutate(self) -> _HashTrieSetMutation[_T_co]:
        """A mutation object that starts from this set: change it in place like a set, then
        finish() returns the new set. The receiver never changes. O(1); each update then costs
        O(log n), copying a node only the first time it is touched.
        """
    def union(self, other: HashTrieSet[_T]) -> HashTrieSet[_T_co | _T]:
        """A new set of the elements in either set. `other` must be a HashTrieSet (else TypeError);
        both operands are unchanged. Walks the smaller set into the larger one: O(min(m, n) log
        max(m, n)).
        """
    def intersection(self, other: HashTrieSet[object]) -> HashTrieSet[_T_co]:
        """A new set of the elements in both sets. `other` must be a HashTrieSet (else TypeError);
        both operands are unchanged. Looks up each element of the smaller set: O(min(m, n) log
        max(m, n)).
        """
    def difference(self, other: HashTrieSet[object]) -> HashTrieSet[_T_co]:
        """A new set of the elements of the receiver that are not in `other`. `other` must be a
        HashTrieSet (else TypeError); both operands are unchanged. Removes each element of `other`:
        O(len(other) log n).
        """
    def symmetric_difference(self, other: HashTrieSet[_T]) -> HashTrieSet[_T_co | _T]:
        """A new set of the elements in exactly one of the sets. `other` must be a HashTrieSet (else
        TypeError); both operands are unchanged. Walks the smaller set into the larger one:
        O(min(m, n) log max(m, n)).
        """
    # The operators take only another HashTrieSet (anything else is NotImplemented),
    # narrower than what collections.abc.Set declares.
    def __or__(self, other: HashTrieSet[_T], /) -> HashTrieSet[_T_co | _T]:  # type: ignore[override]
        """s | o: as s.union(o), for two HashTrieSets only; other operands raise TypeError."""
    def __and__(self, other: HashTrieSet[object], /) -> HashTrieSet[_T_co]:  # type: ignore[override]
        """s & o: as s.intersection(o), for two HashTrieSets only; other operands raise TypeError.
        """
    def __sub__(self, other: HashTrieSet[object], /) -> HashTrieSet[_T_co]:  # type: ignore[override]
        """s - o: as s.difference(o), for two HashTrieSets only; other operands raise TypeError."""
    def __xor__(self, other: HashTrieSet[_T], /) -> HashTrieSet[_T_co | _T]:  # type: ignore[override]
        """s ^ o: as s.symmetric_difference(o), for two HashTrieSets only; other operands raise
        TypeError.
        """
    def __ror__(self, other: HashTrieSet[_T], /) -> HashTrieSet[_T_co | _T]:
        """o | s, with o a HashTrieSet: as o.union(s)."""
    def __rand__(self, other: HashTrieSet[object], /) -> HashTrieSet[_T_co]:
        """o & s, with o a HashTrieSet: as o.intersection(s)."""
    def __rsub__(self, other: HashTrieSet[_T], /) -> HashTrieSet[_T]:
        """o - s, with o a HashTrieSet: as o.difference(s)."""
    def __rxor__(self, other: HashTrieSet[_T], /) -> HashTrieSet[_T_co | _T]:
        """o ^ s, with o a HashTrieSet: as o.symmetric_difference(s)."""
    # Comparisons accept anything: an object that is not a Set compares False.
    def __lt__(self, other: object, /) -> bool:
        """A proper subset of the collections.abc.Set `other`; False for anything else."""
    def __le__(self, other: object, /) -> bool:
        """A subset of the collections.abc.Set `other`; False for anything else."""
    def __gt__(self, other: object, /) -> bool:
        """A proper superset of the collections.abc.Set `other`; False for anything else."""
    def __ge__(self, other: object, /) -> bool:
        """A superset of the collections.abc.Set `other`; False for anything else."""
    def __eq__(self, other: object, /) -> bool:
        """Equal as sets to the collections.abc.Set `other`; False for anything else."""
    def __ne__(self, other: object, /) -> bool:
        """The negation of ==."""
    def __hash__(self) -> int:
        """The hash of the frozenset of the same elements (except that -1 becomes -2); no element's
        __hash__ runs again. O(n), recomputed on every call.
        """
    def __reduce__(self) -> tuple[type[HashTrieSet[Any]], tuple[list[_T_co]]]:
        """Pickling support: (HashTrieSet, ([element, ...],)), in iteration order."""
    def __copy__(self) -> Self:
        """copy.copy(): the set itself, which never changes. O(1)."""
    def __deepcopy__(self, memo: dict[int, Any], /) -> Self:
        """copy.deepcopy(): the set itself when every element deep-copies to itself (strings,
        numbers, tuples of those, quil collections of those), else a new set of the deep copies.
        Shares `memo` with the rest of the copy. O(n).
        """
    @classmethod
    def __class_getitem__(cls, item: Any, /) -> GenericAlias:
        """HashTrieSet[T] at runtime, for annotations: a types.GenericAlias, as frozenset[T] is."""

@final
class List(Generic[_T_co]):
    """An immutable singly linked list; every update returns a new list.

    Access is at the front: first, rest, push_front and drop_first take O(1) and share the rest of
    the list. A List equals only another List with equal elements in the same order; it is hashable
    when its elements are, and it pickles.
    """

    @overload
    def __new__(cls) -> List[Any]:
        """List(a, b, c) or List(reversible): the arguments, or the elements of one reversible
        argument (a sequence, or a List), front to back, so List("ab") holds "a" and "b" and
        List([seq]) holds seq alone. A single iterator, generator or set raises TypeError: write
        List(list(it)). O(n).
        """
    @overload
    def __new__(cls, elements: Reversible[_T], /) -> List[_T]: ...
    @overload
    def __new__(cls, first: _T, second: _T, /, *elements: _T) -> List[_T]: ...
    @property
    def first(self) -> _T_co:
        """The first element. Raises IndexError("empty list has no first element"). O(1)."""
    @property
    def rest(self) -> List[_T_co]:
        """The list without its first element (empty for an empty list). O(1)."""
    def push_front(self, other: _T) -> List[_T_co | _T]:
        """A new list with `other` in front of the receiver's elements. O(1)."""
    def drop_first(self) -> List[_T_co]:
        """A new list without the first element. Raises IndexError("empty list has no first
        element"). O(1).
        """
    def __reversed__(self) -> List[_T_co]:
        """A new List of the elements in reverse order (a list, not an iterator). O(n)."""
    def __reduce__(self) -> tuple[type[List[Any]], tuple[list[_T_co]]]:
        """Pickling support: (List, ([element, ...],)), front to back."""
    def __copy__(self) -> Self:
        """copy.copy(): the list itself, which never changes. O(1)."""
    def __deepcopy__(self, memo: dict[int, Any], /) -> Self:
        """copy.deepcopy(): the list itself when every element deep-copies to itself (strings,
        numbers, tuples of those, quil collections of those), else a new List of the deep copies,
        front to back. Shares `memo` with the rest of the copy. O(n).
        """
    @classmethod
    def __class_getitem__(cls, item: Any, /) -> GenericAlias:
        """List[T] at runtime, for annotations: a types.GenericAlias, as list[T] is."""
    def __len__(self) -> int:
        """The number of elements. O(1)."""
    def __iter__(self) -> Iterator[_T_co]:
        """An iterator over the elements, front to back. O(1) per step."""
    def __hash__(self) -> int:
        """A hash of the elements' hashes in order, equal for equal Lists (and for a Queue or Stack
        of the same elements in the same order). Raises TypeError naming the position of the first
        unhashable element. O(n), recomputed on every call.
        """
    def __eq__(self, other: object, /) -> bool:
        """Whether `other` is a List with pairwise equal elements (no identity shortcut: a List
        holding NaN is unequal to itself). A failing element comparison counts as unequal. O(n).
        """
    def __ne__(self, other: object, /) -> bool:
        """The negation of ==."""

@final
class Stack(Generic[_T_co]):
    """An immutable last-in first-out stack; every update returns a new stack.

    push, pop and peek take O(1). Iteration runs from the top down; the repr lists the elements from
    the bottom up, as Stack([...]) rebuilds them. A Stack equals only another Stack, is hashable
    when its elements are, and does not pickle.
    """

    @overload
    def __new__(cls) -> Stack[Any]:
        """Stack(a, b, c) or Stack(iterable): push the arguments, or the items of one iterable, in
        order, so the last one ends on top. O(n).
        """
    @overload
    def __new__(cls, elements: Iterable[_T], /) -> Stack[_T]: ...
    @overload
    def __new__(cls, first: _T, second: _T, /, *elements: _T) -> Stack[_T]: ...
    def peek(self) -> _T_co:
        """The top element. Raises IndexError("peeked an empty stack"). O(1)."""
    def push(self, other: _T) -> Stack[_T_co | _T]:
        """A new stack with `other` on top. O(1)."""
    def pop(self) -> Stack[_T_co]:
        """A new stack without its top element (read it with peek() first). Raises
        IndexError("popped an empty stack"). O(1).
        """
    def __len__(self) -> int:
        """The number of elements. O(1)."""
    def __iter__(self) -> Iterator[_T_co]:
        """An iterator over the elements from the top down. O(1) per step."""
    def __hash__(self) -> int:
        """The List hash of the elements from the top down. Raises TypeError naming the position
        (from the top) of the first unhashable element. O(n).
        """
    def __eq__(self, other: object, /) -> bool:
        """Whether `other` is a Stack with pairwise equal elements. O(n)."""
    def __ne__(self, other: object, /) -> bool:
        """The negation of ==."""
    def __copy__(self) -> Self:
        """copy.copy(): the stack itself, which never changes. O(1)."""
    def __deepcopy__(self, memo: dict[int, Any], /) -> Self:
        """copy.deepcopy(): the stack itself when every element deep-copies to itself (strings,
        numbers, tuples of those, quil collections of those), else a new Stack of the deep copies,
        each at its height. Shares `memo` with the rest of the copy. O(n).
        """
    @classmethod
    def __class_getitem__(cls, item: Any, /) -> GenericAlias:
        """Stack[T] at runtime, for annotations: a types.GenericAlias, as list[T] is."""

@final
class Queue(Generic[_T_co]):
    """An immutable first-in first-out queue; every update returns a new queue.

    enqueue, peek and is_empty take O(1); so does dequeue, except when it first moves the elements
    enqueued since the last such move to the front, which costs O(k) for k of them. Iteration runs
    oldest first. A Queue equals only another Queue with the same elements in the same order, is
    hashable when its elements are, and does not pickle.
    """

    @overload
    def __new__(cls) -> Queue[Any]:
        """Queue(a, b, c) or Queue(iterable): enqueue the arguments, or the items of one iterable,
        in order, so the first one is the oldest. O(n).
        """
    @overload
    def __new__(cls, elements: Iterable[_T], /) -> Queue[_T]: ...
    @overload
    def __new__(cls, first: _T, second: _T, /, *elements: _T) -> Queue[_T]: ...
    def peek(self) -> _T_co:
        """The oldest element. Raises IndexError("peeked an empty queue"). O(1)."""
    def is_empty(self) -> bool:
        """Whether the queue has no elements. O(1)."""
    def enqueue(self, value: _T) -> Queue[_T_co | _T]:
        """A new queue with `value` added as the newest element. O(1)."""
    def dequeue(self) -> Queue[_T_co]:
        """A new queue without its oldest element (read it with peek() first). Raises
        IndexError("dequeued an empty queue").
        """
    def __len__(self) -> int:
        """The number of elements. O(1)."""
    def __iter__(self) -> Iterator[_T_co]:
        """An iterator over the elements, oldest first."""
    def __hash__(self) -> int:
        """The List hash of the elements, oldest first. Raises TypeError naming the position of the
        first unhashable element. O(n).
        """
    def __eq__(self, other: object, /) -> bool:
        """Whether `other` is a Queue with pairwise equal elements, oldest first. O(n)."""
    def __ne__(self, other: object, /) -> bool:
        """The negation of ==."""
    def __copy__(self) -> Self:
        """copy.copy(): the queue itself, which never changes. O(1)."""
    def __deepcopy__(self, memo: dict[int, Any], /) -> Self:
        """copy.deepcopy(): the queue itself when every element deep-copies to itself (strings,
        numbers, tuples of those, quil collections of those), else a new Queue of the deep copies,
        oldest first. Shares `memo` with the rest of the copy. O(n).
        """
    @classmethod
    def __class_getitem__(cls, item: Any, /) -> GenericAlias:
        """Queue[T] at runtime, for annotations: a types.GenericAlias, as list[T] is."""

# The mutation classes exist at runtime as quil.HashTrieMapMutation and
# quil.HashTrieSetMutation, but are not module attributes: the stubs name them privately.
@final
class _HashTrieMapMutation(Generic[_K, _V]):
    """A map being changed in place: what HashTrieMap.mutate() returns.

    It reads and writes like a dict; finish() turns it into a new HashTrieMap in O(1). The map it
    started from never changes. Keys are hashed and compared as HashTrieMap's are. After
    finish(), any use but finish() raises ValueError("mutation has finished"); a use while
    another runs (from a key's __eq__, or another thread) raises RuntimeError. A context
    manager: leaving the with block finishes it. Not hashable; meant for one thread.
    """

    def __getitem__(self, key: _K, /) -> _V:
        """The value stored under `key`. Raises KeyError (carrying the key) when it is absent and
        TypeError when the key is unhashable. O(log n).
        """
    def __setitem__(self, key: _K, value: _V, /) -> None:
        """mm[key] = value: as set(key, value)."""
    def __delitem__(self, key: _K, /) -> None:
        """del mm[key]: as remove(key)."""
    def __contains__(self, key: object, /) -> bool:
        """Whether `key` is in the map. An unhashable key raises TypeError. O(log n)."""
    def __len__(self) -> int:
        """The number of entries now. O(1)."""
    @overload
    def get(self, key: _K, default: None = None) -> _V | None:
        """The value stored under `key`, or `default` when it is absent. Raises TypeError for an
        unhashable key. O(log n).
        """
    @overload
    def get(self, key: _K, default: _V | _T) -> _V | _T: ...
    def set(self, key: _K, value: _V) -> None:
        """Map `key` to `value`; an equal key already present is replaced, key object included.
        O(log n).
        """
    def remove(self, key: _K) -> None:
        """Remove `key`. Raises KeyError (carrying the key) when it is absent. O(log n)."""
    def discard(self, key: _K) -> None:
        """Remove `key` if it is present. O(log n)."""
    @overload
    def pop(self, key: _K) -> _V:
        """Remove `key` and return its value; when it is absent, return `default` if one was given
        (None included), else raise KeyError carrying the key. O(log n).
        """
    @overload
    def pop(self, key: _K, default: _V | _T) -> _V | _T: ...
    def update(self, *maps: Mapping[_K, _V] | Iterable[tuple[_K, _V]], **kwds: _V) -> None:
        """Apply each argument in order, then the keywords, as HashTrieMap.update does. All or
        nothing: an error (conversion errors propagate without a note) leaves the mutation as it
        was. O(k log n) for k entries added.
        """
    def finish(self) -> HashTrieMap[_K, _V]:
        """The new map, in O(1). Every later call returns the same map object."""
    def __enter__(self) -> Self:
        """The mutation itself."""
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None:
        """Finish the mutation (then read the map with finish()); an exception leaving the block
        goes on.
        """
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class _HashTrieSetMutation(Generic[_T]):
    """A set being changed in place: what HashTrieSet.mutate() returns.

    add, discard, remove and update change it like a set's namesakes; finish() turns it into a new
    HashTrieSet in O(1). The set it started from never changes. After finish(), any use but
    finish() raises ValueError("mutation has finished"); a use while another runs raises
    RuntimeError. A context manager: leaving the with block finishes it. Not hashable; meant for
    one thread.
    """

    def __contains__(self, key: object, /) -> bool:
        """Whether `key` is in the set. An unhashable key raises TypeError. O(log n)."""
    def __len__(self) -> int:
        """The number of elements now. O(1)."""
    def add(self, value: _T) -> None:
        """Add `value`, replacing an equal element. Raises TypeError when it is unhashable.
        O(log n).
        """
    def discard(self, value: object) -> None:
        """Remove `value` if it is present. O(log n)."""
    def remove(self, value: object) -> None:
        """Remove `value`. Raises KeyError (carrying the value) when it is absent. O(log n)."""
    def update(self, *iterables: Iterable[_T]) -> None:
        """Add the elements of every iterable, in order. All or nothing: an error (propagated
        without a note) leaves the mutation as it was. O(k log n) for k elements.
        """
    def finish(self) -> HashTrieSet[_T]:
        """The new set, in O(1). Every later call returns the same set object."""
    def __enter__(self) -> Self:
        """The mutation itself."""
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None:
        """Finish the mutation (then read the set with finish()); an exception leaving the block
        goes on.
        """
    __hash__: ClassVar[None]  # type: ignore[assignment]
