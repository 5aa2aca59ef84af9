// Texts that all share one string hash, as an attacker would craft them, and random
// texts of the same shape to compare them with.
//
// The string hash is h = 1, then h * 257 + c for every byte, modulo 2^32. Appending
// an 8-byte block b to a text maps h to h * 257^8 + p(b), where p(b) is the block's
// own polynomial value; two blocks with p(a) == p(b) are therefore interchangeable at
// any position without changing the hash. Such pairs are found by sorting about a
// million random blocks by p (a birthday search over 2^32 values), and k pairs
// combine into 2^k texts of 8k letters and one hash.
#ifndef TOVLIB_BENCH_CRAFTED_TEXTS_H
#define TOVLIB_BENCH_CRAFTED_TEXTS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace crafted {

/// A deterministic stream of 64-bit values (splitmix64).
inline std::uint64_t mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

/// Block `i` of the search: eight lower-case letters drawn from `mix(seed + i)`.
inline std::string block(std::uint64_t seed, std::uint32_t i) {
    std::uint64_t r = mix(seed + i);
    std::string b(8, 'a');
    for (char& c : b) {
        c = static_cast<char>('a' + r % 26);
        r /= 26;  // 26^8 < 2^64: every letter comes from fresh bits
    }
    return b;
}

/// The block's contribution: c0 * 257^7 + ... + c7, modulo 2^32.
inline std::uint32_t blockValue(const std::string& b) {
    std::uint32_t p = 0;
    for (unsigned char c : b) p = p * 257u + c;
    return p;
}

/// `k` pairs of distinct 8-letter blocks, each pair of equal blockValue (k <= 64).
inline std::vector<std::pair<std::string, std::string>> collidingPairs(unsigned k, std::uint64_t seed = 1) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (std::uint64_t round = 0; pairs.size() < k; ++round) {
        constexpr std::uint32_t n = 1u << 20;  // about 128 colliding pairs expected
        std::vector<std::uint64_t> keyed(n);
        for (std::uint32_t i = 0; i < n; ++i)
            keyed[i] = std::uint64_t{blockValue(block(seed + round * n, i))} << 32 | i;
        std::sort(keyed.begin(), keyed.end());
        for (std::uint32_t i = 1; i < n && pairs.size() < k; ++i) {
            if ((keyed[i] >> 32) != (keyed[i - 1] >> 32)) continue;
            std::string a = block(seed + round * n, static_cast<std::uint32_t>(keyed[i - 1]));
            std::string b = block(seed + round * n, static_cast<std::uint32_t>(keyed[i]));
            if (a != b) pairs.emplace_back(std::move(a), std::move(b));
            ++i;  // each block in one pair only
        }
    }
    return pairs;
}

/// `count` distinct texts of 8 * k letters that all have one string hash, where k is
/// the least number of pairs with 2^k >= count. Text j takes the second block of pair t
/// where bit t of j is set.
inline std::vector<std::string> collidingTexts(std::size_t count, std::uint64_t seed = 1) {
    unsigned k = 1;
    while ((std::size_t{1} << k) < count) ++k;
    const auto pairs = collidingPairs(k, seed);
    std::vector<std::string> out;
    out.reserve(count);
    for (std::size_t j = 0; j < count; ++j) {
        std::string t;
        t.reserve(8 * k);
        for (unsigned i = 0; i < k; ++i) t += (j >> i & 1) ? pairs[i].second : pairs[i].first;
        out.push_back(std::move(t));
    }
    return out;
}

/// `count` random texts of `length` lower-case letters (distinct with overwhelming
/// probability for length >= 8), the ordinary input of the same shape.
inline std::vector<std::string> randomTexts(std::size_t count, std::size_t length, std::uint64_t seed = 2) {
    std::vector<std::string> out(count, std::string(length, 'a'));
    std::uint64_t state = seed;
    for (auto& t : out)
        for (char& c : t) c = static_cast<char>('a' + (state = mix(state)) % 26);
    return out;
}

}  // namespace crafted

#endif
