// The iterator classes: each owns a private copy of the collection it walks and a use
// counter that refuses re-entrant use. Collections call make_*_iterator from __iter__.
#pragma once

#include <Python.h>

#include <atomic>

#include "bridge/values.hpp"
#include "classes/map.hpp"
#include "runtime/outcome.hpp"

namespace quil {

/// 0 idle; n > 0: n shared uses in progress; -1: a step (exclusive use) in progress.
/// Changed only atomically, so a second use during a step is refused, not interleaved.
class UseCounter {
public:
    bool try_exclusive() noexcept {
        std::intptr_t idle = 0;
        return uses_.compare_exchange_strong(idle, -1, std::memory_order_acquire);
    }
    void end_exclusive() noexcept { uses_.store(0, std::memory_order_release); }

    bool try_shared() noexcept {
        std::intptr_t current = uses_.load(std::memory_order_relaxed);
        do {
            if (current < 0) {
                return false;
            }
        } while (!uses_.compare_exchange_weak(current, current + 1, std::memory_order_acquire));
        return true;
    }
    void end_shared() noexcept { uses_.fetch_sub(1, std::memory_order_release); }

private:
    std::atomic<std::intptr_t> uses_{0};
};

/// "Already borrowed": a step was asked for while another step of the same iterator runs.
PendingError already_borrowed();
/// "Already mutably borrowed": a shared use was asked for during a step.
PendingError already_mutably_borrowed();

/// A new ListIterator over `list` (already a private copy).
Outcome<py::Ref> make_list_iterator(ListValue list);
/// A new StackIterator over `stack` (already a private copy), top down.
Outcome<py::Ref> make_stack_iterator(StackValue stack);
/// A new QueueIterator over `queue` (already a private copy), oldest first.
Outcome<py::Ref> make_queue_iterator(QueueValue queue);

/// Iterators over a private copy of a map or set: keys, values, (key, value) tuples, and
/// set elements, in the trie's order.
Outcome<py::Ref> make_keys_iterator(MapValue map);
Outcome<py::Ref> make_values_iterator(MapValue map);
Outcome<py::Ref> make_items_iterator(MapValue map);
Outcome<py::Ref> make_set_iterator(SetValue set);

}  // namespace quil
