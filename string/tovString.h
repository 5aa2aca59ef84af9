/// \file
/// tovString: a light handle on an interned string, equal by identity.
#ifndef TOVLIB_TOVSTRING_H
#define TOVLIB_TOVSTRING_H

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <ostream>
#include <string_view>

#include "lib/tovExport.h"
#include "object/tovObject.h"
#include "string/tovStrElem.h"

/// A string value that refers to one interned element and holds no characters.
///
/// Handles made from the same text through the same table share one element, so
/// equality is one pointer comparison; order compares the texts by unsigned bytes,
/// and the hash is the text's. A handle takes no reference on its element: it is
/// valid while the element stays in its table and its pool is not released (see
/// tovLib::reset and tovLib::tempReset). Handles compare with named objects by name.
class TOV_API tovString : public tovObject {
public:
    /// Interns `s` (null counts as "") in the temporary table if one is open, else in
    /// the main table (made on demand if there is none).
    tovString(const char* s);
    /// A handle on the live element `e`; nothing is interned.
    tovString(tovStrElem* e);
    /// Refers to the same element; pool and count are the new handle's own.
    tovString(const tovString& other);
    /// Makes this handle refer to `other`'s element; its own pool and count stay, as for
    /// every tovObject. A handle owns nothing, so moving is copying; assigning a handle
    /// to itself changes nothing.
    // NOLINTNEXTLINE(bugprone-unhandled-self-assignment,cert-oop54-cpp): copies one pointer
    tovString& operator=(const tovString& other) noexcept {
        _elem = other._elem;
        return *this;
    }
    /// Nothing of its own: the element stays in its table.
    ~tovString() override;

    /// The element's text; do not change or free it.
    operator char*() const;
    /// The element's text as a view of the element's own bytes, without the
    /// terminating zero; valid while the element lives, like the handle itself. A text
    /// never holds a zero byte.
    std::string_view view() const noexcept { return _elem->view(); }

    /// The hash of the text.
    unsigned int hash(int n) const override;
    /// With flag 4 the handle's own line first; then the element's dump one further in.
    std::ostream& dump(std::ostream& os, int indent, int nl) const override;
    /// Same element: against handles, and against named objects by their name.
    bool isEqual(const tovObject& other) const override;
    /// By text against handles and named objects, by address against anything else.
    int objcmp(const tovObject& other) const override;
    /// True for tovStringClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovStringClass (its text is "tovStringClass").
    const char* className() const override;

    TOV_OBJECT_OPERATORS(tovString)

    /// Same element: what isEqual answers between handles.
    friend bool operator==(const tovString& a, const tovString& b) noexcept { return a._elem == b._elem; }
    /// Different elements.
    friend bool operator!=(const tovString& a, const tovString& b) noexcept { return a._elem != b._elem; }
    /// Text order (unsigned bytes, a prefix first), as objcmp gives it. Handles of one
    /// text from two tables are neither below the other, yet not ==: an ordered
    /// container keeps one of them, a hashed container both.
    friend bool operator<(const tovString& a, const tovString& b) noexcept {
        return a._elem != b._elem && a.view() < b.view();
    }
    /// b < a.
    friend bool operator>(const tovString& a, const tovString& b) noexcept { return b < a; }
    /// !(b < a).
    friend bool operator<=(const tovString& a, const tovString& b) noexcept { return !(b < a); }
    /// !(a < b).
    friend bool operator>=(const tovString& a, const tovString& b) noexcept { return !(a < b); }

private:
    friend class tovNamedObj;
    template <int N>
    friend class tovHash;
    friend struct std::hash<tovString>;
    /// The element of `o` when it is a handle or a named object, else null.
    static const tovStrElem* elementOf(const tovObject& o);

    tovStrElem* _elem;
};

namespace std {
/// Hashes a handle by its element's address, so that handles that are == hash alike.
template <>
struct hash<tovString> {
    /// The hash of the element's address.
    size_t operator()(const tovString& s) const noexcept { return hash<const void*>()(s._elem); }
};
}  // namespace std

/// Writes the handle's text, nothing else, as the char* conversion always has. (The
/// dump, with the flags' fields and a trailing blank, is what a tovObject& writes.)
inline std::ostream& operator<<(std::ostream& os, const tovString& s) { return os << s.view(); }

#endif
