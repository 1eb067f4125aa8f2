// TrieMap: the persistent hash array mapped trie beneath HashTrieMap and HashTrieSet.
// This file holds the design essay and the TrieMap record with lookup; insertion is in
// insert.hpp, removal in remove.hpp, the walk in iter.hpp, bulk building in bulk.hpp,
// the node model in node.hpp and the branch node in branch.hpp.
//
// Design
// ======
//
// A TrieMap is one version of a map: {HashBuilder, root slot, size}, 32 bytes, copied
// in O(1) by cloning the root. Versions share every node they have in common; a node is
// written only while its count is 1, so a version that has been handed out never
// changes. Every operation works on a private copy of the record: the persistent form
// copies the record and runs the in-place form on the copy.
//
// Geometry. 64-way branching, 6 bits of the 64-bit trie hash per level, taken from the
// least significant end: depth 0 uses bits 0-5, depth 9 bits 54-59, depth 10 bits 60-63
// (so a depth-10 branch uses slots 0-15 only). From depth 11 on the hash is exhausted:
// entries that reach depth 11 have equal 64-bit hashes and share a collision bucket.
//
// Node kinds. Every child slot (and the root) is one word owning one count; its two
// low bits say what it points at, so descending never reads a block to learn its kind:
//
//   slot word --tag 1--> Entry block   {count, hash high, key, value}   a single-entry leaf
//             --tag 0--> branch block  {count, len, capacity, slots of its children in
//                                       slot order, behind a bitmap or (capacity <= 2)
//                                       two slot numbers}            (branch.hpp)
//             --tag 2--> bucket block  {count, PersistentList<EntryWithHash>}, newest first
//
// A single-entry leaf is the entry block itself, so the common leaf costs no block of
// its own. Entry blocks are never written: replacing a value, or splitting a leaf,
// replaces the slot instead. Branch children sit inline in the branch block, in slot
// order at rank(i) = popcount(bitmap below bit i); a full unique branch moves to a block
// of capacity max(4, 2 * capacity), which is why insertion and removal recurse on
// slots (NodeRef&) rather than on nodes: the parent slot must learn the new address. A
// branch copied for writing gets capacity min(len + 1, 64), so the insertion that
// usually follows fits. A new map's root is an empty branch of capacity 0.
//
// Counts. Every block starts with a 32-bit count kept by the Heap's count policy
// (common/counts.hpp): plain under an interpreter's global lock, atomic on a
// free-threaded one. That file says why each is sound.
//
// Shape invariants (check_invariants verifies all of them):
//   - branches sit at depths 0-10; a collision bucket holds two or more entries with one
//     whole trie hash and pairwise unequal keys, and sits at depth 11, or higher (even
//     at the root) when a key's __eq__ changed its answer during an insertion (see
//     insert_at in insert.hpp: every operation takes a bucket wherever it sits);
//   - an entry in a leaf at depth d has hash digits 0..d-1 equal to the slots of its
//     path from the root;
//   - a branch other than the root is never empty and never has a single-entry leaf as
//     its only child (a branch or a bucket as the only child is fine: keys sharing many
//     low digits hang under a chain of one-child branches);
//   - the root is a branch (empty for an empty map) or, after removals, a single entry
//     (or a bucket, as above).
// Insertion keeps them by splitting a single-entry leaf into a branch whenever a second
// entry arrives while digits remain (insert_at in insert.hpp); removal keeps them by
// compressing on the way back up (remove_at, compress in remove.hpp): a lone single-entry
// leaf rises into its parent's slot level by level, emptied branches are removed from
// their parent, and a bucket that falls to one entry becomes a single-entry leaf that
// then rises.
//
// Hashing. Each new map draws its own SipHash-1-3 key pair from a per-thread seed
// (hash_builder.hpp); every version derived from it inherits the pair, so all of them
// agree on every trie hash and iterate in one order. A key's feed (its Python hash) is
// computed once, when its entry is made, and kept in the key; its trie hash is a
// function of the feed and the map's pair. An entry block keeps the high 32 bits of the
// trie hash (node.hpp says why not all 64), and whatever needs a stored key's whole
// hash (a split, a bucket compare of different feeds, the checks) recomputes it from
// the feed: a stored key object is never asked for its hash again. Key equality (a
// Python-level __eq__ above us, so slow and observable) runs only after two 64-bit
// hashes were found equal (TrieHashing::matches). The number and order of equality
// calls is part of the behaviour callers see, so insertion keeps two steps: a contains
// test on the leaf, then the bucket insert, which compares again (replacing a key
// compares the same pair twice; a colliding key is compared once per level of the
// chain it builds).
//
// Why the layout is what it is (measured with 100 000 str keys on a shared 2-core VM,
// CPython 3.14 release build, against immutables.Map 0.21; counts per operation come
// from cachegrind, since timings on that machine swing by tens of percent):
//   - Plain counts where the global lock allows them: a persistent insert clones and
//     later releases every child of each copied branch (64 + 64 + about 24 blocks at
//     this size), and an atomic read-modify-write costs about ten times a plain one.
//   - Entry blocks of 32 bytes (count, high half of the hash, key, value) instead of 40
//     rounded to 48: with the two-slot small branches (branch.hpp), HashTrieMap(d)
//     takes 43.5 bytes per entry as tracemalloc sees it, against 54 with 40-byte
//     entries, 8-byte counts and 24-byte branch heads.
//   - The node kind in the slot's tag bits, and the high half of the hash in the entry:
//     a lookup reads, per level, a branch's bitmap and one slot, then the entry block,
//     and touches the key object only to compare a key that is not the probe object.
//     The extension's Key marks objects equal to themselves by type in its pointer's
//     low bit, so a hit on the stored object reads neither object.
//   - Prefetching: the slot lines of a branch are asked for with its bitmap (in a wide
//     branch the slot a lookup needs is usually on another line, whose address depends
//     on the bitmap), and a found value while the key is compared. A lookup still costs
//     more than immutables': per hit about 570 instructions on the stored key object and
//     670 on an equal but distinct str, against 384 and 482 (cachegrind,
//     PYTHONHASHSEED=0), of which SipHash-1-3 of the key under the map's keys is about
//     90 and the call frame about 65; and it makes one cache miss more, the entry block
//     (immutables keeps keys and values inline in its nodes).
//   - What a path copy touches bounds insert and remove: about 6 100 instructions and
//     86 first-level cache misses per insert at this size, against immutables' 5 400
//     and 76. Cloning the children of the copied branches takes about 1 840 of them and
//     releasing them when the version goes about 1 770, ten per child, which a
//     hand-written loop over the slot words does not beat (measured: 1 % fewer). Our
//     branches are 64 wide, so a copy clones 64 + 64 + about 24 children where
//     immutables' 32-wide nodes clone 32 + 32 + 32 + a few. Rejected for now: splitting
//     a wide branch into a directory of eight groups (a copy would clone 8 + 8 children
//     per level instead of 64, at the price of a dependent load per level on every
//     lookup); and entries inline in branches (saves the entry block's miss, but a copy
//     must then clone two Python references per inline entry instead of one count).
//
// Failure. equals may throw, and so may the Heap (std::bad_alloc when memory runs out).
// Operations are exception-neutral with the strong guarantee for the receiver: they only
// ever write the private working copy, so unwinding releases the copy, the nodes copied
// for it and the entry made for the insertion, and leaks nothing. The in-place forms
// are all or nothing too: before the one step that cannot fail, the only change they
// make is make_writable's replacement of a shared node by an equal copy; a split's
// branch, a new bucket and a bucket's new list are built aside and then moved into
// their slot, and a removal that empties the map makes its empty root first. So a
// record whose insert_in_place or remove_in_place threw still holds exactly what it
// held, and a mutation object goes on using it.
//
// Ownership. A garbage collector that traverses versions must be told each reference
// once. CPython's cyclic collector takes one from an object's count for every reference a
// container reports, and frees what is left at 0: a reference reported by two versions
// sharing the node that keeps it would be taken twice, and a live object could be freed.
// So a version reports only the entries it holds alone (visit_owned, owned.hpp): from its
// root it descends only into blocks whose count is 1, and below them only into such
// blocks. Why that is exact: a block's count is the number of handles pointing at it. A
// block of count 1 reached through a block held alone has its one handle inside that
// block, so by induction from the record's root every handle on the way lies in this
// version's own chain; no other holder (another version, an iterator's copy of the record,
// a working copy in a running operation) can reach the block along blocks of count 1.
// Each entry is reported by one holder at most, and only while that holder alone keeps
// it, so dropping the holder would release it: precisely the reference the collector
// subtracts. A block held twice is reported by neither holder: everything it keeps looks
// referenced from outside and stays alive (nothing is freed early, a cycle through it is
// not collected) until all but one holder are gone; the survivor then reports it. A
// bucket list's `last` is no handle (it borrows the final node's entry), so every entry
// of a bucket held alone is held alone at count 1.
//   The counts the walk reads do not change while a collection runs: with a global lock
// only the collecting thread runs, and its collector runs no code between traversals
// that could clone or release a handle; a free-threaded collector stops every other
// thread first, so the relaxed loads of AtomicCounts see settled counts. A collection can
// start inside an operation on a record that a collected object holds, from code that a
// released key or value runs, or a key's equals; every state it can meet there is
// walkable: a slot is null (skipped) or complete, and a bucket list keeps its invariants
// between steps. Entries an operation holds in locals are nobody's to report.
//
// Where each operation lives:
//   create, lookup                            TrieMap below
//   insert, insert_in_place                   insert.hpp: insert_at and its helpers
//   build (from items in input order)         bulk.hpp: bulk_build
//   remove, remove_in_place                   remove.hpp: remove_at, compress
//   iter                                      iter.hpp: TrieIter
//   visit_owned                               owned.hpp
//   make_writable, without_first_match        node.hpp
//   SparseArray get / set / remove            branch.hpp
//   set algebra of versions of one set        algebra.hpp: union_of, intersection_of,
//                                             difference_of, symmetric_difference_of
#pragma once

#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "quil/common/memory.hpp"
#include "quil/common/panic.hpp"
#include "quil/trie/bulk.hpp"
#include "quil/trie/hash_builder.hpp"
#include "quil/trie/insert.hpp"
#include "quil/trie/iter.hpp"
#include "quil/trie/node.hpp"
#include "quil/trie/owned.hpp"
#include "quil/trie/remove.hpp"

namespace quil {

namespace detail {
template <TrieKey K, TrieHasher Hasher, Heap H>
struct SetAlgebra;
template <TrieKey K, TrieHasher Hasher, Heap H>
struct RehashedMergeAccess;
}  // namespace detail

/// A key's trie hash under a map's HashBuilder (TrieMap::hash_of), worked out by a caller
/// that needed it before the operation: the operations that take one trust it and hash
/// nothing again.
struct KnownHash {
    std::uint64_t value;
};

/// One version of a persistent hash map (or, with V = NoValue, a set). A small record
/// with value semantics: copying it is O(1) and shares every node. The const operations
/// return new versions and leave the receiver untouched; the _in_place forms change a
/// record the caller holds alone (its nodes may still be shared with other versions).
/// A moved-from TrieMap may only be destroyed or assigned to.
template <TrieKey K, TrieValue V = NoValue, TrieHasher Hasher = SipHash13Hasher,
          Heap H = SystemHeap>
class TrieMap {
    using Ref = detail::NodeRef<K, V, H>;

public:
    using key_type = K;
    using mapped_type = V;
    using Entry = quil::Entry<K, V, H>;
    using EntryWithHash = quil::EntryWithHash<K, V, H>;
    using Iter = TrieIter<K, V, H>;
    using Items = TrieItems<K, V, H>;
    static constexpr unsigned kDegree = detail::kDegree;

    /// A new empty map with a fresh HashBuilder drawn from the thread's seed.
    static TrieMap create() { return create(HashBuilder::draw()); }
    /// A new empty map hashing under `builder`.
    static TrieMap create(const HashBuilder& builder) {
        return TrieMap(builder, Ref(Ref::Branch::make(0)), 0);
    }

    /// The map that create(builder) followed by insert_in_place of every item, in order,
    /// makes: the same entries (a later equal key replaces an earlier one, key object and
    /// value), size, shape and order, except that every branch has capacity == len.
    /// Entry blocks are made in walk order. Takes over the items; if equals throws, they
    /// are released and nothing is made (bulk.hpp).
    static TrieMap build(const HashBuilder& builder, Items items) {
        auto made = detail::bulk_build(
            items, [&builder](const K& key) { return Hasher::hash(builder, key.hash_feed()); });
        return TrieMap(builder, std::move(made.root), made.size);
    }

    TrieMap(const TrieMap&) noexcept = default;
    TrieMap(TrieMap&&) noexcept = default;
    TrieMap& operator=(const TrieMap&) noexcept = default;
    TrieMap& operator=(TrieMap&&) noexcept = default;
    ~TrieMap() = default;

    void swap(TrieMap& other) noexcept {
        std::swap(builder_, other.builder_);
        root_.swap(other.root_);
        std::swap(size_, other.size_);
    }

    std::uint64_t size() const noexcept { return size_; }
    bool is_empty() const noexcept { return size_ == 0; }
    const HashBuilder& hash_builder() const noexcept { return builder_; }

    /// The trie hash of `key` under this map's HashBuilder.
    std::uint64_t hash_of(const K& key) const noexcept {
        return Hasher::hash(builder_, key.hash_feed());
    }

    /// The entry stored for `key`, or null. Borrowed for as long as this version lives.
    /// Allocates nothing; calls key equality only on entries with an equal trie hash.
    const Entry* lookup(const K& key) const { return lookup(key, KnownHash{hash_of(key)}); }
    const Entry* lookup(const K& key, KnownHash h) const { return find(key, h.value).entry; }

    /// lookup, when no other entry shares the key's trie hash: inserting an equal key then
    /// replaces the entry where it stands. Null when the key is absent, and when entries
    /// share its hash, where insertion moves the replaced key in front of them (their
    /// iteration order changes).
    const Entry* lookup_unique_hash(const K& key) const {
        return lookup_unique_hash(key, KnownHash{hash_of(key)});
    }
    const Entry* lookup_unique_hash(const K& key, KnownHash h) const {
        const Found found = find(key, h.value);
        return found.in_bucket ? nullptr : found.entry;
    }

    bool contains(const K& key) const { return lookup(key) != nullptr; }
    bool contains(const K& key, KnownHash h) const { return lookup(key, h) != nullptr; }

    /// Up to this many lookups go through descend_group at once.
    static constexpr unsigned kLookupGroup = 16;

    /// Where a lookup's descent ends: the leaf (an entry or a bucket) whose keys it must
    /// compare, or none.
    struct Descent {
        const Ref* leaf = nullptr;
    };

    /// The descents of lookups whose trie hashes under this map are hashes[0..n)
    /// (n <= kLookupGroup), into descents[0..n), comparing no key. They go level by level
    /// for the whole group, each level asking for the blocks of the next, so that the
    /// cache misses of different lookups overlap where one lookup's come one after
    /// another. lookup_at then finishes each lookup.
    void descend_group(const std::uint64_t* hashes, unsigned n, Descent* descents) const {
        std::uint64_t descending = 0;  // bit i: lookup i is still on a branch
        for (unsigned i = 0; i < n; ++i) {
            descents[i].leaf = &root_;
            descending |= std::uint64_t{1} << i;
        }
        for (unsigned depth = 0; descending != 0; ++depth) {
            for (std::uint64_t bits = descending; bits != 0; bits &= bits - 1) {
                const auto i = static_cast<unsigned>(std::countr_zero(bits));
                const Ref*& node = descents[i].leaf;
                if (!node->is_branch()) {
                    descending &= ~(std::uint64_t{1} << i);
                    continue;
                }
                if (detail::exhausted(depth)) {
                    panic("hash cannot be exhausted if we are on a branch");
                }
                node = node->branch()->get(detail::digit(hashes[i], depth));
                if (node == nullptr) {
                    descending &= ~(std::uint64_t{1} << i);
                } else if (node->is_branch()) {
                    __builtin_prefetch(node->branch());
                    node->prefetch_slots();
                } else if (node->is_entry()) {
                    __builtin_prefetch(node->entry());
                } else {
                    __builtin_prefetch(node->collision());
                }
            }
        }
    }

    /// lookup(key), for a key whose trie hash is h, from where its descent ended: the
    /// comparisons lookup makes, and only those.
    const Entry* lookup_at(Descent descent, const K& key, std::uint64_t h) const {
        return descent.leaf == nullptr ? nullptr : find_at_leaf(*descent.leaf, key, h).entry;
    }

    /// A new version mapping `key` to `value` (takes over both). Copies the root and
    /// one node per level of the key's path, even when an equal key maps to an
    /// identical value: the result always has its own path and a new entry.
    TrieMap insert(K key, V value) const {
        TrieMap copy(*this);
        copy.insert_in_place(std::move(key), std::move(value));
        return copy;
    }
    TrieMap insert(K key) const requires std::same_as<V, NoValue> {
        return insert(std::move(key), NoValue{});
    }

    /// Maps `key` to `value` in this record (takes over both); true when the key was
    /// new. A stored equal key is replaced, key object and value alike. Nodes this
    /// record holds alone are changed in place, so bulk building copies each node once.
    bool insert_in_place(K key, V value) {
        const std::uint64_t h = hash_of(key);
        return insert_in_place(std::move(key), std::move(value), KnownHash{h});
    }
    bool insert_in_place(K key, V value, KnownHash known) {
        const std::uint64_t h = known.value;
        EntryWithHash e = EntryWithHash::make(h, std::move(key), std::move(value));
        detail::make_writable(root_);
        if (!detail::insert_at(root_, e, h, 0, hashing())) {
            return false;
        }
        ++size_;
        return true;
    }
    bool insert_in_place(K key) requires std::same_as<V, NoValue> {
        return insert_in_place(std::move(key), NoValue{});
    }
    bool insert_in_place(K key, KnownHash h) requires std::same_as<V, NoValue> {
        return insert_in_place(std::move(key), NoValue{}, h);
    }

    /// A new version without `key`. When the key is absent, a copy of the receiver
    /// (same root); the copies made while searching are released first.
    TrieMap remove(const K& key) const {
        {
            TrieMap copy(*this);
            if (copy.remove_in_place(key)) {
                return copy;
            }
        }
        return *this;
    }

    /// Removes `key` from this record; true when an entry was removed. The removed
    /// entry is released (its key and value go with it unless another version holds it).
    bool remove_in_place(const K& key) { return remove_in_place(key, KnownHash{hash_of(key)}); }
    bool remove_in_place(const K& key, KnownHash known) {
        const std::uint64_t h = known.value;
        // A root that is a single entry leaves the map empty when it goes, and the empty
        // branch that then becomes the root is made first: nothing may fail once an
        // entry is gone.
        Ref empty = root_.is_entry() ? Ref(Ref::Branch::make(0)) : Ref();
        detail::make_writable(root_);
        if (!detail::remove_at(root_, key, h, 0, hashing())) {
            return false;
        }
        if (root_.is_null()) {
            root_ = std::move(empty);
        }
        --size_;
        return true;
    }

    /// A walk over every entry in trie order. Borrows this version: the map must stay
    /// alive and unchanged while the iterator is used.
    Iter iter() const { return Iter(root_, size_); }

    /// Calls `each(entry)` for every entry, in trie order: a whole walk without the
    /// iterator's bookkeeping (detail::for_each_entry).
    template <class Each>
    void for_each(Each&& each) const {
        detail::for_each_entry(root_, each);
    }

    /// Calls `visit(entry)` (an int result) on every entry this version holds alone, and
    /// returns the first nonzero result, or 0: see Ownership in the essay above. Entries
    /// in nodes shared with another holder are left out.
    template <class Visit>
    int visit_owned(Visit&& visit) const {
        return detail::visit_owned(root_, visit);
    }

    /// Whether both versions have the very same root (tests use it to see sharing).
    bool root_is(const TrieMap& other) const noexcept { return root_.same(other.root_); }

    /// Verifies the shape invariants (which allow a bucket above depth 11), that every
    /// entry's hash is its key's trie hash, the list invariants of each bucket, and that
    /// size matches the entries found.
    /// A broken invariant raises a panic naming it. Pairwise inequality of a bucket's
    /// keys is not checked: that would call key equality.
    void check_invariants() const {
        if (root_.is_null()) {
            panic("trie invariant: the root is absent");
        }
        const std::uint64_t found = check_slot(root_, 0, 0, true);
        if (found != size_) {
            panic("trie invariant: size is " + std::to_string(size_) + " but the trie holds " +
                  std::to_string(found) + " entries");
        }
    }

    /// The tree, one line per node, indented two spaces per level:
    ///   branch LEN/CAPACITY           a branch
    ///   SLOT: ...                     a child, by slot number
    ///   entry HASH KEY                a single-entry leaf (hash in hex)
    ///   collision LEN                 a bucket, its entries below it, newest first
    /// `print_key` renders a key.
    template <class PrintKey>
    std::string dump(PrintKey print_key) const {
        std::string out;
        dump_slot(out, root_, 0, "", print_key);
        return out;
    }

private:

    // Set algebra by structure (algebra.hpp) walks both operands' nodes.
    template <TrieKey, TrieHasher, Heap>
    friend struct detail::SetAlgebra;
    // So do steps merged into a set in another set's order (rehash.hpp).
    template <TrieKey, TrieHasher, Heap>
    friend struct detail::RehashedMergeAccess;

    /// What a search for a key finds, and whether it sits in a collision bucket.
    struct Found {
        const Entry* entry;
        bool in_bucket;
    };
    Found find(const K& key, std::uint64_t h) const {
        const Ref* node = &root_;
        unsigned depth = 0;
        // Each level reads the branch's bitmap and then one child slot: the slot's tag
        // says what the child is, so no block is read to learn its kind.
        while (node->is_branch()) {
            if (detail::exhausted(depth)) {
                panic("hash cannot be exhausted if we are on a branch");
            }
            node = node->branch()->get(detail::digit(h, depth));
            if (node == nullptr) {
                return {nullptr, false};
            }
            node->prefetch_slots();
            ++depth;
        }
        return find_at_leaf(*node, key, h);
    }

    /// find's end, on the leaf (an entry or a bucket) its descent reached.
    Found find_at_leaf(const Ref& leaf, const K& key, std::uint64_t h) const {
        const Ref* node = &leaf;
        const std::uint64_t feed = key.hash_feed();
        if (node->is_entry()) {
            const Entry* entry = node->entry();
            if (!hashing().matches(*entry, h, feed)) {
                return {nullptr, false};
            }
            detail::prefetch_value(entry->value());
            return {entry->key().equals(key) ? entry : nullptr, false};
        }
        for (const EntryWithHash& element : node->collision()->list) {
            if (hashing().matches(element.entry(), h, feed) && element.key().equals(key)) {
                return {element.get(), true};
            }
        }
        return {nullptr, true};
    }

    detail::TrieHashing<Hasher> hashing() const noexcept {
        return detail::TrieHashing<Hasher>{builder_};
    }

    TrieMap(const HashBuilder& builder, Ref root, std::uint64_t size) noexcept
        : builder_(builder), root_(std::move(root)), size_(size) {}

    static std::string hex(std::uint64_t value) {
        char text[17];
        std::snprintf(text, sizeof text, "%016" PRIx64, value);
        return text;
    }

    /// Entries found under `slot`, which sits at `depth`; `prefix` holds the digits of
    /// its path.
    std::uint64_t check_slot(const Ref& slot, unsigned depth, std::uint64_t prefix,
                             bool is_root) const {
        const auto broken = [&](const std::string& what) {
            panic("trie invariant: " + what + " at depth " + std::to_string(depth) + ", path " +
                  hex(prefix));
        };
        if (slot.is_null()) {
            broken("empty slot");
        }
        if (slot.use_count() == 0) {
            broken("a block with count 0");
        }
        const std::uint64_t path_mask =
            detail::exhausted(depth) ? ~std::uint64_t{0}
                                     : (std::uint64_t{1} << (detail::kBitsPerLevel * depth)) - 1;
        const auto check_entry = [&](const Entry& entry) {
            const std::uint64_t hash = hash_of(entry.key());
            if ((hash & path_mask) != prefix) {
                broken("entry hash " + hex(hash) + " does not follow its path");
            }
            if (hash_high(hash) != entry.hash_high()) {
                broken("entry hash " + hex(hash) + " is not the hash the entry keeps");
            }
        };
        if (slot.is_entry()) {
            check_entry(*slot.entry());
            return 1;
        }
        if (slot.is_collision()) {
            const auto& list = slot.collision()->list;
            if (depth > detail::kCollisionDepth) {
                broken("collision bucket below depth 11");
            }
            if (list.len() < 2) {
                broken("collision bucket with fewer than two entries");
            }
            list.check_invariants(
                [](const EntryWithHash& a, const EntryWithHash& b) { return a.get() == b.get(); });
            const std::uint64_t bucket_hash = hash_of(list.first()->key());
            for (const EntryWithHash& element : list) {
                check_entry(element.entry());
                if (hash_of(element.key()) != bucket_hash) {
                    broken("collision bucket holding two hashes");
                }
            }
            return list.len();
        }
        const auto& branch = *slot.branch();
        if (depth > detail::kMaxBranchDepth) {
            broken("branch below depth 10");
        }
        if (branch.len != branch.size() || branch.len > branch.capacity ||
            branch.capacity > Ref::Branch::kMaxCapacity) {
            broken("branch with len " + std::to_string(branch.len) + ", capacity " +
                   std::to_string(branch.capacity) + " and " + std::to_string(branch.size()) +
                   " bits set");
        }
        for (unsigned r = branch.len; r < branch.capacity; ++r) {
            if (!branch.slots()[r].is_null()) {
                broken("occupied slot beyond the branch's len");
            }
        }
        if (!is_root && branch.len == 0) {
            broken("empty branch below the root");
        }
        if (!is_root && branch.len == 1 && branch.first().is_entry()) {
            broken("branch whose only child is a single-entry leaf");
        }
        std::uint64_t found = 0;
        for (std::uint64_t bits = branch.bitmap(); bits != 0; bits &= bits - 1) {
            const auto i = static_cast<unsigned>(std::countr_zero(bits));
            const std::uint64_t child_prefix =
                prefix | (std::uint64_t{i} << (detail::kBitsPerLevel * depth));
            found += check_slot(*branch.get(i), depth + 1, child_prefix, false);
        }
        return found;
    }

    template <class PrintKey>
    void dump_slot(std::string& out, const Ref& slot, unsigned depth, const std::string& label,
                   PrintKey& print_key) const {
        out.append(2 * depth, ' ');
        out += label;
        if (slot.is_null()) {
            out += "null\n";
        } else if (slot.is_entry()) {
            out += "entry " + hex(hash_of(slot.entry()->key())) + " " +
                   print_key(slot.entry()->key()) + "\n";
        } else if (slot.is_collision()) {
            const auto& list = slot.collision()->list;
            out += "collision " + std::to_string(list.len()) + "\n";
            for (const EntryWithHash& element : list) {
                out.append(2 * depth + 2, ' ');
                out +=
                    "entry " + hex(hash_of(element.key())) + " " + print_key(element.key()) + "\n";
            }
        } else {
            const auto& branch = *slot.branch();
            out += "branch " + std::to_string(branch.len) + "/" + std::to_string(branch.capacity) +
                   "\n";
            for (std::uint64_t bits = branch.bitmap(); bits != 0; bits &= bits - 1) {
                const auto i = static_cast<unsigned>(std::countr_zero(bits));
                dump_slot(out, *branch.get(i), depth + 1, std::to_string(i) + ": ", print_key);
            }
        }
    }

    HashBuilder builder_;
    Ref root_;
    std::uint64_t size_ = 0;
};

/// The set form: entries without values.
template <TrieKey K, TrieHasher Hasher = SipHash13Hasher, Heap H = SystemHeap>
using TrieSet = TrieMap<K, NoValue, Hasher, H>;

}  // namespace quil
