// Set algebra by structure (trie/algebra.hpp) against the walk algorithms it must agree
// with: the same elements and key objects, the same shape, the same key comparisons in
// the same order, sharing with the operands, and nothing changed or leaked when a
// comparison throws half-way.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "quil/trie/algebra.hpp"
#include "support/tracked.hpp"
#include "support/trie_keys.hpp"

namespace quil {
namespace {

using testing::CountingHeap;
using testing::EqFailure;
using testing::hash_of_digits;
using testing::IdentityHasher;
using testing::KeyLog;
using testing::NothingLeftAlive;

using testing::Kind;
/// Silent, plain or NaN-like keys with chosen trie hashes (under IdentityHasher).
using AlgebraKey = testing::KindKey;

using Set = TrieSet<AlgebraKey, IdentityHasher, CountingHeap>;

// ---------------------------------------------------------------- the walk algorithms

Set walk_union(const Set& s, const Set& o) {
    const bool s_larger = s.size() > o.size();
    Set result = s_larger ? s : o;
    auto walk = (s_larger ? o : s).iter();
    while (const auto* entry = walk.next()) {
        const AlgebraKey& key = entry->key();
        if (key.equals_itself_silently()) {
            const auto* stored = result.lookup_unique_hash(key);
            if (stored != nullptr && stored->key().same_object(key)) {
                continue;
            }
        }
        result.insert_in_place(AlgebraKey(key));
    }
    return result;
}

Set walk_intersection(const Set& s, const Set& o) {
    const bool s_walked = s.size() <= o.size();
    const Set& probed = s_walked ? o : s;
    Set result = Set::create(s.hash_builder());
    auto walk = (s_walked ? s : o).iter();
    while (const auto* entry = walk.next()) {
        if (probed.contains(entry->key())) {
            result.insert_in_place(AlgebraKey(entry->key()));
        }
    }
    return result;
}

Set walk_difference(const Set& s, const Set& o) {
    Set result = s;
    auto walk = o.iter();
    while (const auto* entry = walk.next()) {
        result.remove_in_place(entry->key());
    }
    return result;
}

Set walk_symmetric_difference(const Set& s, const Set& o) {
    const bool s_larger = s.size() > o.size();
    Set result = s_larger ? s : o;
    auto walk = (s_larger ? o : s).iter();
    while (const auto* entry = walk.next()) {
        const AlgebraKey& key = entry->key();
        if (key.equals_itself_silently()) {
            if (!result.remove_in_place(key)) {
                result.insert_in_place(AlgebraKey(key));
            }
        } else if (result.contains(key)) {
            result.remove_in_place(key);
        } else {
            result.insert_in_place(AlgebraKey(key));
        }
    }
    return result;
}

struct Operation {
    const char* name;
    std::function<Set(const Set&, const Set&)> by_structure;
    std::function<Set(const Set&, const Set&)> by_walk;
};

const Operation kOperations[] = {
    {"union", union_of<AlgebraKey, IdentityHasher, CountingHeap>, walk_union},
    {"intersection", intersection_of<AlgebraKey, IdentityHasher, CountingHeap>, walk_intersection},
    {"difference", difference_of<AlgebraKey, IdentityHasher, CountingHeap>, walk_difference},
    {"symmetric_difference", symmetric_difference_of<AlgebraKey, IdentityHasher, CountingHeap>,
     walk_symmetric_difference},
};

// ---------------------------------------------------------------- reading a set back

/// The tree without branch capacities, which only say how a branch was made.
std::string shape(const Set& set) {
    std::string tree = set.dump([](const AlgebraKey& key) {
        std::string text = "k";
        text += std::to_string(key.id());
        text += '/';
        text += std::to_string(key.tag());
        return text;
    });
    // "branch LEN/CAPACITY" becomes "branch LEN".
    for (std::size_t at = tree.find("branch "); at != std::string::npos;
         at = tree.find("branch ", at + 1)) {
        const std::size_t slash = tree.find('/', at);
        tree.erase(slash, tree.find('\n', slash) - slash);
    }
    return tree;
}

struct Snapshot {
    std::string tree;
    std::uint64_t size;
    std::vector<std::pair<int, int>> calls;

    bool operator==(const Snapshot&) const = default;
};

void PrintTo(const Snapshot& snapshot, std::ostream* out) {
    *out << "size " << snapshot.size << ", " << snapshot.calls.size() << " comparisons:";
    for (const auto& [stored, probe] : snapshot.calls) {
        *out << " " << stored << "=" << probe;
    }
    *out << "\n" << snapshot.tree;
}

Snapshot snapshot(const Set& set, std::vector<std::pair<int, int>> calls = {}) {
    set.check_invariants();
    return {shape(set), set.size(), std::move(calls)};
}

/// The operation by structure and by walk, from the same log state: equal results and
/// equal comparisons.
void expect_agreement(const Operation& op, const Set& s, const Set& o) {
    SCOPED_TRACE(op.name);
    KeyLog::reset();
    const Set walked = op.by_walk(s, o);
    const Snapshot expected = snapshot(walked, KeyLog::calls);
    KeyLog::reset();
    const Set merged = op.by_structure(s, o);
    EXPECT_EQ(snapshot(merged, KeyLog::calls), expected);
}

class TrieAlgebra : public NothingLeftAlive<> {};

AlgebraKey key(int id, Kind kind = Kind::kSilent, int tag = 0) {
    return AlgebraKey(
        hash_of_digits({static_cast<unsigned>(id % 64), static_cast<unsigned>(id / 64 % 64), 5}),
        id, kind, tag);
}

Set set_of(const std::vector<AlgebraKey>& keys) {
    Set set = Set::create(HashBuilder{});
    for (const AlgebraKey& k : keys) {
        set.insert_in_place(AlgebraKey(k));
    }
    return set;
}

std::vector<AlgebraKey> keys(int from, int to, Kind kind = Kind::kSilent) {
    std::vector<AlgebraKey> out;
    for (int id = from; id < to; ++id) {
        out.push_back(key(id, kind));
    }
    return out;
}

// ---------------------------------------------------------------- tests

TEST_F(TrieAlgebra, SilentSetWithItselfTouchesNoElement) {
    const Set s = set_of(keys(0, 300));
    KeyLog::reset();
    const std::size_t blocks = CountingHeap::live_blocks;
    {
        const Set u = union_of(s, s);
        const Set i = intersection_of(s, s);
        EXPECT_TRUE(u.root_is(s));
        EXPECT_TRUE(i.root_is(s));
        EXPECT_EQ(CountingHeap::live_blocks, blocks);  // nothing made
        EXPECT_EQ(difference_of(s, s).size(), 0u);
        EXPECT_EQ(symmetric_difference_of(s, s).size(), 0u);
    }
    EXPECT_EQ(KeyLog::eq_calls, 0u);
}

TEST_F(TrieAlgebra, VersionsShareWhatTheyShareAndCopyOnlyTheChangedPath) {
    const Set s = set_of(keys(0, 300));
    const Set t = s.remove(key(7)).insert(key(1000));
    const std::size_t blocks = CountingHeap::live_blocks;
    for (const Operation& op : kOperations) {
        expect_agreement(op, s, t);
        expect_agreement(op, t, s);
        const Set result = op.by_structure(s, t);
        // The two changed paths, three levels each at most.
        EXPECT_LE(CountingHeap::live_blocks - blocks, 6u) << op.name;
    }
}

TEST_F(TrieAlgebra, ElementsThatAreNotSilentAreComparedAsTheWalkComparesThem) {
    // Every shared element meets its own entry: a plain key is compared with itself
    // (twice for an insertion), a NaN-like key is unequal to itself and goes in twice.
    std::vector<AlgebraKey> mixed = keys(0, 40, Kind::kPlain);
    for (AlgebraKey& k : keys(40, 50, Kind::kNaN)) {
        mixed.push_back(std::move(k));
    }
    for (AlgebraKey& k : keys(50, 90)) {
        mixed.push_back(std::move(k));
    }
    const Set s = set_of(mixed);
    const Set t = s.insert(key(3, Kind::kPlain, 1)).remove(key(60));
    for (const Operation& op : kOperations) {
        expect_agreement(op, s, s);
        expect_agreement(op, s, t);
        expect_agreement(op, t, s);
    }
    KeyLog::reset();
    EXPECT_EQ(union_of(s, s).size(), 100u);  // the ten NaN-like keys twice
}

TEST_F(TrieAlgebra, BucketsAreReplayedElementByElement) {
    // Keys 0..3 share one hash: a bucket reading k3, k2, k1, k0.
    const std::uint64_t h = hash_of_digits({9, 9, 9});
    std::vector<AlgebraKey> ks;
    for (int id = 0; id < 4; ++id) {
        ks.emplace_back(h, id, id % 2 == 0 ? Kind::kSilent : Kind::kPlain);
    }
    for (AlgebraKey& k : keys(100, 140)) {
        ks.push_back(std::move(k));
    }
    const Set s = set_of(ks);
    const Set t =
        s.insert(AlgebraKey(h, 1, Kind::kPlain, 7)).remove(AlgebraKey(h, 2, Kind::kSilent));
    for (const Operation& op : kOperations) {
        expect_agreement(op, s, s);  // re-inserting a bucket's elements reverses it
        expect_agreement(op, s, t);
        expect_agreement(op, t, s);
    }
}

TEST_F(TrieAlgebra, RootsThatAreSingleEntriesOrEmpty) {
    const Set two = set_of(keys(0, 2));
    const Set one = two.remove(key(0));  // the root is now the single entry k1
    const Set empty = one.remove(key(1));
    const Set other = set_of({key(1, Kind::kSilent, 3)});
    for (const Operation& op : kOperations) {
        for (const Set* a : {&two, &one, &empty, &other}) {
            for (const Set* b : {&two, &one, &empty, &other}) {
                expect_agreement(op, *a, *b);
            }
        }
    }
}

TEST_F(TrieAlgebra, OperandsWithDifferentHashBuildersAreRefused) {
    const Set s = set_of(keys(0, 3));
    const Set t = Set::create(HashBuilder{1, 2});
    EXPECT_THROW(union_of(s, t), Panic);
}

// ---------------------------------------------------------------- fuzz

/// Seeded rounds over versions derived from one set: random inserts (of new ids, and of
/// new objects for present ids) and removals, in universes with and without buckets,
/// with silent, plain and NaN-like keys; every operation on every pair agrees with its
/// walk, and a comparison that throws at any point leaves both operands as they were.
class TrieAlgebraFuzz : public NothingLeftAlive<::testing::TestWithParam<int>> {};

TEST_P(TrieAlgebraFuzz, AgreesWithTheWalkAndFailsCleanly) {
    const bool clustered = GetParam() % 2 == 1;
    std::mt19937_64 random(static_cast<std::uint64_t>(GetParam()));
    const int ids = clustered ? 60 : 400;
    std::vector<std::uint64_t> hashes;
    std::vector<std::uint64_t> pool;
    for (int i = 0; i < 25; ++i) {
        std::uint64_t h = 0;
        for (unsigned d = 0; d <= detail::kMaxBranchDepth; ++d) {
            const std::uint64_t digits[] = {0, 1, d == detail::kMaxBranchDepth ? 15u : 63u};
            h |= digits[random() % 3] << (detail::kBitsPerLevel * d);
        }
        pool.push_back(h);
    }
    for (int id = 0; id < ids; ++id) {
        hashes.push_back(clustered ? pool[static_cast<std::size_t>(id) % pool.size()] : random());
    }
    const auto make = [&](int id, int tag) {
        // Mostly silent keys, as sets of str and int are; some of each other kind.
        const Kind kind = id % 7 == 0 ? Kind::kPlain : id % 11 == 0 ? Kind::kNaN : Kind::kSilent;
        return AlgebraKey(hashes[static_cast<std::size_t>(id)], id, kind, tag);
    };
    int next_tag = 1;
    const auto derive = [&](const Set& from, int steps) {
        Set version = from;
        for (int i = 0; i < steps; ++i) {
            const int id = static_cast<int>(random() % static_cast<std::uint64_t>(ids));
            if (random() % 3 == 0) {
                version.remove_in_place(make(id, 0));
            } else {
                version.insert_in_place(make(id, random() % 2 == 0 ? 0 : next_tag++));
            }
        }
        return version;
    };

    for (int round = 0; round < 6; ++round) {
        const Set base = derive(Set::create(HashBuilder{}), ids * 3 / 4);
        const int small = 1 + static_cast<int>(random() % 4);
        const Set versions[] = {base, derive(base, small), derive(base, small),
                                derive(base, ids / 2)};
        for (const Set& s : versions) {
            for (const Set& o : versions) {
                for (const Operation& op : kOperations) {
                    expect_agreement(op, s, o);
                    const std::size_t calls = KeyLog::eq_calls;
                    if (calls == 0) {
                        continue;
                    }
                    const Snapshot s_before = snapshot(s);
                    const Snapshot o_before = snapshot(o);
                    KeyLog::reset();
                    KeyLog::fail_after(random() % calls);
                    EXPECT_THROW(op.by_structure(s, o), EqFailure) << op.name;
                    KeyLog::reset();
                    EXPECT_EQ(snapshot(s), s_before);
                    EXPECT_EQ(snapshot(o), o_before);
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, TrieAlgebraFuzz, ::testing::Range(0, 8));

}  // namespace
}  // namespace quil
