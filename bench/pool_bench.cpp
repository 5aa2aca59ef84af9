// Pool allocation against glibc malloc, std::pmr, boost::pool and mimalloc, element by
// element, at scale and in phases.
#include <dlfcn.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <boost/pool/pool.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <memory_resource>
#include <numeric>
#include <random>
#include <type_traits>
#include <vector>

#include <tovlib.h>

#include "bench_util.h"

namespace bench {
namespace {

// The allocators behind one shape: allocate(size) and release(p, size).
struct TovAlloc {
    tovPool pool;
    void* allocate(std::size_t n) { return pool.alloc(n); }
    void release(void* p, std::size_t n) { pool.free(p, n); }
};
struct GlibcAlloc {
    void* allocate(std::size_t n) { return std::malloc(n); }
    void release(void* p, std::size_t) { std::free(p); }
};
struct PmrAlloc {
    std::pmr::unsynchronized_pool_resource res;
    void* allocate(std::size_t n) { return res.allocate(n, 8); }
    void release(void* p, std::size_t n) { res.deallocate(p, n, 8); }
};
struct BoostAlloc {  // one fixed-size boost::pool per 8-byte class, like the pool's lists
    std::vector<std::unique_ptr<boost::pool<>>> pools;
    BoostAlloc() {
        for (std::size_t c = 0; c <= 64; ++c) pools.emplace_back(new boost::pool<>(c ? 8 * c : 8));
    }
    void* allocate(std::size_t n) { return pools[(n + 7) / 8]->malloc(); }
    void release(void* p, std::size_t n) { pools[(n + 7) / 8]->free(p); }
};
// mimalloc's shared library replaces malloc for the whole process when it is linked,
// which would turn the glibc peer into mimalloc: load it privately instead.
struct Mimalloc {
    void* (*malloc)(std::size_t) = nullptr;
    void (*free)(void*) = nullptr;
    void (*collect)(bool) = nullptr;
    void (*processInfo)(std::size_t*, std::size_t*, std::size_t*, std::size_t*, std::size_t*, std::size_t*,
                        std::size_t*, std::size_t*) = nullptr;
    Mimalloc() {
        void* lib = dlopen("libmimalloc.so.2", RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            std::fprintf(stderr, "tovlib_bench: cannot load mimalloc: %s\n", dlerror());
            std::abort();
        }
        malloc = reinterpret_cast<decltype(malloc)>(dlsym(lib, "mi_malloc"));
        free = reinterpret_cast<decltype(free)>(dlsym(lib, "mi_free"));
        collect = reinterpret_cast<decltype(collect)>(dlsym(lib, "mi_collect"));
        processInfo = reinterpret_cast<decltype(processInfo)>(dlsym(lib, "mi_process_info"));
    }
};
const Mimalloc& mimalloc() {
    static const Mimalloc mi;
    return mi;
}

struct MiAlloc {
    const Mimalloc& mi = mimalloc();
    void* allocate(std::size_t n) { return mi.malloc(n); }
    void release(void* p, std::size_t) { mi.free(p); }
};

template <class A>
void oneElement(benchmark::State& state, std::size_t size) {
    A a;
    a.release(a.allocate(size), size);  // warm up
    for (auto _ : state) {
        void* p = a.allocate(size);
        benchmark::DoNotOptimize(p);
        a.release(p, size);
    }
    state.SetItemsProcessed(state.iterations());
}

enum class Order { lifo, fifo, random };

template <class A>
void workingSet(benchmark::State& state, std::size_t n, Order order) {
    A a;
    const auto sizes = smallSizes(n);
    std::vector<std::size_t> freeOrder(n);
    std::iota(freeOrder.begin(), freeOrder.end(), 0);
    if (order == Order::lifo) std::reverse(freeOrder.begin(), freeOrder.end());
    if (order == Order::random) std::shuffle(freeOrder.begin(), freeOrder.end(), std::mt19937(11));
    std::vector<void*> live(n);
    for (auto _ : state) {
        for (std::size_t i = 0; i < n; ++i) live[i] = a.allocate(sizes[i]);
        benchmark::DoNotOptimize(live.data());
        for (std::size_t i : freeOrder) a.release(live[i], sizes[i]);
    }
    state.SetItemsProcessed(state.iterations() * n * 2);
}

// Growth: a million 24-byte elements into a fresh allocator. The pointers are kept
// (glibc needs them to free untimed); the allocator goes untimed too.
constexpr std::size_t fillCount = 1000000;

template <class A>
void fill(benchmark::State& state) {
    std::vector<void*> live(fillCount);
    for (auto _ : state) {
        state.PauseTiming();
        auto* a = new A;
        state.ResumeTiming();
        for (auto& p : live) p = a->allocate(24);
        benchmark::DoNotOptimize(live.data());
        state.PauseTiming();
        if constexpr (std::is_same_v<A, GlibcAlloc>)
            for (void* p : live) a->release(p, 24);
        delete a;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * fillCount);
}

// Giving back a million 24-byte elements at once: the pool's release() against pmr's.
// The call alone is timed, by hand: pausing and resuming the benchmark's timers costs
// microseconds of its own, as much as the call.
template <class A>
void releaseAll(benchmark::State& state) {
    for (auto _ : state) {
        A a;
        for (std::size_t i = 0; i < fillCount; ++i) benchmark::DoNotOptimize(a.allocate(24));
        const auto start = std::chrono::steady_clock::now();
        if constexpr (std::is_same_v<A, TovAlloc>)
            a.pool.release();
        else
            a.res.release();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetItemsProcessed(state.iterations() * fillCount);
}

// Work in phases, as a long-running program does it: everything a phase made is dropped
// at its end, the pool and pmr with one release(), glibc and mimalloc freeing each
// element. `live` holds the elements, `sizeOf` their sizes by index.
template <class A, class Size>
void drop(A& a, const std::vector<void*>& live, Size sizeOf) {
    if constexpr (std::is_same_v<A, TovAlloc>)
        a.pool.release();
    else if constexpr (std::is_same_v<A, PmrAlloc>)
        a.res.release();
    else
        for (std::size_t i = 0; i < live.size(); ++i) a.release(live[i], sizeOf(i));
}

// A phase: 250,000 objects of 24, 40 and 64 bytes in turn, each written once, then
// dropped. The first phase runs before the timed loop; each iteration is a later one.
constexpr std::size_t phaseCount = 250000;
constexpr std::size_t phaseSizes[] = {24, 40, 64};

template <class A>
void phases(benchmark::State& state) {
    A a;
    std::vector<void*> live(phaseCount);
    const auto phase = [&] {
        for (std::size_t i = 0; i < phaseCount; ++i) {
            const std::size_t n = phaseSizes[i % 3];
            live[i] = a.allocate(n);
            std::memset(live[i], static_cast<int>(i), n);
        }
        benchmark::DoNotOptimize(live.data());
        drop(a, live, [](std::size_t i) { return phaseSizes[i % 3]; });
    };
    phase();
    for (auto _ : state) phase();
    state.SetItemsProcessed(state.iterations() * phaseCount);
}

// P3's fill again after the same fill was dropped once: the steady state of a program
// that fills and drops. The drop goes untimed.
template <class A>
void refill(benchmark::State& state) {
    A a;
    std::vector<void*> live(fillCount);
    const auto fillOnce = [&] {
        for (auto& p : live) p = a.allocate(24);
        benchmark::DoNotOptimize(live.data());
    };
    const auto dropAll = [&] { drop(a, live, [](std::size_t) { return std::size_t{24}; }); };
    fillOnce();
    dropAll();
    for (auto _ : state) {
        fillOnce();
        state.PauseTiming();
        dropAll();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * fillCount);
}

// Bytes each live 24-byte element costs, by the allocator's own accounting.
constexpr std::size_t footprintCount = 1000000;

template <class Measure, class A>
void footprint(benchmark::State& state, Measure measure) {
    for (auto _ : state) {
        A a;
        std::vector<void*> live(footprintCount);
        const double before = measure(a);
        for (auto& p : live) p = a.allocate(24);
        state.counters["bytes_per_element"] = (measure(a) - before) / footprintCount;
        for (auto* p : live) a.release(p, 24);
    }
}

}  // namespace

void registerPool() {
    for (std::size_t size : {16, 32, 200}) {
        const std::string name = "alloc_free_" + std::to_string(size);
        add("P1", name, "tovlib", [=](benchmark::State& s) { oneElement<TovAlloc>(s, size); });
        add("P1", name, "glibc", [=](benchmark::State& s) { oneElement<GlibcAlloc>(s, size); });
        add("P1", name, "pmr", [=](benchmark::State& s) { oneElement<PmrAlloc>(s, size); });
    }
    const std::pair<Order, const char*> orders[] = {
        {Order::lifo, "lifo"}, {Order::fifo, "fifo"}, {Order::random, "random"}};
    for (std::size_t n : {1000, 100000}) {
        for (auto [order, label] : orders) {
            const std::string name = std::to_string(n) + "_live_" + label;
            const Order o = order;
            add("P2", name, "tovlib", [=](benchmark::State& s) { workingSet<TovAlloc>(s, n, o); });
            add("P2", name, "glibc", [=](benchmark::State& s) { workingSet<GlibcAlloc>(s, n, o); });
            add("P2", name, "pmr", [=](benchmark::State& s) { workingSet<PmrAlloc>(s, n, o); });
            add("P2", name, "boost", [=](benchmark::State& s) { workingSet<BoostAlloc>(s, n, o); });
            add("P2", name, "mimalloc", [=](benchmark::State& s) { workingSet<MiAlloc>(s, n, o); });
        }
    }
    add("P3", "fill_1M_24B", "tovlib", fill<TovAlloc>)->Iterations(10);
    add("P3", "fill_1M_24B", "glibc", fill<GlibcAlloc>)->Iterations(10);
    add("P3", "fill_1M_24B", "pmr", fill<PmrAlloc>)->Iterations(10);
    add("P3", "release_1M_24B", "tovlib", releaseAll<TovAlloc>)->Iterations(20)->UseManualTime();
    add("P3", "release_1M_24B", "pmr", releaseAll<PmrAlloc>)->Iterations(20)->UseManualTime();
    // Phases on the heap as a program finds it (bench/run passes --default_heap), each
    // case in a process of its own: 11 phases after the first, or 10 fills after one.
    add("P11", "phases_250k_24_40_64B", "tovlib", phases<TovAlloc>)->Iterations(11);
    add("P11", "phases_250k_24_40_64B", "glibc", phases<GlibcAlloc>)->Iterations(11);
    add("P11", "phases_250k_24_40_64B", "mimalloc", phases<MiAlloc>)->Iterations(11);
    add("P11", "phases_250k_24_40_64B", "pmr", phases<PmrAlloc>)->Iterations(11);
    add("P11", "refill_1M_24B", "tovlib", refill<TovAlloc>)->Iterations(10);
    add("P11", "refill_1M_24B", "glibc", refill<GlibcAlloc>)->Iterations(10);
    add("P11", "refill_1M_24B", "mimalloc", refill<MiAlloc>)->Iterations(10);
    add("P11", "refill_1M_24B", "pmr", refill<PmrAlloc>)->Iterations(10);
    // A footprint, not a speed: one pass each is the measurement.
    add("P4", "bytes_per_24B_element", "tovlib", [](benchmark::State& s) {
        footprint<double (*)(TovAlloc&), TovAlloc>(s, [](TovAlloc&) {
            // The heap's own count: blocks, their records and what the newest arena has
            // not yet cut into blocks.
            const auto info = mallinfo2();
            return static_cast<double>(info.uordblks + info.hblkhd);
        });
    })->Iterations(1);
    add("P4", "bytes_per_24B_element", "glibc", [](benchmark::State& s) {
        footprint<double (*)(GlibcAlloc&), GlibcAlloc>(s, [](GlibcAlloc&) {
            const auto info = mallinfo2();
            return static_cast<double>(info.uordblks + info.hblkhd);
        });
    })->Iterations(1);
    add("P4", "bytes_per_24B_element", "mimalloc", [](benchmark::State& s) {
        footprint<double (*)(MiAlloc&), MiAlloc>(s, [](MiAlloc&) {
            mimalloc().collect(true);  // count only what live elements hold
            std::size_t elapsed, user, sys, rss, peakRss, commit, peakCommit, faults;
            mimalloc().processInfo(&elapsed, &user, &sys, &rss, &peakRss, &commit, &peakCommit, &faults);
            return static_cast<double>(commit);
        });
    })->Iterations(1);
}

}  // namespace bench
