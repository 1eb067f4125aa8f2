// Set algebra by structure: union, intersection, difference and symmetric difference of
// two sets that hash under one HashBuilder (every version derived from one original
// does), computed by walking both tries together. The extension calls these when the
// operands' HashBuilders agree and walks one operand into a copy of the other otherwise.
//
// What the result is. Each operation gives exactly what its walk algorithm gives, the
// one the extension runs on operands with different HashBuilders: the same elements, the
// same key objects, the same shape and bucket orders, and the same key comparisons in
// the same order. The walk algorithms, with L the operand that is copied and W the one
// that is walked (in trie order):
//   union                 L = the larger (o on a tie), W = the other; each w of W goes
//                         in by union_step: a key that equals itself silently (below)
//                         whose very object L already holds outside a bucket is left
//                         alone, anything else is inserted.
//   intersection          W = the smaller (s on a tie), probed P = the other; into a new
//                         set, each w of W that P holds is inserted.
//   difference            L = s, W = o; each w of W is removed.
//   symmetric difference  as union; each w of W is toggled by toggle_step: a silent key
//                         is removed, and inserted if that removed nothing; any other key
//                         is looked up, then removed or inserted.
//
// Why walking together gives the same. Everything the walk algorithm does for an element
// w happens on w's hash path, and the slot digits are the hash digits, so the work for
// the elements below one slot of W happens in that slot of the result alone, and W's
// trie order visits slots in increasing order: treating slot after slot, depth first,
// makes the same comparisons in the same order. Below a slot there are four cases:
//   - the same node in both operands (a subtree neither changed since they parted):
//     every element meets its own entry. Elements whose key equals itself silently
//     need no work (union and intersection keep the node, difference and symmetric
//     difference drop it), so a subtree of such elements without buckets is settled
//     by reading its branch blocks alone, whose slot tags say which entries are silent
//     (silent_subtree; the tags are in node.hpp);
//   - nothing on the copied side: in union and symmetric difference, W's subtree is the
//     result when it holds no bucket, since inserting distinct hashes into an empty
//     slot compares nothing and builds that very shape (the shape of a trie depends
//     only on the hashes it holds);
//   - two branches: slot by slot, without hashing anything;
//   - anything else (a leaf on either side, a bucket, an element that is not silent):
//     the walk algorithm's steps, replayed on that slot alone (replay), comparing exactly
//     what it compares.
// A branch whose children changed is made anew from its slots (SparseArray::make and
// set) and kept canonical as removal keeps it: a branch below the root left empty goes,
// one left with a single-entry leaf as its only child gives way to that leaf. Results
// share every untouched subtree of both operands, and entry blocks are shared rather
// than remade (entries are never written, and an entry's hash half is the same under
// one HashBuilder).
//
// Silence. A key equals itself silently when comparing it with the very same key object
// is true and observable by nobody (K::equals_itself_silently, optional; keys without it
// are never silent, so every comparison of theirs is made). same_object (optional, false
// without it) says two keys are one object.
//
// Failure. equals may throw, and so may allocation. Only nodes made or copied by the
// operation are written; everything it made is held by a NodeRef on the C++ stack, so
// unwinding releases it and the operands are untouched.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <utility>

#include "quil/common/memory.hpp"
#include "quil/common/panic.hpp"
#include "quil/trie/insert.hpp"
#include "quil/trie/node.hpp"
#include "quil/trie/remove.hpp"
#include "quil/trie/trie.hpp"

namespace quil {

namespace detail {

/// Whether two keys are one object.
template <class K>
bool same_object(const K& a, const K& b) noexcept {
    if constexpr (requires {
                      { a.same_object(b) }
                      noexcept->std::same_as<bool>;
                  }) {
        return a.same_object(b);
    } else {
        return false;
    }
}

enum class SetOperation { kUnion, kIntersection, kDifference, kSymmetricDifference };

/// The four operations over one pair of tries. `a` is the reference operand: the one
/// copied (union, difference, symmetric difference) or, for intersection, the walked one
/// whose objects survive; "unchanged" means the result below a slot is a's node there.
template <SetOperation Op, TrieKey K, TrieHasher Hasher, Heap H>
class SetMerge {
public:
    using Ref = NodeRef<K, NoValue, H>;
    using Branch = typename Ref::Branch;
    using EntryType = Entry<K, NoValue, H>;
    using Handle = EntryWithHash<K, NoValue, H>;

    explicit SetMerge(const HashBuilder& builder) noexcept : hashing_{builder} {}

    /// The result of a root against b root, as a root: never null, a branch for a new set.
    Ref root(const Ref& a, const Ref& b) {
        Merged merged = merge(a, b, 0);
        Ref result = merged.changed ? std::move(merged.node) : a;
        if (result.is_null()) {
            return Ref(Branch::make(0));
        }
        if constexpr (Op == SetOperation::kIntersection) {
            if (result.is_entry()) {
                // A new set's root is a branch.
                const unsigned i = digit(hashing_.of(*result.entry()), 0);
                Ref branch(Branch::make(1));
                branch_set(branch, i, std::move(result));
                return branch;
            }
        }
        return result;
    }

    /// The size of the result minus the size of a.
    std::int64_t delta() const noexcept { return delta_; }

private:
    static constexpr bool kKeepsIdentical =
        Op == SetOperation::kUnion || Op == SetOperation::kIntersection;
    /// Removal compresses the root like any other branch; insertion into a copy and a
    /// new set's making never do.
    static constexpr bool kCompressesRoot = !kKeepsIdentical;

    /// The result below one slot: a's node itself when not changed, else `node` (null
    /// when nothing is left).
    struct Merged {
        Ref node;
        bool changed = false;
    };
    static Merged unchanged() { return {}; }
    static Merged changed_to(Ref node) { return {std::move(node), true}; }

    Merged merge(const Ref& a, const Ref& b, unsigned depth) {
        if (b.is_null()) {
            if constexpr (Op == SetOperation::kIntersection) {
                if (!a.is_null()) {
                    delta_ -= static_cast<std::int64_t>(count_entries(a));
                    return changed_to(Ref());
                }
            }
            return unchanged();
        }
        if (a.is_null()) {
            if constexpr (Op == SetOperation::kUnion || Op == SetOperation::kSymmetricDifference) {
                // Distinct hashes go into an empty slot without a comparison and make W's
                // very shape; a bucket's elements compare with each other on the way in.
                std::uint64_t count = 0;
                if (bucket_free(b, count)) {
                    delta_ += static_cast<std::int64_t>(count);
                    return changed_to(b);
                }
                return replay(a, b, depth);
            }
            return unchanged();
        }
        if (a.same(b)) {
            return identical(a, depth);
        }
        if (a.is_branch() && b.is_branch()) {
            return merge_branches(a, b, depth);
        }
        return replay(a, b, depth);
    }

    /// The same node on both sides.
    Merged identical(const Ref& node, unsigned depth) {
        std::uint64_t count = 0;
        if (silent_subtree(node, count)) {
            if constexpr (kKeepsIdentical) {
                return unchanged();
            } else {
                delta_ -= static_cast<std::int64_t>(count);
                return changed_to(Ref());
            }
        }
        if (node.is_branch()) {
            return merge_branches(node, node, depth);
        }
        return replay(node, node, depth);
    }

    Merged merge_branches(const Ref& a, const Ref& b, unsigned depth) {
        if (exhausted(depth)) {
            panic("hash cannot be exhausted if we are on a branch");
        }
        const Branch& left = *a.branch();
        const Branch& right = *b.branch();
        const std::uint64_t a_bits = left.bitmap();
        const std::uint64_t b_bits = right.bitmap();
        std::uint64_t visit = 0;
        switch (Op) {
            case SetOperation::kUnion:
            case SetOperation::kSymmetricDifference:
                visit = a_bits | b_bits;
                break;
            case SetOperation::kIntersection:
                visit = a_bits;
                break;
            case SetOperation::kDifference:
                visit = a_bits & b_bits;
                break;
        }
        // Most children are visited (a shared one by silent_subtree, which reads its
        // branch block): their blocks are asked for together first, so that their cache
        // misses overlap instead of coming one child after another.
        for (std::uint64_t bits = visit & a_bits; bits != 0; bits &= bits - 1) {
            left.get(static_cast<unsigned>(std::countr_zero(bits)))->prefetch_node();
        }
        // Children that changed, by slot; the rest are a's.
        std::array<Ref, kDegree> results;
        Frame frame{frame_, &left, &results, 0, a_bits, 0};
        std::uint64_t& changed = frame.changed;
        std::uint64_t& present = frame.present;
        frame_ = &frame;
        for (std::uint64_t bits = visit; bits != 0; bits &= bits - 1) {
            const auto i = static_cast<unsigned>(std::countr_zero(bits));
            const Ref* a_child = left.get(i);
            const Ref* b_child = right.get(i);
            frame.slot = i;
            Merged child = merge(a_child != nullptr ? *a_child : absent_,
                                 b_child != nullptr ? *b_child : absent_, depth + 1);
            if (!child.changed) {
                continue;
            }
            const std::uint64_t bit = std::uint64_t{1} << i;
            changed |= bit;
            if (child.node.is_null() || (child.node.is_branch() && child.node.branch()->len == 0)) {
                present &= ~bit;
            } else {
                present |= bit;
                results[i] = std::move(child.node);
            }
        }
        frame_ = frame.parent;
        if (changed == 0) {
            return unchanged();
        }
        const auto len = static_cast<unsigned>(std::popcount(present));
        if (len == 0) {
            return changed_to(Ref());
        }
        if (len == 1 && (depth != 0 || kCompressesRoot)) {
            // A branch below the root never has a single-entry leaf as its only child.
            const auto i = static_cast<unsigned>(std::countr_zero(present));
            const Ref& only = (changed >> i) & 1u ? results[i] : *left.get(i);
            if (only.is_entry()) {
                return changed_to(only);
            }
        }
        if (present == b_bits && &left != &right && holds_children_of(right, present, changed,
                                                                      results, left)) {
            // The very children of b's branch (in a union where b only added to a, say):
            // b's node is the result, and nothing is copied or counted again.
            return changed_to(b);
        }
        Ref made(Branch::make(len));
        for (std::uint64_t bits = present; bits != 0; bits &= bits - 1) {
            const auto i = static_cast<unsigned>(std::countr_zero(bits));
            branch_set(made, i, (changed >> i) & 1u ? std::move(results[i]) : *left.get(i));
        }
        return changed_to(std::move(made));
    }

    /// Whether the merged children of a branch (results where `changed`, a's children
    /// elsewhere, in the slots of `present`) are the very children of `right`, which has
    /// those slots.
    static bool holds_children_of(const Branch& right, std::uint64_t present,
                                  std::uint64_t changed, const std::array<Ref, kDegree>& results,
                                  const Branch& left) noexcept {
        const Ref* theirs = right.slots();
        for (std::uint64_t bits = present; bits != 0; bits &= bits - 1) {
            const auto i = static_cast<unsigned>(std::countr_zero(bits));
            const Ref& ours = (changed >> i) & 1u ? results[i] : *left.get(i);
            if (!ours.same(*theirs++)) {
                return false;
            }
        }
        return true;
    }

    /// The walk algorithm's steps for the elements below one slot, on that slot alone:
    /// W's elements into a's node (for intersection: a's elements looked up in b's).
    Merged replay(const Ref& a, const Ref& b, unsigned depth) {
        Ref slot;
        bool changed = false;
        if constexpr (Op == SetOperation::kIntersection) {
            if (depth == 0) {
                slot = Ref(Branch::make(0));
            }
            std::int64_t kept = 0;
            std::int64_t walked = 0;
            for_each_entry(a, [&](const EntryType& w) {
                ++walked;
                const std::uint64_t h = hashing_.of(w);
                if (find_at(b, w.key(), h, depth).entry != nullptr && put(slot, w, h, depth)) {
                    ++kept;
                }
            });
            delta_ += kept - walked;
            return changed_to(std::move(slot));
        } else {
            slot = a;
            for_each_entry(b, [&](const EntryType& w) {
                const std::uint64_t h = hashing_.of(w);
                if constexpr (Op == SetOperation::kUnion) {
                    changed |= union_step(slot, w, h, depth);
                } else if constexpr (Op == SetOperation::kDifference) {
                    changed |= take(slot, w.key(), h, depth);
                } else {
                    changed |= toggle_step(slot, w, h, depth);
                }
            });
        }
        if (!changed) {
            return unchanged();
        }
        return changed_to(std::move(slot));
    }

    bool union_step(Ref& slot, const EntryType& w, std::uint64_t h, unsigned depth) {
        if (equals_itself_silently(w.key())) {
            const Found found = find_at(slot, w.key(), h, depth);
            if (found.entry != nullptr && !found.in_bucket &&
                same_object(found.entry->key(), w.key())) {
                return false;
            }
        }
        if (put(slot, w, h, depth)) {
            ++delta_;
        }
        return true;
    }

    bool toggle_step(Ref& slot, const EntryType& w, std::uint64_t h, unsigned depth) {
        if (equals_itself_silently(w.key())) {
            if (take(slot, w.key(), h, depth)) {
                return true;
            }
        } else if (find_at(slot, w.key(), h, depth).entry != nullptr) {
            take(slot, w.key(), h, depth);
            return true;
        }
        if (put(slot, w, h, depth)) {
            ++delta_;
        }
        return true;
    }

    /// Inserts w (its entry shared) into `slot` at `depth`; true when it was new.
    bool put(Ref& slot, const EntryType& w, std::uint64_t h, unsigned depth) {
        Handle e = Handle::share(w);
        if (slot.is_null()) {
            slot = Ref(std::move(e));
            return true;
        }
        if constexpr (Op == SetOperation::kIntersection ||
                      Op == SetOperation::kSymmetricDifference) {
            if (depth != 0 && slot.is_entry() &&
                hashing_.matches(*slot.entry(), h, w.key().hash_feed())) {
                // w meets a single entry with its very hash. In the walk's result that
                // entry sits where nothing else shares its digits, which can be above
                // this slot (a new set holds only what was kept so far, and removals
                // lift a lone entry), and the chain w splits down from there compares
                // the two keys once per level: the levels above this slot first.
                const EntryType& stored = *slot.entry();
                for (unsigned level = walk_depth(h); level < depth; ++level) {
                    if (stored.key().equals(w.key())) {
                        // The walk's bucket insert compares once more and replaces.
                        if (stored.key().equals(w.key())) {
                            slot = Ref(std::move(e));
                            return false;
                        }
                        break;
                    }
                }
            }
        }
        make_writable(slot);
        return insert_at(slot, e, h, depth, hashing_);
    }

    /// The depth at which the walk's result holds the single entry whose hash is h,
    /// alone in the slot being replayed: one below the longest digit prefix it shares
    /// with the elements around it (the last element the result holds before this slot
    /// and, for symmetric difference, the first of a's elements after it, not yet
    /// reached); with none around, the root's child, or the root itself once a removal
    /// has compressed it.
    unsigned walk_depth(std::uint64_t h) const {
        const EntryType* before = nullptr;
        const EntryType* after = nullptr;
        for (const Frame* frame = frame_; frame != nullptr && before == nullptr;
             frame = frame->parent) {
            const std::uint64_t below = frame->present & ((std::uint64_t{1} << frame->slot) - 1);
            if (below != 0) {
                const auto j = static_cast<unsigned>(63 - std::countl_zero(below));
                before = &edge_entry(
                    (frame->changed >> j) & 1u ? (*frame->results)[j] : *frame->a->get(j), false);
            }
        }
        if constexpr (Op == SetOperation::kSymmetricDifference) {
            for (const Frame* frame = frame_; frame != nullptr && after == nullptr;
                 frame = frame->parent) {
                const std::uint64_t above =
                    frame->a->bitmap() & ~((std::uint64_t{2} << frame->slot) - 1);
                if (above != 0) {
                    after = &edge_entry(
                        *frame->a->get(static_cast<unsigned>(std::countr_zero(above))), true);
                }
            }
        }
        unsigned depth = 0;
        bool any = false;
        for (const EntryType* neighbour : {before, after}) {
            if (neighbour != nullptr) {
                any = true;
                depth = std::max(depth, 1 + common_digits(hashing_.of(*neighbour), h));
            }
        }
        if (!any) {
            return Op == SetOperation::kSymmetricDifference && removed_any_ ? 0 : 1;
        }
        return depth;
    }

    /// How many leading digits two hashes share.
    static unsigned common_digits(std::uint64_t x, std::uint64_t y) noexcept {
        const std::uint64_t differ = x ^ y;
        return differ == 0 ? kCollisionDepth
                           : static_cast<unsigned>(std::countr_zero(differ)) / kBitsPerLevel;
    }

    /// The first (or last) entry in trie order below a node.
    static const EntryType& edge_entry(const Ref& node, bool first) {
        const Ref* at = &node;
        while (at->is_branch()) {
            const Branch& branch = *at->branch();
            at = &branch.slots()[first ? 0 : branch.len - 1];
        }
        if (at->is_entry()) {
            return *at->entry();
        }
        return at->collision()->list.first()->entry();
    }

    /// Removes `key` from `slot` at `depth`; true when something was removed. A root
    /// emptied by it is an empty branch, as in TrieMap::remove_in_place.
    bool take(Ref& slot, const K& key, std::uint64_t h, unsigned depth) {
        if (slot.is_null()) {
            return false;
        }
        make_writable(slot);
        if (!remove_at(slot, key, h, depth, hashing_)) {
            return false;
        }
        --delta_;
        removed_any_ = true;
        if (depth == 0 && slot.is_null()) {
            slot = Ref(Branch::make(0));
        }
        return true;
    }

    using Found = FoundBelow<K, NoValue, H>;
    /// TrieMap's lookup, from `slot` at `depth`.
    Found find_at(const Ref& slot, const K& key, std::uint64_t h, unsigned depth) const {
        return find_below(slot, key, h, depth, hashing_);
    }

    /// The number of entries below `slot`; reads no entry block.
    static std::uint64_t count_entries(const Ref& slot) {
        if (slot.is_entry()) {
            return 1;
        }
        if (slot.is_collision()) {
            return slot.collision()->list.len();
        }
        std::uint64_t count = 0;
        const Branch& branch = *slot.branch();
        for (unsigned r = 0; r < branch.len; ++r) {
            count += count_entries(branch.slots()[r]);
        }
        return count;
    }

    /// Whether no bucket sits below `slot`; adds the entries found to `count`. Reads no
    /// entry block.
    static bool bucket_free(const Ref& slot, std::uint64_t& count) {
        if (slot.is_entry()) {
            ++count;
            return true;
        }
        if (slot.is_collision()) {
            return false;
        }
        const Branch& branch = *slot.branch();
        for (unsigned r = 0; r < branch.len; ++r) {
            if (!bucket_free(branch.slots()[r], count)) {
                return false;
            }
        }
        return true;
    }

    /// Whether every entry below `slot` is a single-entry leaf whose key equals itself
    /// silently; adds the entries found to `count`.
    static bool silent_subtree(const Ref& slot, std::uint64_t& count) {
        if (slot.is_entry()) {
            ++count;
            return slot.is_silent_entry();  // from the slot's tag: no entry block is read
        }
        if (slot.is_collision()) {
            return false;
        }
        const Branch& branch = *slot.branch();
        const Ref* children = branch.slots();
        // Most children are single entries: their tags are checked here, without a call.
        for (unsigned r = 0; r < branch.len; ++r) {
            const Ref& child = children[r];
            if (child.is_entry()) {
                if (!child.is_silent_entry()) {
                    return false;
                }
                ++count;
            } else if (!silent_subtree(child, count)) {
                return false;
            }
        }
        return true;
    }

    /// One branch being merged, for walk_depth: a's branch, the children merged so far
    /// (results for those that changed, present for what the result holds), and the
    /// slot being merged now.
    struct Frame {
        const Frame* parent;
        const Branch* a;
        const std::array<Ref, kDegree>* results;
        std::uint64_t changed;
        std::uint64_t present;
        unsigned slot;
    };

    TrieHashing<Hasher> hashing_;
    std::int64_t delta_ = 0;
    bool removed_any_ = false;
    const Frame* frame_ = nullptr;
    const Ref absent_;  // what an empty slot of a branch reads as
};

/// Friend of TrieMap: reads the operands' roots and makes the result.
template <TrieKey K, TrieHasher Hasher, Heap H>
struct SetAlgebra {
    using Set = TrieSet<K, Hasher, H>;

    template <SetOperation Op>
    static Set run(const Set& a, const Set& b) {
        if (!(a.builder_ == b.builder_)) {
            panic("set algebra by structure needs operands with one HashBuilder");
        }
        SetMerge<Op, K, Hasher, H> merge(a.builder_);
        auto root = merge.root(a.root_, b.root_);
        const auto size =
            static_cast<std::uint64_t>(static_cast<std::int64_t>(a.size_) + merge.delta());
        return Set(a.builder_, std::move(root), size);
    }
};

}  // namespace detail

// Each operation takes two sets with one HashBuilder (a panic otherwise) and returns the
// set its walk algorithm returns (see the top of this file), under that HashBuilder.

/// s | o: the larger operand (o on a tie) with the other's elements put in; an element in
/// both is the smaller operand's object (s's on a tie).
template <TrieKey K, TrieHasher Hasher, Heap H>
TrieSet<K, Hasher, H> union_of(const TrieSet<K, Hasher, H>& s, const TrieSet<K, Hasher, H>& o) {
    using Algebra = detail::SetAlgebra<K, Hasher, H>;
    return s.size() > o.size() ? Algebra::template run<detail::SetOperation::kUnion>(s, o)
                               : Algebra::template run<detail::SetOperation::kUnion>(o, s);
}

/// s & o: the smaller operand's (s's on a tie) elements that the other holds.
template <TrieKey K, TrieHasher Hasher, Heap H>
TrieSet<K, Hasher, H> intersection_of(const TrieSet<K, Hasher, H>& s,
                                      const TrieSet<K, Hasher, H>& o) {
    using Algebra = detail::SetAlgebra<K, Hasher, H>;
    return s.size() <= o.size() ? Algebra::template run<detail::SetOperation::kIntersection>(s, o)
                                : Algebra::template run<detail::SetOperation::kIntersection>(o, s);
}

/// s - o: s without each element of o.
template <TrieKey K, TrieHasher Hasher, Heap H>
TrieSet<K, Hasher, H> difference_of(const TrieSet<K, Hasher, H>& s,
                                    const TrieSet<K, Hasher, H>& o) {
    return detail::SetAlgebra<K, Hasher, H>::template run<detail::SetOperation::kDifference>(s, o);
}

/// s ^ o: the larger operand (o on a tie) with each element of the other toggled.
template <TrieKey K, TrieHasher Hasher, Heap H>
TrieSet<K, Hasher, H> symmetric_difference_of(const TrieSet<K, Hasher, H>& s,
                                              const TrieSet<K, Hasher, H>& o) {
    using Algebra = detail::SetAlgebra<K, Hasher, H>;
    constexpr auto kOp = detail::SetOperation::kSymmetricDifference;
    return s.size() > o.size() ? Algebra::template run<kOp>(s, o)
                               : Algebra::template run<kOp>(o, s);
}

}  // namespace quil
