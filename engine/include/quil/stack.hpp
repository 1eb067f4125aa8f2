// PersistentStack: a last-in first-out stack, a thin wrapper over one PersistentList
// whose first element is the top. Used by the Python Stack and StackIterator.
//
// The stack adds no data and no algorithm: its value is exactly its list (same memory
// form, ownership and release), so code that reads a list's length or walks its nodes
// serves a stack too.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>

#include "quil/common/memory.hpp"
#include "quil/list/list.hpp"

namespace quil {

template <ListElement T, Heap H = SystemHeap>
class PersistentStack {
public:
    using List = PersistentList<T, H>;
    using Cursor = typename List::Cursor;

    /// new: the empty stack.
    PersistentStack() noexcept = default;
    /// The stack whose elements, from the top down, are the list's front to back.
    explicit PersistentStack(List list) noexcept : list_(std::move(list)) {}

    std::size_t len() const noexcept { return list_.len(); }
    bool is_empty() const noexcept { return list_.is_empty(); }

    /// The elements from the top down.
    const List& list() const noexcept { return list_; }

    /// The top element, or null when empty; borrowed from this value.
    const T* peek() const noexcept { return list_.first(); }

    /// The stack with `element` on top; this value is unchanged.
    PersistentStack push(T element) const {
        PersistentStack result(*this);
        result.push_in_place(std::move(element));
        return result;
    }

    /// Puts `element` on top; the caller's element moves into the new node.
    void push_in_place(T element) { list_.push_front_in_place(std::move(element)); }

    /// The stack without its top element, or nothing when empty.
    std::optional<PersistentStack> pop() const {
        if (is_empty()) {
            return std::nullopt;
        }
        return rest();
    }

    /// pop, with the empty stack for the empty stack (the list's rest).
    PersistentStack rest() const noexcept { return PersistentStack(list_.rest()); }

    /// From the top down.
    Cursor cursor() const noexcept { return list_.cursor(); }
    auto begin() const noexcept { return list_.begin(); }
    auto end() const noexcept { return list_.end(); }

    template <class SameElement>
    void check_invariants(SameElement same_element) const {
        list_.check_invariants(same_element);
    }

private:
    List list_;
};

}  // namespace quil
