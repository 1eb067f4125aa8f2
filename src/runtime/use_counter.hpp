// UseCounter: how an object whose state changes between calls (an iterator's position, a
// mutation's record) refuses a second use while one is running, re-entered from Python
// code the first one called (a key's __eq__) or from another thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace quil {

/// 0 idle; n > 0: n shared uses in progress; -1: an exclusive use in progress.
/// Changed only atomically, so a second use during an exclusive one is refused, not
/// interleaved.
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

/// Ends an exclusive use when the scope does, however it is left.
class ExclusiveUse {
public:
    explicit ExclusiveUse(UseCounter& uses) noexcept : uses_(uses) {}
    ~ExclusiveUse() { uses_.end_exclusive(); }
    ExclusiveUse(const ExclusiveUse&) = delete;
    ExclusiveUse& operator=(const ExclusiveUse&) = delete;

private:
    UseCounter& uses_;
};

}  // namespace quil
