// Test kit: elements that count their live instances, and a heap that counts blocks.
// Every engine test ends by checking that nothing it made is still alive.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

#include "quil/common/memory.hpp"

namespace quil::testing {

/// A list element handle: a shared int that counts how many distinct values are alive
/// (copies of a handle share one value, as clones of an element do).
class Tracked {
public:
    Tracked() = default;  // the absent element
    explicit Tracked(int value) : value_(std::make_shared<Value>(value)) {}

    int value() const { return value_->value; }
    bool same_as(const Tracked& other) const { return value_ == other.value_; }
    long use_count() const { return value_.use_count(); }

    static std::size_t live() { return Value::live; }

private:
    struct Value {
        explicit Value(int v) : value(v) { ++live; }
        ~Value() { --live; }
        Value(const Value&) = delete;
        Value& operator=(const Value&) = delete;
        int value;
        static inline std::size_t live = 0;
    };
    std::shared_ptr<Value> value_;
};

#ifndef QUIL_TEST_COUNTS
#define QUIL_TEST_COUNTS AtomicCounts
#endif

/// Counts blocks and bytes in use and blocks ever allocated, and can be told to fail one
/// allocation (fail_nth), as a heap that runs out does: by throwing std::bad_alloc. Its
/// count policy is chosen when the tests are built (QUIL_TEST_COUNTS): CMake builds
/// every engine test program once with each policy.
struct CountingHeap {
    using Counts = QUIL_TEST_COUNTS;

    static void* allocate(std::size_t size) {
        if (allocations + 1 == fail_at) {
            fail_at = 0;
            throw std::bad_alloc();
        }
        ++allocations;
        ++live_blocks;
        live_bytes += size;
        return SystemHeap::allocate(size);
    }
    static void deallocate(void* block, std::size_t size) noexcept {
        --live_blocks;
        live_bytes -= size;
        SystemHeap::deallocate(block, size);
    }
    /// Makes the nth allocation from now (1: the next) throw; the others succeed.
    static void fail_nth(std::size_t n) { fail_at = allocations + n; }
    /// Whether the allocation fail_nth chose is still to come.
    static bool failure_pending() { return fail_at != 0; }
    static void disarm() { fail_at = 0; }

    static inline std::size_t allocations = 0;
    static inline std::size_t fail_at = 0;  // the value of `allocations` + 1 that fails
    static inline std::size_t live_blocks = 0;
    static inline std::size_t live_bytes = 0;
};

}  // namespace quil::testing
