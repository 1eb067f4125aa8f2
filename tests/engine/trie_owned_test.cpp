// The walk over what a version holds alone (TrieMap::visit_owned): every entry of a
// version that shares nothing, none of the entries in nodes shared with another version,
// and every entry of a bucket, which its list holds once (its `last` borrows).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "quil/trie/trie.hpp"
#include "support/tracked.hpp"
#include "support/trie_keys.hpp"

namespace quil {
namespace {

using testing::build;
using testing::hash_of_digits;
using testing::NothingLeftAlive;
using testing::put;
using testing::TestKey;
using testing::TestMap;
using testing::TestSet;

template <class Map>
class TrieOwned : public NothingLeftAlive<> {};
using Forms = ::testing::Types<TestMap, TestSet>;
TYPED_TEST_SUITE(TrieOwned, Forms);

/// "id" or "id/tag" of every entry visit_owned reaches, sorted.
template <class Map>
std::vector<std::string> owned(const Map& map) {
    std::vector<std::string> out;
    const int result = map.visit_owned([&out](const typename Map::Entry& entry) {
        out.push_back(testing::print_key(entry.key()));
        return 0;
    });
    EXPECT_EQ(result, 0);
    std::sort(out.begin(), out.end());
    return out;
}

using Keys = std::vector<std::string>;

// k1 and k2 share the branch at slot 1, k3 hangs from the root, and k5 to k7 share one
// whole hash, so a bucket at depth 11 below a chain of one-child branches.
const std::uint64_t kBucketHash = hash_of_digits({5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3});

TYPED_TEST(TrieOwned, AVersionSharingNothingVisitsEveryEntryOnce) {
    const auto map = build<TypeParam>(
        {TestKey(hash_of_digits({1, 2}), 1), TestKey(hash_of_digits({1, 3}), 2), TestKey(4, 3),
         TestKey(kBucketHash, 5), TestKey(kBucketHash, 6), TestKey(kBucketHash, 7)});
    EXPECT_EQ(owned(map), (Keys{"k1", "k2", "k3", "k5", "k6", "k7"}));
    EXPECT_EQ(owned(TypeParam::create(HashBuilder{})), Keys{});
}

TYPED_TEST(TrieOwned, EntriesInNodesTwoVersionsShareAreVisitedByNeither) {
    auto map = build<TypeParam>(
        {TestKey(hash_of_digits({1, 2}), 1), TestKey(hash_of_digits({1, 3}), 2), TestKey(4, 3)});
    {
        // A copy of the record shares the root itself.
        const auto copy = map;
        EXPECT_EQ(owned(copy), Keys{});
        EXPECT_EQ(owned(map), Keys{});
    }
    {
        // The insertion copies the root and the branch at slot 1; the copies clone every
        // child, so each old entry is held by both versions.
        const auto more = put(map, TestKey(hash_of_digits({1, 5}), 4));
        EXPECT_EQ(owned(more), Keys{"k4"});
        EXPECT_EQ(owned(map), Keys{});
    }
    {
        // A replaced entry is the old version's alone again.
        const auto replaced = put(map, TestKey(hash_of_digits({1, 2}), 1, 9));
        EXPECT_EQ(owned(replaced), Keys{"k1/9"});
        EXPECT_EQ(owned(map), Keys{"k1"});
    }
    {
        // So is a removed one; the branch at slot 1 stays shared.
        const auto fewer = map.remove(TestKey(4, 3));
        EXPECT_EQ(owned(fewer), Keys{});
        EXPECT_EQ(owned(map), Keys{"k3"});
        // Once the old version is gone its survivor holds everything.
        map = TypeParam::create(HashBuilder{});
        EXPECT_EQ(owned(fewer), (Keys{"k1", "k2"}));
    }
}

TYPED_TEST(TrieOwned, ABucketsEntriesAreHeldAloneThroughItsNodesOnly) {
    auto map = build<TypeParam>(
        {TestKey(kBucketHash, 1), TestKey(kBucketHash, 2), TestKey(kBucketHash, 3)});
    EXPECT_EQ(owned(map), (Keys{"k1", "k2", "k3"}));
    // The insertion rebuilds the bucket's list from new nodes holding the same entries:
    // only the new entry is the new version's alone, and the old list's nodes are the old
    // version's alone but hold shared entries.
    const auto more = put(map, TestKey(kBucketHash, 4));
    EXPECT_EQ(owned(more), Keys{"k4"});
    EXPECT_EQ(owned(map), Keys{});
    map = TypeParam::create(HashBuilder{});
    EXPECT_EQ(owned(more), (Keys{"k1", "k2", "k3", "k4"}));
}

TYPED_TEST(TrieOwned, TheWalkStopsAtTheFirstNonzeroResult) {
    const auto map = build<TypeParam>({TestKey(1, 1), TestKey(2, 2), TestKey(3, 3)});
    int calls = 0;
    const int result = map.visit_owned([&calls](const typename TypeParam::Entry&) {
        ++calls;
        return calls == 2 ? -5 : 0;
    });
    EXPECT_EQ(result, -5);
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace quil
