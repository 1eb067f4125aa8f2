// Bulk building: TrieMap::build must make what inserting the same items one by one
// makes (entries, surviving key objects and values, shape, bucket orders, size), with
// branches of exactly their length, and release everything when a comparison throws.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "quil/trie/trie.hpp"
#include "support/tracked.hpp"
#include "support/trie_keys.hpp"

namespace quil {
namespace {

using testing::CountingHeap;
using testing::dump;
using testing::EqFailure;
using testing::hash_of_digits;
using testing::KeyLog;
using testing::NothingLeftAlive;
using testing::TestKey;
using testing::TestMap;
using testing::TestSet;
using testing::Tracked;

template <class Map>
class TrieBulk : public NothingLeftAlive<> {};
using Forms = ::testing::Types<TestMap, TestSet>;
TYPED_TEST_SUITE(TrieBulk, Forms);

/// An input item: the key (its tag is the item's position, so every key object can be
/// told apart) and, in the map form, a value of its own.
template <class Map>
struct Input {
    TestKey key;
    typename Map::mapped_type value;
};

template <class Map>
typename Map::mapped_type value_at(int position) {
    if constexpr (std::is_same_v<typename Map::mapped_type, NoValue>) {
        return NoValue{};
    } else {
        return Tracked(position);
    }
}

template <class Map>
Map build_one_by_one(const std::vector<Input<Map>>& input) {
    Map map = Map::create(HashBuilder{});
    for (const Input<Map>& item : input) {
        map.insert_in_place(item.key, item.value);
    }
    return map;
}

template <class Map>
Map build_in_bulk(const std::vector<Input<Map>>& input) {
    typename Map::Items items;
    for (const Input<Map>& item : input) {
        items.push(TestKey(item.key), typename Map::mapped_type(item.value));
    }
    return Map::build(HashBuilder{}, std::move(items));
}

/// The dump without branch capacities, which insertion grows in steps and a bulk
/// build makes exact.
std::string shape(const std::string& dumped) {
    std::string out;
    std::size_t i = 0;
    while (i < dumped.size()) {
        const std::size_t found = dumped.find("branch ", i);
        if (found == std::string::npos) {
            out.append(dumped, i);
            break;
        }
        const std::size_t slash = dumped.find('/', found);
        const std::size_t line_end = dumped.find('\n', found);
        out.append(dumped, i, slash - i);
        i = line_end;
    }
    return out;
}

/// Every branch in a dump has capacity equal to its length.
bool branches_are_exact(const std::string& dumped) {
    std::size_t found = 0;
    while ((found = dumped.find("branch ", found)) != std::string::npos) {
        found += 7;
        const std::size_t slash = dumped.find('/', found);
        const std::size_t line_end = dumped.find('\n', found);
        if (dumped.substr(found, slash - found) != dumped.substr(slash + 1, line_end - slash - 1)) {
            return false;
        }
    }
    return true;
}

/// Both maps hold the same key objects and values, in the same order.
template <class Map>
void expect_same_entries(const Map& expected, const Map& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    auto want = expected.iter();
    auto got = actual.iter();
    while (const auto* entry = want.next()) {
        const auto* other = got.next();
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(entry->key().hash(), other->key().hash());
        EXPECT_EQ(entry->key().id(), other->key().id());
        EXPECT_EQ(entry->key().tag(), other->key().tag());
        if constexpr (!std::is_same_v<typename Map::mapped_type, NoValue>) {
            EXPECT_TRUE(entry->value().same_as(other->value()));
        }
    }
    EXPECT_EQ(got.next(), nullptr);
}

/// Random items whose hashes cluster: fresh random hashes, hashes sharing a random
/// number of low digits with an earlier one (chains), equal hashes with a new key
/// (buckets), an earlier key again (replacement, also inside buckets), and an earlier
/// key's id under another hash (equal keys that never meet).
template <class Map>
std::vector<Input<Map>> clustered_input(std::uint64_t seed, std::size_t n) {
    std::mt19937_64 random(seed);
    std::vector<Input<Map>> input;
    int next_id = 1;
    for (std::size_t position = 0; position < n; ++position) {
        const int tag = static_cast<int>(position) + 1;
        std::uint64_t hash = random();
        int id = next_id++;
        if (!input.empty()) {
            const TestKey& earlier = input[random() % input.size()].key;
            const std::uint64_t shared_bits = 6 * (1 + random() % 10);
            switch (random() % 8) {
                case 0:
                case 1:
                    hash = (hash << shared_bits) | (earlier.hash() & ((1ull << shared_bits) - 1));
                    break;
                case 2:
                    hash = earlier.hash();
                    break;
                case 3:
                case 4:
                    hash = earlier.hash();
                    id = earlier.id();
                    break;
                case 5:
                    id = earlier.id();
                    break;
                default:
                    break;
            }
        }
        input.push_back({TestKey(hash, id, tag), value_at<Map>(tag)});
    }
    return input;
}

TYPED_TEST(TrieBulk, MatchesInsertionOneByOneOnClusteredHashes) {
    for (std::uint64_t seed = 1; seed <= 200; ++seed) {
        // Mostly short inputs, where clusters are dense; every tenth long enough for the
        // sort's counting passes.
        const std::size_t n = seed % 10 == 0 ? 2000 : seed % 97;
        const auto input = clustered_input<TypeParam>(seed, n);
        const TypeParam expected = build_one_by_one(input);
        const TypeParam actual = build_in_bulk(input);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(n) + " items");
        actual.check_invariants();
        EXPECT_EQ(shape(dump(actual)), shape(dump(expected)));
        EXPECT_TRUE(branches_are_exact(dump(actual)));
        expect_same_entries(expected, actual);
        if (::testing::Test::HasFailure()) {
            return;
        }
    }
}

TYPED_TEST(TrieBulk, BucketsKeepTheOrderOfInsertion) {
    // One hash throughout: k1 and k2 collide, k1 comes back (to the front, new object),
    // k3 joins, k2 comes back twice.
    const std::uint64_t h = hash_of_digits({5, 1});
    std::vector<Input<TypeParam>> input;
    int tag = 0;
    for (int id : {1, 2, 1, 3, 2, 2}) {
        ++tag;
        input.push_back({TestKey(h, id, tag), value_at<TypeParam>(tag)});
    }
    const TypeParam map = build_in_bulk(input);
    map.check_invariants();
    EXPECT_EQ(shape(dump(map)), shape(dump(build_one_by_one(input))));
    EXPECT_EQ(testing::ids(map), (std::vector<int>{2, 3, 1}));
    // A run that resolves to one key is an ordinary leaf, right under the root.
    const std::vector<Input<TypeParam>> repeated = {{TestKey(h, 7, 1), value_at<TypeParam>(1)},
                                                    {TestKey(h, 7, 2), value_at<TypeParam>(2)}};
    EXPECT_EQ(dump(build_in_bulk(repeated)),
              "branch 1/1\n"
              "  5: entry 0000000000000045 k7/2\n");
}

TYPED_TEST(TrieBulk, EmptyAndSingleInputs) {
    const TypeParam empty = TypeParam::build(HashBuilder{}, typename TypeParam::Items());
    empty.check_invariants();
    EXPECT_TRUE(empty.is_empty());
    EXPECT_EQ(dump(empty), "branch 0/0\n");
    EXPECT_EQ(empty.iter().next(), nullptr);

    const TypeParam one = build_in_bulk<TypeParam>({{TestKey(9, 1), value_at<TypeParam>(1)}});
    one.check_invariants();
    EXPECT_EQ(one.size(), 1u);
    EXPECT_EQ(dump(one),
              "branch 1/1\n"
              "  9: entry 0000000000000009 k1\n");
}

TYPED_TEST(TrieBulk, ABuiltMapIsAnOrdinaryVersion) {
    const auto input = clustered_input<TypeParam>(7, 500);
    const TypeParam built = build_in_bulk(input);
    TypeParam grown = built;
    for (std::size_t i = 0; i < 50; ++i) {
        const TestKey& key = input[i * 7].key;
        grown = grown.insert(TestKey(key.hash() + 1, -key.id()), value_at<TypeParam>(0));
        grown = grown.remove(key);
    }
    grown.check_invariants();
    built.check_invariants();
    EXPECT_EQ(dump(built), dump(build_in_bulk(input)));
    // In place, a full exact branch grows like any other.
    TypeParam in_place = build_in_bulk(input);
    for (std::size_t i = 0; i < 64; ++i) {
        in_place.insert_in_place(TestKey(i, -1 - static_cast<int>(i)), value_at<TypeParam>(0));
    }
    in_place.check_invariants();
}

TYPED_TEST(TrieBulk, AComparisonThatThrowsReleasesEverything) {
    const auto make_input = [] { return clustered_input<TypeParam>(11, 400); };
    std::size_t comparisons = 0;
    {
        const auto input = make_input();
        KeyLog::reset();
        build_in_bulk(input);
        comparisons = KeyLog::eq_calls;
    }
    ASSERT_GT(comparisons, 3u);
    for (std::size_t after : {std::size_t{0}, comparisons / 2, comparisons - 1}) {
        {
            const auto input = make_input();
            KeyLog::reset();
            KeyLog::fail_after(after);
            EXPECT_THROW(build_in_bulk(input), EqFailure) << after;
        }
        EXPECT_EQ(KeyLog::live, 0u);
        EXPECT_EQ(Tracked::live(), 0u);
        EXPECT_EQ(CountingHeap::live_blocks, 0u);
    }
}

}  // namespace
}  // namespace quil
