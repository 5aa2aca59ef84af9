/// \file
/// tovStrElem: one interned text, owned by a string table.
#ifndef TOVLIB_TOVSTRELEM_H
#define TOVLIB_TOVSTRELEM_H

#include <cstdint>
#include <iosfwd>
#include <ostream>
#include <string_view>

#include "lib/tovExport.h"
#include "object/tovObject.h"

class tovString;

/// An interned string: its own copy of a text, in its pool (or on the heap). String
/// tables hold elements; handles (tovString) refer to them. Two elements are equal
/// when their texts are identical; they order by unsigned bytes and hash with the
/// library's string hash (h = 1, then h * 257 + each byte taken as signed).
class TOV_API tovStrElem : public tovObject {
public:
    /// Copies `s` (not null) into storage from the element's pool, else the heap.
    /// Throws std::bad_alloc when no storage can be had.
    explicit tovStrElem(const char* s);
    /// Gives the text's storage back; does not take the element out of its table.
    ~tovStrElem() override;
    /// Not copyable: a table keeps one element per text.
    tovStrElem(const tovStrElem&) = delete;
    /// Not assignable: the text fixes the element's bucket.
    tovStrElem& operator=(const tovStrElem&) = delete;

    /// The string hash of the text, modulo `n`.
    unsigned int hash(int n) const override;
    /// The text and a blank at `indent`; with flag 4 the object line comes first and
    /// the text follows on it.
    std::ostream& dump(std::ostream& os, int indent, int nl) const override;
    /// True for this element and for another element with an identical text.
    bool isEqual(const tovObject& other) const override;
    /// By text (unsigned bytes) against elements, by address against anything else.
    int objcmp(const tovObject& other) const override;
    /// True for tovStrElemClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovStrElemClass.
    const char* className() const override;

    /// The element's own text; do not change or free it.
    operator char*() const { return _text; }
    /// The element's text as a view of its own bytes, without the terminating zero;
    /// valid while the element lives. A text never holds a zero byte.
    std::string_view view() const noexcept { return std::string_view(_text); }
    /// A new handle on this element, carved from the element's pool (the main pool,
    /// or the heap, when it has none). The library never destroys it: it lives until
    /// its pool is released.
    operator tovString&();

    TOV_OBJECT_OPERATORS(tovStrElem)

private:
    friend class tovStringTbl;
    // The table's text index reads the kept hash instead of hashing the text again.
    friend class tovStringIndex;
    template <int N>
    friend class tovHash;
    /// Copies the `length` bytes of `s` and its terminating zero; the constructors that
    /// delegate here keep the text's full hash.
    tovStrElem(const char* s, std::size_t length);
    /// The same, for a text whose length and full hash the caller has computed.
    tovStrElem(const char* s, std::size_t length, std::uint32_t h) : tovStrElem(s, length) { keepHash(h); }

#if UINTPTR_MAX > 0xFFFFFFFFu
    // The full hash lies in the four bytes that the base leaves free behind its count,
    // so the element is no larger for it; lookups then never read the text to hash it.
    void keepHash(std::uint32_t h) { _hash = h; }
    std::uint32_t fullHash() const { return _hash; }
    std::uint32_t _hash = 0;
#else
    // No room for it on a 32-bit target: the hash is computed from the text each time.
    void keepHash(std::uint32_t) {}
    std::uint32_t fullHash() const {
        std::uint32_t h = 1;
        for (const char* c = _text; *c; ++c)
            h = h * 257u + static_cast<std::uint32_t>(static_cast<signed char>(*c));
        return h;
    }
#endif
    char* _text;
};

/// Writes the element's text, nothing else, as the char* conversion always has. (The
/// dump, with the flags' fields and a trailing blank, is what a tovObject& writes.)
inline std::ostream& operator<<(std::ostream& os, const tovStrElem& e) { return os << e.view(); }

#endif
