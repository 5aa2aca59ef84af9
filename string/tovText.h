// Internal: the string hash, the keyed hash of the text index, and the byte order
// shared by elements and handles.
#ifndef TOVLIB_TOVTEXT_H
#define TOVLIB_TOVTEXT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tovText {

/// 257^k modulo 2^32.
constexpr std::uint32_t power257(unsigned int k) { return k == 0 ? 1u : 257u * power257(k - 1); }

/// power257(k) for k = 0 to 8, read at run time by fullHash().
constexpr std::uint32_t powers257[9] = {power257(0), power257(1), power257(2), power257(3), power257(4),
                                        power257(5), power257(6), power257(7), power257(8)};

/// h = 1, then h * 257 + c for every byte c of the `length` bytes of `text`, taken as
/// a signed 8-bit value, modulo 2^32.
inline std::uint32_t fullHash(const char* text, std::size_t length) {
    auto byte = [text](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(text[i])));
    };
    std::uint32_t h = 1;
    std::size_t i = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Eight bytes a step: h * 257^8 + (c0 * 257^7 + ... + c7) is the same value modulo
    // 2^32. Where every byte of a word is below 0x80, so that signed and unsigned agree,
    // the sum is formed in the word's lanes, pairs then quadruples, with no carry from
    // lane to lane (127 * 258 < 2^16, 32766 * 66050 < 2^32). The last 1 to 7 bytes are
    // the top of the word that ends the text, with zeros below them, which add nothing;
    // a text of 4 to 7 bytes is put together from its first and last four. Every read
    // stays inside the text. A word holding any other byte is taken byte by byte.
    auto lanes = [](std::uint64_t w) {
        constexpr std::uint64_t bytes = 0x00FF00FF00FF00FFu;
        constexpr std::uint64_t halves = 0x0000FFFF0000FFFFu;
        const std::uint64_t pairs = (w & bytes) * 257u + (w >> 8 & bytes);
        const std::uint64_t quads = (pairs & halves) * 66049u + (pairs >> 16 & halves);
        return static_cast<std::uint32_t>(quads) * power257(4) + static_cast<std::uint32_t>(quads >> 32);
    };
    auto ascii = [](std::uint64_t w) { return (w & 0x8080808080808080u) == 0; };
    std::uint64_t w;
    if (length >= 8) {
        for (; i + 8 <= length; i += 8) {
            std::memcpy(&w, text + i, 8);
            if (!ascii(w)) break;
            h = h * powers257[8] + lanes(w);
        }
        if (i + 8 > length) {
            if (i == length) return h;
            std::memcpy(&w, text + length - 8, 8);
            w &= ~std::uint64_t{0} << 8 * (8 - (length - i));
            if (ascii(w)) return h * powers257[length - i] + lanes(w);
        }
    } else if (length >= 4) {
        std::uint32_t first;
        std::uint32_t last;
        std::memcpy(&first, text, 4);
        std::memcpy(&last, text + length - 4, 4);
        w = std::uint64_t{last} << 32 | (std::uint64_t{first} << 8 * (8 - length) & 0xFFFFFFFFu);
        if (ascii(w)) return h * powers257[length] + lanes(w);
    }
#endif
    for (; i < length; ++i) h = h * 257u + byte(i);
    return h;
}

/// The full hash modulo `n` (0 for n = 0).
inline unsigned int hash(const char* text, std::size_t length, int n) {
    const auto divisor = static_cast<unsigned int>(n);
    return divisor ? fullHash(text, length) % divisor : 0;
}

inline unsigned int hash(const char* text, int n) { return hash(text, std::strlen(text), n); }

/// SipHash-C-D of the `length` bytes at `data` under the 128-bit key (k0, k1), as its
/// authors define it: four 64-bit lanes start as the key mixed with four constants;
/// each 8-byte word, read little-endian, is xored into the last lane, C rounds run and
/// the word is xored into the first; the last word holds the 0 to 7 bytes left and the
/// length's low byte at its top; then 0xff goes into the third lane, D rounds run and
/// the four lanes xored together are the value. Without the key, input cannot be
/// chosen to make values collide.
template <int C, int D>
std::uint64_t sipHash(std::uint64_t k0, std::uint64_t k1, const char* data, std::size_t length) {
    std::uint64_t v0 = k0 ^ 0x736f6d6570736575u;
    std::uint64_t v1 = k1 ^ 0x646f72616e646f6du;
    std::uint64_t v2 = k0 ^ 0x6c7967656e657261u;
    std::uint64_t v3 = k1 ^ 0x7465646279746573u;
    auto rotl = [](std::uint64_t x, int b) { return x << b | x >> (64 - b); };
    auto rounds = [&](int n) {
        for (int r = 0; r < n; ++r) {
            v0 += v1, v1 = rotl(v1, 13), v1 ^= v0, v0 = rotl(v0, 32);
            v2 += v3, v3 = rotl(v3, 16), v3 ^= v2;
            v0 += v3, v3 = rotl(v3, 21), v3 ^= v0;
            v2 += v1, v1 = rotl(v1, 17), v1 ^= v2, v2 = rotl(v2, 32);
        }
    };
    auto word = [&](std::uint64_t m) {
        v3 ^= m;
        rounds(C);
        v0 ^= m;
    };
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t m;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::memcpy(&m, bytes + i, 8);
#else
        m = 0;
        for (int j = 7; j >= 0; --j) m = m << 8 | bytes[i + j];
#endif
        word(m);
    }
    std::uint64_t last = std::uint64_t{length} << 56;
    for (unsigned int j = 0; i + j < length; ++j) last |= std::uint64_t{bytes[i + j]} << 8 * j;
    word(last);
    v2 ^= 0xffu;
    rounds(D);
    return v0 ^ v1 ^ v2 ^ v3;
}

/// -1, 0 or 1 by unsigned bytes; a proper prefix is the smaller.
inline int compare(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    while (*x && *x == *y) ++x, ++y;
    if (*x == *y) return 0;
    return *x < *y ? -1 : 1;
}

}  // namespace tovText

#endif
