// The TrieMap record (trie.hpp) and insertion (insert.hpp), through the record: lookup,
// shapes, equality discipline, collision buckets, copy on write, and failing key
// comparisons.
#include "quil/trie/trie.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

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
using testing::put_in_place;
using testing::TestKey;
using testing::TestMap;
using testing::TestSet;
using testing::Tracked;

using Calls = std::vector<std::pair<int, int>>;

/// Every test ends with no key, value or block alive.
using TrieTestBase = NothingLeftAlive<>;

template <class Map>
class TrieCore : public TrieTestBase {};
using Forms = ::testing::Types<TestMap, TestSet>;
TYPED_TEST_SUITE(TrieCore, Forms);

TYPED_TEST(TrieCore, EmptyMapFindsNothingWithoutComparing) {
    const auto map = TypeParam::create(HashBuilder{});
    map.check_invariants();
    EXPECT_TRUE(map.is_empty());
    EXPECT_EQ(map.lookup(TestKey(0, 0)), nullptr);
    EXPECT_EQ(KeyLog::eq_calls, 0u);
    EXPECT_EQ(dump(map), "branch 0/0\n");
}

TYPED_TEST(TrieCore, DifferentHashesNeverCompare) {
    auto map = build<TypeParam>({TestKey(1, 1), TestKey(65, 2)});
    KeyLog::reset();
    // Same id as a stored key, so equal if compared, but a different trie hash.
    EXPECT_FALSE(map.contains(TestKey(129, 1)));
    EXPECT_FALSE(map.contains(TestKey(1 + (1ull << 63), 1)));
    EXPECT_EQ(KeyLog::eq_calls, 0u);

    map = put(map, TestKey(129, 1));
    map.check_invariants();
    EXPECT_EQ(map.size(), 3u);
    EXPECT_EQ(KeyLog::eq_calls, 0u);
}

TYPED_TEST(TrieCore, EqualHashesMeetInABucketAtDepth11NewestFirst) {
    auto map = build<TypeParam>({TestKey(5, 1)});
    KeyLog::reset();
    map = put(map, TestKey(5, 2));
    map.check_invariants();
    // The colliding key is compared with k1 at every level of the chain it builds
    // (depths 1 to 11), and once more by the bucket insert at depth 11.
    EXPECT_EQ(KeyLog::calls, Calls(12, {1, 2}));
    // The root was copied for the insertion, with one spare slot.
    EXPECT_EQ(dump(map),
              "branch 1/2\n"
              "  5: branch 1/4\n"
              "    0: branch 1/4\n"
              "      0: branch 1/4\n"
              "        0: branch 1/4\n"
              "          0: branch 1/4\n"
              "            0: branch 1/4\n"
              "              0: branch 1/4\n"
              "                0: branch 1/4\n"
              "                  0: branch 1/4\n"
              "                    0: branch 1/4\n"
              "                      0: collision 2\n"
              "                        entry 0000000000000005 k2\n"
              "                        entry 0000000000000005 k1\n");

    map = put(map, TestKey(5, 3));
    map.check_invariants();
    EXPECT_EQ(map.size(), 3u);
    EXPECT_EQ(ids(map), (std::vector<int>{3, 2, 1}));
    for (int id : {1, 2, 3}) {
        EXPECT_TRUE(map.contains(TestKey(5, id))) << id;
    }
    EXPECT_FALSE(map.contains(TestKey(5, 4)));
}

TYPED_TEST(TrieCore, ReinsertMovesAKeyToTheFrontOfItsBucket) {
    const auto cba = build<TypeParam>({TestKey(5, 1), TestKey(5, 2), TestKey(5, 3)});
    const auto acb = put(cba, TestKey(5, 1));
    acb.check_invariants();
    EXPECT_EQ(ids(acb), (std::vector<int>{1, 3, 2}));
    EXPECT_EQ(acb.size(), 3u);
    EXPECT_EQ(ids(cba), (std::vector<int>{3, 2, 1}));
}

TYPED_TEST(TrieCore, LookupUniqueHashFindsOnlyEntriesNoOtherEntrySharesAHashWith) {
    const auto map = build<TypeParam>({TestKey(5, 1), TestKey(5, 2), TestKey(6, 3)});
    const auto* alone = map.lookup_unique_hash(TestKey(6, 3));
    ASSERT_NE(alone, nullptr);
    EXPECT_EQ(alone, map.lookup(TestKey(6, 3)));
    EXPECT_EQ(map.lookup_unique_hash(TestKey(5, 1)), nullptr);
    EXPECT_NE(map.lookup(TestKey(5, 1)), nullptr);
    EXPECT_EQ(map.lookup_unique_hash(TestKey(6, 4)), nullptr);
}

TYPED_TEST(TrieCore, GroupedDescentsFindWhatLookupFindsWithTheSameComparisonsInOrder) {
    // Hashes from few digits, so that paths share levels, leaves sit at several depths
    // and equal hashes meet in buckets; probes for stored keys, for unequal keys with a
    // stored hash, and for absent hashes, in groups of every size.
    std::mt19937_64 random(11);
    const auto draw_hash = [&random] {
        return hash_of_digits({static_cast<unsigned>(random() % 4), static_cast<unsigned>(random() % 3),
                               static_cast<unsigned>(random() % 64)});
    };
    for (const std::size_t size : {0u, 1u, 2u, 40u, 400u}) {
        auto map = TypeParam::create(HashBuilder{});
        std::vector<TestKey> probes;
        for (std::size_t i = 0; i < size; ++i) {
            const TestKey key(draw_hash(), static_cast<int>(i));
            put_in_place(map, key);
            probes.push_back(key);
            probes.emplace_back(key.hash(), static_cast<int>(10000 + i));
        }
        if (size == 2) {
            map.remove_in_place(probes[0]);  // the root becomes the one entry left
        }
        for (int i = 0; i < 30; ++i) {
            probes.emplace_back(draw_hash(), 20000 + i);
        }
        std::shuffle(probes.begin(), probes.end(), random);
        for (std::size_t start = 0, n = 1; start < probes.size(); start += n, n = n % 16 + 1) {
            const auto count = static_cast<unsigned>(std::min(n, probes.size() - start));
            const TestKey* keys[16];
            std::uint64_t hashes[16];
            typename TypeParam::Descent descents[16];
            std::vector<const typename TypeParam::Entry*> found;
            KeyLog::reset();
            std::vector<const typename TypeParam::Entry*> expected;
            for (unsigned i = 0; i < count; ++i) {
                keys[i] = &probes[start + i];
                hashes[i] = map.hash_of(*keys[i]);
                expected.push_back(map.lookup(*keys[i]));
            }
            const Calls one_by_one = KeyLog::calls;
            KeyLog::reset();
            map.descend_group(hashes, count, descents);
            EXPECT_TRUE(KeyLog::calls.empty());
            for (unsigned i = 0; i < count; ++i) {
                found.push_back(map.lookup_at(descents[i], *keys[i], hashes[i]));
            }
            EXPECT_EQ(KeyLog::calls, one_by_one);
            EXPECT_EQ(found, expected);
        }
    }
}

TYPED_TEST(TrieCore, NewVersionAlwaysHasItsOwnRoot) {
    const auto map = build<TypeParam>({TestKey(1, 1), TestKey(2, 2)});
    const auto same = put(map, TestKey(1, 1));
    EXPECT_FALSE(same.root_is(map));
    EXPECT_EQ(same.size(), 2u);
    EXPECT_TRUE(TypeParam(map).root_is(map));
}

TYPED_TEST(TrieCore, DigitsDifferingOnlyAtDepth10SplitThere) {
    const std::uint64_t low = hash_of_digits({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    const auto map = build<TypeParam>({TestKey(low, 1), TestKey(low | (15ull << 60), 2)});
    map.check_invariants();
    EXPECT_EQ(dump(map),
              "branch 1/4\n"
              "  1: branch 1/4\n"
              "    2: branch 1/4\n"
              "      3: branch 1/4\n"
              "        4: branch 1/4\n"
              "          5: branch 1/4\n"
              "            6: branch 1/4\n"
              "              7: branch 1/4\n"
              "                8: branch 1/4\n"
              "                  9: branch 1/4\n"
              "                    10: branch 2/4\n"
              "                      0: entry 0289207185103081 k1\n"
              "                      15: entry f289207185103081 k2\n");
}

TYPED_TEST(TrieCore, PersistentInsertCopiesOnePathAndSharesTheRest) {
    // branch 2/4
    //   1: branch 2/4
    //     1: entry 0000000000000041 k1
    //     2: entry 0000000000000081 k2
    //   7: entry 0000000000000007 k7
    const auto map = build<TypeParam>(
        {TestKey(hash_of_digits({1, 1}), 1), TestKey(hash_of_digits({1, 2}), 2), TestKey(7, 7)});
    const std::string before = dump(map);
    const std::size_t allocations = CountingHeap::allocations;
    const auto grown = put(map, TestKey(hash_of_digits({1, 3}), 3));
    // The root, the depth-1 branch (each copied with one spare slot), the new entry.
    EXPECT_EQ(CountingHeap::allocations - allocations, 3u);
    grown.check_invariants();
    EXPECT_EQ(dump(map), before);
    EXPECT_EQ(dump(grown),
              "branch 2/3\n"
              "  1: branch 3/3\n"
              "    1: entry 0000000000000041 k1\n"
              "    2: entry 0000000000000081 k2\n"
              "    3: entry 00000000000000c1 k3\n"
              "  7: entry 0000000000000007 k7\n");
    EXPECT_EQ(grown.lookup(TestKey(7, 7)), map.lookup(TestKey(7, 7)));
}

TYPED_TEST(TrieCore, InPlaceInsertionWritesNodesItAlreadyCopied) {
    auto map = build<TypeParam>(
        {TestKey(hash_of_digits({1, 1}), 1), TestKey(hash_of_digits({1, 2}), 2), TestKey(7, 7)});
    const auto snapshot = map;
    const std::string before = dump(snapshot);
    put_in_place(map, TestKey(hash_of_digits({1, 3}), 3));
    const std::size_t allocations = CountingHeap::allocations;
    // The path is now this record's own: a replacement along it allocates the entry only.
    EXPECT_FALSE(put_in_place(map, TestKey(hash_of_digits({1, 2}), 2)));
    EXPECT_EQ(CountingHeap::allocations - allocations, 1u);
    map.check_invariants();
    EXPECT_EQ(map.size(), 4u);
    EXPECT_EQ(dump(snapshot), before);
}

TYPED_TEST(TrieCore, InsertingIntoASingleEntryRootMakesABranchAgain) {
    auto map = build<TypeParam>({TestKey(3, 3), TestKey(9, 9)}).remove(TestKey(9, 9));
    EXPECT_EQ(dump(map), "entry 0000000000000003 k3\n");
    map = put(map, TestKey(hash_of_digits({3, 1}), 4));
    map.check_invariants();
    EXPECT_EQ(dump(map),
              "branch 1/4\n"
              "  3: branch 2/4\n"
              "    0: entry 0000000000000003 k3\n"
              "    1: entry 0000000000000043 k4\n");
}

// A key whose equality answers True and then False within one insertion leaves a bucket
// where the two keys met, above depth 11 (or at the root). Every later operation takes it
// there: a key of another hash landing on it splits it as it would split a leaf.
TYPED_TEST(TrieCore, ABucketLeftAboveDepth11ByAChangingAnswerStaysUsable) {
    const std::uint64_t h = hash_of_digits({5, 6});
    auto map = build<TypeParam>({TestKey(h, 1)});
    KeyLog::answers = {true, false};
    map = put(map, TestKey(h, 2));
    KeyLog::reset();
    map.check_invariants();
    EXPECT_EQ(dump(map),
              "branch 1/2\n"
              "  5: collision 2\n"
              "    entry 0000000000000185 k2\n"
              "    entry 0000000000000185 k1\n");

    // Every digit at depth 1, the bucket's (6) included, then one more key of the
    // bucket's hash.
    std::vector<int> stored = {1, 2};
    for (unsigned d = 0; d < 64; ++d) {
        map = put(map, TestKey(hash_of_digits({5, d, 1}), 100 + static_cast<int>(d)));
        stored.push_back(100 + static_cast<int>(d));
        map.check_invariants();
    }
    map = put(map, TestKey(h, 3));
    stored.push_back(3);
    map.check_invariants();
    EXPECT_EQ(map.size(), stored.size());
    for (int id : stored) {
        const auto hash = id < 100 ? h : hash_of_digits({5, static_cast<unsigned>(id - 100), 1});
        EXPECT_TRUE(map.contains(TestKey(hash, id))) << id;
        map = map.remove(TestKey(hash, id));
        map.check_invariants();
    }
    EXPECT_TRUE(map.is_empty());

    auto rooted = build<TypeParam>({TestKey(1, 1), TestKey(2, 2)});
    rooted.remove_in_place(TestKey(2, 2));
    KeyLog::answers = {true, false};
    rooted = put(rooted, TestKey(1, 3));
    KeyLog::reset();
    rooted.check_invariants();
    EXPECT_EQ(dump(rooted),
              "collision 2\n"
              "  entry 0000000000000001 k3\n"
              "  entry 0000000000000001 k1\n");
    rooted = put(rooted, TestKey(2, 4));
    rooted.check_invariants();
    EXPECT_EQ(ids(rooted), (std::vector<int>{3, 1, 4}));
}

// False at the leaf, then True twice one level down the chain the split builds: the new
// key replaces the old one, which the leaf does when the answers agree.
TYPED_TEST(TrieCore, AKeyReplacedDownASplitChainLeavesALeaf) {
    const std::uint64_t h = hash_of_digits({5, 6});
    const auto map = build<TypeParam>({TestKey(h, 1), TestKey(9, 9)});
    KeyLog::answers = {false, true, true};
    const auto replaced = put(map, TestKey(h, 2));
    KeyLog::reset();
    replaced.check_invariants();
    EXPECT_EQ(replaced.size(), 2u);
    EXPECT_EQ(dump(replaced),
              "branch 2/3\n"
              "  5: entry 0000000000000185 k2\n"
              "  9: entry 0000000000000009 k9\n");
}

class TrieInsertMap : public TrieTestBase {};

TEST_F(TrieInsertMap, ReplacingAKeyTakesTheNewKeyObjectAndValueAndComparesTwice) {
    const auto map = TestMap::create(HashBuilder{}).insert(TestKey(4, 1, 100), Tracked(10));
    KeyLog::reset();
    const auto replaced = map.insert(TestKey(4, 1, 200), Tracked(20));
    EXPECT_EQ(KeyLog::calls, (Calls{{1, 1}, {1, 1}}));
    EXPECT_EQ(replaced.size(), 1u);
    const auto* now = replaced.lookup(TestKey(4, 1));
    const auto* then = map.lookup(TestKey(4, 1));
    ASSERT_NE(now, nullptr);
    ASSERT_NE(then, nullptr);
    EXPECT_EQ(now->key().tag(), 200);
    EXPECT_EQ(now->value().value(), 20);
    EXPECT_EQ(then->key().tag(), 100);
    EXPECT_EQ(then->value().value(), 10);
}

TEST_F(TrieInsertMap, ReplacingInABucketKeepsTheOthers) {
    const auto map = TestMap::create(HashBuilder{})
                         .insert(TestKey(5, 1), Tracked(1))
                         .insert(TestKey(5, 2), Tracked(2))
                         .insert(TestKey(5, 1, 7), Tracked(11));
    map.check_invariants();
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(map.lookup(TestKey(5, 1))->value().value(), 11);
    EXPECT_EQ(map.lookup(TestKey(5, 1))->key().tag(), 7);
    EXPECT_EQ(map.lookup(TestKey(5, 2))->value().value(), 2);
}

// For every comparison an insertion makes, a throw from that comparison leaves the
// receiver exactly as it was and frees everything made for the working copy.
TEST_F(TrieInsertMap, FailingComparisonAnywhereLeavesTheReceiverIntact) {
    struct Case {
        const char* name;
        std::vector<TestKey> stored;
        TestKey inserted;
    };
    const std::uint64_t h = hash_of_digits({5, 6});
    const Case cases[] = {
        {"replace a single entry", {TestKey(h, 1), TestKey(9, 9)}, TestKey(h, 1)},
        {"collide with a single entry", {TestKey(h, 1)}, TestKey(h, 2)},
        {"new key in a bucket", {TestKey(h, 1), TestKey(h, 2), TestKey(h, 3)}, TestKey(h, 4)},
        {"replace in a bucket", {TestKey(h, 1), TestKey(h, 2), TestKey(h, 3)}, TestKey(h, 1)},
    };
    for (const Case& c : cases) {
        TestMap map = TestMap::create(HashBuilder{});
        for (const TestKey& key : c.stored) {
            map.insert_in_place(key, Tracked(key.id()));
        }
        KeyLog::reset();
        map.insert(c.inserted, Tracked(0));
        const std::size_t comparisons = KeyLog::eq_calls;
        ASSERT_GT(comparisons, 0u) << c.name;

        const std::string before = dump(map);
        const std::size_t blocks = CountingHeap::live_blocks;
        const std::size_t keys = KeyLog::live;
        const std::size_t values = Tracked::live();
        for (std::size_t fail = 0; fail < comparisons; ++fail) {
            KeyLog::reset();
            KeyLog::fail_after(fail);
            EXPECT_THROW(map.insert(c.inserted, Tracked(0)), EqFailure) << c.name << " " << fail;
            KeyLog::reset();
            EXPECT_EQ(dump(map), before) << c.name << " " << fail;
            EXPECT_EQ(CountingHeap::live_blocks, blocks) << c.name << " " << fail;
            EXPECT_EQ(KeyLog::live, keys) << c.name << " " << fail;
            EXPECT_EQ(Tracked::live(), values) << c.name << " " << fail;
            map.check_invariants();

            // In place the record still holds what it held, and releasing it frees
            // everything it took.
            {
                TestMap working = map;
                const auto contents = ids(working);
                KeyLog::fail_after(fail);
                EXPECT_THROW(working.insert_in_place(c.inserted, Tracked(0)), EqFailure);
                KeyLog::reset();
                EXPECT_EQ(ids(working), contents) << c.name << " " << fail;
                working.check_invariants();
            }
            EXPECT_EQ(dump(map), before) << c.name << " " << fail;
            EXPECT_EQ(CountingHeap::live_blocks, blocks) << c.name << " " << fail;
            EXPECT_EQ(KeyLog::live, keys) << c.name << " " << fail;
        }
    }
}

}  // namespace
}  // namespace quil
