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
// the text ends there; nothing is read past the end. A file may be given in pieces
// (Scanner), with the same result as read whole and a bounded carry between pieces.
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

// The functions below scan the rest of one construct from `p`. They return the
// position past it, or null when it is still open at `end` and `more` says that bytes
// follow; `stop` is then where the next piece must begin: the bytes from there on are
// read again, in front of the new ones, so that a look back or ahead across the cut
// sees what it would see in one buffer. Without `more` they never return null: a
// construct left open at the end of the text ends there.

// The body of an ordinary literal opened by `quote`: past its closing quote, or at the
// newline that ends it unclosed. A backslash escapes the next byte, a newline included
// (a line splice); a backslash that is the last byte of a piece is read again.
inline const char* quotedEnd(const char* p, const char* end, char quote, bool more, const char*& stop) {
    while (p < end) {
        const char c = *p;
        if (c == quote) return p + 1;
        if (c == '\n') return p;
        if (c != '\\') {
            ++p;
        } else if (end - p >= 2) {
            p += 2;
        } else {
            break;
        }
    }
    stop = p;
    return more ? nullptr : end;
}

// The delimiter of a raw string whose quote is at `p` (its prefix already read): it
// runs to the '(' (at most 16 bytes, no blank, backslash or parenthesis). Returns the
// '(', or null when no valid delimiter follows (the caller then reads an ordinary
// string), or `end` when the text ends before that is decided and `more` is set.
inline const char* rawOpen(const char* p, const char* end, bool more) {
    const char* delim = p + 1;
    const char* open = delim;
    while (open < end && *open != '(') {
        const char c = *open;
        const bool blank = c == ' ' || (c >= '\t' && c <= '\r');
        if (open - delim == 16 || blank || c == ')' || c == '\\') return nullptr;
        ++open;
    }
    return open < end || more ? open : nullptr;
}

// The body of a raw string: past the first ')' delimiter '"'. A closing sequence cut
// by the end of a piece is read again whole: the last delimiter-and-two bytes but one.
inline const char* rawEnd(const char* p, const char* end, const char* delim, std::size_t delimSize, bool more,
                          const char*& stop) {
    const auto need = static_cast<std::ptrdiff_t>(delimSize + 2);
    for (const char* q = p; end - q >= need; ++q) {
        q = static_cast<const char*>(std::memchr(q, ')', static_cast<std::size_t>(end - q)));
        if (!q || end - q < need) break;
        if (std::memcmp(q + 1, delim, delimSize) == 0 && q[1 + delimSize] == '"') return q + need;
    }
    stop = end - p > need - 1 ? end - (need - 1) : p;
    return more ? nullptr : end;
}

// The body of a `//` comment: at the newline that ends it. A backslash right before the
// newline (or before a CR LF) continues it on the next line. The two bytes before `p`
// are readable (the opener, or the last two bytes of the previous piece, read again).
inline const char* lineCommentEnd(const char* p, const char* end, bool more, const char*& stop) {
    for (; p < end; ++p) {
        p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (!p) break;
        const char* before = p - 1;
        if (*before == '\r') --before;
        if (*before != '\\') return p;
    }
    stop = end - 2;
    return more ? nullptr : end;
}

// The body of a `/* */` comment: past the first `*/`. A '*' that is the last byte of
// a piece is read again.
inline const char* blockCommentEnd(const char* p, const char* end, bool more, const char*& stop) {
    for (; end - p >= 2; ++p) {
        const auto* star =
            static_cast<const char*>(std::memchr(p, '*', static_cast<std::size_t>(end - p - 1)));
        if (!star) break;
        p = star;
        if (p[1] == '/') return p + 2;
    }
    stop = end - p >= 1 ? end - 1 : p;
    return more ? nullptr : end;
}

// The rest of a pp-number: letters, digits, underscores, dots, digit separators (1'000)
// and exponent signs (1e+10, 0x1p-3). A separator or an exponent letter that is the
// last byte of a piece is read again, with the byte after it.
inline const char* numberEnd(const char* p, const char* end, bool more, const char*& stop) {
    for (; p < end; ++p) {
        const char c = *p;
        if (c == '\'' || c == 'e' || c == 'E' || c == 'p' || c == 'P') {
            if (end - p < 2) {
                if (more) break;
                if (c == '\'') return p;  // a separator only between characters of the number
                continue;
            }
            if (c == '\'') {
                if (!isIdentChar(p[1])) return p;
                ++p;
            } else if (p[1] == '+' || p[1] == '-') {
                ++p;
            }
        } else if (c != '.' && !isIdentChar(c)) {
            return p;
        }
    }
    stop = p;
    return more ? nullptr : end;
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

/// Finds the identifiers of one file's text, given whole or in consecutive pieces.
///
/// A piece is scanned with scan(); what it returns is where the unfinished part of the
/// piece begins (an identifier cut in two, a look ahead that the cut hides, the last
/// bytes of an open comment or literal): the caller puts those bytes in front of the
/// next piece. At most maxCarry() bytes are carried, so a file is read in pieces of
/// fixed size whatever its lines, comments or literals hold, and the identifiers found
/// are those of the whole text read at once. An identifier longer than the bound given
/// at construction is not reported, only counted (tooLong()).
class Scanner {
public:
    /// A scanner for code (`code`) or plain text, at the start of a file.
    explicit Scanner(bool code, std::size_t maxIdentifier = static_cast<std::size_t>(-1))
        : _code(code), _maxIdentifier(maxIdentifier < 3 ? 3 : maxIdentifier) {}

    /// Calls `use(begin, length)` for every identifier of the piece [p, end) (its
    /// carried bytes first) that ends in it. `more`: the file goes on after `end`.
    /// Returns the start of the bytes to carry; `end` when nothing is, as always
    /// without `more`.
    template <class Use>
    const char* scan(const char* p, const char* end, bool more, Use&& use) {
        const char* stop = end;
        p = resume(p, end, more, stop);
        if (!p) return stop;
        _mode = Mode::top;
        return _code ? scanCode(p, end, more, use) : scanText(p, end, more, use);
    }

    /// Identifiers found longer than the bound, and so not reported.
    std::size_t tooLong() const { return _tooLong; }
    /// The most bytes a piece can leave to carry.
    std::size_t maxCarry() const { return _maxIdentifier > 32 ? _maxIdentifier : 32; }

private:
    enum class Mode : unsigned char { top, skipRun, quoted, raw, lineComment, blockComment, number };

    // Finishes the construct the previous piece left open: the position past it, or
    // null (and `stop`) when it is still open at `end`.
    const char* resume(const char* p, const char* end, bool more, const char*& stop) {
        using namespace detail;
        switch (_mode) {
            case Mode::top:
                return p;
            case Mode::skipRun:
                p = identEnd(p, end);
                return p == end && more ? nullptr : p;
            case Mode::quoted:
                return quotedEnd(p, end, _quote, more, stop);
            case Mode::raw:
                return rawEnd(p, end, _delim, _delimSize, more, stop);
            case Mode::lineComment:
                return lineCommentEnd(p + 2, end, more, stop);  // two bytes read again
            case Mode::blockComment:
                return blockCommentEnd(p, end, more, stop);
            case Mode::number:
                return numberEnd(p, end, more, stop);
        }
        return p;
    }

    // Leaves a construct open at the end of a piece.
    const char* open(Mode mode, const char* stop) {
        _mode = mode;
        return stop;
    }

    // An identifier run [start, p) found: reported, or counted as too long.
    template <class Use>
    void found(const char* start, const char* p, Use& use) {
        const auto n = static_cast<std::size_t>(p - start);
        if (n > _maxIdentifier)
            ++_tooLong;
        else
            use(start, n);
    }

    // A run of identifier characters from `start` that reaches the end of a piece
    // with more to come: carried whole if it may still be an identifier within the
    // bound, else skipped to its end.
    const char* cutRun(const char* start, const char* end, bool identifier) {
        if (identifier && static_cast<std::size_t>(end - start) <= _maxIdentifier) return start;
        _tooLong += identifier;
        return open(Mode::skipRun, end);
    }

    template <class Use>
    const char* scanText(const char* p, const char* end, bool more, Use& use) {
        using namespace detail;
        while (p < end) {
            const unsigned char k = classOf(*p);
            if (k == other) {
                ++p;
                continue;
            }
            const char* start = p;
            p = identEnd(p + 1, end);
            if (p == end && more) return cutRun(start, end, k == identStart);
            if (k == identStart) found(start, p, use);
        }
        return end;
    }

    template <class Use>
    const char* scanCode(const char* p, const char* end, bool more, Use& use) {
        using namespace detail;
        const char* stop = end;
        while (p < end) {
            const char c = *p;
            const unsigned char k = classOf(c);
            if (k == identStart) {
                const char* start = p;
                p = identEnd(p + 1, end);
                if (p == end && more) return cutRun(start, end, true);
                const auto n = static_cast<std::size_t>(p - start);
                bool raw;
                if (p < end && (*p == '"' || *p == '\'') && n <= 3 && isLiteralPrefix(start, n, *p, raw)) {
                    const char* paren = raw ? rawOpen(p, end, more) : nullptr;
                    if (paren == end) return start;  // the delimiter is cut: read it again
                    if (paren) {
                        _delimSize = static_cast<unsigned char>(paren - p - 1);
                        std::memcpy(_delim, p + 1, _delimSize);
                        if (!(p = rawEnd(paren + 1, end, _delim, _delimSize, more, stop)))
                            return open(Mode::raw, stop);
                    } else if (!(p = quotedEnd(p + 1, end, _quote = *p, more, stop))) {
                        return open(Mode::quoted, stop);
                    }
                    continue;
                }
                found(start, p, use);
            } else if (k == digit || (c == '.' && end - p >= 2 && isDigit(p[1]))) {
                if (!(p = numberEnd(p + 1, end, more, stop))) return open(Mode::number, stop);
            } else if (c == '"' || c == '\'') {
                if (!(p = quotedEnd(p + 1, end, _quote = c, more, stop))) return open(Mode::quoted, stop);
            } else if ((c == '/' || c == '.') && end - p < 2 && more) {
                return p;  // a comment's opener or a number's dot may be cut: read it again
            } else if (c == '/' && end - p >= 2 && p[1] == '/') {
                if (!(p = lineCommentEnd(p + 2, end, more, stop))) return open(Mode::lineComment, stop);
            } else if (c == '/' && end - p >= 2 && p[1] == '*') {
                if (!(p = blockCommentEnd(p + 2, end, more, stop))) return open(Mode::blockComment, stop);
            } else {
                ++p;
            }
        }
        return end;
    }

    bool _code;
    Mode _mode = Mode::top;
    char _quote = 0;
    unsigned char _delimSize = 0;
    char _delim[16] = {};
    std::size_t _maxIdentifier;
    std::size_t _tooLong = 0;
};

/// Scans [p, end) as code or as plain text.
template <class Use>
void scan(const char* p, const char* end, bool code, Use&& use) {
    Scanner(code).scan(p, end, false, use);
}

}  // namespace censusScan

#endif
