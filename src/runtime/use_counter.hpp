// UseCounter: how an object whose state changes between calls (an iterator's position, a
// mutation's record) refuses a second use while one is running, re-entered from Python
// code the first one called (a key's __eq__) or from another thread.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

namespace quil {

/// 0 idle; n > 0: n shared uses in progress; -1: an exclusive use in progress.
///
/// Where the interpreter has a global lock, the thread that holds it is the only one
/// running module code, and it lets the lock go only inside Python code or a blocking
/// call, both opaque calls the compiler cannot move the counter's loads and stores
/// across; the lock's hand-over orders them for the next thread. So plain loads and
/// stores refuse a second use exactly as atomic ones would, and a step pays no locked
/// instruction. A free-threaded interpreter runs several threads in module code at
/// once: there the counter is changed only atomically, so a second use during an
/// exclusive one is refused, not interleaved.
class UseCounter {
public:
#ifdef Py_GIL_DISABLED
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
#else
    bool try_exclusive() noexcept {
        if (uses_ != 0) {
            return false;
        }
        uses_ = -1;
        return true;
    }
    void end_exclusive() noexcept { uses_ = 0; }

    bool try_shared() noexcept {
        if (uses_ < 0) {
            return false;
        }
        ++uses_;
        return true;
    }
    void end_shared() noexcept { --uses_; }

private:
    std::intptr_t uses_ = 0;
#endif
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
