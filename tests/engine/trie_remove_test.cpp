// Hash trie removal: compression on the way up, buckets falling apart, absent keys,
// and failing key comparisons.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "quil/trie/trie.hpp"
#include "support/tracked.hpp"
#include "support/trie_keys.hpp"

namespace quil {
namespace {

using testing::build;
using testing::CountingHeap;
using testing::dump;
using testing::EqFailure;
using testing::hash_of_digits;
using testing::ids;
using testing::KeyLog;
using testing::NothingLeftAlive;
using testing::put;
using testing::TestKey;
using testing::TestMap;
using testing::TestSet;

using Calls = std::vector<std::pair<int, int>>;

template <class Map>
class TrieRemove : public NothingLeftAlive<> {};
using Forms = ::testing::Types<TestMap, TestSet>;
TYPED_TEST_SUITE(TrieRemove, Forms);

TYPED_TEST(TrieRemove, AbsentKeyGivesTheReceiversRootWithoutComparing) {
    const auto map = build<TypeParam>({TestKey(1, 1), TestKey(hash_of_digits({1, 2}), 2)});
    const auto same = map.remove(TestKey(hash_of_digits({1, 3}), 1));
    EXPECT_TRUE(same.root_is(map));
    EXPECT_EQ(same.size(), 2u);
    EXPECT_EQ(KeyLog::eq_calls, 0u);

    auto in_place = map;
    EXPECT_FALSE(in_place.remove_in_place(TestKey(9, 9)));
    EXPECT_EQ(in_place.size(), 2u);
    in_place.check_invariants();
}

TYPED_TEST(TrieRemove, RemovingTheLastEntryLeavesAnEmptyBranch) {
    const auto one = build<TypeParam>({TestKey(3, 3)});
    const auto none = one.remove(TestKey(3, 3));
    none.check_invariants();
    EXPECT_EQ(none.size(), 0u);
    EXPECT_EQ(dump(none), "branch 0/2\n");
    EXPECT_FALSE(none.contains(TestKey(3, 3)));
    EXPECT_EQ(dump(put(none, TestKey(5, 5))), "branch 1/1\n  5: entry 0000000000000005 k5\n");

    // From a single-entry root.
    const auto root_entry = build<TypeParam>({TestKey(3, 3), TestKey(9, 9)}).remove(TestKey(9, 9));
    EXPECT_EQ(dump(root_entry), "entry 0000000000000003 k3\n");
    const auto emptied = root_entry.remove(TestKey(3, 3));
    emptied.check_invariants();
    EXPECT_EQ(dump(emptied), "branch 0/0\n");
    EXPECT_TRUE(emptied.is_empty());
}

TYPED_TEST(TrieRemove, LoneEntryRisesToTheFirstBranchWithAnotherChild) {
    const std::uint64_t a = hash_of_digits({1, 2, 3, 4, 5, 6});
    const std::uint64_t b = hash_of_digits({1, 2, 3, 4, 5, 7});
    // branch 2/4
    //   1: branch 1/4
    //     2: branch 1/4
    //       3: branch 1/4
    //         4: branch 1/4
    //           5: branch 2/4
    //             6: entry 0000000185103081 k1
    //             7: entry 00000001c5103081 k2
    //   9: entry 0000000000000009 k9
    const auto map = build<TypeParam>({TestKey(a, 1), TestKey(b, 2), TestKey(9, 9)});
    const auto lifted = map.remove(TestKey(b, 2));
    lifted.check_invariants();
    EXPECT_EQ(dump(lifted),
              "branch 2/3\n"
              "  1: entry 0000000185103081 k1\n"
              "  9: entry 0000000000000009 k9\n");

    const auto alone = lifted.remove(TestKey(9, 9));
    EXPECT_EQ(dump(alone), "entry 0000000185103081 k1\n");
    // The same, with no other child anywhere: the entry becomes the root.
    EXPECT_EQ(dump(build<TypeParam>({TestKey(a, 1), TestKey(b, 2)}).remove(TestKey(a, 1))),
              "entry 00000001c5103081 k2\n");
}

TYPED_TEST(TrieRemove, BucketOfTwoFallsToALeafThatRises) {
    const std::uint64_t h = hash_of_digits({4, 4});
    const auto map = build<TypeParam>({TestKey(h, 1), TestKey(h, 2), TestKey(7, 7)});
    const auto rest = map.remove(TestKey(h, 2));
    rest.check_invariants();
    EXPECT_EQ(dump(rest),
              "branch 2/3\n"
              "  4: entry 0000000000000104 k1\n"
              "  7: entry 0000000000000007 k7\n");
    // Removing everything, in any order, leaves no chain behind.
    auto drained = map;
    for (int id : {2, 7, 1}) {
        ASSERT_TRUE(drained.remove_in_place(TestKey(id == 7 ? 7 : h, id)));
        drained.check_invariants();
    }
    EXPECT_TRUE(drained.is_empty());
    EXPECT_EQ(dump(drained), "branch 0/0\n");
}

TYPED_TEST(TrieRemove, BucketKeepsItsOrderAndAnAbsentKeyChangesNothing) {
    const auto cba = build<TypeParam>({TestKey(5, 1), TestKey(5, 2), TestKey(5, 3)});
    const auto ca = cba.remove(TestKey(5, 2));
    ca.check_invariants();
    EXPECT_EQ(ids(ca), (std::vector<int>{3, 1}));

    KeyLog::reset();
    const auto same = cba.remove(TestKey(5, 4));
    EXPECT_EQ(KeyLog::calls, (Calls{{3, 4}, {2, 4}, {1, 4}}));
    EXPECT_TRUE(same.root_is(cba));
    EXPECT_EQ(ids(same), (std::vector<int>{3, 2, 1}));
    auto in_place = cba;
    EXPECT_FALSE(in_place.remove_in_place(TestKey(5, 4)));
    in_place.check_invariants();
    EXPECT_EQ(ids(in_place), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(in_place.size(), 3u);
}

// For every comparison a removal makes, a throw from it leaves the receiver exactly as
// it was and frees everything made for the working copy.
TYPED_TEST(TrieRemove, FailingComparisonAnywhereLeavesTheReceiverIntact) {
    const std::uint64_t h = hash_of_digits({5, 6});
    const std::pair<std::vector<TestKey>, TestKey> cases[] = {
        {{TestKey(h, 1), TestKey(9, 9)}, TestKey(h, 1)},
        {{TestKey(h, 1), TestKey(h, 2), TestKey(h, 3)}, TestKey(h, 1)},
        {{TestKey(h, 1), TestKey(h, 2), TestKey(h, 3)}, TestKey(h, 3)},
        {{TestKey(h, 1), TestKey(h, 2), TestKey(h, 3)}, TestKey(h, 4)},
        {{TestKey(h, 1), TestKey(h, 2)}, TestKey(h, 1)},
    };
    for (const auto& [stored, removed] : cases) {
        auto map = TypeParam::create(HashBuilder{});
        for (const TestKey& key : stored) {
            testing::put_in_place(map, key);
        }
        KeyLog::reset();
        (void)map.remove(removed);
        const std::size_t comparisons = KeyLog::eq_calls;
        const std::string before = dump(map);
        const std::size_t blocks = CountingHeap::live_blocks;
        const std::size_t keys = KeyLog::live;
        for (std::size_t fail = 0; fail < comparisons; ++fail) {
            KeyLog::reset();
            KeyLog::fail_after(fail);
            EXPECT_THROW((void)map.remove(removed), EqFailure) << removed.id() << " " << fail;
            KeyLog::reset();
            EXPECT_EQ(dump(map), before) << removed.id() << " " << fail;
            EXPECT_EQ(CountingHeap::live_blocks, blocks);
            EXPECT_EQ(KeyLog::live, keys);
            map.check_invariants();
            {
                auto working = map;
                const auto contents = testing::ids(working);
                KeyLog::fail_after(fail);
                EXPECT_THROW(working.remove_in_place(removed), EqFailure);
                KeyLog::reset();
                EXPECT_EQ(testing::ids(working), contents) << removed.id() << " " << fail;
                working.check_invariants();
            }
            EXPECT_EQ(dump(map), before) << removed.id() << " " << fail;
            EXPECT_EQ(CountingHeap::live_blocks, blocks);
            EXPECT_EQ(KeyLog::live, keys);
        }
    }
}

}  // namespace
}  // namespace quil
