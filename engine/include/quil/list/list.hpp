// PersistentList: a singly linked cons list with structural sharing. Used by the
// Python List, by Stack and both halves of Queue, and by the trie's collision buckets.
//
// A list value is {head, last, length}: copying it clones one handle (head's). Nodes
// are shared between values and never written once shared; the in-place operations are
// only applied to a value the caller holds alone (its nodes may still be shared).
//
// `last` points at the element inside the final node and owns nothing: the chain from
// head keeps that node alive for as long as the value holds head, and a node's element
// never moves. So a clone, a drop_first and a release touch one count each (a node's),
// and never the element's. Whoever reads `last` (the queue's peek) borrows from the value.
//
// The element type T is itself a cheap handle (a SharedPtr to an entry, or a strong
// reference to a Python object): copying a T is how the same element is shared by
// several nodes without copying what it points at. A default-made T is the absent
// element.
//
// Invariants (check_invariants):
//   1. head is absent exactly when last is absent, exactly when length is 0;
//   2. length is the number of nodes reachable from head;
//   3. last is the address of the final node's value;
//   4. a node whose count is above 1 is never written (only reverse_in_place writes
//      nodes, and only after make_writable).
#pragma once

#include <concepts>
#include <cstddef>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "quil/common/memory.hpp"
#include "quil/common/panic.hpp"
#include "quil/common/shared_ptr.hpp"

namespace quil {

template <class T>
concept ListElement = std::is_nothrow_move_constructible_v<T> &&
                      std::is_nothrow_move_assignable_v<T> && std::copy_constructible<T> &&
                      std::default_initializable<T>;

template <ListElement T, Heap H = SystemHeap>
class PersistentList {
    // Nodes are this class's own: other code walks a list through Cursor or iterator.
    struct ListNode;
    using NodePtr = SharedPtr<ListNode, H>;

    struct ListNode {
        ListNode(NodePtr next_node, T element) noexcept
            : next(std::move(next_node)), value(std::move(element)) {}
        ListNode(const ListNode&) = default;
        ListNode(ListNode&&) noexcept = default;
        ListNode& operator=(const ListNode&) = delete;
        ListNode& operator=(ListNode&&) = delete;
        /// Frees the chain behind this node by a loop, so that dropping the last handle
        /// to a long private chain never recurses once per node.
        ~ListNode() {
            if (next) {
                release_chain(std::move(next));
            }
        }

        NodePtr next;
        T value;
    };

public:
    /// Front-to-back walk. Takes no counts: the list must outlive the cursor. A copy
    /// walks on independently from the same position.
    class Cursor {
    public:
        /// A cursor with nothing to read.
        Cursor() = default;

        /// The next element, or null at the end.
        const T* next() noexcept {
            if (node_ == nullptr) {
                return nullptr;
            }
            const T* element = &node_->value;
            node_ = node_->next.get();
            --remaining_;
            return element;
        }
        std::size_t remaining() const noexcept { return remaining_; }

    private:
        friend class PersistentList;
        Cursor(const ListNode* node, std::size_t remaining) : node_(node), remaining_(remaining) {}

        const ListNode* node_ = nullptr;
        std::size_t remaining_ = 0;
    };

    /// For range-for over the elements.
    class iterator {
    public:
        const T& operator*() const noexcept { return node_->value; }
        iterator& operator++() noexcept {
            node_ = node_->next.get();
            return *this;
        }
        bool operator==(const iterator& other) const noexcept = default;

    private:
        friend class PersistentList;
        explicit iterator(const ListNode* node) : node_(node) {}

        const ListNode* node_;
    };

    /// new: the empty list.
    PersistentList() noexcept = default;
    PersistentList(const PersistentList&) = default;
    PersistentList(PersistentList&& other) noexcept
        : head_(std::move(other.head_)),
          last_(std::exchange(other.last_, nullptr)),
          length_(std::exchange(other.length_, 0)) {}
    PersistentList& operator=(const PersistentList& other) {
        PersistentList(other).swap(*this);
        return *this;
    }
    PersistentList& operator=(PersistentList&& other) noexcept {
        PersistentList(std::move(other)).swap(*this);
        return *this;
    }
    ~PersistentList() {
        // Inline test first: values that were moved from, or are empty, are dropped on
        // every step of a walk, and need no call.
        if (head_) {
            release_chain(std::move(head_));
        }
    }

    void swap(PersistentList& other) noexcept {
        head_.swap(other.head_);
        std::swap(last_, other.last_);
        std::swap(length_, other.length_);
    }

    std::size_t len() const noexcept { return length_; }
    bool is_empty() const noexcept { return length_ == 0; }

    /// The element of the head node, or null when empty; borrowed from this value.
    const T* first() const noexcept { return head_ ? &head_->value : nullptr; }
    /// The final element, or null when empty; borrowed from this value.
    const T* last() const noexcept { return last_; }

    /// The list with `element` in front; this value is unchanged.
    PersistentList push_front(T element) const {
        PersistentList result(*this);
        result.push_front_in_place(std::move(element));
        return result;
    }

    /// Puts `element` in front; the caller's element moves into the new node.
    void push_front_in_place(T element) {
        NodePtr node = NodePtr::make(std::move(head_), std::move(element));
        if (length_ == 0) {
            last_ = &node->value;
        }
        head_ = std::move(node);
        ++length_;
    }

    /// The list without its first element, or nothing when empty. Equal to a clone
    /// followed by drop_first_in_place, but touches one count (the second node's)
    /// instead of three.
    std::optional<PersistentList> drop_first() const {
        if (!head_) {
            return std::nullopt;
        }
        return rest();
    }

    /// drop_first, with the empty list for the empty list: the form a caller that
    /// treats both alike builds straight into its own storage.
    PersistentList rest() const noexcept {
        if (length_ <= 1) {
            return PersistentList();
        }
        return PersistentList(head_->next, last_, length_ - 1);
    }

    /// Removes the first element; false when the list was empty.
    bool drop_first_in_place() noexcept {
        NodePtr taken = std::move(head_);
        if (!taken) {
            return false;
        }
        head_ = taken->next;
        if (--length_ == 0) {
            last_ = nullptr;
        }
        // `taken` is released here: if this list held it alone its element goes with
        // it, while the rest of the chain survives through the new head.
        return true;
    }

    /// A new chain with the elements in reverse order; the elements are shared.
    PersistentList reverse() const {
        PersistentList result;
        for (const T& element : *this) {
            result.push_front_in_place(element);
        }
        return result;
    }

    /// Reverses this value's chain, copying each node that is shared with another list
    /// (one new node per shared node); lists sharing those nodes keep their order.
    /// If copying a node runs out of memory, the nodes already turned (all unique by
    /// then, so turning them back allocates nothing) are turned back and the list is as
    /// it was.
    void reverse_in_place() {
        // The old head becomes the final node, but only after make_writable, which may
        // put a copy of it in its place: `last` is taken from the node that stays. A
        // failure can only come before the final node is reached (copying it is the last
        // step that allocates), so the old `last` still points into the chain put back.
        const T* const old_last = last_;
        last_ = nullptr;
        NodePtr previous;
        NodePtr current = std::move(head_);
        try {
            while (current) {
                ListNode& node = NodePtr::make_writable(current);
                if (last_ == nullptr) {
                    last_ = &node.value;
                }
                NodePtr following = std::move(node.next);
                node.next = std::move(previous);
                previous = std::move(current);
                current = std::move(following);
            }
        } catch (...) {
            while (previous) {
                NodePtr following = std::move(previous->next);
                previous->next = std::move(current);
                current = std::move(previous);
                previous = std::move(following);
            }
            head_ = std::move(current);
            last_ = old_last;
            throw;
        }
        head_ = std::move(previous);
    }

    /// Calls `visit(element, is_final)` on the element of every node this value holds
    /// alone, front to back, and returns the first nonzero result (0 when there is none).
    /// A node is held alone when its count is 1 and the node before it (or, for the
    /// first, this value's head) is held alone: its one handle then lies in this value's
    /// own chain, so no other value reaches it. The walk stops at the first shared node,
    /// since everything behind it is reachable from that node's other holders as well.
    /// `is_final` marks the final node. `last` borrows that node's element and holds no
    /// handle of its own, so there is nothing more to visit. A loop whatever the length;
    /// allocates nothing and changes no count.
    template <class Visit>
    int visit_owned(Visit&& visit) const {
        for (const NodePtr* node = &head_; *node && node->unique(); node = &(*node)->next) {
            const ListNode& owned = **node;
            if (const int result = visit(std::as_const(owned.value), !owned.next); result != 0) {
                return result;
            }
        }
        return 0;
    }

    Cursor cursor() const noexcept { return Cursor(head_.get(), length_); }
    iterator begin() const noexcept { return iterator(head_.get()); }
    iterator end() const noexcept { return iterator(nullptr); }

    /// Raises an internal failure naming the first invariant (1 to 3) that is broken.
    /// `last` is checked by address, so the element comparison the structures built on
    /// lists pass in is not needed here.
    template <class SameElement>
    void check_invariants([[maybe_unused]] SameElement same_element) const {
        if (head_ ? length_ == 0 : length_ != 0) {
            panic("list invariant 1: head and length disagree");
        }
        std::size_t count = 0;
        const ListNode* final_node = nullptr;
        for (const ListNode* node = head_.get(); node != nullptr; node = node->next.get()) {
            final_node = node;
            ++count;
        }
        if (count != length_) {
            panic("list invariant 2: length " + std::to_string(length_) + " but " +
                  std::to_string(count) + " nodes");
        }
        if (final_node != nullptr ? last_ != &final_node->value : last_ != nullptr) {
            panic("list invariant 3: last is not the final node's element");
        }
    }

private:
    PersistentList(NodePtr head, const T* last, std::size_t length) noexcept
        : head_(std::move(head)), last_(last), length_(length) {}

    /// Frees the prefix of the chain that only this holder owns, front to back, and
    /// drops one count on the first node someone else still holds.
    static void release_chain(NodePtr node) noexcept {
        while (node) {
            NodePtr next;
            if (!NodePtr::release_with(std::move(node),
                                       [&](ListNode& freed) { next = std::move(freed.next); })) {
                return;
            }
            node = std::move(next);
        }
    }

    NodePtr head_;
    const T* last_ = nullptr;  // borrowed from the final node, see the top of the file
    std::size_t length_ = 0;
};

}  // namespace quil
