// The head of every trie node block (NodeHeader), and SparseArray: the branch node of
// the hash trie, a 64-bit occupancy bitmap followed by the occupied child slots, stored
// inline in the same block. The node model (node.hpp) adds the collision bucket, the
// other kind of node block.
//
//   +-------+-----+----------+-----+--------+---------+-----+------------------+
//   | count | len | capacity | pad | bitmap | slot 0  | ... | slot capacity-1  |
//   +-------+-----+----------+-----+--------+---------+-----+------------------+
//      4      1       1         2      8       8 each
//
// Bit i of the bitmap is set exactly when slot i (0..63) is occupied; its child sits at
// rank(i) = popcount(bitmap & (2^i - 1)), so children are kept in increasing slot order
// and len == popcount(bitmap). Slots from len up to capacity hold the empty Slot.
//
// A block never grows in place: when a unique branch is full, set() moves its slots
// into a block of capacity max(4, 2 * capacity) (0, 4, 8, 16, 32, 64; at most 64 for
// branches made with other capacities by copies and bulk builds) and frees the old one,
// so callers pass the pointer by reference and store it back into the parent slot.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "quil/common/memory.hpp"
#include "quil/common/panic.hpp"

namespace quil::detail {

/// The head of a node block. The count sits first, as in every other engine block, so
/// a child slot reaches any block's count without asking what it points at. What kind
/// of node a block is, the slot that points at it says (node.hpp): the header holds no
/// kind, so descending a branch reads its bitmap without first reading a kind.
template <class Counts>
struct NodeHeader {
    NodeHeader() noexcept = default;
    NodeHeader(const NodeHeader&) = delete;
    NodeHeader& operator=(const NodeHeader&) = delete;

    typename Counts::Count count{1};
    // Branches only: occupied slots and slots allocated inline after the block's head.
    // With the count they fill the first 8 bytes, which keeps a branch head (with its
    // bitmap) at 16 bytes.
    std::uint8_t len = 0;
    std::uint8_t capacity = 0;
};

/// Slot is a one-word-ish owning handle: default-made means empty, copying clones it,
/// moving and destroying never throw.
template <class Slot, Heap H>
class SparseArray : public NodeHeader<typename H::Counts> {
    using Header = NodeHeader<typename H::Counts>;

public:
    using Header::capacity;
    using Header::count;
    using Header::len;

    static constexpr unsigned kMaxCapacity = 64;
    static constexpr unsigned kMinGrowth = 4;

    std::uint64_t bitmap = 0;

    /// A unique (count 1) empty branch with room for `capacity` children. Capacity 0 is
    /// the empty branch of a new map's root.
    static SparseArray* make(unsigned capacity) {
        SparseArray* array = allocate(capacity);
        std::uninitialized_value_construct_n(array->slots(), capacity);
        return array;
    }

    /// The shallow copy taken when a shared branch must be written: the same bitmap and
    /// clones of the children, with exactly one spare slot so that the insertion that
    /// usually follows does not reallocate.
    static SparseArray* copy_of(const SparseArray& source) {
        const unsigned len = source.len;
        const unsigned capacity = std::min(len + 1, kMaxCapacity);
        SparseArray* copy = allocate(capacity);
        copy->bitmap = source.bitmap;
        copy->len = source.len;
        Slot* end = std::uninitialized_copy_n(source.slots(), len, copy->slots());
        std::uninitialized_value_construct_n(end, capacity - len);
        return copy;
    }

    /// Releases the children in slot order and frees the block.
    static void destroy(SparseArray* array) noexcept {
        const unsigned capacity = array->capacity;
        Slot* slots = array->slots();
        for (unsigned i = 0; i < capacity; ++i) {
            slots[i].~Slot();
        }
        array->~SparseArray();
        H::deallocate(array, bytes_for(capacity));
    }

    static constexpr std::size_t bytes_for(unsigned capacity) noexcept {
        return sizeof(SparseArray) + capacity * sizeof(Slot);
    }

    Slot* slots() noexcept {
        return std::launder(
            reinterpret_cast<Slot*>(reinterpret_cast<std::byte*>(this) + sizeof(SparseArray)));
    }
    const Slot* slots() const noexcept { return const_cast<SparseArray*>(this)->slots(); }

    bool has(unsigned i) const noexcept { return ((bitmap >> i) & 1u) != 0; }

    /// Number of occupied slots below slot i: the position of slot i's child.
    unsigned rank(unsigned i) const noexcept {
        return static_cast<unsigned>(std::popcount(bitmap & ((std::uint64_t{1} << i) - 1)));
    }

    std::size_t size() const noexcept { return static_cast<std::size_t>(std::popcount(bitmap)); }

    /// The child of slot i, or null when the slot is empty.
    Slot* get(unsigned i) {
        if (!has(i)) {
            return nullptr;
        }
        const unsigned r = rank(i);
        if (r >= len) {
            panic_index_out_of_bounds(len, r);
        }
        return slots() + r;
    }
    const Slot* get(unsigned i) const { return const_cast<SparseArray*>(this)->get(i); }

    /// Puts `child` at slot i of the unique branch `array`, releasing a child already
    /// there. May move the branch to a larger block; `array` is updated then.
    static void set(SparseArray*& array, unsigned i, Slot child) {
        SparseArray* self = array;
        const unsigned r = self->rank(i);
        if (self->has(i)) {
            if (r >= self->len) {
                panic_index_out_of_bounds(self->len, r);
            }
            self->slots()[r] = std::move(child);
            return;
        }
        if (r > self->len) {
            panic("insertion index (is " + std::to_string(r) + ") should be <= len (is " +
                  std::to_string(self->len) + ")");
        }
        if (self->len == self->capacity) {
            self = grow(self);
            array = self;
        }
        Slot* slots = self->slots();
        std::move_backward(slots + r, slots + self->len, slots + self->len + 1);
        slots[r] = std::move(child);
        self->bitmap |= std::uint64_t{1} << i;
        ++self->len;
    }

    /// Empties slot i, releasing its child; does nothing when the slot is empty.
    void remove(unsigned i) {
        if (!has(i)) {
            return;
        }
        const unsigned r = rank(i);
        if (r >= len) {
            panic("removal index (is " + std::to_string(r) + ") should be < len (is " +
                  std::to_string(len) + ")");
        }
        Slot* slots = this->slots();
        Slot removed = std::move(slots[r]);
        std::move(slots + r + 1, slots + len, slots + r);
        slots[len - 1] = Slot();
        bitmap &= ~(std::uint64_t{1} << i);
        --len;
    }

    /// The child at position 0. The branch must not be empty.
    Slot& first() noexcept { return slots()[0]; }
    const Slot& first() const noexcept { return slots()[0]; }

private:
    explicit SparseArray(unsigned slot_capacity) noexcept {
        capacity = static_cast<std::uint8_t>(slot_capacity);
    }

    /// A block with its head made and its slots not yet constructed.
    static SparseArray* allocate(unsigned capacity) {
        static_assert(std::is_nothrow_default_constructible_v<Slot> &&
                      std::is_nothrow_move_constructible_v<Slot> &&
                      std::is_nothrow_move_assignable_v<Slot> &&
                      std::is_nothrow_copy_constructible_v<Slot>);
        static_assert(alignof(Slot) <= alignof(SparseArray) &&
                      sizeof(SparseArray) % alignof(Slot) == 0);
        return ::new (H::allocate(bytes_for(capacity))) SparseArray(capacity);
    }

    /// Moves a full unique branch into a block twice as large (at least 4 slots, at most
    /// 64: a branch made with exactly its children, such as 40, stops at 64) and frees
    /// the old block. The new block takes over the old one's single count.
    static SparseArray* grow(SparseArray* full) {
        const unsigned capacity = std::min(kMaxCapacity, std::max(kMinGrowth, 2u * full->capacity));
        SparseArray* grown = allocate(capacity);
        grown->bitmap = full->bitmap;
        grown->len = full->len;
        Slot* end = std::uninitialized_move_n(full->slots(), full->len, grown->slots()).second;
        std::uninitialized_value_construct_n(end, capacity - full->len);
        destroy(full);
        return grown;
    }

    [[noreturn]] static void panic_index_out_of_bounds(unsigned len, unsigned r) {
        panic("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
              std::to_string(r));
    }
};

}  // namespace quil::detail
