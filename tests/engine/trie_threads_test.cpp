// Versions of one trie shared between threads under atomic counts: threads clone,
// derive, walk, hand over and drop versions of one map at the same time. Built and run
// under ThreadSanitizer in CI (QUIL_SANITIZE_THREAD), where a count touched without
// the atomic policy, or a block written while shared, is a reported race.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "quil/trie/trie.hpp"

namespace quil {
namespace {

/// A key equal by its feed. Keeps no shared bookkeeping, so threads may use it freely.
class PlainKey {
public:
    explicit PlainKey(std::uint64_t feed) noexcept : feed_(feed) {}
    std::uint64_t hash_feed() const noexcept { return feed_; }
    bool equals(const PlainKey& probe) const noexcept { return feed_ == probe.feed_; }

private:
    std::uint64_t feed_;
};

/// The system heap with atomic counts, counting live blocks (from any thread).
struct SharedHeap {
    using Counts = AtomicCounts;
    static void* allocate(std::size_t size) {
        live.fetch_add(1, std::memory_order_relaxed);
        return SystemHeap::allocate(size);
    }
    static void deallocate(void* block, std::size_t size) noexcept {
        live.fetch_sub(1, std::memory_order_relaxed);
        SystemHeap::deallocate(block, size);
    }
    static inline std::atomic<long> live{0};
};

using Map = TrieMap<PlainKey, std::uint64_t, SipHash13Hasher, SharedHeap>;

constexpr std::uint64_t kBaseKeys = 3000;
constexpr unsigned kThreads = 4;
constexpr unsigned kRounds = 200;

/// Sum of the values of every entry, by a whole walk.
std::uint64_t walk_sum(const Map& map) {
    std::uint64_t sum = 0;
    auto it = map.iter();
    while (const auto* entry = it.next()) {
        sum += entry->value();
    }
    return sum;
}

/// Versions handed from one thread to another.
class Mailbox {
public:
    void put(Map map) {
        std::lock_guard lock(mutex_);
        maps_.push_back(std::move(map));
    }
    std::optional<Map> take() {
        std::lock_guard lock(mutex_);
        if (maps_.empty()) {
            return std::nullopt;
        }
        Map map = std::move(maps_.back());
        maps_.pop_back();
        return map;
    }

private:
    std::mutex mutex_;
    std::vector<Map> maps_;
};

TEST(TrieThreads, VersionsOfOneTrieAreSharedDerivedWalkedAndDropped) {
    std::optional<Map> base(Map::create(HashBuilder{1, 2}));
    for (std::uint64_t k = 0; k < kBaseKeys; ++k) {
        base->insert_in_place(PlainKey(k), k);
    }
    const std::uint64_t base_sum = walk_sum(*base);
    Mailbox mailbox;
    std::barrier start(kThreads);
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (unsigned t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Map mine = *base;  // clones of one root, taken at once
            start.arrive_and_wait();
            for (unsigned round = 0; round < kRounds; ++round) {
                const std::uint64_t fresh = kBaseKeys + t * kRounds + round;
                const std::uint64_t gone = (t * 7919 + round * 104729) % kBaseKeys;
                // Derived from the shared base: path copies clone children other threads
                // clone and release at the same time.
                Map grown = base->insert(PlainKey(fresh), fresh);
                Map shrunk = base->remove(PlainKey(gone));
                if (grown.size() != kBaseKeys + 1 || shrunk.size() != kBaseKeys - 1 ||
                    walk_sum(*base) != base_sum || walk_sum(shrunk) != base_sum - gone) {
                    ++failures[t];
                }
                mine.insert_in_place(PlainKey(fresh), fresh);
                mailbox.put(std::move(grown));
                if (auto other = mailbox.take()) {  // a version another thread made
                    const auto* found = other->lookup(PlainKey(0));
                    if (found == nullptr || walk_sum(*other) < base_sum) {
                        ++failures[t];
                    }
                }
            }
            if (mine.size() != kBaseKeys + kRounds) {
                ++failures[t];
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (unsigned t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[t], 0) << "thread " << t;
    }
    base->check_invariants();
    EXPECT_EQ(walk_sum(*base), base_sum);
    while (mailbox.take()) {
    }
    base.reset();
    EXPECT_EQ(SharedHeap::live.load(), 0);  // every block freed, by whichever thread
}

}  // namespace
}  // namespace quil
