// tovRangeIter, begin and end: range-for and standard algorithms over any container.
#ifndef TOVLIB_TOVRANGE_H
#define TOVLIB_TOVRANGE_H

// Every container can be walked with range-for and handed to the standard algorithms
// that read a sequence once:
//
//     for (tovObject& e : fifo) use(e);
//     auto n = std::count_if(begin(table), end(table), isBig);
//
// begin() asks the container for one iterator with newIterator() and end() is a plain
// end marker, so a loop visits the elements in exactly the order of newIterator(): a
// FIFO oldest first, a list newest first, a sorted list ascending, a hash table bucket
// by bucket. begin and end are free functions found by argument-dependent lookup; call
// them unqualified (std::begin does not know them).
//
// Ownership: all copies of one begin() share its iterator through a reference count,
// and the last copy to go deletes it, once, back into the pool it came from. Leaving a
// loop early, by break, return or an exception, therefore leaks nothing, and copying or
// moving the range iterator never deletes twice.
//
// Category: an input iterator, single pass. Copies share one position: advancing one
// copy advances them all. Copies that stood on their own would each need a fresh
// newIterator() stepped forward to the same place (the protocol cannot clone an
// iterator), which would make `it++` and every copy an algorithm takes cost a walk
// from the start. For a second pass, call begin() again: each call is a new, separate
// walk. Algorithms that need a forward iterator (std::max_element, std::adjacent_find,
// std::search, ...) are not for this iterator; copy the elements' addresses into a
// vector first.
//
// The container's iterator rules apply: removing the element the loop stands on, or
// emptying or destroying the container, ends the walk's use. Remove elements after the
// loop, or collect them first. Elements come as tovObject&, whether the container is
// const or not, as the protocol's get() gives them; no reference is taken on them.

#include <cstddef>
#include <iterator>
#include <memory>
#include <new>

#include "container/tovContainer.h"
#include "object/tovObject.h"

/// A single-pass iterator over a container's elements, made by begin() and end().
/// All copies of one begin() share one tovIterator from the container's newIterator()
/// and one position; the last copy deletes that iterator. A default-made one is the end.
class tovRangeIter {
public:
    /// Standard iterator traits: a single-pass input iterator whose elements are
    /// tovObject&.
    using iterator_category = std::input_iterator_tag;
    using value_type = tovObject;
    using difference_type = std::ptrdiff_t;
    using pointer = tovObject*;
    using reference = tovObject&;

    /// What `it++` returns: the element the iterator stood on before the step, so that
    /// `*it++` reads it.
    class Stepped {
    public:
        /// The element passed over.
        tovObject& operator*() const noexcept { return *_e; }
        /// The element passed over.
        tovObject* operator->() const noexcept { return _e; }

    private:
        friend class tovRangeIter;
        explicit Stepped(tovObject& e) noexcept : _e(&e) {}
        tovObject* _e;
    };

    /// The end of every container.
    tovRangeIter() noexcept = default;
    /// A walk over `c` from its first element, on a new iterator from c.newIterator().
    /// Throws std::bad_alloc when no iterator can be had (the iterator is deleted again
    /// if the shared count cannot be allocated).
    explicit tovRangeIter(const tovContainer& c) : _it(c.newIterator()) {
        if (!_it) throw std::bad_alloc();
    }

    /// The current element; not at the end.
    tovObject& operator*() const { return _it->get(); }
    /// The current element; not at the end.
    tovObject* operator->() const { return &_it->get(); }
    /// Steps to the following element (for every copy); not at the end.
    tovRangeIter& operator++() {
        _it->next();
        return *this;
    }
    /// Steps to the following element and returns the one passed over; not at the end.
    Stepped operator++(int) {
        Stepped before(_it->get());
        _it->next();
        return before;
    }

    /// Two iterators are equal when both are at the end (a default-made one always is),
    /// or when both stand on an element and share one walk.
    friend bool operator==(const tovRangeIter& a, const tovRangeIter& b) {
        const bool aEnd = a.atEnd(), bEnd = b.atEnd();
        return aEnd || bEnd ? aEnd == bEnd : a._it == b._it;
    }
    /// The negation of ==.
    friend bool operator!=(const tovRangeIter& a, const tovRangeIter& b) { return !(a == b); }

private:
    bool atEnd() const { return !_it || _it->done(); }

    std::shared_ptr<tovIterator> _it;
};

/// A walk over the elements of `c` in the order of its newIterator(); see tovRangeIter.
/// Throws std::bad_alloc when no iterator can be had.
inline tovRangeIter begin(const tovContainer& c) { return tovRangeIter(c); }
/// The end of a walk over any container.
inline tovRangeIter end(const tovContainer&) noexcept { return tovRangeIter(); }

#endif
