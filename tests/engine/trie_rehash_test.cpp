// Walks rehashed into another HashBuilder's trie order and steps merged into a set in that
// order, against the same steps on a whole copy in walk order (trie/rehash.hpp); the slot
// tags that let set algebra settle silent entries without reading them (trie/node.hpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>
#include <numeric>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <unordered_map>
#include <vector>

#include "quil/trie/algebra.hpp"
#include "quil/trie/rehash.hpp"
#include "support/tracked.hpp"
#include "support/trie_keys.hpp"

namespace quil {
namespace {

using testing::Census;
using testing::CountingHeap;
using testing::EqFailure;
using testing::fail_each_allocation;
using testing::hash_of_digits;
using testing::KeyLog;
using testing::NothingLeftAlive;
using testing::TestKey;

using testing::Kind;
/// Silent, plain or NaN-like keys; `RehashKey::feeds` tells who read an entry block.
using RehashKey = testing::KindKey;

/// A trie hash that depends on the HashBuilder and can be inverted: the feed xor k0,
/// rotated left by k1 bits. A rotation that is not a multiple of 6 spreads each digit
/// over two others, so the same keys under kWalked and under kTarget have unrelated
/// orders and shapes, while feed_for still puts a key at any chosen hash.
struct RotatingHasher {
    static std::uint64_t hash(const HashBuilder& builder, std::uint64_t feed) noexcept {
        return std::rotl(feed ^ builder.k0, static_cast<int>(builder.k1 % 64));
    }
};

/// The feed whose trie hash under `builder` is `hash`.
std::uint64_t feed_for(const HashBuilder& builder, std::uint64_t hash) {
    return std::rotr(hash, static_cast<int>(builder.k1 % 64)) ^ builder.k0;
}

/// The copied set's HashBuilder, under which the tests choose hashes, and the walked
/// set's.
constexpr HashBuilder kTarget{0x9e3779b97f4a7c15u, 0};
constexpr HashBuilder kWalked{0x2545f4914f6cdd1du, 29};

using Set = TrieSet<RehashKey, RotatingHasher, CountingHeap>;
using Entry = Set::Entry;
using Items = RehashedEntries<RehashKey, NoValue, CountingHeap>;
using Item = Items::Item;

/// A key whose trie hash under kTarget is `hash`.
RehashKey key_at(std::uint64_t hash, int id, Kind kind = Kind::kSilent, int tag = 0) {
    return RehashKey(feed_for(kTarget, hash), id, kind, tag);
}

Set set_of(const HashBuilder& builder, const std::vector<RehashKey>& keys) {
    Set set = Set::create(builder);
    for (const RehashKey& key : keys) {
        set.insert_in_place(RehashKey(key));
    }
    return set;
}

/// (id, tag) of every element in iteration order; checks the invariants first.
std::vector<std::pair<int, int>> elements(const Set& set) {
    set.check_invariants();
    std::vector<std::pair<int, int>> out;
    auto walk = set.iter();
    while (const Entry* entry = walk.next()) {
        out.emplace_back(entry->key().id(), entry->key().tag());
    }
    return out;
}

std::vector<const Entry*> walk_of(const Set& set) {
    std::vector<const Entry*> out;
    auto walk = set.iter();
    while (const Entry* entry = walk.next()) {
        out.push_back(entry);
    }
    return out;
}

/// The first two digits of a hash, digit 0 most significant.
unsigned order_key(std::uint64_t hash) {
    return (detail::digit(hash, 0) << detail::kBitsPerLevel) | detail::digit(hash, 1);
}

/// Whether hash x comes before hash y in trie order.
bool trie_before(std::uint64_t x, std::uint64_t y) {
    const std::uint64_t differ = x ^ y;
    if (differ == 0) {
        return false;
    }
    const auto depth = static_cast<unsigned>(std::countr_zero(differ)) / detail::kBitsPerLevel;
    return detail::digit(x, depth) < detail::digit(y, depth);
}

/// The tree without branch capacities, which only say how a branch was made.
std::string shape(const Set& set) {
    const std::string tree =
        set.dump([](const RehashKey& key) { return std::to_string(key.id()); });
    // "branch LEN/CAPACITY" becomes "branch LEN".
    std::string out;
    for (std::size_t at = 0; at < tree.size();) {
        const std::size_t end = tree.find('\n', at) + 1;
        const std::size_t branch = tree.find("branch ", at);
        out.append(tree, at, (branch < end ? tree.find('/', branch) : end) - at);
        if (branch < end) {
            out += '\n';
        }
        at = end;
    }
    return out;
}

// ---------------------------------------------------------------- the steps

// The steps the extension runs for each walked element, on the working set or, merged,
// on the slot of it that the element's hash leads to (the same operations either way).

/// Union: a silent key whose very object the set holds outside a bucket is left alone;
/// anything else is inserted.
struct UnionStep {
    static constexpr const char* kName = "union";
    static constexpr bool kRemoves = false;
    static constexpr bool kWrites = true;
    template <class Slots>
    void operator()(Slots& slots, const RehashKey& key, KnownHash h, std::size_t) {
        if (key.equals_itself_silently()) {
            const Entry* stored = slots.lookup_unique_hash(key, h);
            if (stored != nullptr && stored->key().same_object(key)) {
                return;
            }
        }
        slots.insert_in_place(RehashKey(key), h);
    }
    bool operator==(const UnionStep&) const = default;
};

/// Difference: every walked key is removed.
struct DifferenceStep {
    static constexpr const char* kName = "difference";
    static constexpr bool kRemoves = true;
    static constexpr bool kWrites = true;
    template <class Slots>
    void operator()(Slots& slots, const RehashKey& key, KnownHash h, std::size_t) {
        slots.remove_in_place(key, h);
    }
    bool operator==(const DifferenceStep&) const = default;
};

/// Symmetric difference: a silent key is removed, and inserted if that removed nothing;
/// any other key is looked up, then removed or inserted.
struct ToggleStep {
    static constexpr const char* kName = "toggle";
    static constexpr bool kRemoves = true;
    static constexpr bool kWrites = true;
    template <class Slots>
    void operator()(Slots& slots, const RehashKey& key, KnownHash h, std::size_t) {
        if (key.equals_itself_silently()) {
            if (!slots.remove_in_place(key, h)) {
                slots.insert_in_place(RehashKey(key), h);
            }
        } else if (slots.contains(key, h)) {
            slots.remove_in_place(key, h);
        } else {
            slots.insert_in_place(RehashKey(key), h);
        }
    }
    bool operator==(const ToggleStep&) const = default;
};

/// Intersection-like probing: what each lookup finds, by walk position.
struct LookupStep {
    static constexpr const char* kName = "lookup";
    static constexpr bool kRemoves = false;
    static constexpr bool kWrites = false;
    std::vector<const Entry*> unique;
    std::vector<bool> contained;

    template <class Slots>
    void operator()(Slots& slots, const RehashKey& key, KnownHash h, std::size_t position) {
        unique.at(position) = slots.lookup_unique_hash(key, h);
        contained.at(position) = slots.contains(key, h);
    }
    bool operator==(const LookupStep&) const = default;
};

template <class Step>
Step fresh_step(const Set& walked) {
    if constexpr (std::is_same_v<Step, LookupStep>) {
        const auto n = static_cast<std::size_t>(walked.size());
        return LookupStep{std::vector<const Entry*>(n), std::vector<bool>(n)};
    } else {
        return Step{};
    }
}

/// The walked set's keys stepped into a copy of `set` one by one, in walk order.
template <class Step>
Set step_whole_copy(const Set& set, const Set& walked, Step& step) {
    Set copy = set;
    auto walk = walked.iter();
    for (std::size_t position = 0; const Entry* entry = walk.next(); ++position) {
        step(copy, entry->key(), KnownHash{copy.hash_of(entry->key())}, position);
    }
    return copy;
}

/// Each entry of `walked` by its walk position.
std::unordered_map<const Entry*, std::size_t> positions_in(const Set& walked) {
    std::unordered_map<const Entry*, std::size_t> positions;
    for (const Entry* entry : walk_of(walked)) {
        positions.emplace(entry, positions.size());
    }
    return positions;
}

/// The same steps merged in `set`'s trie order.
template <class Step>
Set step_merged(const Set& set, const Set& walked, Step& step) {
    Items items(walked, set.hash_builder());
    const auto positions = positions_in(walked);
    return merge_steps(
        set, items, Step::kRemoves,
        [&step, &positions](auto& slots, const Item& item) {
            step(slots, item.entry->key(), KnownHash{item.hash}, positions.at(item.entry));
        },
        // Reads the key, so a prefetch of anything but a live walked key is reported.
        [](const RehashKey& key) { static_cast<void>(key.id()); });
}

// ---------------------------------------------------------------- drawing operands

/// A hash whose digits are 0, 1 or the digit's largest value: many such hashes share
/// long digit prefixes, and some share every digit.
std::uint64_t clustered_hash(std::mt19937_64& random) {
    std::uint64_t hash = 0;
    for (unsigned depth = 0; depth <= detail::kMaxBranchDepth; ++depth) {
        const std::uint64_t digits[] = {0, 1, depth == detail::kMaxBranchDepth ? 15u : 63u};
        hash |= digits[random() % 3] << (detail::kBitsPerLevel * depth);
    }
    return hash;
}

enum class Spread { kRandom, kClustered, kTiny };

/// A set under kTarget and a walked set under kWalked, over ids whose kTarget hashes are
/// drawn so that digits are shared, whole hashes are shared (buckets at depth 11), and
/// in tiny universes steps often leave a single entry. Either operand may be empty; the
/// set may have lost elements since it was built (its root may be a single entry); the
/// walked set holds some of the set's very key objects and new objects for others.
struct Operands {
    Set set;
    Set walked;
};

Operands draw_operands(std::mt19937_64& random, Spread spread) {
    const auto unit = [&random] { return std::uniform_real_distribution<double>(0, 1)(random); };
    std::size_t n = 1 + random() % 6;
    if (spread != Spread::kTiny) {
        // Log-uniform over 0..3000: mostly small, some in the thousands.
        n = static_cast<std::size_t>(std::exp(unit() * std::log(3001.0))) - 1;
    }
    std::vector<std::uint64_t> pool(1 + n / 8);
    for (std::uint64_t& hash : pool) {
        hash = clustered_hash(random);
    }
    std::vector<std::uint64_t> hashes(n);
    std::vector<Kind> kinds(n);
    for (std::size_t id = 0; id < n; ++id) {
        const std::uint64_t how = spread == Spread::kRandom ? 0 : random() % 4;
        hashes[id] = how == 0   ? random()
                     : how == 1 ? clustered_hash(random)
                                : pool[random() % pool.size()];
        const std::uint64_t kind = random() % 10;
        kinds[id] = kind < 7 ? Kind::kSilent : kind < 9 ? Kind::kPlain : Kind::kNaN;
    }
    const auto key = [&](std::size_t id, int tag) {
        return RehashKey(feed_for(kTarget, hashes[id]), static_cast<int>(id), kinds[id], tag);
    };
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});

    std::shuffle(order.begin(), order.end(), random);
    const double in_set = unit();
    std::vector<bool> held(n);
    Set set = Set::create(kTarget);
    std::vector<std::size_t> gone;
    for (const std::size_t id : order) {
        held[id] = unit() < in_set;
        if (held[id] || random() % 8 == 0) {
            set.insert_in_place(key(id, 1));
            if (!held[id]) {
                gone.push_back(id);
            }
        }
    }
    for (const std::size_t id : gone) {
        set.remove_in_place(key(id, 1));
    }

    std::shuffle(order.begin(), order.end(), random);
    const bool overlapping = random() % 2 == 0;
    const double in_walked = unit();
    Set walked = Set::create(kWalked);
    for (const std::size_t id : order) {
        const bool taken = overlapping ? random() % 20 < (held[id] ? 19u : 1u) : unit() < in_walked;
        if (taken) {
            walked.insert_in_place(key(id, held[id] && random() % 2 == 0 ? 1 : 2));
        }
    }
    return {std::move(set), std::move(walked)};
}

/// What the drawn cases went through, so the test can tell its operands reach the paths
/// it is about.
struct Reached {
    std::size_t shared_order_keys = 0;   // neighbours in a walk's items with one order key
    std::size_t buckets = 0;             // results holding a bucket
    std::size_t single_entry_roots = 0;  // results whose root is a single entry
    std::size_t failures = 0;            // merges made to throw half-way
};

/// Merges the steps, checks the result against the whole copy's, then makes the merge
/// throw at a random comparison of those it made and checks that nothing leaked.
template <class Step>
void expect_merge_agrees(const Set& set, const Set& walked, std::mt19937_64& random,
                         Reached& reached) {
    SCOPED_TRACE(Step::kName);
    Step whole_step = fresh_step<Step>(walked);
    const Set whole = step_whole_copy(set, walked, whole_step);
    KeyLog::reset();
    Step merged_step = fresh_step<Step>(walked);
    const Set merged = step_merged(set, walked, merged_step);
    const std::size_t calls = KeyLog::eq_calls;

    EXPECT_EQ(elements(merged), elements(whole));
    // The shape of a trie follows from its hashes, but for a root holding one element:
    // the whole copy compresses it or not by the order of its removals and insertions.
    if (!Step::kRemoves || merged.size() != 1) {
        EXPECT_EQ(shape(merged), shape(whole));
    }
    EXPECT_EQ(merged.size(), whole.size());
    EXPECT_TRUE(merged_step == whole_step);
    if constexpr (!Step::kWrites) {
        EXPECT_TRUE(merged.root_is(set));
    }
    if (merged.size() == 1 && shape(merged).rfind("entry", 0) == 0) {
        ++reached.single_entry_roots;
    }
    const std::vector<const Entry*> entries = walk_of(merged);
    for (std::size_t i = 1; i < entries.size(); ++i) {
        if (merged.hash_of(entries[i - 1]->key()) == merged.hash_of(entries[i]->key())) {
            ++reached.buckets;
            break;
        }
    }

    if (calls == 0) {
        return;
    }
    const Census before;
    KeyLog::reset();
    KeyLog::fail_after(random() % calls);
    Step failing = fresh_step<Step>(walked);
    EXPECT_THROW(step_merged(set, walked, failing), EqFailure);
    KeyLog::reset();
    EXPECT_EQ(Census(), before);
    ++reached.failures;
}

// ---------------------------------------------------------------- RehashedEntries

class RehashedWalk : public NothingLeftAlive<> {};

/// Checks every promise of `items`, the walk of `walked` rehashed under kTarget, and
/// returns how many neighbours with one order key lie against the trie order of their
/// whole hashes: places where only the sort's stability puts them as they are.
std::size_t expect_rehashed_walk(const Items& items, const Set& walked) {
    const std::vector<const Entry*> walk = walk_of(walked);
    const auto positions = positions_in(walked);
    EXPECT_EQ(items.size(), walk.size());
    std::vector<bool> seen(walk.size());
    std::size_t against_hash_order = 0;
    const Item* previous = nullptr;
    for (const Item& item : items) {
        const auto found = positions.find(item.entry);
        if (found == positions.end() || seen[found->second]) {
            ADD_FAILURE() << "an entry not walked, or given twice";
            return against_hash_order;
        }
        seen[found->second] = true;
        EXPECT_EQ(item.hash, RotatingHasher::hash(kTarget, item.entry->key().hash_feed()));
        if (previous != nullptr) {
            EXPECT_LE(order_key(previous->hash), order_key(item.hash));
            if (order_key(previous->hash) == order_key(item.hash)) {
                EXPECT_LT(positions.at(previous->entry), found->second);
                against_hash_order += trie_before(item.hash, previous->hash) ? 1 : 0;
            }
        }
        previous = &item;
    }
    return against_hash_order;
}

TEST_F(RehashedWalk, AnEmptyTrieGivesNoItems) {
    const Set empty = Set::create(kWalked);
    const Items items(empty, kTarget);
    EXPECT_EQ(items.size(), 0u);
    EXPECT_EQ(items.begin(), items.end());
}

TEST_F(RehashedWalk, OrdersByTwoTargetDigitsAndKeepsWalkOrderWithinThem) {
    // Ids 1, 2, 5 and 6 share the target digits 3, 7 (5 and 6 one whole hash, a bucket
    // in the walked trie too); they follow 3 (digits 2, 9) and 4 (3, 6) in walk order.
    const std::uint64_t bucket = hash_of_digits({3, 7, 1, 5});
    const Set walked =
        set_of(kWalked, {key_at(hash_of_digits({3, 7, 1}), 1), key_at(hash_of_digits({3, 7, 0}), 2),
                         key_at(hash_of_digits({2, 9}), 3), key_at(hash_of_digits({3, 6, 63}), 4),
                         key_at(bucket, 5), key_at(bucket, 6)});
    std::vector<int> expected = {3, 4};
    for (const Entry* entry : walk_of(walked)) {
        if (entry->key().id() != 3 && entry->key().id() != 4) {
            expected.push_back(entry->key().id());
        }
    }
    const Items items(walked, kTarget);
    std::vector<int> got;
    for (const Item& item : items) {
        got.push_back(item.entry->key().id());
    }
    EXPECT_EQ(got, expected);
    // The walk puts some of them against their whole hashes' order, so a sort on more
    // than two digits, or an unstable one, would show here.
    EXPECT_GT(expect_rehashed_walk(items, walked), 0u);
}

TEST_F(RehashedWalk, RandomTriesAreRehashedWhole) {
    std::mt19937_64 random(7);
    std::size_t against_hash_order = 0;
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const Operands drawn = draw_operands(random, static_cast<Spread>(round % 3));
        const Items items(drawn.walked, kTarget);
        against_hash_order += expect_rehashed_walk(items, drawn.walked);
    }
    EXPECT_GT(against_hash_order, 0u);
}

// ---------------------------------------------------------------- merge_steps

class MergeSteps : public NothingLeftAlive<> {};

TEST_F(MergeSteps, AgreeWithSteppingOnAWholeCopyAndFailCleanly) {
    std::mt19937_64 random(2024);
    Reached reached;
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const Operands drawn = draw_operands(random, static_cast<Spread>(round % 3));
        const Set& set = drawn.set;
        const Set& walked = drawn.walked;
        const auto set_before = elements(set);
        const auto walked_before = elements(walked);
        {
            const Items items(walked, kTarget);
            const Item* item = items.begin();
            for (std::size_t i = 1; i < items.size(); ++i) {
                if (order_key(item[i - 1].hash) == order_key(item[i].hash) &&
                    item[i - 1].hash != item[i].hash) {
                    ++reached.shared_order_keys;
                }
            }
        }
        expect_merge_agrees<UnionStep>(set, walked, random, reached);
        expect_merge_agrees<DifferenceStep>(set, walked, random, reached);
        expect_merge_agrees<ToggleStep>(set, walked, random, reached);
        expect_merge_agrees<LookupStep>(set, walked, random, reached);
        EXPECT_EQ(elements(set), set_before);
        EXPECT_EQ(elements(walked), walked_before);
        if (HasFailure()) {
            return;
        }
    }
    EXPECT_GT(reached.shared_order_keys, 0u);
    EXPECT_GT(reached.buckets, 0u);
    EXPECT_GT(reached.single_entry_roots, 0u);
    EXPECT_GT(reached.failures, 0u);
}

template <class Step>
void expect_allocation_failures_clean(const Set& set, const Set& walked) {
    SCOPED_TRACE(Step::kName);
    const auto set_before = elements(set);
    const auto walked_before = elements(walked);
    Step whole_step = fresh_step<Step>(walked);
    const auto expected = elements(step_whole_copy(set, walked, whole_step));
    const std::size_t failures = fail_each_allocation(
        [&] {
            Step step = fresh_step<Step>(walked);
            EXPECT_EQ(elements(step_merged(set, walked, step)), expected);
        },
        [&] {
            EXPECT_EQ(elements(set), set_before);
            EXPECT_EQ(elements(walked), walked_before);
        });
    EXPECT_GT(failures, 0u);
}

TEST_F(MergeSteps, FailingAllocationsLeaveTheOperandsAndReleaseEverything) {
    // About 150 ids of clustered hashes: chains, buckets, and both operands non-empty.
    std::mt19937_64 random(5);
    Operands drawn = draw_operands(random, Spread::kClustered);
    while (drawn.set.size() < 40 || drawn.walked.size() < 40 || drawn.set.size() > 200 ||
           drawn.walked.size() > 200) {
        drawn = draw_operands(random, Spread::kClustered);
    }
    expect_allocation_failures_clean<UnionStep>(drawn.set, drawn.walked);
    expect_allocation_failures_clean<DifferenceStep>(drawn.set, drawn.walked);
    expect_allocation_failures_clean<ToggleStep>(drawn.set, drawn.walked);
    expect_allocation_failures_clean<LookupStep>(drawn.set, drawn.walked);
}

// ---------------------------------------------------------------- slot tags

class TrieSlotTags : public NothingLeftAlive<> {};

TEST_F(TrieSlotTags, EverySingleEntryIsAnEntryAndOnlySilentOnesAreMarked) {
    using Ref = detail::NodeRef<RehashKey, NoValue, CountingHeap>;
    using Handle = EntryWithHash<RehashKey, NoValue, CountingHeap>;
    for (const Kind kind : {Kind::kSilent, Kind::kPlain, Kind::kNaN}) {
        Handle handle = Handle::make(7, RehashKey(7, 1, kind, 0), NoValue{});
        const Entry* block = handle.get();
        Ref slot(std::move(handle));
        const Ref copy = slot;
        for (const Ref* ref : {&std::as_const(slot), &copy}) {
            EXPECT_TRUE(ref->is_entry());
            EXPECT_EQ(ref->is_silent_entry(), kind == Kind::kSilent);
            EXPECT_FALSE(ref->is_node());
            EXPECT_FALSE(ref->is_branch());
            EXPECT_FALSE(ref->is_collision());
            EXPECT_EQ(ref->entry(), block);
        }
        EXPECT_EQ(slot.use_count(), 2u);
        const Handle back = slot.take_entry();
        EXPECT_EQ(back.get(), block);
        EXPECT_TRUE(slot.is_null());
    }
    // A key type without equals_itself_silently is never silent.
    using PlainRef = detail::NodeRef<TestKey, NoValue, CountingHeap>;
    const PlainRef plain(EntryWithHash<TestKey, NoValue, CountingHeap>::make(7, TestKey(7, 1), {}));
    EXPECT_TRUE(plain.is_entry());
    EXPECT_FALSE(plain.is_silent_entry());
    // Node slots are neither.
    const Ref branch(Ref::Branch::make(0));
    const Ref bucket(heap_new<Ref::Bucket, CountingHeap>());
    for (const Ref* node : {&branch, &bucket}) {
        EXPECT_TRUE(node->is_node());
        EXPECT_FALSE(node->is_entry());
        EXPECT_FALSE(node->is_silent_entry());
    }
    EXPECT_TRUE(bucket.is_collision());
}

/// Whether union and difference of `set` with itself settle without reading an entry
/// (the union then is `set` itself).
bool settled_from_tags(const Set& set) {
    const std::size_t feeds = RehashKey::feeds;
    const Set both = union_of(set, set);
    EXPECT_TRUE(difference_of(set, set).is_empty());
    const bool settled = RehashKey::feeds == feeds;
    EXPECT_EQ(both.size(), set.size());
    EXPECT_TRUE(!settled || both.root_is(set));
    return settled;
}

// Entries move between slots when a leaf splits, a lone entry rises after a removal, a
// bucket falls to one entry, and a merge lifts or inserts entries: each move must carry
// the silent tag along, or set algebra between versions reads every entry block again.
TEST_F(TrieSlotTags, SilentEntriesKeepTheirTagWhereverRestructuringPutsThem) {
    // Ids 0..199 under root slot id % 64 and depth-1 slot id / 64.
    const auto spread = [](int id, unsigned third = 5) {
        return hash_of_digits(
            {static_cast<unsigned>(id % 64), static_cast<unsigned>(id / 64), third});
    };
    const std::uint64_t bucket = hash_of_digits({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
    const std::uint64_t chain = hash_of_digits({40, 0, 0, 0, 0, 0, 0, 0, 1});
    std::vector<RehashKey> keys;
    for (int id = 0; id < 200; ++id) {
        keys.push_back(key_at(spread(id), id));
    }
    keys.push_back(key_at(chain, 300));
    keys.push_back(key_at(chain + (std::uint64_t{1} << 48), 301));
    keys.push_back(key_at(bucket, 302));
    keys.push_back(key_at(bucket, 303));
    const Set built = set_of(kTarget, keys);
    // A bucket is never settled from tags: this is what reading entries looks like.
    EXPECT_FALSE(settled_from_tags(built));

    // Removals: 300 rises from the chain, the bucket falls to 302, which rises.
    Set lifted = built;
    lifted.remove_in_place(key_at(chain + (std::uint64_t{1} << 48), 301));
    lifted.remove_in_place(key_at(bucket, 303));
    EXPECT_TRUE(settled_from_tags(lifted));

    // Merged steps: new keys split leaves, removals leave ids 20..29 alone under their
    // root slots (where they rise), and the bucket falls to 302 again.
    std::vector<RehashKey> walked_keys;
    for (int id = 1; id < 200; id += 3) {
        if (id % 64 < 20 || id % 64 >= 30) {
            walked_keys.push_back(key_at(spread(id, 6), 1000 + id));
        }
    }
    const std::uint64_t inserted = walked_keys.size();
    for (int id = 20; id < 30; ++id) {
        walked_keys.push_back(key_at(spread(id + 64), id + 64));
        walked_keys.push_back(key_at(spread(id + 128), id + 128));
    }
    UnionStep add;
    EXPECT_TRUE(settled_from_tags(step_merged(lifted, set_of(kWalked, walked_keys), add)));
    walked_keys.push_back(key_at(bucket, 303));
    ToggleStep toggle;
    const Set toggled = step_merged(built, set_of(kWalked, walked_keys), toggle);
    EXPECT_EQ(toggled.size(), built.size() + inserted - 21);
    EXPECT_TRUE(settled_from_tags(toggled));
}

}  // namespace
}  // namespace quil
