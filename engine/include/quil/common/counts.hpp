// The reference counts every engine block starts with, and the three operations on
// them. SharedPtr, the trie's entry handles and its child slots all count through here.
//
// Counts are atomic, so versions can be shared between threads without locks.
#pragma once

#include <atomic>
#include <cstdint>

#include "quil/common/panic.hpp"

namespace quil::detail {

/// Counts above this are a runaway clone loop; the process ends rather than wrap.
inline constexpr std::uint64_t kMaxCount = UINT64_C(0x7fffffffffffffff);

/// One more owner. Relaxed: a new owner is made from an existing one, which already
/// keeps the block alive.
inline void retain(std::atomic<std::uint64_t>& count) noexcept {
    if (count.fetch_add(1, std::memory_order_relaxed) > kMaxCount) {
        fatal("reference count overflow");
    }
}

/// One owner less; true when it was the last. acq_rel so that the destroying thread
/// sees every write made by the other owners before they let go.
inline bool release_is_last(std::atomic<std::uint64_t>& count) noexcept {
    return count.fetch_sub(1, std::memory_order_acq_rel) == 1;
}

/// Whether the caller holds the only count. Acquire pairs with the release half of
/// release_is_last: a count of 1 seen by its only holder cannot rise behind its back.
inline bool is_unique(const std::atomic<std::uint64_t>& count) noexcept {
    return count.load(std::memory_order_acquire) == 1;
}

}  // namespace quil::detail
