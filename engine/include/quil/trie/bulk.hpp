// Bulk building: the trie that inserting a sequence of items one by one would make,
// built in one top-down pass that sorts the items into trie order as it goes.
// TrieMap::build calls bulk_build; TrieItems is what callers collect the items in.
//
// Why. Insertion in place walks one path per item, moves branch blocks through 4, 8,
// 16, ... slots as they fill, and makes entry blocks in input order, while every later
// walk (iteration, equality, hashing, reprs) visits entries in trie order, so at
// scattered addresses. Here each key is hashed once and the trie is made top down:
// every branch in one block with exactly as many slots as it has children, and the
// entry blocks one after another in the order walks visit them.
//
// How. Each item becomes a record (trie hash, input position). Building a node for a
// range of records at depth d partitions the range by digit d, stably, which is one
// step of an MSD radix sort into trie order: a counting pass for long ranges, an
// insertion sort on the digit for short ones. The node is then a branch with one child
// per part, built the same way one level down, so by the time the walk reaches the
// leaves the records are in trie order, and equal hashes are still in input order.
//
// Same result as insertion one by one. build(builder, items) gives what create(builder)
// followed by insert_in_place of every item, in order, gives: the same entries (an item
// whose key equals an earlier one replaces it, key object and value), the same size,
// shape and bucket orders. Only branch capacities differ (capacity == len here). Why:
//   - The shape of an inserted trie depends only on the set of distinct hashes held: a
//     leaf sits at the first depth where no other entry shares its digits; entries with
//     one full hash share a bucket at depth 11 under a chain of one-child branches.
//     TreeMaker::node makes exactly that: one record is a single-entry leaf, records
//     sharing digit d but not their whole hash hang under a one-child branch, and a
//     range of one hash is resolved first (next point), then becomes a leaf or a chain
//     down to a bucket. The root is always a branch, as a new map's root is.
//   - Which entries survive, and a bucket's order, depend only on the items with that
//     one hash and on their input order. resolve_run replays the bucket insert on them:
//     an item equal to a kept one (equals(kept key, item key), newest kept first)
//     replaces it, and the item goes in front. What is left, newest first, is the
//     bucket insertion would have made; one item left is an ordinary single-entry leaf.
//
// Failure. equals is called only while a range of one hash is resolved, before any of
// its entries is made; the heap may throw at any allocation. Either way unwinding
// releases the nodes made so far (each branch is owned before its children are made,
// and a branch block releases whatever slots it holds), the scratch arrays, and the
// items with every key and value not yet moved into an entry (an entry whose block
// cannot be had releases the key and value it was given). Nothing else calls a key
// operation.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "quil/common/memory.hpp"
#include "quil/trie/hash_builder.hpp"
#include "quil/trie/node.hpp"

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

/// Ranges at most this long are split by an insertion sort on the digit; longer ones
/// by a counting pass, whose 64 counters would cost more than the records themselves.
inline constexpr std::size_t kInsertionSplitMax = 8;

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

/// Makes the trie top down from the records (in input order), partitioning each range
/// by its digit on the way; moves the keys and values out of the items into entries.
/// Every block is allocated in walk order.
template <class K, class V, Heap H>
class TreeMaker {
public:
    using Ref = NodeRef<K, V, H>;
    using Handle = EntryWithHash<K, V, H>;

    explicit TreeMaker(TrieItems<K, V, H>& items) noexcept : items_(items) {}

    /// The root over records[0..n): a branch at depth 0, empty when n is 0. `scratch`
    /// has room for n records.
    Ref root(BulkRecord* records, BulkRecord* scratch, std::size_t n) {
        if (n == 0) {
            return Ref(Ref::Branch::make(0));
        }
        Parts parts;
        BulkRecord* sorted = split(records, scratch, n, 0, parts);
        return branch(sorted, sorted == records ? scratch : records, 0, parts);
    }

    /// Entries made so far.
    std::uint64_t size() const noexcept { return size_; }

private:
    /// A range split by one digit: the part ends, in slot order, and their slots.
    struct Parts {
        std::uint64_t bitmap = 0;
        unsigned count = 0;
        std::size_t ends[kDegree];
    };

    Handle entry(const BulkRecord& record) {
        auto& item = items_[record.index];
        ++size_;
        return Handle::make(record.hash, std::move(item.key), std::move(item.value));
    }

    /// Sorts records[0..n) stably by digit `depth` and finds its parts. The result is in
    /// place, or in scratch[0..n) (a counting pass moves the records there): the records
    /// go back and forth between the two arrays, level by level, at the same offsets.
    /// Returns where they are.
    static BulkRecord* split(BulkRecord* records, BulkRecord* scratch, std::size_t n,
                             unsigned depth, Parts& parts) noexcept {
        const unsigned shift = kBitsPerLevel * depth;
        const auto digit_of = [shift](const BulkRecord& r) {
            return static_cast<unsigned>((r.hash >> shift) & kSlotMask);
        };
        if (n <= kInsertionSplitMax) {
            for (std::size_t i = 1; i < n; ++i) {
                const BulkRecord record = records[i];
                const unsigned d = digit_of(record);
                std::size_t j = i;
                for (; j > 0 && d < digit_of(records[j - 1]); --j) {
                    records[j] = records[j - 1];
                }
                records[j] = record;
            }
            unsigned run_digit = digit_of(records[0]);
            for (std::size_t i = 1; i < n; ++i) {
                const unsigned d = digit_of(records[i]);
                if (d != run_digit) {
                    parts.bitmap |= std::uint64_t{1} << run_digit;
                    parts.ends[parts.count++] = i;
                    run_digit = d;
                }
            }
            parts.bitmap |= std::uint64_t{1} << run_digit;
            parts.ends[parts.count++] = n;
            return records;
        }
        std::size_t counts[kDegree] = {};
        std::uint64_t present = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned d = digit_of(records[i]);
            ++counts[d];
            present |= std::uint64_t{1} << d;
        }
        parts.bitmap = present;
        if (std::has_single_bit(present)) {
            // All share the digit: one part, already in order.
            parts.ends[parts.count++] = n;
            return records;
        }
        std::size_t fill[kDegree];
        std::size_t next = 0;
        for (std::uint64_t bits = present; bits != 0; bits &= bits - 1) {
            const auto d = static_cast<unsigned>(std::countr_zero(bits));
            fill[d] = next;
            next += counts[d];
            parts.ends[parts.count++] = next;
        }
        for (std::size_t i = 0; i < n; ++i) {
            scratch[fill[digit_of(records[i])]++] = records[i];
        }
        return scratch;
    }

    /// A branch at `depth` over the parts of records, one child per part; `scratch` is
    /// the other array, at the same offset.
    Ref branch(BulkRecord* records, BulkRecord* scratch, unsigned depth, const Parts& parts) {
        auto* branch = Ref::Branch::make(parts.count);
        Ref made(branch);
        branch->set_bitmap(parts.bitmap);
        branch->len = static_cast<std::uint8_t>(parts.count);
        Ref* slots = branch->slots();
        std::size_t start = 0;
        for (unsigned r = 0; r < parts.count; ++r) {
            const std::size_t n = parts.ends[r] - start;
            // Most children are single entries: made here, without a call.
            slots[r] = n == 1 ? Ref(entry(records[start]))
                              : node(records + start, scratch + start, n, depth + 1);
            start = parts.ends[r];
        }
        return made;
    }

    /// The node for the slot at `depth` (1 to 11) holding records[0..n), n >= 1, whose
    /// hashes share digits 0..depth-1.
    Ref node(BulkRecord* records, BulkRecord* scratch, std::size_t n, unsigned depth) {
        if (n == 1) {
            return Ref(entry(records[0]));
        }
        if (!exhausted(depth)) {
            Parts parts;
            BulkRecord* sorted = split(records, scratch, n, depth, parts);
            if (sorted != records) {
                std::swap(records, scratch);
            }
            if (parts.count > 1 || !same_hash(records, n)) {
                return branch(records, scratch, depth, parts);
            }
        }
        n = resolve_run(records, n, items_);
        if (n == 1) {
            return Ref(entry(records[0]));
        }
        return chain(records, n, depth);
    }

    static bool same_hash(const BulkRecord* records, std::size_t n) noexcept {
        std::uint64_t differ = 0;
        for (std::size_t i = 1; i < n; ++i) {
            differ |= records[i].hash ^ records[0].hash;
        }
        return differ == 0;
    }

    /// Two or more resolved records of one hash, newest first: one-child branches from
    /// `depth` to depth 10, and the bucket below them.
    Ref chain(const BulkRecord* records, std::size_t n, unsigned depth) {
        if (exhausted(depth)) {
            auto* bucket = heap_new<typename Ref::Bucket, H>();
            Ref made(bucket);
            for (std::size_t i = n; i-- > 0;) {  // oldest first, so it reads newest first
                bucket->list.push_front_in_place(entry(records[i]));
            }
            return made;
        }
        auto* branch = Ref::Branch::make(1);
        Ref made(branch);
        branch->set_bitmap(std::uint64_t{1} << digit(records[0].hash, depth));
        branch->len = 1;
        branch->slots()[0] = chain(records, n, depth + 1);
        return made;
    }

    TrieItems<K, V, H>& items_;
    std::uint64_t size_ = 0;
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
    for (std::size_t i = 0; i < n; ++i) {
        records.get()[i] = BulkRecord{trie_hash(items[i].key), i};
    }
    RawArray<BulkRecord, H> scratch(n);
    TreeMaker<K, V, H> maker(items);
    NodeRef<K, V, H> root = maker.root(records.get(), scratch.get(), n);
    return BulkResult<K, V, H>{std::move(root), maker.size()};
}

}  // namespace detail
}  // namespace quil
