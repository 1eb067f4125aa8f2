// Bulk building: the trie that inserting a sequence of items one by one would make,
// built in one pass over the items sorted into trie order. TrieMap::build calls
// bulk_build; TrieItems is what callers collect the items in.
//
// Why. Insertion in place walks one path per item, moves branch blocks through 4, 8,
// 16, ... slots as they fill, and makes entry blocks in input order, while every later
// walk (iteration, equality, hashing, reprs) visits entries in trie order, so at
// scattered addresses. Here each key is hashed once, the items are sorted into trie
// order, and the trie is made top down: every branch in one block with exactly as many
// slots as it has children, and the entry blocks one after another in the order walks
// visit them.
//
// Same result as insertion one by one. build(builder, items) gives what create(builder)
// followed by insert_in_place of every item, in order, gives: the same entries (an item
// whose key equals an earlier one replaces it, key object and value), the same size,
// shape and bucket orders. Only branch capacities differ (capacity == len here). Why:
//   - The shape of an inserted trie depends only on the set of distinct hashes held: a
//     leaf sits at the first depth where no other entry shares its digits; entries with
//     one full hash share a bucket at depth 11 under a chain of one-child branches.
//     build_node makes exactly that from a sorted range: one item at depth > 0 is a
//     single-entry leaf, a range at depth 11 is a bucket, anything else a branch over
//     its runs of equal digit (a chain link when they all share the digit).
//   - Which entries survive, and a bucket's order, depend only on the items with that
//     one hash and on their input order. The sort is stable, so a run of equal hashes is
//     in input order, and resolve_run replays the bucket insert on it: an item equal to
//     a kept one (equals(kept key, item key), newest kept first) replaces it, and the
//     item goes in front. What is left, newest first, is the bucket insertion would have
//     made; a run left with one item becomes an ordinary single-entry leaf.
//
// Failure. equals is called only while runs are resolved, before any node exists; if it
// throws, the sort's scratch and the items are released and nothing else was made.
// Making the nodes calls no key operation (only the heap, which never fails upwards).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "common/memory.hpp"
#include "map/hash_trie_map/hash_builder.hpp"
#include "map/hash_trie_map/node.hpp"

namespace quil {

/// Items for a bulk build, kept in input order: a growable array of (key, value) in
/// blocks from H. Releases whatever it still holds.
template <TrieKey K, TrieValue V, Heap H>
class TrieItems {
public:
    struct Item {
        K key;
        [[no_unique_address]] V value;
    };

    TrieItems() noexcept = default;
    TrieItems(TrieItems&& other) noexcept
        : items_(std::exchange(other.items_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    TrieItems& operator=(TrieItems&& other) noexcept {
        TrieItems(std::move(other)).swap(*this);
        return *this;
    }
    TrieItems(const TrieItems&) = delete;
    TrieItems& operator=(const TrieItems&) = delete;
    ~TrieItems() { release(); }

    void swap(TrieItems& other) noexcept {
        std::swap(items_, other.items_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }

    /// Makes room for `capacity` items in all.
    void reserve(std::size_t capacity) {
        if (capacity > capacity_) {
            move_to(capacity);
        }
    }

    /// Appends an item; takes over the key and the value.
    void push(K&& key, V&& value) {
        if (size_ == capacity_) {
            move_to(std::max<std::size_t>(16, 2 * capacity_));
        }
        ::new (static_cast<void*>(items_ + size_)) Item{std::move(key), std::move(value)};
        ++size_;
    }
    void push(K&& key) requires std::same_as<V, NoValue> { push(std::move(key), NoValue{}); }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    Item& operator[](std::size_t i) noexcept { return items_[i]; }
    const Item& operator[](std::size_t i) const noexcept { return items_[i]; }

private:
    static_assert(std::is_nothrow_move_constructible_v<Item> &&
                  std::is_nothrow_destructible_v<Item>);

    void move_to(std::size_t capacity) {
        auto* moved = static_cast<Item*>(H::allocate(capacity * sizeof(Item)));
        for (std::size_t i = 0; i < size_; ++i) {
            ::new (static_cast<void*>(moved + i)) Item(std::move(items_[i]));
            items_[i].~Item();
        }
        if (items_ != nullptr) {
            H::deallocate(items_, capacity_ * sizeof(Item));
        }
        items_ = moved;
        capacity_ = capacity;
    }

    void release() noexcept {
        for (std::size_t i = 0; i < size_; ++i) {
            items_[i].~Item();
        }
        if (items_ != nullptr) {
            H::deallocate(items_, capacity_ * sizeof(Item));
        }
        items_ = nullptr;
        size_ = capacity_ = 0;
    }

    Item* items_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

namespace detail {

/// An item's trie hash and its position in the input.
struct BulkRecord {
    std::uint64_t hash;
    std::size_t index;
};

/// An uninitialised array of trivially copyable T from H, freed on destruction.
template <class T, Heap H>
class RawArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    explicit RawArray(std::size_t size)
        : data_(size == 0 ? nullptr : static_cast<T*>(H::allocate(size * sizeof(T)))),
          size_(size) {}
    RawArray(const RawArray&) = delete;
    RawArray& operator=(const RawArray&) = delete;
    ~RawArray() {
        if (data_ != nullptr) {
            H::deallocate(data_, size_ * sizeof(T));
        }
    }
    T* get() const noexcept { return data_; }

private:
    T* data_;
    std::size_t size_;
};

/// Whether hash a comes before hash b in trie order (digit 0 deciding first). The
/// lowest differing bit lies in the first digit where they differ; that digit decides.
inline bool trie_less(std::uint64_t a, std::uint64_t b) noexcept {
    const std::uint64_t differ = a ^ b;
    if (differ == 0) {
        return false;
    }
    const unsigned depth = static_cast<unsigned>(std::countr_zero(differ)) / kBitsPerLevel;
    return digit(a, depth) < digit(b, depth);
}

/// Ranges at most this long are sorted by insertion; longer ones by a counting pass.
/// Counting passes are cheap per record, comparisons in trie order are not, so the
/// passes go on until ranges are tiny (at 100 000 random hashes, three passes).
inline constexpr std::size_t kInsertionSortMax = 8;

/// Stable insertion sort into trie order.
inline void insertion_sort(BulkRecord* records, std::size_t n) noexcept {
    for (std::size_t i = 1; i < n; ++i) {
        const BulkRecord record = records[i];
        std::size_t j = i;
        while (j > 0 && trie_less(record.hash, records[j - 1].hash)) {
            records[j] = records[j - 1];
            --j;
        }
        records[j] = record;
    }
}

/// Sorts `records`, whose hashes share digits 0..depth-1, stably into trie order: a
/// counting pass on digit `depth` (the trie's own 64-way split), then each part on the
/// next digit; short parts by insertion. `scratch` has room for n records.
inline void sort_in_trie_order(BulkRecord* records, BulkRecord* scratch, std::size_t n,
                               unsigned depth) noexcept {
    for (; !exhausted(depth); ++depth) {
        if (n <= kInsertionSortMax) {
            insertion_sort(records, n);
            return;
        }
        const unsigned shift = kBitsPerLevel * depth;
        std::size_t counts[kDegree] = {};
        for (std::size_t i = 0; i < n; ++i) {
            ++counts[(records[i].hash >> shift) & kSlotMask];
        }
        if (counts[(records[0].hash >> shift) & kSlotMask] == n) {
            continue;  // all share this digit (a chain in the trie): nothing moves
        }
        std::size_t starts[kDegree];
        std::uint64_t to_sort = 0;  // the parts of more than one record
        std::size_t next = 0;
        for (unsigned d = 0; d < kDegree; ++d) {
            starts[d] = next;
            next += counts[d];
            to_sort |= std::uint64_t{counts[d] > 1} << d;
        }
        for (std::size_t i = 0; i < n; ++i) {
            scratch[starts[(records[i].hash >> shift) & kSlotMask]++] = records[i];
        }
        std::memcpy(records, scratch, n * sizeof(BulkRecord));
        for (; to_sort != 0; to_sort &= to_sort - 1) {
            const auto d = static_cast<unsigned>(std::countr_zero(to_sort));
            const std::size_t start = starts[d] - counts[d];  // starts[d] is now its end
            sort_in_trie_order(records + start, scratch + start, counts[d], depth + 1);
        }
        return;
    }
    // Exhausted: every hash is the same, and the records stay in input order.
}

/// Replays the bucket insert over a run of records with one hash, in input order: an
/// item equal to one kept takes its place (the kept key is the stored one, compared
/// newest first), and each item goes in front. Leaves the survivors at the start of the
/// run, newest first, and returns how many there are. May throw from equals.
template <class K, class V, Heap H>
std::size_t resolve_run(BulkRecord* run, std::size_t n, const TrieItems<K, V, H>& items) {
    std::size_t kept = 0;  // run[0..kept): the survivors so far, oldest first
    for (std::size_t i = 0; i < n; ++i) {
        const BulkRecord record = run[i];
        const K& probe = items[record.index].key;
        for (std::size_t j = kept; j-- > 0;) {
            if (items[run[j].index].key.equals(probe)) {
                std::copy(run + j + 1, run + kept, run + j);
                --kept;
                break;
            }
        }
        run[kept++] = record;
    }
    std::reverse(run, run + kept);
    return kept;
}

/// Resolves every run of equal hashes in the sorted records and closes the gaps left by
/// replaced items; returns the number of records left.
template <class K, class V, Heap H>
std::size_t resolve_runs(BulkRecord* records, std::size_t n, const TrieItems<K, V, H>& items) {
    std::size_t kept = 0;
    std::size_t i = 0;
    while (i < n) {
        std::size_t end = i + 1;
        while (end < n && records[end].hash == records[i].hash) {
            ++end;
        }
        if (end - i == 1) {
            records[kept++] = records[i];
        } else {
            const std::size_t survivors = resolve_run(records + i, end - i, items);
            std::copy(records + i, records + i + survivors, records + kept);
            kept += survivors;
        }
        i = end;
    }
    return kept;
}

/// Makes the nodes from records sorted, resolved and with distinct keys; moves the keys
/// and values out of the items. Allocates every block in walk order.
template <class K, class V, Heap H>
class NodeMaker {
public:
    using Ref = NodeRef<K, V, H>;
    using Handle = EntryWithHash<K, V, H>;

    explicit NodeMaker(TrieItems<K, V, H>& items) noexcept : items_(items) {}

    /// The root: a branch at depth 0, empty when there are no records.
    Ref root(const BulkRecord* records, std::size_t n) {
        if (n == 0) {
            return Ref(Ref::Branch::make(0));
        }
        return branch(records, n, 0);
    }

private:
    Handle entry(const BulkRecord& record) {
        auto& item = items_[record.index];
        return Handle::make(record.hash, std::move(item.key), std::move(item.value));
    }

    /// The node for the slot at `depth` holding records[0..n), n >= 1.
    Ref node(const BulkRecord* records, std::size_t n, unsigned depth) {
        if (n == 1) {
            return Ref(entry(records[0]));
        }
        if (exhausted(depth)) {
            // A bucket: the records are its entries newest first, so they are pushed
            // oldest first.
            auto* bucket = heap_new<typename Ref::Bucket, H>();
            Ref made(bucket);
            for (std::size_t i = n; i-- > 0;) {
                bucket->list.push_front_in_place(entry(records[i]));
            }
            return made;
        }
        return branch(records, n, depth);
    }

    /// A branch over the runs of equal digit `depth`, one child per run.
    Ref branch(const BulkRecord* records, std::size_t n, unsigned depth) {
        const unsigned shift = kBitsPerLevel * depth;
        std::size_t ends[kDegree];
        std::uint64_t bitmap = 0;
        unsigned children = 0;
        std::uint64_t run_digit = (records[0].hash >> shift) & kSlotMask;
        for (std::size_t i = 1; i < n; ++i) {
            const std::uint64_t d = (records[i].hash >> shift) & kSlotMask;
            if (d != run_digit) {
                bitmap |= std::uint64_t{1} << run_digit;
                ends[children++] = i;
                run_digit = d;
            }
        }
        bitmap |= std::uint64_t{1} << run_digit;
        ends[children++] = n;
        auto* branch = Ref::Branch::make(children);
        Ref made(branch);
        branch->bitmap = bitmap;
        branch->len = static_cast<std::uint8_t>(children);
        Ref* slots = branch->slots();
        std::size_t start = 0;
        for (unsigned r = 0; r < children; ++r) {
            slots[r] = node(records + start, ends[r] - start, depth + 1);
            start = ends[r];
        }
        return made;
    }

    TrieItems<K, V, H>& items_;
};

/// What bulk_build makes: the root of the new trie and its number of entries.
template <class K, class V, Heap H>
struct BulkResult {
    NodeRef<K, V, H> root;
    std::uint64_t size;
};

/// The trie that inserting `items` one by one, in order, into an empty trie would make,
/// with `trie_hash` giving each key's hash. The keys and values move into the trie;
/// replaced ones stay in `items`, which the caller releases.
template <class K, class V, Heap H, class TrieHash>
BulkResult<K, V, H> bulk_build(TrieItems<K, V, H>& items, TrieHash trie_hash) {
    const std::size_t n = items.size();
    RawArray<BulkRecord, H> records(n);
    BulkRecord* sorted = records.get();
    for (std::size_t i = 0; i < n; ++i) {
        sorted[i] = BulkRecord{trie_hash(items[i].key), i};
    }
    RawArray<BulkRecord, H> scratch(n > kInsertionSortMax ? n : 0);
    sort_in_trie_order(sorted, scratch.get(), n, 0);
    const std::size_t kept = resolve_runs(sorted, n, items);
    NodeMaker<K, V, H> maker(items);
    return BulkResult<K, V, H>{maker.root(sorted, kept), kept};
}

}  // namespace detail
}  // namespace quil
