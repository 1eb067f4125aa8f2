// The block counts: overflow ends the process instead of wrapping.
#include "quil/common/counts.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

namespace quil {
namespace {

TEST(CountsDeathTest, CountOverflowAborts) {
    std::atomic<std::uint64_t> count{detail::kMaxCount};
    detail::retain(count);  // reaches 2^63: still allowed
    EXPECT_DEATH(detail::retain(count), "reference count overflow");
}

}  // namespace
}  // namespace quil
