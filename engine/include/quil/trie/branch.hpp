// The head of every trie node block (NodeHeader), and SparseArray: the branch node of
// the hash trie, the occupied child slots stored inline in the block behind a record of
// which slots (0..63) they are. The node model (node.hpp) adds the collision bucket, the
// other kind of node block.
//
// Two layouts, told apart by the capacity byte:
//
//   capacity 3..64:  | count | len | capacity | -  - | bitmap | slot 0 | ... | slot c-1 |
//   capacity 0..2:   | count | len | capacity | d0 d1 | slot 0 | slot 1 |
//                        4     1       1        1  1      8        8 each
//
// A wide branch keeps a 64-bit bitmap: bit i is set exactly when slot i is occupied. A
// small branch keeps the slot numbers of its (at most two) children in d0 < d1 (0xff
// for none), which is the same set, in 8 bytes less: bulk building makes most branches
// below the second level with exactly two children (keys sharing a digit in pairs), so
// this is about a fifth of a map's branch bytes at 100 000 entries. Either way bitmap()
// gives the set, the child of slot i sits at rank(i) = popcount(bitmap below bit i), so
// children are kept in increasing slot order, and len == popcount(bitmap). Slots from
// len up to capacity hold the empty Slot.
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
    // Branches only: occupied slots, slots allocated inline after the block's head, and
    // (small branches only) the slot numbers of the children. With the count they fill
    // the first 8 bytes.
    std::uint8_t len = 0;
    std::uint8_t capacity = 0;
    std::uint8_t digits[2] = {0xff, 0xff};
};

/// Slot is a one-word-ish owning handle: default-made means empty, copying clones it,
/// moving and destroying never throw.
template <class Slot, Heap H>
class SparseArray : public NodeHeader<typename H::Counts> {
    using Header = NodeHeader<typename H::Counts>;

public:
    using Header::capacity;
    using Header::count;
    using Header::digits;
    using Header::len;

    static constexpr unsigned kMaxCapacity = 64;
    static constexpr unsigned kMinGrowth = 4;
    /// Branches of at most this capacity keep slot numbers instead of a bitmap.
    static constexpr unsigned kSmallCapacity = 2;

    /// A unique (count 1) empty branch with room for `capacity` children. Capacity 0 is
    /// the empty branch of a new map's root.
    static SparseArray* make(unsigned capacity) {
        SparseArray* array = allocate(capacity);
        std::uninitialized_value_construct_n(array->slots(), capacity);
        return array;
    }

    /// The shallow copy taken when a shared branch must be written: the same bitmap and
    /// clones of the children, with `spare` free slots (as far as 64 allow): by default
    /// exactly one, so that the insertion that usually follows does not reallocate.
    static SparseArray* copy_of(const SparseArray& source, unsigned spare = 1) {
        const unsigned len = source.len;
        const unsigned capacity = std::min(len + std::min(spare, kMaxCapacity), kMaxCapacity);
        SparseArray* copy = allocate(capacity);
        copy->set_bitmap(source.bitmap());
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
        return head_bytes(capacity) + capacity * sizeof(Slot);
    }

    Slot* slots() noexcept {
        return std::launder(reinterpret_cast<Slot*>(reinterpret_cast<std::byte*>(this) +
                                                    head_bytes(capacity)));
    }
    const Slot* slots() const noexcept { return const_cast<SparseArray*>(this)->slots(); }

    /// The occupied slots: bit i is set when slot i holds a child.
    std::uint64_t bitmap() const noexcept {
        if (!is_small()) [[likely]] {
            return *wide_bitmap();
        }
        return bit_of(digits[0]) | bit_of(digits[1]);
    }

    /// Records which slots are occupied; len is the caller's to keep equal to the count.
    /// A small branch can record at most two.
    void set_bitmap(std::uint64_t bits) noexcept {
        if (!is_small()) [[likely]] {
            *wide_bitmap() = bits;
            return;
        }
        digits[0] = bits == 0 ? kNoDigit : static_cast<std::uint8_t>(std::countr_zero(bits));
        bits &= bits - 1;
        digits[1] = bits == 0 ? kNoDigit : static_cast<std::uint8_t>(std::countr_zero(bits));
    }

    bool has(unsigned i) const noexcept { return ((bitmap() >> i) & 1u) != 0; }

    /// Number of occupied slots below slot i: the position of slot i's child.
    unsigned rank(unsigned i) const noexcept {
        return static_cast<unsigned>(std::popcount(bitmap() & ((std::uint64_t{1} << i) - 1)));
    }

    std::size_t size() const noexcept {
        return static_cast<std::size_t>(std::popcount(bitmap()));
    }

    /// The child of slot i, or null when the slot is empty.
    Slot* get(unsigned i) {
        const std::uint64_t bits = bitmap();
        if (((bits >> i) & 1u) == 0) {
            return nullptr;
        }
        const auto r =
            static_cast<unsigned>(std::popcount(bits & ((std::uint64_t{1} << i) - 1)));
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
        self->set_bitmap(self->bitmap() | std::uint64_t{1} << i);
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
        set_bitmap(bitmap() & ~(std::uint64_t{1} << i));
        --len;
    }

    /// The child at position 0. The branch must not be empty.
    Slot& first() noexcept { return slots()[0]; }
    const Slot& first() const noexcept { return slots()[0]; }

private:
    static constexpr std::uint8_t kNoDigit = 0xff;

    explicit SparseArray(unsigned slot_capacity) noexcept {
        capacity = static_cast<std::uint8_t>(slot_capacity);
        if (!is_small()) {
            ::new (static_cast<void*>(reinterpret_cast<std::byte*>(this) + sizeof(SparseArray)))
                std::uint64_t(0);
        }
    }

    static constexpr std::size_t head_bytes(unsigned capacity) noexcept {
        return sizeof(SparseArray) + (capacity > kSmallCapacity ? sizeof(std::uint64_t) : 0);
    }
    bool is_small() const noexcept { return capacity <= kSmallCapacity; }
    std::uint64_t* wide_bitmap() const noexcept {
        return std::launder(reinterpret_cast<std::uint64_t*>(
            reinterpret_cast<std::byte*>(const_cast<SparseArray*>(this)) + sizeof(SparseArray)));
    }
    static std::uint64_t bit_of(std::uint8_t digit) noexcept {
        return digit == kNoDigit ? 0 : std::uint64_t{1} << digit;
    }

    /// A block with its head made and its slots not yet constructed.
    static SparseArray* allocate(unsigned capacity) {
        static_assert(std::is_nothrow_default_constructible_v<Slot> &&
                      std::is_nothrow_move_constructible_v<Slot> &&
                      std::is_nothrow_move_assignable_v<Slot> &&
                      std::is_nothrow_copy_constructible_v<Slot>);
        static_assert(sizeof(SparseArray) == 8 && alignof(Slot) <= 8 &&
                      alignof(std::uint64_t) <= 8,
                      "slots (and a wide branch's bitmap) follow an 8-byte head");
        return ::new (H::allocate(bytes_for(capacity))) SparseArray(capacity);
    }

    /// Moves a full unique branch into a block twice as large (at least 4 slots, at most
    /// 64: a branch made with exactly its children, such as 40, stops at 64) and frees
    /// the old block. The new block takes over the old one's single count.
    static SparseArray* grow(SparseArray* full) {
        const unsigned capacity = std::min(kMaxCapacity, std::max(kMinGrowth, 2u * full->capacity));
        SparseArray* grown = allocate(capacity);
        grown->set_bitmap(full->bitmap());
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
