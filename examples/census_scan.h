// census_scan.h: finds the identifiers of a file's text, as code or as plain text.
//
// Shared by the census demo and its std::unordered_map twin (bench/census_peer.cpp),
// so that both count exactly the same identifiers. Header-only, no tovlib.
//
// An identifier is a run of ASCII letters, digits and underscores that does not start
// with a digit; bytes of 0x80 and above never belong to one. In plain text every such
// run counts. In C-family code only the runs outside comments, string and character
// literals and numbers count:
//  - `//` comments run to the end of the line, and on past a backslash-newline;
//    `/* */` comments to the first `*/`;
//  - string and character literals, with their encoding prefix (u8, u, U, L) and
//    backslash escapes; an ordinary literal that is not closed on its line ends with
//    the line, as a compiler reads it (an apostrophe in an `#error` text must not
//    swallow the code after it); raw strings R"delim(...)delim" span lines and end
//    only at their own closing delimiter;
//  - pp-numbers: a digit, or a dot and a digit, then letters, digits, underscores,
//    dots, digit separators (1'000) and exponent signs (1e+10, 0x1p-3).
// An identifier glued to a literal's closing quote (a macro after a string in C, a
// user-defined literal suffix) counts. A comment or literal left open at the end of
// the text ends there; nothing is read past the end.
#ifndef TOVLIB_EXAMPLES_CENSUS_SCAN_H
#define TOVLIB_EXAMPLES_CENSUS_SCAN_H

#include <cstddef>
#include <cstring>
#include <string_view>

namespace censusScan {

namespace detail {

// Byte classes: a table, so the inner loops test one load per byte.
enum : unsigned char { other = 0, identStart = 1, digit = 2 };

struct Classes {
    unsigned char of[256] = {};
    constexpr Classes() {
        for (int c = 'a'; c <= 'z'; ++c) of[c] = identStart;
        for (int c = 'A'; c <= 'Z'; ++c) of[c] = identStart;
        of[static_cast<unsigned char>('_')] = identStart;
        for (int c = '0'; c <= '9'; ++c) of[c] = digit;
    }
};

inline constexpr Classes classes{};

inline unsigned char classOf(char c) { return classes.of[static_cast<unsigned char>(c)]; }
inline bool isIdentChar(char c) { return classOf(c) != other; }
inline bool isDigit(char c) { return classOf(c) == digit; }

// Past the run of identifier characters from `p`.
inline const char* identEnd(const char* p, const char* end) {
    while (p < end && isIdentChar(*p)) ++p;
    return p;
}

// Whether the identifier [p, p + n) is an encoding prefix of a literal opened by
// `quote`; sets `raw` for the raw-string prefixes.
inline bool isLiteralPrefix(const char* p, std::size_t n, char quote, bool& raw) {
    const std::string_view s(p, n);
    raw = false;
    if (s == "u8" || s == "u" || s == "U" || s == "L") return true;
    if (quote != '"') return false;
    raw = s == "R" || s == "u8R" || s == "uR" || s == "UR" || s == "LR";
    return raw;
}

// Past an ordinary literal whose opening quote is at `p`: past its closing quote, or
// at the newline that ends it unclosed, or at `end`. A backslash escapes the next
// byte, a newline included (a line splice).
inline const char* skipQuoted(const char* p, const char* end) {
    const char quote = *p++;
    while (p < end) {
        const char c = *p;
        if (c == quote) return p + 1;
        if (c == '\n') return p;
        p += c == '\\' && end - p >= 2 ? 2 : 1;
    }
    return end;
}

// Past a raw string whose quote is at `p` (its prefix already read): the delimiter
// runs to the '(' (at most 16 bytes, no blank, backslash or parenthesis), and the
// string ends at the first ')' delimiter '"'. Null when no valid delimiter follows:
// the caller then reads an ordinary string.
inline const char* skipRaw(const char* p, const char* end) {
    const char* delim = p + 1;
    const char* open = delim;
    while (open < end && *open != '(') {
        const char c = *open;
        const bool blank = c == ' ' || (c >= '\t' && c <= '\r');
        if (open - delim == 16 || blank || c == ')' || c == '\\') return nullptr;
        ++open;
    }
    if (open == end) return nullptr;
    const std::size_t delimSize = static_cast<std::size_t>(open - delim);
    for (const char* q = open + 1; end - q >= static_cast<std::ptrdiff_t>(delimSize + 2); ++q) {
        q = static_cast<const char*>(std::memchr(q, ')', static_cast<std::size_t>(end - q)));
        if (!q || static_cast<std::size_t>(end - q) < delimSize + 2) break;
        if (std::memcmp(q + 1, delim, delimSize) == 0 && q[1 + delimSize] == '"') return q + delimSize + 2;
    }
    return end;
}

// Past a `//` comment at `p`: at the newline that ends it, or at `end`. A backslash
// right before the newline (or before a CR LF) continues it on the next line.
inline const char* skipLineComment(const char* p, const char* end) {
    for (p += 2; p < end; ++p) {
        p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (!p) return end;
        const char* before = p - 1;
        if (*before == '\r') --before;
        if (*before != '\\') return p;
    }
    return end;
}

// Past a `/* */` comment at `p`, or `end` when it is never closed.
inline const char* skipBlockComment(const char* p, const char* end) {
    for (p += 2; end - p >= 2; ++p) {
        p = static_cast<const char*>(std::memchr(p, '*', static_cast<std::size_t>(end - p - 1)));
        if (!p) return end;
        if (p[1] == '/') return p + 2;
    }
    return end;
}

// Past a pp-number at `p` (a digit, or a dot before a digit).
inline const char* skipNumber(const char* p, const char* end) {
    for (++p; p < end; ++p) {
        const char c = *p;
        if (c == '\'') {
            // A digit separator only between characters of the number.
            if (end - p < 2 || !isIdentChar(p[1])) break;
            ++p;
        } else if (c == 'e' || c == 'E' || c == 'p' || c == 'P') {
            if (end - p >= 2 && (p[1] == '+' || p[1] == '-')) ++p;
        } else if (c != '.' && !isIdentChar(c)) {
            break;
        }
    }
    return p;
}

}  // namespace detail

/// Whether `path` names a C-family source by its extension (.c .h .cc .cpp .cxx .hh
/// .hpp .hxx .inl, in any case), to be read as code rather than as text.
inline bool isCFamily(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.find_last_of("/\\");
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return false;
    const std::string_view ext = path.substr(dot + 1);
    if (ext.size() > 3) return false;
    char lower[3] = {};
    for (std::size_t i = 0; i < ext.size(); ++i) {
        const char c = ext[i];
        lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view e(lower, ext.size());
    return e == "c" || e == "h" || e == "cc" || e == "cpp" || e == "cxx" || e == "hh" || e == "hpp" ||
           e == "hxx" || e == "inl";
}

/// Calls `use(begin, length)` for every identifier of the plain text [p, end).
template <class Use>
void scanText(const char* p, const char* end, Use&& use) {
    while (p < end) {
        const unsigned char k = detail::classOf(*p);
        if (k == detail::other) {
            ++p;
            continue;
        }
        const char* start = p;
        p = detail::identEnd(p + 1, end);
        if (k == detail::identStart) use(start, static_cast<std::size_t>(p - start));
    }
}

/// Calls `use(begin, length)` for every identifier of the C-family code [p, end),
/// leaving out comments, literals and numbers.
template <class Use>
void scanCode(const char* p, const char* end, Use&& use) {
    using namespace detail;
    while (p < end) {
        const char c = *p;
        const unsigned char k = classOf(c);
        if (k == identStart) {
            const char* start = p;
            p = identEnd(p + 1, end);
            const auto n = static_cast<std::size_t>(p - start);
            bool raw;
            if (p < end && (*p == '"' || *p == '\'') && n <= 3 && isLiteralPrefix(start, n, *p, raw)) {
                const char* past = raw ? skipRaw(p, end) : nullptr;
                p = past ? past : skipQuoted(p, end);
                continue;
            }
            use(start, n);
        } else if (k == digit || (c == '.' && end - p >= 2 && isDigit(p[1]))) {
            p = skipNumber(p, end);
        } else if (c == '"' || c == '\'') {
            p = skipQuoted(p, end);
        } else if (c == '/' && end - p >= 2 && (p[1] == '/' || p[1] == '*')) {
            p = p[1] == '/' ? skipLineComment(p, end) : skipBlockComment(p, end);
        } else {
            ++p;
        }
    }
}

/// Scans [p, end) as code or as plain text.
template <class Use>
void scan(const char* p, const char* end, bool code, Use&& use) {
    if (code)
        scanCode(p, end, use);
    else
        scanText(p, end, use);
}

}  // namespace censusScan

#endif
