// PersistentList: sharing, the in-place operations, reversal and release.
#include "quil/list/list.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "support/tracked.hpp"

namespace quil {
namespace {

using testing::CountingHeap;
using testing::Tracked;
using List = PersistentList<Tracked, CountingHeap>;

std::vector<int> contents(const List& list) {
    std::vector<int> out;
    for (const Tracked& element : list) {
        out.push_back(element.value());
    }
    return out;
}

List make_list(std::initializer_list<int> values) {
    List list;
    for (auto it = std::rbegin(values); it != std::rend(values); ++it) {
        list.push_front_in_place(Tracked(*it));
    }
    return list;
}

void check(const List& list) {
    list.check_invariants([](const Tracked& a, const Tracked& b) { return a.same_as(b); });
}

class ListTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(Tracked::live(), 0u);
        EXPECT_EQ(CountingHeap::live_blocks, 0u);
    }
};

TEST_F(ListTest, EmptyList) {
    List list;
    check(list);
    EXPECT_TRUE(list.is_empty());
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.last(), nullptr);
    EXPECT_FALSE(list.drop_first().has_value());
    EXPECT_FALSE(list.drop_first_in_place());
}

TEST_F(ListTest, PushOntoEmptyMakesFirstAndLastTheSameElement) {
    List list = List().push_front(Tracked(7));
    check(list);
    EXPECT_EQ(list.len(), 1u);
    EXPECT_TRUE(list.first()->same_as(*list.last()));
}

TEST_F(ListTest, PushLeavesSourceAndLastUnchanged) {
    List source = make_list({1, 2});
    List pushed = source.push_front(Tracked(0));
    check(pushed);
    EXPECT_EQ(contents(pushed), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(contents(source), (std::vector<int>{1, 2}));
    EXPECT_TRUE(pushed.last()->same_as(*source.last()));
}

TEST_F(ListTest, DropFirstOfOneElementGivesEmptyListWithoutLast) {
    List one = make_list({1});
    auto dropped = one.drop_first();
    ASSERT_TRUE(dropped.has_value());
    check(*dropped);
    EXPECT_TRUE(dropped->is_empty());
    EXPECT_EQ(dropped->last(), nullptr);
    EXPECT_EQ(contents(one), (std::vector<int>{1}));
}

TEST_F(ListTest, ReverseBuildsNewChainSharingElements) {
    List source = make_list({1, 2, 3});
    List reversed = source.reverse();
    check(reversed);
    EXPECT_EQ(contents(reversed), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(reversed.last()->value(), 1);
    EXPECT_TRUE(reversed.last()->same_as(*source.first()));
    EXPECT_EQ(contents(source), (std::vector<int>{1, 2, 3}));
}

TEST_F(ListTest, ReverseInPlaceOnCloneCopiesSharedNodesOnly) {
    List source = make_list({1, 2, 3});
    List clone = source;
    const std::size_t before = CountingHeap::allocations;
    clone.reverse_in_place();
    EXPECT_EQ(CountingHeap::allocations - before, 3u);
    check(clone);
    check(source);
    EXPECT_EQ(contents(clone), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(contents(source), (std::vector<int>{1, 2, 3}));

    // A chain the list holds alone is reversed without allocating.
    const std::size_t again = CountingHeap::allocations;
    clone.reverse_in_place();
    EXPECT_EQ(CountingHeap::allocations, again);
    EXPECT_EQ(contents(clone), (std::vector<int>{1, 2, 3}));
}

TEST_F(ListTest, CursorCountsRemaining) {
    List list = make_list({1, 2, 3});
    auto cursor = list.cursor();
    EXPECT_EQ(cursor.remaining(), 3u);
    EXPECT_EQ(cursor.next()->value(), 1);
    EXPECT_EQ(cursor.remaining(), 2u);
    cursor.next();
    cursor.next();
    EXPECT_EQ(cursor.remaining(), 0u);
    EXPECT_EQ(cursor.next(), nullptr);
}

TEST_F(ListTest, ReleasingMillionElementListDoesNotRecurse) {
    {
        List list;
        for (int i = 0; i < 1'000'000; ++i) {
            list.push_front_in_place(Tracked(i));
        }
        EXPECT_EQ(Tracked::live(), 1'000'000u);
    }
    EXPECT_EQ(Tracked::live(), 0u);
}

TEST_F(ListTest, ReleasingOneOfTwoListsSharingATailKeepsTheOther) {
    List tail = make_list({2, 3});
    List a = tail.push_front(Tracked(1));
    List b = tail.push_front(Tracked(10));
    tail = List();
    a = List();
    EXPECT_EQ(contents(b), (std::vector<int>{10, 2, 3}));
    EXPECT_EQ(Tracked::live(), 3u);
    check(b);
}

TEST_F(ListTest, DroppingTheFirstNodeKeepsTheSharedRest) {
    List list = make_list({1, 2, 3});
    List copy = list;
    ASSERT_TRUE(copy.drop_first_in_place());
    check(copy);
    EXPECT_EQ(contents(copy), (std::vector<int>{2, 3}));
    EXPECT_EQ(contents(list), (std::vector<int>{1, 2, 3}));
}

/// The values visit_owned reaches, front to back; a final node shows as its negation.
std::vector<int> owned(const List& list) {
    std::vector<int> out;
    const int result = list.visit_owned([&out](const Tracked& element, bool is_final) {
        out.push_back(is_final ? -element.value() : element.value());
        return 0;
    });
    EXPECT_EQ(result, 0);
    return out;
}

TEST_F(ListTest, VisitOwnedStopsAtTheFirstSharedNode) {
    List list = make_list({1, 2, 3});
    EXPECT_EQ(owned(list), (std::vector<int>{1, 2, -3}));
    EXPECT_EQ(owned(List()), std::vector<int>{});

    // The pushed node is the new list's alone; everything behind it is shared.
    List longer = list.push_front(Tracked(0));
    EXPECT_EQ(owned(longer), std::vector<int>{0});
    EXPECT_EQ(owned(list), std::vector<int>{});
    // rest shares the second node: the first is the original's alone again.
    longer = List();
    std::optional<List> rest = list.drop_first();
    EXPECT_EQ(owned(list), std::vector<int>{1});
    EXPECT_EQ(owned(*rest), std::vector<int>{});
    // The last holder of a chain holds all of it.
    list = List();
    EXPECT_EQ(owned(*rest), (std::vector<int>{2, -3}));
}

TEST_F(ListTest, VisitOwnedReturnsTheFirstNonzeroResult) {
    const List list = make_list({1, 2, 3});
    std::vector<int> seen;
    const int result = list.visit_owned([&seen](const Tracked& element, bool) {
        seen.push_back(element.value());
        return element.value() == 2 ? 7 : 0;
    });
    EXPECT_EQ(result, 7);
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

// `last` borrows the final node's element: cloning, dropping the first element and
// releasing a list leave every element with exactly the one handle its node holds.
TEST_F(ListTest, CloneAndDropFirstTouchNoElement) {
    List list = make_list({1, 2, 3});
    const Tracked& final_element = *list.last();
    EXPECT_EQ(final_element.use_count(), 1);
    List copy = list;
    auto dropped = list.drop_first();
    List rest = dropped->rest();
    check(copy);
    check(*dropped);
    check(rest);
    EXPECT_EQ(dropped->last(), list.last());
    EXPECT_EQ(rest.last(), list.last());
    EXPECT_EQ(final_element.use_count(), 1);
    EXPECT_EQ(list.first()->use_count(), 1);
}

TEST_F(ListTest, RestOfShortListsIsEmpty) {
    for (const List& list : {List(), make_list({1})}) {
        List rest = list.rest();
        check(rest);
        EXPECT_TRUE(rest.is_empty());
        EXPECT_EQ(rest.last(), nullptr);
    }
}

// reverse_in_place of a clone copies the old head into a new final node: `last` must be
// that copy's element, not the source's head, which the source still holds.
TEST_F(ListTest, ReverseInPlaceOfCloneTakesLastFromTheCopiedNode) {
    List source = make_list({1, 2, 3});
    List clone = source;
    clone.reverse_in_place();
    check(clone);
    EXPECT_NE(clone.last(), source.first());
    EXPECT_TRUE(clone.last()->same_as(*source.first()));
    source = List();
    check(clone);
    EXPECT_EQ(clone.last()->value(), 1);
}

}  // namespace
}  // namespace quil
