// HashBuilder: per-thread seeding, consecutive draws, and which versions inherit a pair.
#include "quil/trie/hash_builder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "support/trie_keys.hpp"

namespace quil {
namespace {

using testing::CountingHeap;
using testing::TestKey;
using SipSet = TrieSet<TestKey, SipHash13Hasher, CountingHeap>;

TEST(HashBuilder, ConsecutiveDrawsStepK0) {
    const HashBuilder first = HashBuilder::draw();
    const HashBuilder second = HashBuilder::draw();
    EXPECT_EQ(second.k0, first.k0 + 1);
    EXPECT_EQ(second.k1, first.k1);
}

TEST(HashBuilder, K0WrapsAround) {
    detail::ThreadSeed saved = detail::thread_seed();
    detail::thread_seed() = {true, UINT64_MAX, 7};
    EXPECT_EQ(HashBuilder::draw(), (HashBuilder{UINT64_MAX, 7}));
    EXPECT_EQ(HashBuilder::draw(), (HashBuilder{0, 7}));
    detail::thread_seed() = saved;
}

TEST(HashBuilder, EachThreadFillsItsOwnSeed) {
    const HashBuilder here = HashBuilder::draw();
    bool filled_before = true;
    HashBuilder there;
    std::thread worker([&] {
        filled_before = detail::thread_seed().filled;
        there = HashBuilder::draw();
    });
    worker.join();
    EXPECT_FALSE(filled_before);
    // Two independent 128-bit random seeds: equal only by a 2^-64 accident.
    EXPECT_NE(there.k1, here.k1);
    EXPECT_EQ(HashBuilder::draw().k0, here.k0 + 1);
}

TEST(HashBuilder, OnlyCreationDrawsAndVersionsInherit) {
    SipSet a = SipSet::create();
    SipSet b = SipSet::create();
    EXPECT_EQ(b.hash_builder(), (HashBuilder{a.hash_builder().k0 + 1, a.hash_builder().k1}));

    SipSet grown = a.insert(TestKey(1, 1)).insert(TestKey(2, 2));
    SipSet shrunk = grown.remove(TestKey(1, 1));
    SipSet copy = shrunk;
    EXPECT_EQ(grown.hash_builder(), a.hash_builder());
    EXPECT_EQ(shrunk.hash_builder(), a.hash_builder());
    EXPECT_EQ(copy.hash_builder(), a.hash_builder());
    EXPECT_EQ(SipSet::create().hash_builder().k0, b.hash_builder().k0 + 1);
}

TEST(HashBuilder, TrieHashIsKeyedSipHashOfTheFeed) {
    const SipSet set = SipSet::create(HashBuilder{11, 13});
    const TestKey key(0x0123456789abcdefu, 1);
    EXPECT_EQ(set.hash_of(key), siphash13_u64(11, 13, 0x0123456789abcdefu));
    EXPECT_NE(SipSet::create(HashBuilder{12, 13}).hash_of(key), set.hash_of(key));
}

}  // namespace
}  // namespace quil
