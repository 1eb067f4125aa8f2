# Type-checked with `mypy --strict tests/typing`: how the stubs read in user code.
# A line marked `type: ignore[...]` must stay an error (strict mode reports unused ignores).
from quil import List

numbers: List[int] = List([1, 2, 3])
pushed: List[int] = numbers.push_front(0)
mixed: List[int | str] = numbers.push_front("a")
first: int = numbers.first
rest: List[int] = numbers.rest
backwards: List[int] = reversed(numbers)
total: int = sum(numbers)
length: int = len(numbers)
empty = List()
wrong: List[str] = List([1, 2])  # type: ignore[list-item]
numbers.first = 5  # type: ignore[misc]

from quil import HashTrieMap

prices: HashTrieMap[str, float] = HashTrieMap({"tea": 2.5})
by_keyword: HashTrieMap[str, int] = HashTrieMap(a=1, b=2)
from_pairs: HashTrieMap[int, str] = HashTrieMap([(1, "one")])
cheaper: HashTrieMap[str, float] = prices.insert("water", 0.5)
price: float = prices["tea"]
maybe: float | None = prices.get("coffee")
with_default: float | str = prices.get("coffee", "n/a")
names: list[str] = list(prices)
defaults: HashTrieMap[str, None] = HashTrieMap.fromkeys(["a", "b"])
pairs: list[tuple[str, float]] = list(prices.items())
prices.insert(1, 2.0)  # type: ignore[arg-type]

from quil import Queue, Stack

waiting: Queue[int] = Queue([1, 2]).enqueue(3)
served: Queue[int] = waiting.dequeue()
oldest: int = waiting.peek()
idle: bool = waiting.is_empty()
queued_in_order: list[int] = list(Queue(1, 2, 3))
either: Queue[int | str] = waiting.enqueue("x")
plates: Stack[str] = Stack("a", "b").push("c")
top: str = plates.peek()
fewer: Stack[str] = plates.pop()
from_generator: Stack[int] = Stack(i for i in range(3))
plates.is_empty()  # type: ignore[attr-defined]
wrong_queue: Queue[str] = Queue([1, 2])  # type: ignore[list-item]

from collections.abc import Set

from quil import HashTrieSet

tags: HashTrieSet[str] = HashTrieSet(["a", "b"])
more_tags: HashTrieSet[str] = tags.insert("c").discard("a").update(["d"], ("e",))
ids_or_tags: HashTrieSet[int | str] = tags | HashTrieSet([1])
common: HashTrieSet[str] = tags & HashTrieSet([1, "a"])
only_tags: HashTrieSet[str] = tags.difference(HashTrieSet(["b"]))
has_a: bool = "a" in tags
subset: bool = tags <= {"a", "b", "c"}
as_abc: Set[str] = tags
no_tags = HashTrieSet()
tags | {"x"}  # type: ignore[operator]
wrong_tags: HashTrieSet[int] = HashTrieSet(["a"])  # type: ignore[list-item]

from quil import HashTrieSet

views = HashTrieMap({"a": 1, "b": 2})
shared_keys: HashTrieSet[str] = views.keys() & ["a", "z"]
wider = views.keys() | [3]
wider_keys: list[str | int] = list(wider)
pair_set: HashTrieSet[tuple[str, int]] = views.items() & [("a", 1)]
counts: list[int] = list(views.values())
same: bool = views.keys() == {"a", "b"}

import copy

same_prices: HashTrieMap[str, float] = copy.copy(prices)
deep_numbers: List[int] = copy.deepcopy(numbers)
deep_waiting: Queue[int] = copy.deepcopy(waiting)

with prices.mutate() as batch:
    batch["milk"] = 1.2
    batch.set("tea", 2.0)
    del batch["milk"]
    batch.update({"juice": 3.0}, water=0.5)
    popped: float = batch.pop("tea")
    popped_or_none: float | None = batch.pop("tea", None)
    looked_up: float | None = batch.get("juice")
    size: int = len(batch)
    batch["oops"] = "free"  # type: ignore[assignment]
restocked: HashTrieMap[str, float] = batch.finish()
tag_batch = tags.mutate()
tag_batch.add("z")
tag_batch.discard("a")
tag_batch.update(["y"], ("x",))
tag_batch.add(1)  # type: ignore[arg-type]
retagged: HashTrieSet[str] = tag_batch.finish()
nothing = tag_batch.remove("z")  # type: ignore[func-returns-value]
