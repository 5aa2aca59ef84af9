/// \file
/// tovRef<T>: a counted handle on a tovObject, calling up() and down() for its holder.
#ifndef TOVLIB_TOVREF_H
#define TOVLIB_TOVREF_H

// A client that keeps a pooled object outside any container holds it the way a
// container does: up() when it takes the object, down() when it lets go, and the
// down() that brings the count to 0 deletes the object into its pool. tovRef does that
// bookkeeping in its constructors, assignments and destructor, so the count stays
// exact through copies, moves, early returns and exceptions:
//
//     tovRef<Symbol> s(new (pool) Symbol(name));  // count 1
//     table.add(*s);                              // count 2
//     s.reset();                                  // count 1: the table holds it
//
// Objects without a pool (automatic, static and member objects, and those made while
// no main pool existed) are never counted: up() and down() leave them alone. A tovRef
// on one is then a plain, non-owning pointer: it never deletes the object, and whoever
// made it must keep it alive while any tovRef refers to it. This is the same rule the
// containers follow, and it is safe: a tovRef never deletes what it did not count.
//
// Limits: a tovRef must let go (reset() or end) before the object's pool is released
// (tovLib::reset, tovPool::release) or destroyed, since the object ends with it and a
// later down() would touch freed memory. Counts are plain integers: one thread at a
// time, like the rest of the library.

#include <cstddef>
#include <functional>
#include <type_traits>

#include "object/tovObject.h"

/// An owning, counted handle on one tovObject of class T (or none). Taking an object
/// calls its up(), letting go calls its down(); a pooled object lives while any tovRef
/// (or container) holds it. On an object without a pool both calls do nothing, so the
/// handle neither keeps it alive nor deletes it. Comparison is by identity (the same
/// object), not by isEqual. T may be const: a tovRef<const T> counts all the same.
template <class T>
class tovRef {
    static_assert(std::is_base_of_v<tovObject, T>, "tovRef holds tovObjects");

public:
    /// The class of the object held.
    using element_type = T;

    /// Holds nothing.
    constexpr tovRef() noexcept = default;
    /// Holds nothing.
    constexpr tovRef(std::nullptr_t) noexcept {}
    /// Takes `p` (may be null): one up() on it. A fresh pooled object (count 0) is
    /// thereby owned by this handle and deleted when the last holder lets go.
    explicit tovRef(T* p) noexcept : _p(p) { take(); }
    /// Holds the same object: one more up().
    tovRef(const tovRef& other) noexcept : _p(other._p) { take(); }
    /// Takes over `other`'s hold; `other` holds nothing afterwards. No count changes.
    tovRef(tovRef&& other) noexcept : _p(other._p) { other._p = nullptr; }
    /// Holds the object of a tovRef on a derived class: one more up().
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    tovRef(const tovRef<U>& other) noexcept : _p(other.get()) {
        take();
    }
    /// Takes over the hold of a tovRef on a derived class; no count changes.
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    tovRef(tovRef<U>&& other) noexcept : _p(other._p) {
        other._p = nullptr;
    }
    /// Lets go: one down(), which deletes a pooled object whose count reaches 0.
    ~tovRef() { drop(); }

    /// Holds what `other` holds and lets go of the old object, in that order, so that
    /// assigning a handle to itself (or to another handle on the same object) never
    /// lets the count touch 0. Copying, moving and converting assignments all come
    /// through here; `r = nullptr` lets go.
    tovRef& operator=(tovRef other) noexcept {
        swap(other);
        return *this;
    }

    /// Lets go of the object (one down()) and holds nothing.
    void reset() noexcept { tovRef().swap(*this); }
    /// Takes `p` (one up()), then lets go of the old object (one down()).
    void reset(T* p) noexcept { tovRef(p).swap(*this); }
    /// Exchanges the two holds; no count changes.
    void swap(tovRef& other) noexcept {
        T* p = _p;
        _p = other._p;
        other._p = p;
    }

    /// The object held, or null.
    T* get() const noexcept { return _p; }
    /// The object held; not null.
    T& operator*() const noexcept { return *_p; }
    /// The object held; not null.
    T* operator->() const noexcept { return _p; }
    /// True while an object is held.
    explicit operator bool() const noexcept { return _p != nullptr; }

private:
    template <class U>
    friend class tovRef;

    // The count is the holders' bookkeeping, not part of the object's value, so a
    // tovRef<const T> counts too.
    tovObject* counted() const noexcept { return const_cast<tovObject*>(static_cast<const tovObject*>(_p)); }
    void take() noexcept {
        if (_p) counted()->up();
    }
    void drop() noexcept {
        if (_p) counted()->down();
    }

    T* _p = nullptr;
};

/// Exchanges the holds of `a` and `b`; no count changes.
template <class T>
void swap(tovRef<T>& a, tovRef<T>& b) noexcept {
    a.swap(b);
}

/// True when both hold the same object, or both hold nothing.
template <class T, class U>
bool operator==(const tovRef<T>& a, const tovRef<U>& b) noexcept {
    return static_cast<const tovObject*>(a.get()) == static_cast<const tovObject*>(b.get());
}
/// True when the two hold different objects.
template <class T, class U>
bool operator!=(const tovRef<T>& a, const tovRef<U>& b) noexcept {
    return !(a == b);
}
/// A strict total order by the objects' addresses, for ordered standard containers of
/// handles.
template <class T, class U>
bool operator<(const tovRef<T>& a, const tovRef<U>& b) noexcept {
    return std::less<const tovObject*>()(a.get(), b.get());
}
/// True when `a` holds nothing.
template <class T>
bool operator==(const tovRef<T>& a, std::nullptr_t) noexcept {
    return !a;
}
/// True when `a` holds nothing.
template <class T>
bool operator==(std::nullptr_t, const tovRef<T>& a) noexcept {
    return !a;
}
/// True while `a` holds an object.
template <class T>
bool operator!=(const tovRef<T>& a, std::nullptr_t) noexcept {
    return static_cast<bool>(a);
}
/// True while `a` holds an object.
template <class T>
bool operator!=(std::nullptr_t, const tovRef<T>& a) noexcept {
    return static_cast<bool>(a);
}

#endif
