// SharedPtr: counting, copy on write and take-or-copy.
#include "quil/common/shared_ptr.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/tracked.hpp"

namespace quil {
namespace {

using testing::CountingHeap;
using Ptr = SharedPtr<std::string, CountingHeap>;

class SharedPtrTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(CountingHeap::live_blocks, 0u); }
};

TEST_F(SharedPtrTest, CloneAndReleaseCount) {
    Ptr a = Ptr::make("x");
    EXPECT_TRUE(a.unique());
    {
        Ptr b = a;
        EXPECT_EQ(a.use_count(), 2u);
        EXPECT_FALSE(a.unique());
        EXPECT_TRUE(a.same_block(b));
    }
    EXPECT_TRUE(a.unique());
}

TEST_F(SharedPtrTest, MakeWritableOnUniqueHandleKeepsBlock) {
    Ptr slot = Ptr::make("x");
    const std::string* before = slot.get();
    std::string& writable = Ptr::make_writable(slot);
    EXPECT_EQ(&writable, before);
    writable = "y";
    EXPECT_EQ(*slot, "y");
}

TEST_F(SharedPtrTest, MakeWritableOnSharedHandleCopiesIntoSlot) {
    Ptr other = Ptr::make("x");
    Ptr slot = other;
    std::string& writable = Ptr::make_writable(slot);
    writable = "y";
    EXPECT_FALSE(slot.same_block(other));
    EXPECT_TRUE(slot.unique());
    EXPECT_TRUE(other.unique());
    EXPECT_EQ(*other, "x");
    EXPECT_EQ(*slot, "y");
}

TEST_F(SharedPtrTest, TakeOrCopyOnUniqueHandleFreesBlock) {
    Ptr handle = Ptr::make("x");
    const std::size_t blocks = CountingHeap::live_blocks;
    std::string payload = Ptr::take_or_copy(std::move(handle));
    EXPECT_EQ(payload, "x");
    EXPECT_EQ(CountingHeap::live_blocks, blocks - 1);
    EXPECT_FALSE(handle);
}

TEST_F(SharedPtrTest, TakeOrCopyOnSharedHandleLeavesBlockToOtherHolder) {
    Ptr other = Ptr::make("x");
    Ptr handle = other;
    std::string payload = Ptr::take_or_copy(std::move(handle));
    EXPECT_EQ(payload, "x");
    EXPECT_TRUE(other.unique());
    EXPECT_EQ(*other, "x");
}

TEST_F(SharedPtrTest, ReleaseWithRunsLastRitesOnlyForTheLastOwner) {
    Ptr a = Ptr::make("x");
    Ptr b = a;
    std::string seen;
    auto keep = [&](std::string& payload) { seen = std::move(payload); };
    EXPECT_FALSE(Ptr::release_with(std::move(b), keep));
    EXPECT_TRUE(a.unique());
    EXPECT_EQ(seen, "");
    EXPECT_TRUE(Ptr::release_with(std::move(a), keep));
    EXPECT_EQ(seen, "x");
}

}  // namespace
}  // namespace quil
