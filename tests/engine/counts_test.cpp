// Count policies (common/counts.hpp): both keep the same arithmetic, and both end the
// process instead of letting a count wrap.
#include "quil/common/counts.hpp"

#include <gtest/gtest.h>

namespace quil {
namespace {

template <class Policy>
class CountsTest : public ::testing::Test {};

using Policies = ::testing::Types<PlainCounts, AtomicCounts>;
TYPED_TEST_SUITE(CountsTest, Policies);

TYPED_TEST(CountsTest, RetainAndReleaseTellTheLastOwner) {
    typename TypeParam::Count count{1};
    EXPECT_TRUE(TypeParam::is_unique(count));
    TypeParam::retain(count);
    EXPECT_FALSE(TypeParam::is_unique(count));
    EXPECT_EQ(TypeParam::load(count), 2u);
    EXPECT_FALSE(TypeParam::release_is_last(count));
    EXPECT_TRUE(TypeParam::is_unique(count));
    EXPECT_TRUE(TypeParam::release_is_last(count));
}

template <class Policy>
class CountsDeathTest : public ::testing::Test {};
TYPED_TEST_SUITE(CountsDeathTest, Policies);

TYPED_TEST(CountsDeathTest, OverflowAborts) {
    typename TypeParam::Count count{detail::kMaxCount - 1};
    TypeParam::retain(count);  // reaches the maximum: still allowed
    EXPECT_EQ(TypeParam::load(count), detail::kMaxCount);
    EXPECT_DEATH(TypeParam::retain(count), "reference count overflow");
}

}  // namespace
}  // namespace quil
