// SparseArray: rank, growth of the inline slots, copies, and the index checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "quil/trie/branch.hpp"
#include "support/tracked.hpp"

namespace quil {
namespace {

using testing::CountingHeap;
using testing::Tracked;
using Array = detail::SparseArray<Tracked, CountingHeap>;

/// Owns one array block for the length of a test.
struct Owned {
    explicit Owned(Array* block) : array(block) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Array::destroy(array); }
    Array* operator->() const { return array; }
    Array* array;
};

std::vector<int> children(const Array& array) {
    std::vector<int> out;
    for (unsigned r = 0; r < array.len; ++r) {
        out.push_back(array.slots()[r].value());
    }
    return out;
}

class SparseArrayTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(Tracked::live(), 0u);
        EXPECT_EQ(CountingHeap::live_blocks, 0u);
    }
};

TEST_F(SparseArrayTest, RankCountsOccupiedSlotsBelow) {
    Owned a(Array::make(4));
    a->set_bitmap((1ull << 0) | (1ull << 5) | (1ull << 6) | (1ull << 63));
    const std::pair<unsigned, unsigned> cases[] = {{0, 0}, {1, 1},  {5, 1}, {6, 2},
                                                   {7, 3}, {62, 3}, {63, 3}};
    for (auto [slot, rank] : cases) {
        EXPECT_EQ(a->rank(slot), rank) << "slot " << slot;
    }
    EXPECT_EQ(a->size(), 4u);
}

TEST_F(SparseArrayTest, GrowsFromEmptyTo64InDoublingStepsKeepingSlotOrder) {
    Array* array = Array::make(0);
    std::vector<unsigned> slots(64);
    for (unsigned i = 0; i < 64; ++i) {
        slots[i] = i;
    }
    std::shuffle(slots.begin(), slots.end(), std::mt19937(7));
    std::vector<unsigned> capacities;
    for (unsigned slot : slots) {
        Array::set(array, slot, Tracked(static_cast<int>(slot)));
        capacities.push_back(array->capacity);
    }
    Owned owned(array);
    // Capacity after the 1st, 4th, 5th, 8th, 9th, 16th, 17th, 32nd, 33rd and 64th child.
    const std::pair<std::size_t, unsigned> expected[] = {
        {1, 4}, {4, 4}, {5, 8}, {8, 8}, {9, 16}, {16, 16}, {17, 32}, {32, 32}, {33, 64}, {64, 64}};
    for (auto [count, capacity] : expected) {
        EXPECT_EQ(capacities[count - 1], capacity) << "after " << count << " children";
    }
    std::vector<int> in_order(64);
    for (int i = 0; i < 64; ++i) {
        in_order[static_cast<std::size_t>(i)] = i;
    }
    EXPECT_EQ(children(*array), in_order);
    EXPECT_EQ(array->bitmap(), ~0ull);
    // One block per capacity step survives: the grown ones were freed.
    EXPECT_EQ(CountingHeap::live_blocks, 1u);
}

TEST_F(SparseArrayTest, CopyClonesChildrenWithOneSpareSlot) {
    for (unsigned len : {0u, 1u, 3u, 4u, 63u, 64u}) {
        Array* array = Array::make(0);
        for (unsigned i = 0; i < len; ++i) {
            Array::set(array, i, Tracked(static_cast<int>(i)));
        }
        Owned source(array);
        Owned copy(Array::copy_of(*array));
        EXPECT_EQ(copy->capacity, std::min(len + 1, 64u)) << "len " << len;
        EXPECT_EQ(copy->bitmap(), array->bitmap());
        EXPECT_EQ(children(*copy.array), children(*array));
        if (len > 0) {
            EXPECT_TRUE(copy->first().same_as(array->first()));
            EXPECT_EQ(CountingHeap::Counts::load(copy->count), 1u);
        }
    }
}

TEST_F(SparseArrayTest, SetReplacesAndRemoveShiftsReleasingTheOldChild) {
    Array* array = Array::make(0);
    for (unsigned slot : {9u, 2u, 40u}) {
        Array::set(array, slot, Tracked(static_cast<int>(slot)));
    }
    Owned owned(array);
    EXPECT_EQ(children(*array), (std::vector<int>{2, 9, 40}));
    EXPECT_EQ(array->get(3), nullptr);
    EXPECT_EQ(array->get(9)->value(), 9);

    Array::set(array, 9, Tracked(90));
    EXPECT_EQ(children(*array), (std::vector<int>{2, 90, 40}));
    EXPECT_EQ(Tracked::live(), 3u);

    array->remove(2);
    array->remove(3);  // empty: nothing happens
    EXPECT_EQ(children(*array), (std::vector<int>{90, 40}));
    EXPECT_EQ(array->bitmap(), (1ull << 9) | (1ull << 40));
    EXPECT_EQ(Tracked::live(), 2u);
    EXPECT_EQ(array->first().value(), 90);
}

// Branches of capacity 2 keep slot numbers instead of a bitmap; they answer the same
// and turn wide when a third child arrives.
TEST_F(SparseArrayTest, SmallBranchKeepsSlotNumbersAndGrowsWide) {
    Array* array = Array::make(2);
    EXPECT_EQ(Array::bytes_for(3) - Array::bytes_for(2), sizeof(Tracked) + 8);  // + the bitmap
    Array::set(array, 40, Tracked(40));
    Array::set(array, 9, Tracked(9));
    EXPECT_EQ(array->capacity, 2u);
    EXPECT_EQ(array->bitmap(), (1ull << 9) | (1ull << 40));
    EXPECT_EQ(children(*array), (std::vector<int>{9, 40}));
    EXPECT_EQ(array->rank(40), 1u);
    EXPECT_EQ(array->get(41), nullptr);

    Array::set(array, 40, Tracked(400));
    array->remove(9);
    EXPECT_EQ(children(*array), (std::vector<int>{400}));
    EXPECT_EQ(array->bitmap(), 1ull << 40);

    Array::set(array, 0, Tracked(0));
    Array::set(array, 63, Tracked(63));  // full: moves to a wide block of 4
    Owned owned(array);
    EXPECT_EQ(array->capacity, 4u);
    EXPECT_EQ(array->bitmap(), (1ull << 0) | (1ull << 40) | (1ull << 63));
    EXPECT_EQ(children(*array), (std::vector<int>{0, 400, 63}));
    EXPECT_EQ(Tracked::live(), 3u);
}

// Bitmap and len can only disagree when a node is corrupt; each operation names it.
TEST_F(SparseArrayTest, IndexChecksReportRankAndLen) {
    struct Case {
        const char* operation;
        std::string message;
    };
    const Case cases[] = {
        {"get", "index out of bounds: the len is 1 but the index is 1"},
        {"replace", "index out of bounds: the len is 1 but the index is 1"},
        {"insert", "insertion index (is 2) should be <= len (is 1)"},
        {"remove", "removal index (is 1) should be < len (is 1)"},
    };
    for (const Case& c : cases) {
        Array* array = Array::make(0);
        Array::set(array, 0, Tracked(0));
        array->set_bitmap(array->bitmap() | 1ull << 5);  // a bit without a child: rank(5) == 1
        std::string message;
        try {
            const std::string op = c.operation;
            if (op == "get") {
                array->get(5);
            } else if (op == "replace") {
                Array::set(array, 5, Tracked(5));
            } else if (op == "insert") {
                Array::set(array, 6, Tracked(6));
            } else {
                array->remove(5);
            }
        } catch (const Panic& panic) {
            message = panic.message();
        }
        EXPECT_EQ(message, c.message) << c.operation;
        Array::destroy(array);
    }
}

}  // namespace
}  // namespace quil
