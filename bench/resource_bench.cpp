// Standard containers over tovPoolResource against the std::pmr resources: a table of
// identifiers built and dropped, and a vector's growth.
#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <tovlib.h>

#include "bench_util.h"

namespace bench {
namespace {

// The first `limit` identifier-like words (a letter or underscore, then letters, digits
// and underscores) of the files under `root`, visited in name order: the same list on
// every run on one machine. Symbolic links to directories are not followed.
void collect(const std::filesystem::path& root, std::size_t limit, std::vector<std::string>& out) {
    std::vector<std::filesystem::directory_entry> entries;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(root, ec)) entries.push_back(e);
    std::sort(entries.begin(), entries.end());
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    auto word = [&](char c) { return c == '_' || ((c | 32) >= 'a' && (c | 32) <= 'z') || digit(c); };
    for (const auto& e : entries) {
        if (out.size() >= limit) return;
        if (e.is_directory(ec) && !e.is_symlink(ec)) {
            collect(e.path(), limit, out);
            continue;
        }
        if (!e.is_regular_file(ec)) continue;
        std::ifstream in(e.path(), std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        for (std::size_t i = 0; i < text.size() && out.size() < limit;) {
            if (!word(text[i]) || digit(text[i])) {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < text.size() && word(text[j])) ++j;
            out.emplace_back(text, i, j - i);
            i = j;
        }
    }
}

// A census corpus: a million identifiers of /usr/include (about 63,000 distinct, two
// in five of those too long for a string's inline buffer).
const std::vector<std::string>& corpus() {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> w;
        collect("/usr/include", 1000000, w);
        return w;
    }();
    return words;
}

// The resources side by side: resource() for a phase, drop() after it. `abandon`:
// the containers are not destroyed, their memory goes with drop().
struct TovResource {
    tovPool pool;
    tovPoolResource res{pool};
    std::pmr::memory_resource* resource() { return &res; }
    void drop() { pool.release(); }
};
struct Monotonic {
    std::pmr::monotonic_buffer_resource res;
    std::pmr::memory_resource* resource() { return &res; }
    void drop() { res.release(); }
};
struct UnsyncPool {
    std::pmr::unsynchronized_pool_resource res;
    std::pmr::memory_resource* resource() { return &res; }
    void drop() { res.release(); }
};
struct Default {
    std::pmr::memory_resource* resource() { return std::pmr::new_delete_resource(); }
    void drop() {}
};

using Table = std::pmr::unordered_map<std::pmr::string, int>;

// The corpus's distinct words, in the order they first appear.
const std::vector<std::string>& distinct() {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> w;
        std::unordered_map<std::string_view, int> seen;
        for (const std::string& word : corpus())
            if (seen.emplace(word, 0).second) w.push_back(word);
        return w;
    }();
    return words;
}

// A table built from `words`, each counted, then dropped: by its destructor and then
// the resource's release, or (abandon) by the release alone. The lookup key is one
// string, reused, and each word is hashed once: a word already counted costs no
// allocation. Over the distinct words
// every step inserts (nodes, long keys, the bucket arrays as it grows); over the whole
// corpus, as in a census, most steps find the word and count it.
template <class R>
void buildDrop(benchmark::State& state, const std::vector<std::string>& words, bool abandon) {
    R r;
    alignas(Table) unsigned char storage[sizeof(Table)];
    for (auto _ : state) {
        auto* table = new (storage) Table(r.resource());
        {
            std::pmr::string key(r.resource());
            for (const std::string& w : words) {
                key.assign(w);
                ++table->try_emplace(key).first->second;
            }
        }
        benchmark::DoNotOptimize(table->size());
        if (!abandon) table->~Table();
        r.drop();
    }
    state.SetItemsProcessed(state.iterations() * words.size());
}

// A vector of `n` ints grown one push_back at a time from empty, then dropped.
template <class R>
void vectorGrowth(benchmark::State& state, std::size_t n) {
    R r;
    for (auto _ : state) {
        {
            std::pmr::vector<int> v(r.resource());
            for (std::size_t i = 0; i < n; ++i) v.push_back(static_cast<int>(i));
            benchmark::DoNotOptimize(v.data());
        }
        r.drop();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

template <class R>
void addResource(const char* impl, bool abandons) {
    add("R1", "map_build_drop", impl, [](benchmark::State& s) { buildDrop<R>(s, distinct(), false); });
    if (abandons)
        add("R1", "map_build_abandon", impl, [](benchmark::State& s) { buildDrop<R>(s, distinct(), true); });
    add("R1", "census_build_drop", impl, [](benchmark::State& s) { buildDrop<R>(s, corpus(), false); });
    for (std::size_t n : {1000, 1000000})
        add("R1", "vector_growth_" + std::to_string(n), impl,
            [=](benchmark::State& s) { vectorGrowth<R>(s, n); });
}

}  // namespace

void registerResources() {
    addResource<TovResource>("tovlib", true);
    addResource<Monotonic>("monotonic", true);
    addResource<UnsyncPool>("unsync_pool", true);
    addResource<Default>("default", false);
}

}  // namespace bench
