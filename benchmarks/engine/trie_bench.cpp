// Micro-benchmarks of the hash trie engine on integer keys under the default keyed
// SipHash-1-3: lookup, persistent insert and remove, building by insertion in place and
// by TrieMap::build, and a full walk of a map built either way, at 1k and 1M entries.
// Each reports time and heap blocks per operation.
//
//   cmake -S . -B build/trie-bench -DQUIL_BUILD_EXTENSION=OFF -DQUIL_BUILD_BENCHMARKS=ON
//         -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/trie-bench -j2 --target trie_bench
//   build/trie-bench/benchmarks/engine/trie_bench
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "quil/trie/trie.hpp"

namespace {

using quil::HashBuilder;

/// An integer key: its feed is the integer, as a Python int's hash is the int.
struct IntKey {
    std::uint64_t value;
    std::uint64_t hash_feed() const noexcept { return value; }
    bool equals(const IntKey& probe) const { return value == probe.value; }
};

/// The system allocator, counting blocks and live bytes.
struct CountingHeap {
    static void* allocate(std::size_t size) {
        ++allocations;
        live_bytes += size;
        return quil::SystemHeap::allocate(size);
    }
    static void deallocate(void* block, std::size_t size) noexcept {
        live_bytes -= size;
        quil::SystemHeap::deallocate(block, size);
    }
    static inline std::uint64_t allocations = 0;
    static inline std::uint64_t live_bytes = 0;
};

using Map = quil::TrieMap<IntKey, std::uint64_t, quil::SipHash13Hasher, CountingHeap>;

/// Keys 0 .. n-1, each mapped to itself, under a fixed key pair.
Map build(std::uint64_t n) {
    Map map = Map::create(HashBuilder{0x0123456789abcdefu, 0xfedcba9876543210u});
    for (std::uint64_t i = 0; i < n; ++i) {
        map.insert_in_place(IntKey{i}, i);
    }
    return map;
}

/// The same map as build(n), from TrieMap::build.
Map build_at_once(std::uint64_t n) {
    Map::Items items;
    items.reserve(n);
    for (std::uint64_t i = 0; i < n; ++i) {
        items.push(IntKey{i}, std::uint64_t{i});
    }
    return Map::build(HashBuilder{0x0123456789abcdefu, 0xfedcba9876543210u}, std::move(items));
}

/// Blocks allocated per iteration since `start`.
void report_allocations(benchmark::State& state, std::uint64_t start, double ops_per_iteration) {
    state.counters["allocs/op"] = benchmark::Counter(
        static_cast<double>(CountingHeap::allocations - start) / ops_per_iteration,
        benchmark::Counter::kAvgIterations);
}

void BM_TrieLookupHit(benchmark::State& state) {
    const auto n = static_cast<std::uint64_t>(state.range(0));
    const Map map = build(n);
    std::uint64_t i = 0;
    const std::uint64_t start = CountingHeap::allocations;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.lookup(IntKey{i}));
        i = (i + 7919) % n;
    }
    report_allocations(state, start, 1);
}
BENCHMARK(BM_TrieLookupHit)->Arg(1000)->Arg(1000000);

void BM_TrieInsertPersistent(benchmark::State& state) {
    const auto n = static_cast<std::uint64_t>(state.range(0));
    const Map map = build(n);
    std::uint64_t i = 0;
    const std::uint64_t start = CountingHeap::allocations;
    for (auto _ : state) {
        // A new key each time; the new version (its path) is freed when it goes.
        Map next = map.insert(IntKey{n + i}, i);
        benchmark::DoNotOptimize(next);
        i = (i + 1) % n;
    }
    report_allocations(state, start, 1);
}
BENCHMARK(BM_TrieInsertPersistent)->Arg(1000)->Arg(1000000);

void BM_TrieRemovePersistent(benchmark::State& state) {
    const auto n = static_cast<std::uint64_t>(state.range(0));
    const Map map = build(n);
    std::uint64_t i = 0;
    const std::uint64_t start = CountingHeap::allocations;
    for (auto _ : state) {
        Map next = map.remove(IntKey{i});
        benchmark::DoNotOptimize(next);
        i = (i + 7919) % n;
    }
    report_allocations(state, start, 1);
}
BENCHMARK(BM_TrieRemovePersistent)->Arg(1000)->Arg(1000000);

template <Map (*kBuild)(std::uint64_t)>
void BM_TrieBuild(benchmark::State& state) {
    const auto n = static_cast<std::uint64_t>(state.range(0));
    const std::uint64_t start = CountingHeap::allocations;
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        Map map = kBuild(n);
        bytes = CountingHeap::live_bytes;
        benchmark::DoNotOptimize(map);
    }
    const auto inserts = static_cast<double>(n);
    report_allocations(state, start, inserts);
    state.counters["time/op"] = benchmark::Counter(
        inserts, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["bytes/entry"] = static_cast<double>(bytes) / inserts;
}
BENCHMARK(BM_TrieBuild<build>)
    ->Name("BM_TrieBuildInPlace")
    ->Arg(1000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrieBuild<build_at_once>)
    ->Name("BM_TrieBuildAtOnce")
    ->Arg(1000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

template <Map (*kBuild)(std::uint64_t)>
void BM_TrieIterate(benchmark::State& state) {
    const auto n = static_cast<std::uint64_t>(state.range(0));
    const Map map = kBuild(n);
    const std::uint64_t start = CountingHeap::allocations;
    for (auto _ : state) {
        auto it = map.iter();
        std::uint64_t sum = 0;
        while (const auto* entry = it.next()) {
            sum += entry->value();
        }
        benchmark::DoNotOptimize(sum);
    }
    const auto entries = static_cast<double>(n);
    report_allocations(state, start, entries);
    state.counters["time/op"] = benchmark::Counter(
        entries, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TrieIterate<build>)
    ->Name("BM_TrieIterate")
    ->Arg(1000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TrieIterate<build_at_once>)
    ->Name("BM_TrieIterateBuiltAtOnce")
    ->Arg(1000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
