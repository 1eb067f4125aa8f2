// PersistentStack: push, peek and pop over the list, and persistence of sources.
#include <gtest/gtest.h>

#include <vector>

#include "quil/stack.hpp"
#include "support/tracked.hpp"

namespace quil {
namespace {

using testing::CountingHeap;
using testing::Tracked;
using Stack = PersistentStack<Tracked, CountingHeap>;

// The Python Stack relies on a stack value being exactly its list.
static_assert(sizeof(Stack) == sizeof(Stack::List));

std::vector<int> contents(const Stack& stack) {
    std::vector<int> out;
    for (const Tracked& element : stack) {
        out.push_back(element.value());
    }
    return out;
}

void check(const Stack& stack) {
    stack.check_invariants([](const Tracked& a, const Tracked& b) { return a.same_as(b); });
}

class StackTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(Tracked::live(), 0u);
        EXPECT_EQ(CountingHeap::live_blocks, 0u);
    }
};

TEST_F(StackTest, EmptyStackHasNothingToPeekOrPop) {
    Stack stack;
    check(stack);
    EXPECT_TRUE(stack.is_empty());
    EXPECT_EQ(stack.peek(), nullptr);
    EXPECT_FALSE(stack.pop().has_value());
}

TEST_F(StackTest, PushedElementsComeBackTopDown) {
    Stack one = Stack().push(Tracked(1));
    Stack three = one.push(Tracked(2)).push(Tracked(3));
    check(three);
    EXPECT_EQ(three.peek()->value(), 3);
    EXPECT_EQ(three.len(), 3u);
    EXPECT_EQ(contents(three), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(contents(one), (std::vector<int>{1}));
}

TEST_F(StackTest, PopLeavesTheSourceAndSharesItsRest) {
    Stack stack;
    for (int value : {1, 2, 3}) {
        stack.push_in_place(Tracked(value));
    }
    const std::size_t before = CountingHeap::allocations;
    auto popped = stack.pop();
    EXPECT_EQ(CountingHeap::allocations, before);
    ASSERT_TRUE(popped.has_value());
    check(*popped);
    EXPECT_EQ(popped->peek()->value(), 2);
    EXPECT_TRUE(popped->peek()->same_as(*stack.list().drop_first()->first()));
    EXPECT_EQ(stack.peek()->value(), 3);
    EXPECT_EQ(contents(stack), (std::vector<int>{3, 2, 1}));
    auto empty = popped->pop()->pop();
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->is_empty());
    EXPECT_FALSE(empty->pop().has_value());
}

}  // namespace
}  // namespace quil
