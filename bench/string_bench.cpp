// Interning and comparing strings against std::unordered_set<std::string>; interning
// texts crafted to share one string hash against random texts of the same length.
#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include <tovlib.h>

#include "bench_util.h"
#include "crafted_texts.h"

namespace bench {
namespace {

void internHits(benchmark::State& state, std::size_t n, bool handles) {
    const auto words = texts(n);
    tovLib::reInit(true);
    tovStringTbl* table = tovStringTbl::establish(nullptr);
    for (const auto& w : words) table->addStrElem(w.c_str());
    for (auto _ : state) {
        for (const auto& w : words) {
            if (handles) {
                tovString h(w.c_str());
                benchmark::DoNotOptimize(&h);
            } else {
                benchmark::DoNotOptimize(&table->addStrElem(w.c_str()));
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * n);
    tovLib::reset();
}

void internMisses(benchmark::State& state, std::size_t n) {
    const auto words = texts(n);
    for (auto _ : state) {
        state.PauseTiming();
        tovLib::reInit(true);
        tovStringTbl* table = tovStringTbl::establish(nullptr);
        state.ResumeTiming();
        for (const auto& w : words) benchmark::DoNotOptimize(&table->addStrElem(w.c_str()));
    }
    state.SetItemsProcessed(state.iterations() * n);
    tovLib::reset();
}

void setHits(benchmark::State& state, std::size_t n) {
    const auto words = texts(n);
    std::unordered_set<std::string> set(words.begin(), words.end());
    // From the same const char* as the library gets: the key is a std::string made of it.
    for (auto _ : state)
        for (const auto& w : words) benchmark::DoNotOptimize(set.find(w.c_str()));
    state.SetItemsProcessed(state.iterations() * n);
}

void setMisses(benchmark::State& state, std::size_t n) {
    const auto words = texts(n);
    std::unordered_set<std::string> set;
    for (auto _ : state) {
        state.PauseTiming();
        set.clear();
        state.ResumeTiming();
        for (const auto& w : words) benchmark::DoNotOptimize(set.insert(w.c_str()));
    }
    state.SetItemsProcessed(state.iterations() * n);
}

// Equality of two values for the same text, made independently.
void handleEquality(benchmark::State& state) {
    const auto words = texts(1000);
    tovLib::reInit(true);
    std::vector<tovString> a, b;
    a.reserve(words.size());
    b.reserve(words.size());
    for (const auto& w : words) a.emplace_back(w.c_str());
    for (const auto& w : words) b.emplace_back(w.c_str());
    for (auto _ : state)
        for (std::size_t i = 0; i < a.size(); ++i) benchmark::DoNotOptimize(a[i].isEqual(b[i]));
    state.SetItemsProcessed(state.iterations() * a.size());
    a.clear();
    b.clear();
    tovLib::reset();
}

void stringEquality(benchmark::State& state) {
    const auto words = texts(1000);
    const std::vector<std::string> a(words), b(words);
    for (auto _ : state)
        for (std::size_t i = 0; i < a.size(); ++i) benchmark::DoNotOptimize(a[i] == b[i]);
    state.SetItemsProcessed(state.iterations() * a.size());
}

// Every text interned through a handle into a fresh main table, as a client interns
// what it reads.
void internAlone(benchmark::State& state, const std::vector<std::string>& words) {
    for (auto _ : state) {
        state.PauseTiming();
        tovLib::reInit(true);
        state.ResumeTiming();
        for (const auto& w : words) {
            tovString h(w.c_str());
            benchmark::DoNotOptimize(&h);
        }
    }
    state.SetItemsProcessed(state.iterations() * words.size());
    tovLib::reset();
}

// The same texts into a careful std::unordered_set<std::string> (reserved, so that no
// rehash is timed), and copied into one buffer: the least work interning can do. Their
// growth from 16k to 64k texts is the machine's (the working set leaves the caches), the
// yardstick for the interning rows' growth.
void internPeer(benchmark::State& state, const std::vector<std::string>& words, bool copyOnly) {
    std::vector<char> buffer;
    for (auto _ : state) {
        state.PauseTiming();
        std::unordered_set<std::string> set;
        set.reserve(words.size());
        buffer.assign(words.size() * 129, 0);
        state.ResumeTiming();
        char* out = buffer.data();
        for (const auto& w : words) {
            if (copyOnly)
                out = std::copy(w.c_str(), w.c_str() + w.size() + 1, out);
            else
                set.insert(w);
        }
        benchmark::DoNotOptimize(out);
        state.PauseTiming();
        set = {};
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * words.size());
}

// 65,536 texts of 128 letters, made on first use (the search for colliding blocks takes
// a moment): all of one string hash, or random. Smaller cases take the first ones.
const std::vector<std::string>& hostileTexts(bool crafted) {
    static const std::vector<std::string> collide = crafted::collidingTexts(65536);
    static const std::vector<std::string> random = crafted::randomTexts(65536, 128);
    return crafted ? collide : random;
}

}  // namespace

void registerStrings() {
    for (std::size_t n : {16384, 65536}) {
        for (bool crafted : {true, false}) {
            add("H1", "intern_" + std::to_string(n), crafted ? "crafted" : "random",
                [=](benchmark::State& s) {
                    const auto& all = hostileTexts(crafted);
                    internAlone(s, std::vector<std::string>(all.begin(), all.begin() + static_cast<long>(n)));
                });
        }
        for (bool copyOnly : {false, true}) {
            add("H1", "intern_" + std::to_string(n), copyOnly ? "copy" : "unordered_set",
                [=](benchmark::State& s) {
                    const auto& all = hostileTexts(false);
                    internPeer(s, std::vector<std::string>(all.begin(), all.begin() + static_cast<long>(n)),
                               copyOnly);
                });
        }
    }
    for (std::size_t n : {1000, 10000, 100000, 400000}) {
        const std::string hits = "intern_hits_" + std::to_string(n);
        add("P7", hits, "tovlib", [=](benchmark::State& s) { internHits(s, n, false); });
        add("P7", hits, "unordered_set", [=](benchmark::State& s) { setHits(s, n); });
        const std::string handles = "handle_hits_" + std::to_string(n);
        add("P7", handles, "tovlib", [=](benchmark::State& s) { internHits(s, n, true); });
        add("P7", handles, "unordered_set", [=](benchmark::State& s) { setHits(s, n); });
        const std::string misses = "intern_misses_" + std::to_string(n);
        add("P7", misses, "tovlib", [=](benchmark::State& s) { internMisses(s, n); });
        add("P7", misses, "unordered_set", [=](benchmark::State& s) { setMisses(s, n); });
    }
    add("P7", "equality", "tovlib", handleEquality);
    add("P7", "equality", "std_string", stringEquality);
}

}  // namespace bench
