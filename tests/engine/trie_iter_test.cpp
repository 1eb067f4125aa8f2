// TrieIter: order, the exact remaining count, the cursor stack, and iterator copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "quil/trie/iter.hpp"
#include "quil/trie/trie.hpp"
#include "support/tracked.hpp"
#include "support/trie_keys.hpp"

namespace quil {
namespace {

using testing::build;
using testing::CountingHeap;
using testing::hash_of_digits;
using testing::ids;
using testing::NothingLeftAlive;
using testing::TestKey;
using testing::TestMap;
using testing::TestSet;

class TrieIterTest : public NothingLeftAlive<> {};

/// The digits of a hash, root first: the order the walk sorts by.
std::array<unsigned, 11> digits_of(std::uint64_t h) {
    std::array<unsigned, 11> digits{};
    for (unsigned d = 0; d < 11; ++d) {
        digits[d] = detail::digit(h, d);
    }
    return digits;
}

TEST_F(TrieIterTest, EmptyMapEndsAtOnceAndStaysEnded) {
    const auto map = TestSet::create(HashBuilder{});
    auto it = map.iter();
    EXPECT_EQ(it.remaining(), 0u);
    EXPECT_EQ(it.next(), nullptr);
    EXPECT_EQ(it.next(), nullptr);
    EXPECT_EQ(it.remaining(), 0u);
}

TEST_F(TrieIterTest, SingleEntryRootIsYieldedOnce) {
    const auto map = build<TestSet>({TestKey(1, 1), TestKey(2, 2)}).remove(TestKey(2, 2));
    auto it = map.iter();
    EXPECT_EQ(it.remaining(), 1u);
    const auto* entry = it.next();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->key().id(), 1);
    EXPECT_EQ(it.next(), nullptr);
    EXPECT_EQ(it.remaining(), 0u);
}

TEST_F(TrieIterTest, BucketIsYieldedNewestFirstBetweenItsNeighbours) {
    const auto map =
        build<TestMap>({TestKey(5, 1), TestKey(6, 6), TestKey(5, 2), TestKey(4, 4), TestKey(5, 3)});
    EXPECT_EQ(ids(map), (std::vector<int>{4, 3, 2, 1, 6}));
    auto it = map.iter();
    it.next();
    EXPECT_EQ(it.next()->value().value(), 3);
}

TEST_F(TrieIterTest, OrderIsDigitWiseHashOrderWhateverTheInsertionOrder) {
    std::mt19937_64 random(11);
    std::vector<TestKey> keys;
    for (int id = 0; id < 300; ++id) {
        // Few distinct low digits, so many keys share paths several levels deep.
        const std::uint64_t h = (random() & ~0xfffull) | (random() % 3) | ((random() % 2) << 6);
        keys.emplace_back(h, id);
    }
    auto forward = TestSet::create(HashBuilder{});
    for (const TestKey& key : keys) {
        testing::put_in_place(forward, key);
    }
    std::shuffle(keys.begin(), keys.end(), random);
    auto shuffled = TestSet::create(HashBuilder{});
    for (const TestKey& key : keys) {
        testing::put_in_place(shuffled, key);
        testing::put_in_place(shuffled, TestKey(key.hash() ^ 0x40, -1 - key.id()));
        shuffled.remove_in_place(TestKey(key.hash() ^ 0x40, -1 - key.id()));
    }
    EXPECT_EQ(ids(forward), ids(shuffled));

    std::vector<std::array<unsigned, 11>> walked;
    auto it = forward.iter();
    while (const auto* entry = it.next()) {
        walked.push_back(digits_of(entry->key().hash()));
    }
    EXPECT_EQ(walked.size(), keys.size());
    EXPECT_TRUE(std::is_sorted(walked.begin(), walked.end()));
}

TEST_F(TrieIterTest, RemainingIsExactThroughoutTheWalk) {
    auto map = TestSet::create(HashBuilder{});
    for (int id = 0; id < 200; ++id) {
        testing::put_in_place(map, TestKey(static_cast<std::uint64_t>(id % 70) * 0x1041, id));
    }
    auto it = map.iter();
    for (std::uint64_t left = map.size(); left > 0; --left) {
        ASSERT_EQ(it.remaining(), left);
        ASSERT_NE(it.next(), nullptr);
    }
    EXPECT_EQ(it.remaining(), 0u);
    EXPECT_EQ(it.next(), nullptr);
    EXPECT_EQ(it.remaining(), 0u);
}

TEST_F(TrieIterTest, CursorStackMovesToTheHeapOnTheFifthPush) {
    struct Case {
        std::uint64_t a, b;
        std::size_t capacity;
    };
    const Case cases[] = {
        // Leaves under branches at depths 0-3: four cursors, all inside the iterator.
        {hash_of_digits({1, 1, 1, 1}), hash_of_digits({1, 1, 1, 2}), 4},
        // Depths 0-4: the fifth push takes a heap buffer of 8.
        {hash_of_digits({1, 1, 1, 1, 1}), hash_of_digits({1, 1, 1, 1, 2}), 8},
        // Branches at depths 0-10 and a bucket: 12 cursors, a buffer of 16.
        {7, 7, 16},
    };
    for (const Case& c : cases) {
        const auto map = build<TestSet>({TestKey(c.a, 1), TestKey(c.b, 2)});
        const std::size_t allocations = CountingHeap::allocations;
        auto it = map.iter();
        EXPECT_EQ(it.next()->key().id(), c.a == c.b ? 2 : 1);
        EXPECT_NE(it.next(), nullptr);
        EXPECT_EQ(it.next(), nullptr);
        EXPECT_EQ(it.stack_capacity(), c.capacity);
        EXPECT_EQ(CountingHeap::allocations - allocations, std::size_t{c.capacity == 4   ? 0u
                                                                       : c.capacity == 8 ? 1u
                                                                                         : 2u});
    }
}

TEST_F(TrieIterTest, CopiesWalkOnIndependently) {
    auto map = TestSet::create(HashBuilder{});
    for (int id = 0; id < 40; ++id) {
        // Ids 0-19 share their first six digits; the rest spread out.
        const std::uint64_t h = id < 20 ? (std::uint64_t(id) << 36) | 0x3f : std::uint64_t(id);
        testing::put_in_place(map, TestKey(h, id));
    }
    const std::vector<int> all = ids(map);
    for (std::size_t split : {0u, 1u, 5u, 25u, 40u}) {
        auto it = map.iter();
        for (std::size_t i = 0; i < split; ++i) {
            it.next();
        }
        auto copy = it;
        auto assigned = map.iter();
        assigned = it;
        std::vector<int> from_copy, from_assigned, from_original;
        while (const auto* e = copy.next()) {
            from_copy.push_back(e->key().id());
        }
        while (const auto* e = assigned.next()) {
            from_assigned.push_back(e->key().id());
        }
        auto moved = std::move(it);
        while (const auto* e = moved.next()) {
            from_original.push_back(e->key().id());
        }
        const std::vector<int> rest(all.begin() + static_cast<long>(split), all.end());
        EXPECT_EQ(from_copy, rest) << split;
        EXPECT_EQ(from_assigned, rest) << split;
        EXPECT_EQ(from_original, rest) << split;
    }
}

TEST_F(TrieIterTest, SeparateMapsWithTheSameKeysMayDifferButVersionsAgree) {
    using SipSet = TrieSet<TestKey, SipHash13Hasher, CountingHeap>;
    auto first = SipSet::create();
    auto second = SipSet::create();
    for (int id = 0; id < 64; ++id) {
        first.insert_in_place(TestKey(static_cast<std::uint64_t>(id), id));
        second.insert_in_place(TestKey(static_cast<std::uint64_t>(63 - id), 63 - id));
    }
    // Different key pairs: equal orders of 64 keys would be a 1-in-64! accident.
    EXPECT_NE(ids(first), ids(second));
    const auto derived = first.insert(TestKey(100, 100)).remove(TestKey(100, 100));
    EXPECT_EQ(ids(derived), ids(first));
}

}  // namespace
}  // namespace quil
