// Walks: the items of a Python iterable (all_items, for_each_item), the entries of a
// trie record read a few steps ahead (Lookahead), and the elements of a List, Stack or
// Queue record in its class's order (elements_of).
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "quil/trie/node.hpp"
#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

// ---------------------------------------------------------------- Python iterables

/// How many items iter(iterable) will yield, when that is known without running Python
/// code (exact lists and tuples); 0 otherwise. For reserving room.
inline std::size_t known_length(PyObject* iterable) noexcept {
    return PyList_CheckExact(iterable) || PyTuple_CheckExact(iterable)
               ? static_cast<std::size_t>(Py_SIZE(iterable))
               : 0;
}

/// Calls `test(item)` on the items of `iterable` in iteration order until one answers
/// false, and then stops pulling items; `item` is a new reference (py::Ref) the callee
/// may keep. `test` returns an Outcome<bool>. The result is whether every item passed,
/// or the first error, of the iteration or of `test`.
///
/// Exact lists and tuples are read by index exactly as their own iterators read them:
/// the item at each index while the index is below the current length, both read afresh
/// at every step (code that `test` runs may change a list). No iterator is made for them.
template <class Test>
Outcome<bool> all_items(PyObject* iterable, Test&& test) {
    if (PyList_CheckExact(iterable) || PyTuple_CheckExact(iterable)) {
        for (Py_ssize_t i = 0; i < Py_SIZE(iterable); ++i) {
            Outcome<bool> passed = test(py::Ref::borrow(PySequence_Fast_ITEMS(iterable)[i]));
            if (!passed.ok() || !passed.value()) {
                return passed;
            }
        }
        return true;
    }
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(iterable));
    if (!iterator) {
        return PendingError::fetch();
    }
    for (;;) {
        PyObject* item = nullptr;
        const int status = PyIter_NextItem(iterator.get(), &item);
        if (status < 0) {
            return PendingError::fetch();
        }
        if (status == 0) {
            return true;
        }
        Outcome<bool> passed = test(py::Ref::steal(item));
        if (!passed.ok() || !passed.value()) {
            return passed;
        }
    }
}

/// Calls `each(item)` for every item of `iterable`, as all_items does; `each` returns a
/// Status, and the walk stops at the first error, which it returns.
template <class Each>
Status for_each_item(PyObject* iterable, Each&& each) {
    Outcome<bool> done = all_items(iterable, [&](py::Ref item) -> Outcome<bool> {
        Status status = each(std::move(item));
        if (!status.ok()) {
            return std::move(status).take_error();
        }
        return true;
    });
    if (!done.ok()) {
        return std::move(done).take_error();
    }
    return Unit{};
}

// ---------------------------------------------------------------- trie records

/// A walk over a map or set record (Record::iter()) that runs a few entries ahead of its
/// consumer and prefetches them.
///
/// Trie order is hash order, so a walk visits entry blocks and the Python objects they
/// hold at scattered addresses; on a large map nearly every one is a cache miss, taken
/// one after another. Running ahead keeps several misses in flight: each entry's block is
/// prefetched when the walk reaches it, and its key and value objects a few steps later,
/// once the block itself has arrived. The entries come out in the same order as from the
/// plain walk; only the timing of memory traffic changes.
template <class Record>
class Lookahead {
public:
    using Entry = typename Record::Entry;

    /// Walks `record`, which must outlive the walk and stay unchanged.
    explicit Lookahead(const Record& record) : cursor_(record.iter()) {}

    /// The next entry without consuming it; null at the end.
    const Entry* peek() {
        if (size_ == 0) {
            refill();
            if (size_ == 0) {
                return nullptr;
            }
        }
        return ring_[head_];
    }

    /// Consumes the entry peek() returned, and keeps the walk kDistance ahead. Never
    /// fails, so a consumer that has taken an entry never loses it: reading ahead is only
    /// for speed, and when it runs out of memory the entries already read stay, and
    /// peek() reads on once they are used up (and reports the failure if it recurs; the
    /// walk is still where it was: see TrieIter::next in trie/iter.hpp).
    void pop() noexcept {
        head_ = (head_ + 1) % kDistance;
        --size_;
        try {
            refill();
        } catch (const std::bad_alloc&) {
        }
    }

    const Entry* next() {
        const Entry* entry = peek();
        if (entry != nullptr) {
            pop();
        }
        return entry;
    }

private:
    static constexpr unsigned kDistance = 8;
    static constexpr unsigned kObjectsAfter = kDistance / 2;

    /// The objects a consumer of `entry` touches first (their reference counts): the
    /// key's, and the value's where entries have one.
    static void prefetch_objects(const Entry& entry) noexcept {
        __builtin_prefetch(entry.key().object(), 1);
        if constexpr (!std::is_same_v<typename Record::mapped_type, NoValue>) {
            __builtin_prefetch(entry.value().get(), 1);
        }
    }

    void refill() {
        while (size_ < kDistance) {
            const Entry* entry = cursor_.next();
            if (entry == nullptr) {
                return;
            }
            __builtin_prefetch(entry);
            ring_[(head_ + size_) % kDistance] = entry;
            ++size_;
            if (size_ > kObjectsAfter) {
                // Fetched kObjectsAfter steps ago: its block is in cache by now.
                prefetch_objects(*ring_[(head_ + size_ - 1 - kObjectsAfter) % kDistance]);
            }
        }
    }

    typename Record::Iter cursor_;
    const Entry* ring_[kDistance] = {};
    unsigned head_ = 0;
    unsigned size_ = 0;
};

// ---------------------------------------------------------------- list records

/// A `next` callable over the elements of a List, Stack or Queue record (anything with a
/// cursor() yielding `const py::HeldRef*`), in the class's order: each call gives the
/// next element, borrowed, and null at the end.
template <class Record>
auto elements_of(const Record& record) {
    return [cursor = record.cursor()]() mutable -> PyObject* {
        const py::HeldRef* element = cursor.next();
        return element != nullptr ? element->get() : nullptr;
    };
}

/// A walk over one record (Lookahead) that looks each of its keys up in another record,
/// and whose lookups descend a group ahead (TrieMap::descend_group): next() gives each
/// walked entry with what the probed record holds for its key, null for nothing. The
/// descents of a group overlap their cache misses; the keys are compared only as next()
/// reaches them, one lookup after another in walk order, so a consumer that stops early
/// makes no comparison beyond the lookups it took.
template <class Walked, class Probed>
class ProbingWalk {
public:
    using WalkedEntry = typename Walked::Entry;
    using ProbedEntry = typename Probed::Entry;

    ProbingWalk(const Walked& walked, const Probed& probed) : walk_(walked), probed_(probed) {}

    /// The next walked entry (null at the end) and what the probed record holds for its key.
    std::pair<const WalkedEntry*, const ProbedEntry*> next() {
        if (at_ == size_) {
            refill();
            if (size_ == 0) {
                return {nullptr, nullptr};
            }
        }
        const unsigned i = at_++;
        const auto& key = entries_[i]->key();
        return {entries_[i], probed_.lookup_at(descents_[i], key, hashes_[i])};
    }

private:
    static constexpr unsigned kGroup = Probed::kLookupGroup;

    void refill() {
        size_ = 0;
        at_ = 0;
        while (size_ < kGroup) {
            const WalkedEntry* entry = walk_.next();
            if (entry == nullptr) {
                break;
            }
            entries_[size_] = entry;
            hashes_[size_] = probed_.hash_of(entry->key());
            ++size_;
        }
        probed_.descend_group(hashes_, size_, descents_);
    }

    Lookahead<Walked> walk_;
    const Probed& probed_;
    const WalkedEntry* entries_[kGroup];
    std::uint64_t hashes_[kGroup];
    typename Probed::Descent descents_[kGroup];
    unsigned size_ = 0;
    unsigned at_ = 0;
};

}  // namespace quil
