// Test kit for the hash trie: a key whose trie hash the test chooses (through the
// identity hasher), which counts its live instances and its equality calls and can be
// told to throw on its Nth comparison or to answer as scripted; the two map forms;
// helpers to read a trie back.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "quil/trie/trie.hpp"
#include "support/tracked.hpp"

namespace quil::testing {

/// What a failing key comparison throws.
struct EqFailure : std::runtime_error {
    EqFailure() : std::runtime_error("key comparison failed") {}
};

/// The bookkeeping all TestKeys share.
struct KeyLog {
    static inline std::size_t live = 0;
    static inline std::size_t eq_calls = 0;
    /// The comparison (counted from 1 since the last reset) that throws; 0 = none.
    static inline std::size_t fail_at = 0;
    /// (stored id, probe id) of every comparison since the last reset.
    static inline std::vector<std::pair<int, int>> calls;

    /// What the next comparisons answer, front first, whatever the ids say: a key whose
    /// equality changes its mind. Empty: ids decide.
    static inline std::deque<bool> answers;

    static void reset() {
        eq_calls = 0;
        fail_at = 0;
        calls.clear();
        answers.clear();
    }
    /// Makes the next comparison but `after` throw.
    static void fail_after(std::size_t after) { fail_at = eq_calls + after + 1; }
};

/// A test fixture (over Base, ::testing::Test by default) whose every test starts with
/// a fresh comparison log and ends with no key, value or heap block alive.
template <class Base = ::testing::Test>
class NothingLeftAlive : public Base {
protected:
    void SetUp() override { KeyLog::reset(); }
    void TearDown() override {
        KeyLog::reset();
        EXPECT_EQ(KeyLog::live, 0u);
        EXPECT_EQ(Tracked::live(), 0u);
        EXPECT_EQ(CountingHeap::live_blocks, 0u);
    }
};

/// A key with a chosen 64-bit feed. Keys are equal when their ids are; the tag tells
/// apart key objects that are equal, so tests can see which object a map holds.
class TestKey {
public:
    TestKey(std::uint64_t hash, int id, int tag = 0) : hash_(hash), id_(id), tag_(tag) {
        ++KeyLog::live;
    }
    TestKey(const TestKey& other) : hash_(other.hash_), id_(other.id_), tag_(other.tag_) {
        ++KeyLog::live;
    }
    TestKey(TestKey&& other) noexcept : hash_(other.hash_), id_(other.id_), tag_(other.tag_) {
        ++KeyLog::live;
    }
    TestKey& operator=(const TestKey&) = default;
    ~TestKey() { --KeyLog::live; }

    std::uint64_t hash_feed() const noexcept { return hash_; }
    bool equals(const TestKey& probe) const {
        ++KeyLog::eq_calls;
        KeyLog::calls.emplace_back(id_, probe.id_);
        if (KeyLog::eq_calls == KeyLog::fail_at) {
            throw EqFailure();
        }
        if (!KeyLog::answers.empty()) {
            const bool answer = KeyLog::answers.front();
            KeyLog::answers.pop_front();
            return answer;
        }
        return id_ == probe.id_;
    }

    std::uint64_t hash() const { return hash_; }
    int id() const { return id_; }
    int tag() const { return tag_; }

private:
    std::uint64_t hash_;
    int id_;
    int tag_;
};

/// How a key compares with the very same key object.
enum class Kind {
    kSilent,  // equal, and nobody can tell it was asked (an exact str or int above us)
    kPlain,   // equal, through a comparison that is logged (Python code above us)
    kNaN,     // unequal to everything, itself included, through a logged comparison
};

/// A key with a chosen feed and a Kind, for the tests of what may skip a comparison (set
/// algebra, merged steps). Keys are equal when their ids are (unless kNaN); the tag tells
/// equal key objects apart. Comparisons are logged in KeyLog, and can be made to throw,
/// except a silent key's with its very own object. `feeds` counts reads of the feed:
/// whoever reads it has read the entry block holding the key.
class KindKey {
public:
    static inline std::size_t feeds = 0;

    KindKey(std::uint64_t feed, int id, Kind kind, int tag = 0)
        : feed_(feed), id_(id), tag_(tag), kind_(kind) {
        ++KeyLog::live;
    }
    KindKey(const KindKey& other) noexcept
        : feed_(other.feed_), id_(other.id_), tag_(other.tag_), kind_(other.kind_) {
        ++KeyLog::live;
    }
    KindKey(KindKey&& other) noexcept : KindKey(std::as_const(other)) {}
    KindKey& operator=(const KindKey&) = delete;
    ~KindKey() { --KeyLog::live; }

    std::uint64_t hash_feed() const noexcept {
        ++feeds;
        return feed_;
    }
    bool equals_itself_silently() const noexcept { return kind_ == Kind::kSilent; }
    bool same_object(const KindKey& other) const noexcept {
        return id_ == other.id_ && tag_ == other.tag_;
    }
    bool equals(const KindKey& probe) const {
        if (kind_ == Kind::kSilent && same_object(probe)) {
            return true;
        }
        ++KeyLog::eq_calls;
        KeyLog::calls.emplace_back(id_, probe.id_);
        if (KeyLog::eq_calls == KeyLog::fail_at) {
            throw EqFailure();
        }
        return id_ == probe.id_ && kind_ != Kind::kNaN;
    }

    int id() const { return id_; }
    int tag() const { return tag_; }

private:
    std::uint64_t feed_;
    int id_;
    int tag_;
    Kind kind_;
};

/// Under this hasher a key's feed is its trie hash, so tests build any shape directly.
struct IdentityHasher {
    static std::uint64_t hash(const HashBuilder& /*builder*/, std::uint64_t feed) noexcept {
        return feed;
    }
};

using TestMap = TrieMap<TestKey, Tracked, IdentityHasher, CountingHeap>;
using TestSet = TrieSet<TestKey, IdentityHasher, CountingHeap>;

/// The hash whose digit d (bits 6d..6d+5, depth d's slot) is digits[d]; later digits 0.
constexpr std::uint64_t hash_of_digits(std::initializer_list<unsigned> digits) {
    std::uint64_t hash = 0;
    unsigned shift = 0;
    for (unsigned d : digits) {
        hash |= std::uint64_t{d} << shift;
        shift += 6;
    }
    return hash;
}

/// The value stored for id `v` in either form.
template <class Map>
typename Map::mapped_type value_for(int v) {
    if constexpr (std::is_same_v<typename Map::mapped_type, NoValue>) {
        return NoValue{};
    } else {
        return Tracked(v);
    }
}

template <class Map>
Map put(const Map& map, const TestKey& key) {
    return map.insert(key, value_for<Map>(key.id()));
}

template <class Map>
bool put_in_place(Map& map, const TestKey& key) {
    return map.insert_in_place(key, value_for<Map>(key.id()));
}

/// A map under the identity hasher holding `keys`, inserted in order.
template <class Map>
Map build(std::initializer_list<TestKey> keys) {
    Map map = Map::create(HashBuilder{});
    for (const TestKey& key : keys) {
        put_in_place(map, key);
    }
    return map;
}

inline std::string print_key(const TestKey& key) {
    // Appended piece by piece: GCC 12 at -O2 reports a bogus -Wrestrict for "k" + string.
    std::string text = "k";
    text += std::to_string(key.id());
    if (key.tag() != 0) {
        text += '/';
        text += std::to_string(key.tag());
    }
    return text;
}

template <class Map>
std::string dump(const Map& map) {
    return map.dump(print_key);
}

/// Key ids in iteration order.
template <class Map>
std::vector<int> ids(const Map& map) {
    std::vector<int> out;
    auto it = map.iter();
    while (const auto* entry = it.next()) {
        out.push_back(entry->key().id());
    }
    return out;
}

/// Blocks, keys and values alive.
struct Census {
    std::size_t blocks = CountingHeap::live_blocks;
    std::size_t keys = KeyLog::live;
    std::size_t values = Tracked::live();
    bool operator==(const Census&) const = default;
};

/// Whether a failed attempt may leave blocks behind in its receiver: an in-place update
/// keeps the equal copies it made of shared nodes (they go when the record goes).
enum class Blocks { kAllReleased, kCopiesKept };

/// Runs `operation` with its nth allocation failing, for n = 1, 2, ... until it runs to
/// the end. After each failure nothing the attempt made is alive and `intact()` holds
/// its checks. Returns how many attempts failed. Any other exception disarms the heap
/// and goes on.
template <class Operation, class Intact>
std::size_t fail_each_allocation(Operation&& operation, Intact&& intact,
                                 Blocks blocks = Blocks::kAllReleased) {
    for (std::size_t n = 1;; ++n) {
        const Census before;
        CountingHeap::fail_nth(n);
        try {
            operation();
        } catch (const std::bad_alloc&) {
            EXPECT_FALSE(CountingHeap::failure_pending());
            Census after;
            if (blocks == Blocks::kCopiesKept) {
                after.blocks = before.blocks;
            }
            EXPECT_EQ(after, before) << "after failing allocation " << n;
            intact();
            continue;
        } catch (...) {
            CountingHeap::disarm();
            throw;
        }
        // The chosen allocation never came: the run made fewer, and none failed quietly.
        EXPECT_TRUE(CountingHeap::failure_pending()) << "allocation " << n << " failed unseen";
        CountingHeap::disarm();
        return n - 1;
    }
}

}  // namespace quil::testing
