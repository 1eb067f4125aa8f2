// Op-sequence driver for the hash trie: an array of versions, each with a model map;
// every step derives one version from another (insert, remove, in place or not, with
// or without a key comparison that throws) and then checks every version against its
// model, so old versions are re-checked after new ones were derived from them, and checks
// that each entry is visited by visit_owned exactly when one version alone holds it.
//
// In CI it runs as seeded GoogleTests. Built as below, the same driver is a libFuzzer
// target (its first input byte picks the universe):
//   clang++ -std=c++20 -O1 -g -DQUIL_LIBFUZZER -fsanitize=fuzzer,address,undefined
//           -Iengine/include -Itests/engine tests/engine/trie_fuzz_test.cpp -o trie_fuzzer
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "quil/trie/trie.hpp"
#include "support/tracked.hpp"
#include "support/trie_keys.hpp"

namespace quil {
namespace {

using testing::CountingHeap;
using testing::EqFailure;
using testing::KeyLog;
using testing::NothingLeftAlive;
using testing::TestKey;
using testing::TestMap;
using testing::Tracked;

/// How ids map to trie hashes.
enum class Universe {
    kSpread,     // 256 ids with well-mixed hashes: a typical wide, shallow trie
    kClustered,  // 64 ids on 20 hashes built from the digits 0, 1 and 63: long shared
                 // paths, one-child chains and buckets of about three keys
};

[[noreturn]] void fail(const std::string& what) { throw std::logic_error(what); }

class Driver {
    /// What a version should hold: id -> value, and the step that inserted it.
    struct Stored {
        int value;
        std::uint64_t stamp;
    };
    using Model = std::unordered_map<int, Stored>;

public:
    static constexpr std::size_t kVersions = 16;
    static constexpr std::size_t kOpBytes = 5;

    explicit Driver(Universe universe) {
        std::mt19937_64 random(99);
        if (universe == Universe::kSpread) {
            for (int id = 0; id < 256; ++id) {
                hashes_.push_back(random());
            }
        } else {
            std::vector<std::uint64_t> pool;
            for (int i = 0; i < 20; ++i) {
                std::uint64_t h = 0;
                for (unsigned d = 0; d <= detail::kMaxBranchDepth; ++d) {
                    const std::uint64_t digits[] = {0, 1, d == detail::kMaxBranchDepth ? 15u : 63u};
                    h |= digits[random() % 3] << (detail::kBitsPerLevel * d);
                }
                pool.push_back(h);
            }
            for (std::size_t id = 0; id < 64; ++id) {
                hashes_.push_back(pool[id % pool.size()]);
            }
        }
        versions_.assign(kVersions, TestMap::create(HashBuilder{}));
        models_.assign(kVersions, {});
    }

    /// Applies one op read from kOpBytes bytes, then checks every version.
    void step(const std::uint8_t* op) {
        const std::size_t src = op[1] % kVersions;
        const std::size_t dst = op[2] % kVersions;
        const int id = static_cast<int>(op[3] % hashes_.size());
        const int value = op[4];
        const TestMap& from = versions_[src];
        Model model = models_[src];
        ++step_;
        KeyLog::reset();
        switch (op[0] % 7) {
            case 0:
                versions_[dst] = from.insert(key(id), Tracked(value));
                model[id] = {value, step_};
                break;
            case 1: {
                TestMap copy = from;
                if (copy.insert_in_place(key(id), Tracked(value)) != (model.count(id) == 0)) {
                    fail("insert_in_place reported the wrong novelty");
                }
                versions_[dst] = std::move(copy);
                model[id] = {value, step_};
                break;
            }
            case 2:
                versions_[dst] = from.remove(key(id));
                if (model.erase(id) == 0 && !versions_[dst].root_is(from)) {
                    fail("removing an absent key did not share the receiver's root");
                }
                break;
            case 3: {
                TestMap copy = from;
                if (copy.remove_in_place(key(id)) != (model.erase(id) == 1)) {
                    fail("remove_in_place reported the wrong outcome");
                }
                versions_[dst] = std::move(copy);
                break;
            }
            case 4:
            case 5:
                if (!failing_op(op[0] % 7 == 4, src, dst, id, value)) {
                    return check_all();
                }
                if (op[0] % 7 == 4) {
                    model[id] = {value, step_};
                } else {
                    model.erase(id);
                }
                break;
            default:
                versions_[dst] = from;
                break;
        }
        models_[dst] = std::move(model);
        check_all();
    }

private:
    TestKey key(int id) const { return TestKey(hashes_[static_cast<std::size_t>(id)], id); }

    /// A persistent insert or remove whose comparison number (value % 4) throws. When
    /// it throws, the receiver must be unchanged and nothing may leak; returns whether
    /// it completed instead (then its result is stored in dst).
    bool failing_op(bool insert, std::size_t src, std::size_t dst, int id, int value) {
        const TestMap& from = versions_[src];
        const std::string before = from.dump(testing::print_key);
        const std::size_t blocks = CountingHeap::live_blocks;
        const std::size_t keys = KeyLog::live;
        const std::size_t values = Tracked::live();
        KeyLog::fail_after(static_cast<std::size_t>(value % 4));
        try {
            TestMap result = insert ? from.insert(key(id), Tracked(value)) : from.remove(key(id));
            KeyLog::reset();
            versions_[dst] = std::move(result);
            return true;
        } catch (const EqFailure&) {
            KeyLog::reset();
        }
        if (from.dump(testing::print_key) != before) {
            fail("a failed operation changed its receiver");
        }
        if (CountingHeap::live_blocks != blocks || KeyLog::live != keys ||
            Tracked::live() != values) {
            fail("a failed operation leaked");
        }
        return false;
    }

    void check_all() const {
        for (std::size_t v = 0; v < kVersions; ++v) {
            check(v);
        }
        check_ownership();
        KeyLog::reset();
    }

    /// visit_owned against what the walks show: with no handle held outside the versions,
    /// an entry is held alone exactly when one version's walk yields it, and then that
    /// version visits it, once; every other entry is visited by no version.
    void check_ownership() const {
        std::unordered_map<const TestMap::Entry*, int> walks_yielding;
        for (const TestMap& map : versions_) {
            auto it = map.iter();
            while (const auto* entry = it.next()) {
                ++walks_yielding[entry];
            }
        }
        for (std::size_t v = 0; v < kVersions; ++v) {
            const std::string where = "version " + std::to_string(v) + ": ";
            std::unordered_set<const TestMap::Entry*> visited;
            versions_[v].visit_owned([&](const TestMap::Entry& entry) {
                if (!visited.insert(&entry).second) {
                    fail(where + "visit_owned visits an entry twice");
                }
                return 0;
            });
            std::size_t alone = 0;
            auto it = versions_[v].iter();
            while (const auto* entry = it.next()) {
                const bool held_alone = walks_yielding[entry] == 1;
                alone += held_alone ? 1 : 0;
                if (held_alone != (visited.count(entry) == 1)) {
                    fail(where + "visit_owned " + (held_alone ? "misses" : "visits") + " id " +
                         std::to_string(entry->key().id()) + ", which " +
                         std::to_string(walks_yielding[entry]) + " versions hold");
                }
            }
            if (visited.size() != alone) {
                fail(where + "visit_owned visits entries its walk does not yield");
            }
        }
    }

    void check(std::size_t v) const {
        const TestMap& map = versions_[v];
        const auto& model = models_[v];
        const std::string where = "version " + std::to_string(v) + ": ";
        map.check_invariants();
        if (map.size() != model.size()) {
            fail(where + "size " + std::to_string(map.size()) + ", model " +
                 std::to_string(model.size()));
        }
        std::unordered_set<int> seen;
        std::array<unsigned, 11> previous{};
        std::uint64_t previous_stamp = 0;
        auto it = map.iter();
        while (const auto* entry = it.next()) {
            const int id = entry->key().id();
            const auto found = model.find(id);
            if (found == model.end() || found->second.value != entry->value().value() ||
                !seen.insert(id).second) {
                fail(where + "walk yields an unexpected entry for id " + std::to_string(id));
            }
            std::array<unsigned, 11> digits{};
            for (unsigned d = 0; d < 11; ++d) {
                digits[d] = detail::digit(entry->key().hash(), d);
            }
            if (digits < previous) {
                fail(where + "walk out of hash order at id " + std::to_string(id));
            }
            // Equal hashes share a bucket, which lists the latest insertion first.
            if (seen.size() > 1 && digits == previous && found->second.stamp >= previous_stamp) {
                fail(where + "bucket out of insertion order at id " + std::to_string(id));
            }
            previous = digits;
            previous_stamp = found->second.stamp;
        }
        if (seen.size() != model.size()) {
            fail(where + "walk missed entries");
        }
        for (const auto& [id, stored] : model) {
            const auto* entry = map.lookup(key(id));
            if (entry == nullptr || entry->value().value() != stored.value) {
                fail(where + "lookup misses id " + std::to_string(id));
            }
        }
        for (int probe = 0; probe < 4; ++probe) {
            const int id =
                static_cast<int>((v * 7 + static_cast<std::size_t>(probe) * 13) % hashes_.size());
            if ((map.lookup(key(id)) != nullptr) != (model.count(id) == 1)) {
                fail(where + "lookup disagrees on id " + std::to_string(id));
            }
        }
    }

    std::vector<std::uint64_t> hashes_;
    std::vector<TestMap> versions_;
    std::vector<Model> models_;
    std::uint64_t step_ = 0;
};

void run_ops(Universe universe, const std::uint8_t* data, std::size_t size) {
    Driver driver(universe);
    for (std::size_t at = 0; at + Driver::kOpBytes <= size; at += Driver::kOpBytes) {
        driver.step(data + at);
    }
}

}  // namespace
}  // namespace quil

#if defined(QUIL_LIBFUZZER)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0) {
        quil::run_ops(data[0] % 2 == 0 ? quil::Universe::kSpread : quil::Universe::kClustered,
                      data + 1, size - 1);
    }
    return 0;
}

#else

namespace quil {
namespace {

struct FuzzCase {
    Universe universe;
    std::uint32_t seed;
};

class TrieFuzz : public NothingLeftAlive< ::testing::TestWithParam<FuzzCase> > {};

TEST_P(TrieFuzz, SeededOpSequencesMatchTheModel) {
    std::mt19937 random(GetParam().seed);
    // Biased towards insertion, and half the time a version replaces its own source, so
    // that some lines of versions grow to a hundred entries and more.
    std::vector<std::uint8_t> ops;
    for (int step = 0; step < 1500; ++step) {
        const std::uint8_t kinds[] = {0, 0, 0, 1, 1, 1, 2, 3, 4, 5, 6};
        const auto src = static_cast<std::uint8_t>(random());
        ops.push_back(kinds[random() % std::size(kinds)]);
        ops.push_back(src);
        ops.push_back(random() % 2 == 0 ? src : static_cast<std::uint8_t>(random()));
        ops.push_back(static_cast<std::uint8_t>(random()));
        ops.push_back(static_cast<std::uint8_t>(random()));
    }
    try {
        run_ops(GetParam().universe, ops.data(), ops.size());
    } catch (const std::logic_error& error) {
        FAIL() << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, TrieFuzz,
                         ::testing::Values(FuzzCase{Universe::kSpread, 1},
                                           FuzzCase{Universe::kSpread, 2},
                                           FuzzCase{Universe::kClustered, 1},
                                           FuzzCase{Universe::kClustered, 2},
                                           FuzzCase{Universe::kClustered, 3}));

}  // namespace
}  // namespace quil

#endif
