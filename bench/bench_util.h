// Shared helpers of the side-by-side benchmarks: naming and deterministic inputs.
#ifndef TOVLIB_BENCH_UTIL_H
#define TOVLIB_BENCH_UTIL_H

#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace bench {

// Every case is registered as "<group>/<case>/<implementation>"; bench/run pairs the
// "tovlib" row of a case with each peer row and prints the ratio.
template <class F>
benchmark::internal::Benchmark* add(const std::string& group, const std::string& name,
                                    const std::string& impl, F&& f) {
    return benchmark::RegisterBenchmark((group + "/" + name + "/" + impl).c_str(), std::forward<F>(f));
}

// Fixed-seed sizes 8..504 in steps of 8.
inline std::vector<std::size_t> smallSizes(std::size_t n, unsigned seed = 42) {
    std::mt19937 rng(seed);
    std::vector<std::size_t> sizes(n);
    for (auto& s : sizes) s = 8 * (1 + rng() % 63);
    return sizes;
}

// n distinct identifier-like texts, 4 to 19 characters.
inline std::vector<std::string> texts(std::size_t n, unsigned seed = 7) {
    std::mt19937 rng(seed);
    std::vector<std::string> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::string s = "id" + std::to_string(i) + "_";
        const std::size_t extra = rng() % 12;
        for (std::size_t k = 0; k < extra; ++k) s += static_cast<char>('a' + rng() % 26);
        out.push_back(s);
    }
    return out;
}

void registerPool();
void registerObjects();
void registerStrings();
void registerContainers();
void registerResources();

}  // namespace bench

#endif
