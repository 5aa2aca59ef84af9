// Internal: the string hash and the byte order shared by elements and handles.
#ifndef TOVLIB_TOVTEXT_H
#define TOVLIB_TOVTEXT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tovText {

/// h = 1, then h * 257 + c for every byte c of the `length` bytes of `text`, taken as
/// a signed 8-bit value, modulo 2^32.
inline std::uint32_t fullHash(const char* text, std::size_t length) {
    // Four bytes a step: h * 257^4 + (c0 * 257^3 + c1 * 257^2 + c2 * 257 + c3) is the
    // same value modulo 2^32, with one multiply on the dependency chain instead of four.
    auto byte = [text](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(text[i])));
    };
    std::uint32_t h = 1;
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4)
        h = h * 67503105u + (byte(i) * 16974593u + byte(i + 1) * 66049u + byte(i + 2) * 257u + byte(i + 3));
    for (; i < length; ++i) h = h * 257u + byte(i);
    return h;
}

/// The full hash modulo `n` (0 for n = 0).
inline unsigned int hash(const char* text, std::size_t length, int n) {
    const auto divisor = static_cast<unsigned int>(n);
    return divisor ? fullHash(text, length) % divisor : 0;
}

inline unsigned int hash(const char* text, int n) { return hash(text, std::strlen(text), n); }

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
