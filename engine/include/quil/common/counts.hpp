// Reference-count policies: how every shared engine block (trie nodes and entries, list
// nodes) keeps the number of its owners. A Heap names its policy as H::Counts, so one
// engine serves both kinds of interpreter: the choice is made where the Heap is chosen.
//
// Why each policy is sound.
//   PlainCounts: ordinary loads and stores. Sound when every thread that touches engine
//   blocks holds one lock while it does: the interpreter's global lock, for an extension
//   built for an interpreter that has one. Blocks are made, cloned and released only by
//   code running inside a call frame with the thread attached (the lock held); a
//   release on a thread that is not attached is deferred to the next attached call. With
//   one lock per interpreter (subinterpreters) this still holds, because no engine block
//   is ever reachable from two interpreters: a map reaches another interpreter only by
//   pickling, which rebuilds it there from its items. Keep it that way.
//   AtomicCounts: for the free-threaded interpreter (Py_GIL_DISABLED), where versions of
//   one trie may be cloned and dropped on several threads at once. A new owner is made
//   from an existing one, which already keeps the block alive, so retain is relaxed;
//   release is acq_rel so that the thread freeing a block sees every write made by the
//   threads that let go before it (a block is only written while unique, and uniqueness
//   is read with acquire, pairing with that release).
// Both end the process rather than let a count wrap.
#pragma once

#include <atomic>
#include <concepts>
#include <cstdint>

#include "quil/common/panic.hpp"

namespace quil {

namespace detail {
/// Counts above this are a runaway clone loop; the process ends rather than wrap. 2^31
/// owners of one block would take far more memory than the owners themselves could use.
inline constexpr std::uint32_t kMaxCount = UINT32_C(0x7fffffff);
}  // namespace detail

/// What a count policy offers. Count is the 4-byte field at the start of a block; a new
/// block's count is made from 1.
template <class C>
concept CountPolicy = requires(typename C::Count& count, const typename C::Count& seen) {
    { C::retain(count) } noexcept;
    { C::release_is_last(count) } noexcept -> std::same_as<bool>;
    { C::is_unique(seen) } noexcept -> std::same_as<bool>;
    { C::load(seen) } noexcept -> std::same_as<std::uint32_t>;
};

/// Plain counts, for builds where one lock serialises all engine work (see above).
struct PlainCounts {
    using Count = std::uint32_t;

    static void retain(Count& count) noexcept {
        if (++count > detail::kMaxCount) [[unlikely]] {
            fatal("reference count overflow");
        }
    }
    static bool release_is_last(Count& count) noexcept { return --count == 0; }
    static bool is_unique(const Count& count) noexcept { return count == 1; }
    static std::uint32_t load(const Count& count) noexcept { return count; }
};

/// Atomic counts, for blocks that threads running in parallel share (see above).
struct AtomicCounts {
    using Count = std::atomic<std::uint32_t>;

    static void retain(Count& count) noexcept {
        if (count.fetch_add(1, std::memory_order_relaxed) >= detail::kMaxCount) [[unlikely]] {
            fatal("reference count overflow");
        }
    }
    static bool release_is_last(Count& count) noexcept {
        return count.fetch_sub(1, std::memory_order_acq_rel) == 1;
    }
    static bool is_unique(const Count& count) noexcept {
        return count.load(std::memory_order_acquire) == 1;
    }
    static std::uint32_t load(const Count& count) noexcept {
        return count.load(std::memory_order_relaxed);
    }
};

static_assert(CountPolicy<PlainCounts> && CountPolicy<AtomicCounts>);
static_assert(sizeof(PlainCounts::Count) == 4 && sizeof(AtomicCounts::Count) == 4);

}  // namespace quil
