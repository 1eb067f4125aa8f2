// What every engine structure does when its Heap runs out (common/memory.hpp): each
// operation is run with its first allocation failing, then its second, and so on until
// it completes; every failure must leave the receiver and the versions it came from as
// they were, and nothing made by the failed attempt alive.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "quil/queue.hpp"
#include "quil/stack.hpp"
#include "quil/trie/trie.hpp"
#include "support/tracked.hpp"
#include "support/trie_keys.hpp"

namespace quil {
namespace {

using testing::Blocks;
using testing::Census;
using testing::CountingHeap;
using testing::dump;
using testing::fail_each_allocation;
using testing::hash_of_digits;
using testing::ids;
using testing::KeyLog;
using testing::NothingLeftAlive;
using testing::TestKey;
using testing::TestMap;
using testing::TestSet;
using testing::Tracked;
using testing::value_for;

// ---------------------------------------------------------------- the hash trie

/// A map's entries in walk order: (id, tag, value id) each.
template <class Map>
std::vector<std::tuple<int, int, int>> items(const Map& map) {
    std::vector<std::tuple<int, int, int>> out;
    auto it = map.iter();
    while (const auto* entry = it.next()) {
        int value = entry->key().id();
        if constexpr (!std::is_same_v<typename Map::mapped_type, NoValue>) {
            value = entry->value().value();
        }
        out.emplace_back(entry->key().id(), entry->key().tag(), value);
    }
    return out;
}

const std::uint64_t kBucketHash = hash_of_digits({7, 8});

/// Leaves at the root, a pair under a depth-1 branch, and a bucket of three at depth 11.
template <class Map>
Map sample() {
    return testing::build<Map>({TestKey(hash_of_digits({1}), 1), TestKey(hash_of_digits({2}), 2),
                                TestKey(hash_of_digits({3, 4}), 3),
                                TestKey(hash_of_digits({3, 5}), 4), TestKey(kBucketHash, 5),
                                TestKey(kBucketHash, 6), TestKey(kBucketHash, 7)});
}

struct TrieCase {
    const char* name;
    bool insert;  // else remove
    std::uint64_t hash;
    int id;
    int tag = 0;

    TestKey key() const { return TestKey(hash, id, tag); }
};

const TrieCase kTrieCases[] = {
    {"insert into an empty slot", true, hash_of_digits({9}), 20},
    {"insert splitting a leaf", true, hash_of_digits({1, 3}), 21},
    {"insert splitting a leaf down a chain", true, hash_of_digits({1, 0, 0, 0, 5}), 22},
    {"insert colliding with a leaf", true, hash_of_digits({1}), 23},
    {"insert replacing a leaf", true, hash_of_digits({1}), 1, 9},
    {"insert into a bucket", true, kBucketHash, 24},
    {"insert replacing in a bucket", true, kBucketHash, 6, 9},
    {"remove a root leaf", false, hash_of_digits({1}), 1},
    {"remove collapsing a branch", false, hash_of_digits({3, 4}), 3},
    {"remove from a bucket", false, kBucketHash, 6},
    {"remove an absent key", false, kBucketHash, 99},
};

template <class Map>
class TrieOutOfMemory : public NothingLeftAlive<> {};
using Forms = ::testing::Types<TestMap, TestSet>;
TYPED_TEST_SUITE(TrieOutOfMemory, Forms);

TYPED_TEST(TrieOutOfMemory, PersistentUpdatesLeaveTheReceiverAsItWas) {
    for (const TrieCase& c : kTrieCases) {
        SCOPED_TRACE(c.name);
        const auto map = sample<TypeParam>();
        const std::string shape = dump(map);
        const std::size_t failures = fail_each_allocation(
            [&] {
                const auto changed = c.insert ? map.insert(c.key(), value_for<TypeParam>(c.id))
                                              : map.remove(c.key());
                changed.check_invariants();
            },
            [&] {
                EXPECT_EQ(dump(map), shape);
                map.check_invariants();
            });
        EXPECT_GT(failures, 0u);
    }
}

// The in-place forms are all or nothing: a mutation goes on using its record after a
// failure. The record shares its nodes with an older version, whose shape must not move.
TYPED_TEST(TrieOutOfMemory, InPlaceUpdatesLeaveTheRecordHoldingWhatItHeld) {
    for (const TrieCase& c : kTrieCases) {
        SCOPED_TRACE(c.name);
        const auto older = sample<TypeParam>();
        const std::string shape = dump(older);
        const auto contents = items(older);
        TypeParam working = older;
        bool changed = false;
        fail_each_allocation(
            [&] {
                changed = c.insert ? working.insert_in_place(c.key(), value_for<TypeParam>(c.id))
                                   : working.remove_in_place(c.key());
            },
            [&] {
                EXPECT_EQ(items(working), contents);
                EXPECT_EQ(working.size(), older.size());
                working.check_invariants();
                EXPECT_EQ(dump(older), shape);
            },
            Blocks::kCopiesKept);
        working.check_invariants();
        EXPECT_EQ(working.contains(c.key()), c.insert);
        std::uint64_t size = older.size();
        if (changed) {
            size = c.insert ? size + 1 : size - 1;
        }
        EXPECT_EQ(working.size(), size);
    }
}

TYPED_TEST(TrieOutOfMemory, RemovingTheLastEntryOfASingleEntryRoot) {
    auto single = testing::build<TypeParam>({TestKey(1, 1), TestKey(2, 2)});
    single.remove_in_place(TestKey(2, 2));
    ASSERT_EQ(dump(single), "entry 0000000000000001 k1\n");
    TypeParam working = single;
    fail_each_allocation([&] { working.remove_in_place(TestKey(1, 1)); },
                         [&] { EXPECT_EQ(dump(working), "entry 0000000000000001 k1\n"); });
    EXPECT_TRUE(working.is_empty());
    working.check_invariants();
}

TYPED_TEST(TrieOutOfMemory, CreateAndBulkBuildReleaseEverything) {
    fail_each_allocation([] { (void)TypeParam::create(HashBuilder{}); }, [] {});
    const std::size_t failures = fail_each_allocation(
        [] {
            typename TypeParam::Items in;
            for (int id = 0; id < 40; ++id) {
                // Keys spread over the root, some of them in pairs of one hash (a chain
                // down to a bucket).
                const auto hash = static_cast<std::uint64_t>(id % 30) * 65;
                in.push(TestKey(hash, id % 36), value_for<TypeParam>(id));
            }
            const auto built = TypeParam::build(HashBuilder{}, std::move(in));
            built.check_invariants();
        },
        [] {});
    EXPECT_GT(failures, 40u);
}

TYPED_TEST(TrieOutOfMemory, AWalkThatRunsOutResumesWhereItWas) {
    // Keys under a chain down to a bucket at depth 11: the walk's stack outgrows the
    // cursors held inline and allocates as it descends.
    auto map = sample<TypeParam>();
    map = map.insert(TestKey(hash_of_digits({1}), 30), value_for<TypeParam>(30));
    const auto expected = ids(map);
    std::vector<int> seen;
    std::size_t failures = 0;
    auto it = map.iter();
    for (;;) {
        CountingHeap::fail_nth(1);
        const typename TypeParam::Entry* entry = nullptr;
        try {
            entry = it.next();
        } catch (const std::bad_alloc&) {
            ++failures;
            entry = it.next();
        }
        CountingHeap::disarm();
        if (entry == nullptr) {
            break;
        }
        seen.push_back(entry->key().id());
    }
    EXPECT_EQ(seen, expected);
    EXPECT_GT(failures, 0u);

    auto deep = map.iter();
    while (deep.stack_capacity() < 8) {
        ASSERT_NE(deep.next(), nullptr);
    }
    fail_each_allocation([&] { const auto copy = deep; }, [] {});
}

// ---------------------------------------------------------------- lists, queues, stacks

using List = PersistentList<Tracked, CountingHeap>;
using Queue = PersistentQueue<Tracked, CountingHeap>;
using Stack = PersistentStack<Tracked, CountingHeap>;

std::vector<int> values_of(const List& list) {
    std::vector<int> out;
    for (const Tracked& element : list) {
        out.push_back(element.value());
    }
    return out;
}

template <class Record>
std::vector<int> walked(const Record& record) {
    std::vector<int> out;
    auto cursor = record.cursor();
    while (const Tracked* element = cursor.next()) {
        out.push_back(element->value());
    }
    return out;
}

bool same(const Tracked& a, const Tracked& b) { return a.same_as(b); }

List numbers(int n) {
    List list;
    for (int i = n; i > 0; --i) {
        list.push_front_in_place(Tracked(i));
    }
    return list;
}

class SequenceOutOfMemory : public NothingLeftAlive<> {};

TEST_F(SequenceOutOfMemory, ListOperationsLeaveEveryVersionAsItWas) {
    const List source = numbers(5);
    const auto expected = values_of(source);
    const auto unchanged = [&] {
        EXPECT_EQ(values_of(source), expected);
        source.check_invariants(same);
    };
    fail_each_allocation([&] { (void)source.push_front(Tracked(0)); }, unchanged);
    EXPECT_EQ(fail_each_allocation([&] { (void)source.reverse(); }, unchanged), 5u);

    // In place, on a clone sharing every node: each node it reaches is copied, and a
    // failure part way turns the copies back.
    List working = source;
    fail_each_allocation([&] { working.reverse_in_place(); },
                         [&] {
                             unchanged();
                             EXPECT_EQ(values_of(working), expected);
                             working.check_invariants(same);
                         },
                         Blocks::kCopiesKept);
    EXPECT_EQ(values_of(working), (std::vector<int>{5, 4, 3, 2, 1}));
    working.check_invariants(same);
    fail_each_allocation([&] { working.push_front_in_place(Tracked(6)); },
                         [&] { EXPECT_EQ(working.len(), 5u); });
    EXPECT_EQ(working.len(), 6u);
}

TEST_F(SequenceOutOfMemory, QueueAndStackOperationsLeaveEveryVersionAsItWas) {
    Queue queue;
    for (int i = 1; i <= 4; ++i) {
        queue = queue.enqueue(Tracked(i));
    }
    const auto expected = walked(queue);
    const auto unchanged = [&] {
        EXPECT_EQ(walked(queue), expected);
        queue.check_invariants(same);
    };
    fail_each_allocation([&] { (void)queue.enqueue(Tracked(5)); }, unchanged);
    // The first dequeue reverses rear_list into new nodes.
    EXPECT_EQ(fail_each_allocation([&] { (void)queue.dequeue(); }, unchanged), 4u);

    // A walk reaching rear_list builds an array; when that fails the walk can go on.
    auto cursor = queue.cursor();
    CountingHeap::fail_nth(1);
    EXPECT_THROW(cursor.next(), std::bad_alloc);
    EXPECT_EQ(cursor.remaining(), 4u);
    std::vector<int> rest;
    while (const Tracked* element = cursor.next()) {
        rest.push_back(element->value());
    }
    EXPECT_EQ(rest, expected);

    const Stack stack = Stack().push(Tracked(1)).push(Tracked(2));
    fail_each_allocation([&] { (void)stack.push(Tracked(3)); },
                         [&] {
                             EXPECT_EQ(walked(stack), (std::vector<int>{2, 1}));
                         });
}

}  // namespace
}  // namespace quil
