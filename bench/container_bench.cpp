// Containers: FIFO traffic against std::list, hash lookups against std::unordered_map.
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

#include <tovlib.h>

#include "bench_util.h"

namespace bench {
namespace {

struct Item : tovObject {
    int value = 0;
};

constexpr std::size_t queued = 1024;
constexpr std::size_t ring = 2 * queued;  // elements cycle through a ring; a power of two
                                          // keeps the index arithmetic out of the way

// Steady state: each step appends one element and removes the oldest.
void fifoTraffic(benchmark::State& state) {
    tovPool pool;
    std::vector<Item*> items(ring);
    for (auto& i : items) {
        i = new (&pool) Item;
        i->up();  // owned here; the FIFO only borrows
    }
    tovFifo fifo;
    for (std::size_t i = 0; i < queued; ++i) fifo.add(*items[i]);
    std::size_t head = 0, tail = queued;
    for (auto _ : state) {
        fifo.add(*items[tail]);
        fifo.remove(*items[head]);  // the first node matches at once
        tail = (tail + 1) & (ring - 1);
        head = (head + 1) & (ring - 1);
    }
    state.SetItemsProcessed(state.iterations());
    fifo.removeAll();
    for (Item* i : items) i->down();
}

void listTraffic(benchmark::State& state) {
    std::vector<Item> items(ring);
    std::list<Item*> list;
    for (std::size_t i = 0; i < queued; ++i) list.push_back(&items[i]);
    std::size_t tail = queued;
    for (auto _ : state) {
        list.push_back(&items[tail]);
        benchmark::DoNotOptimize(list.front());
        list.pop_front();
        tail = (tail + 1) & (ring - 1);
    }
    state.SetItemsProcessed(state.iterations());
}

// Named objects found by a handle of their name, in a table of N buckets.
template <int N>
void hashFind(benchmark::State& state, std::size_t n) {
    const auto words = texts(n);
    tovLib::reInit(true);
    auto* pool = new tovPool;
    {
        auto& table = *new (pool) tovHash<N>;
        std::vector<tovString> keys;
        keys.reserve(n);
        for (const auto& w : words) {
            keys.emplace_back(w.c_str());
            table.add(*new (pool) tovNamedObj(keys.back()));
        }
        for (auto _ : state)
            for (const auto& k : keys) benchmark::DoNotOptimize(table.find(k));
        state.SetItemsProcessed(state.iterations() * n);
        delete &table;
    }
    tovLib::reset();
}

void mapFind(benchmark::State& state, std::size_t n) {
    const auto words = texts(n);
    std::vector<Item> items(n);
    std::unordered_map<std::string, Item*> map;
    for (std::size_t i = 0; i < n; ++i) map.emplace(words[i], &items[i]);
    for (auto _ : state)
        for (const auto& w : words) benchmark::DoNotOptimize(map.find(w));
    state.SetItemsProcessed(state.iterations() * n);
}

// A short walk over a FIFO of 8 elements, four ways: range-for over the FIFO (the
// tovlib row: it follows the nodes), range-for through a tovContainer& and the
// protocol's own iterator handle (both pay an iterator from the pool and the virtual
// calls per element), and std::list.
constexpr int walked = 8;

// Times `sum(fifo)` over a FIFO of `walked` pooled elements.
template <class Sum>
void walkFifo(benchmark::State& state, Sum sum) {
    tovPool pool;
    auto* fifo = new (&pool) tovFifo;
    for (int i = 0; i < walked; ++i) fifo->add(*new (&pool) Item);
    for (auto _ : state) benchmark::DoNotOptimize(sum(*fifo));
    state.SetItemsProcessed(state.iterations());
    delete fifo;
}

void walkRange(benchmark::State& state) {
    walkFifo(state, [](const tovFifo& fifo) {
        int sum = 0;
        for (tovObject& e : fifo) sum += static_cast<Item&>(e).value;
        return sum;
    });
}

void walkProtocol(benchmark::State& state) {
    walkFifo(state, [](const tovContainer& fifo) {
        int sum = 0;
        for (tovObject& e : fifo) sum += static_cast<Item&>(e).value;
        return sum;
    });
}

void walkIterPtr(benchmark::State& state) {
    walkFifo(state, [](const tovFifo& fifo) {
        int sum = 0;
        for (tovIterPtr it(fifo); it; it++) sum += static_cast<Item&>(it()).value;
        return sum;
    });
}

void walkList(benchmark::State& state) {
    std::vector<Item> items(walked);
    std::list<Item*> list;
    for (Item& i : items) list.push_back(&i);
    for (auto _ : state) {
        int sum = 0;
        for (Item* i : list) sum += i->value;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

void registerContainers() {
    add("X1", "walk_fifo_8", "tovlib", walkRange);  // range-for
    add("X1", "walk_fifo_8", "range_protocol", walkProtocol);
    add("X1", "walk_fifo_8", "tovIterPtr", walkIterPtr);
    add("X1", "walk_fifo_8", "std_list", walkList);
    add("P8", "fifo_add_remove_first", "tovlib", fifoTraffic);
    add("P8", "fifo_add_remove_first", "std_list", listTraffic);
    // The library's 4191 buckets whatever the size, and a table sized for the entries.
    for (std::size_t n : {1000, 10000, 100000}) {
        const std::string name = "hash_find_" + std::to_string(n);
        add("P8", name, "tovlib", [=](benchmark::State& s) { hashFind<4191>(s, n); });
        add("P8", name, "unordered_map", [=](benchmark::State& s) { mapFind(s, n); });
    }
    add("P9", "hash_find_1000_sized", "tovlib", [](benchmark::State& s) { hashFind<1031>(s, 1000); });
    add("P9", "hash_find_1000_sized", "unordered_map", [](benchmark::State& s) { mapFind(s, 1000); });
    add("P9", "hash_find_10000_sized", "tovlib", [](benchmark::State& s) { hashFind<10007>(s, 10000); });
    add("P9", "hash_find_10000_sized", "unordered_map", [](benchmark::State& s) { mapFind(s, 10000); });
    add("P9", "hash_find_100000_sized", "tovlib", [](benchmark::State& s) { hashFind<100003>(s, 100000); });
    add("P9", "hash_find_100000_sized", "unordered_map", [](benchmark::State& s) { mapFind(s, 100000); });
}

}  // namespace bench
