// Internal: the string hash and the byte order shared by elements and handles.
#ifndef TOVLIB_TOVTEXT_H
#define TOVLIB_TOVTEXT_H

#include <cstdint>

namespace tovText {

/// h = 1, then h * 257 + c for every byte c taken as a signed 8-bit value, modulo
/// 2^32; the result modulo `n` (0 for n = 0).
inline unsigned int hash(const char* text, int n) {
    std::uint32_t h = 1;
    for (const char* p = text; *p; ++p)
        h = h * 257u + static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(*p)));
    const auto divisor = static_cast<unsigned int>(n);
    return divisor ? h % divisor : 0;
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
