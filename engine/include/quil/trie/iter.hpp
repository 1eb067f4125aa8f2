// TrieIter: the one whole-map walk of the hash trie, depth first without recursion.
// Everything the container layer composes from a walk (equality, reprs, hashes,
// pickling, set algebra, its iterators) comes through here.
//
// Order: a branch's children in increasing slot order, a bucket from its head (newest
// first). Since the slot at depth d is digit d of the trie hash, entries come out sorted
// by their hashes compared digit by digit, digit 0 (bits 0-5) first; the order depends
// only on the hashes (so on the map's HashBuilder), not on the shape or insertion order.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "quil/common/memory.hpp"
#include "quil/trie/node.hpp"

namespace quil {

/// Walks one version. It holds no counts: the version must stay alive and unchanged
/// while the iterator is used. Copies walk on independently from the same position.
template <class K, class V, Heap H>
class TrieIter {
    using Ref = detail::NodeRef<K, V, H>;
    using BucketList = typename detail::Collision<K, V, H>::List;

public:
    using Entry = quil::Entry<K, V, H>;

    /// Positioned before the first entry of the trie under `root`, which holds `size`.
    TrieIter(const Ref& root, std::uint64_t size) noexcept : remaining_(size) {
        if (size == 0) {
            return;
        }
        if (root.is_branch()) {
            push_branch(*root.branch());
        } else if (root.is_entry()) {
            stack_[len_++] = Cursor::of_single(root.entry());
        } else {
            push_collision(*root.collision());
        }
    }

    TrieIter(const TrieIter& other) : len_(other.len_), remaining_(other.remaining_) {
        if (other.on_heap()) {
            stack_ = allocate(other.capacity_);
            capacity_ = other.capacity_;
        }
        std::copy(other.stack_, other.stack_ + len_, stack_);
    }
    TrieIter(TrieIter&& other) noexcept : len_(other.len_), remaining_(other.remaining_) {
        if (other.on_heap()) {
            stack_ = std::exchange(other.stack_, other.inline_);
            capacity_ = std::exchange(other.capacity_, kInlineCursors);
        } else {
            std::copy(other.stack_, other.stack_ + len_, stack_);
        }
        other.len_ = 0;
        other.remaining_ = 0;
    }
    TrieIter& operator=(const TrieIter& other) {
        if (this != &other) {
            TrieIter(other).swap_into(*this);
        }
        return *this;
    }
    TrieIter& operator=(TrieIter&& other) noexcept {
        if (this != &other) {
            TrieIter(std::move(other)).swap_into(*this);
        }
        return *this;
    }
    ~TrieIter() { free_heap(); }

    /// The next entry, borrowed from the version; null at the end, and on every call
    /// after it. If it throws (out of memory), the walk is where it was.
    const Entry* next() {
        while (len_ != 0) {
            Cursor& top = stack_[len_ - 1];
            switch (top.kind) {
                case CursorKind::kBranch: {
                    if (top.branch.next == top.branch.end) {
                        --len_;
                        break;
                    }
                    const Ref& child = *top.branch.next;
                    if (child.is_entry()) {
                        // Single-entry children come straight from their parent's cursor.
                        ++top.branch.next;
                        --remaining_;
                        return child.entry();
                    }
                    // Room for the child's cursor is made before this cursor moves past
                    // the child: a next() that runs out of memory leaves the walk where it
                    // was, to be resumed. Growing moves the stack, and `top` with it.
                    reserve_one();
                    ++stack_[len_ - 1].branch.next;
                    if (child.is_branch()) {
                        push_branch(*child.branch());
                    } else {
                        push_collision(*child.collision());
                    }
                    break;
                }
                case CursorKind::kCollision: {
                    const auto* element = top.collision.next();
                    if (element == nullptr) {
                        --len_;
                        break;
                    }
                    --remaining_;
                    return element->get();
                }
                case CursorKind::kSingle: {
                    const Entry* entry = std::exchange(top.single, nullptr);
                    if (entry == nullptr) {
                        --len_;
                        break;
                    }
                    --remaining_;
                    return entry;
                }
            }
        }
        return nullptr;
    }

    /// Exactly the number of entries next() will still yield.
    std::uint64_t remaining() const noexcept { return remaining_; }

    /// Cursors the stack has room for: 4 inside the iterator, then 8, then 16 on the
    /// heap (a degree-64 trie needs at most 12).
    std::size_t stack_capacity() const noexcept { return capacity_; }

private:
    static constexpr std::uint32_t kInlineCursors = 4;

    enum class CursorKind : std::uint8_t { kBranch, kCollision, kSingle };
    struct BranchCursor {
        const Ref* next;
        const Ref* end;
    };
    struct Cursor {
        // No variant member is initialised here: each factory below sets one.
        Cursor() noexcept {}

        static Cursor of_branch(const Ref* begin, const Ref* end) noexcept {
            Cursor cursor;
            cursor.kind = CursorKind::kBranch;
            cursor.branch = {begin, end};
            return cursor;
        }
        static Cursor of_collision(const BucketList& list) noexcept {
            Cursor cursor;
            cursor.kind = CursorKind::kCollision;
            cursor.collision = list.cursor();
            return cursor;
        }
        static Cursor of_single(const Entry* entry) noexcept {
            Cursor cursor;
            cursor.kind = CursorKind::kSingle;
            cursor.single = entry;
            return cursor;
        }

        CursorKind kind;
        union {
            BranchCursor branch;
            typename BucketList::Cursor collision;
            const Entry* single;  // null once yielded
        };
    };
    // The stack lives in raw blocks from H and is copied with std::copy.
    static_assert(std::is_trivially_copyable_v<Cursor>);

    bool on_heap() const noexcept { return stack_ != inline_; }

    static Cursor* allocate(std::uint32_t capacity) {
        return static_cast<Cursor*>(H::allocate(capacity * sizeof(Cursor)));
    }
    void free_heap() noexcept {
        if (on_heap()) {
            H::deallocate(stack_, capacity_ * sizeof(Cursor));
        }
    }

    /// Makes room for one more cursor; changes nothing if that fails.
    void reserve_one() {
        if (len_ == capacity_) {
            // The next power of two above the current length.
            const std::uint32_t capacity = std::bit_ceil(len_ + 1);
            Cursor* grown = allocate(capacity);
            std::copy(stack_, stack_ + len_, grown);
            free_heap();
            stack_ = grown;
            capacity_ = capacity;
        }
    }
    void push(const Cursor& cursor) {
        reserve_one();
        stack_[len_++] = cursor;
    }
    void push_branch(const typename Ref::Branch& branch) {
        push(Cursor::of_branch(branch.slots(), branch.slots() + branch.len));
    }
    void push_collision(const typename Ref::Bucket& bucket) {
        push(Cursor::of_collision(bucket.list));
    }

    /// Moves this iterator's state into `target` (whose own heap buffer is freed).
    void swap_into(TrieIter& target) noexcept {
        target.free_heap();
        target.len_ = len_;
        target.remaining_ = remaining_;
        if (on_heap()) {
            target.stack_ = std::exchange(stack_, inline_);
            target.capacity_ = std::exchange(capacity_, kInlineCursors);
        } else {
            target.stack_ = target.inline_;
            target.capacity_ = kInlineCursors;
            std::copy(stack_, stack_ + len_, target.stack_);
        }
        len_ = 0;
    }

    Cursor inline_[kInlineCursors];
    Cursor* stack_ = inline_;
    std::uint32_t len_ = 0;
    std::uint32_t capacity_ = kInlineCursors;
    std::uint64_t remaining_ = 0;
};

}  // namespace quil
