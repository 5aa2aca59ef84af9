/// \file
/// tovRangeIter, begin and end: range-for and standard algorithms over any container.
#ifndef TOVLIB_TOVRANGE_H
#define TOVLIB_TOVRANGE_H

// Every container can be walked with range-for and handed to the standard algorithms:
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
// Ownership: the protocol's iterator (the walk) is shared by the copies of one begin()
// through a reference count and deleted, once, back into the pool it came from, by
// the last copy to let go of it -- or as soon as the walk reaches the end. Leaving a
// loop early, by break, return or an exception, therefore leaks nothing, and copying
// or moving never deletes twice.
//
// Category: a forward iterator. Each copy keeps its own element and position; a copy
// that steps forward takes the shared walk along when the walk stands where the copy
// does, and otherwise (another copy moved it on) makes a walk of its own, stepped to
// its position. So range-for and one-pass algorithms make one walk, and algorithms
// that keep copies behind a leading iterator (std::max_element, std::adjacent_find,
// std::search) make a new walk only when a copy left behind steps on.
//
// The container's iterator rules apply: removing an element a walk stands on, or
// emptying or destroying the container, ends the use of its iterators. Remove
// elements after the loop, or collect them first. Elements come as tovObject&,
// whether the container is const or not, as the protocol's get() gives them; no
// reference is taken on them.

#include <cstddef>
#include <iterator>
#include <memory>

#include "container/tovContainer.h"
#include "object/tovObject.h"

/// A forward iterator over a container's elements, made by begin() and end(). A
/// default-made one is the end of every container. Two iterators are equal when both
/// are at the end, or when they stand at the same position of the same container.
class tovRangeIter {
public:
    /// A forward iterator: several passes, copies that step on their own.
    using iterator_category = std::forward_iterator_tag;
    using value_type = tovObject;            ///< The elements, of any class derived from tovObject.
    using difference_type = std::ptrdiff_t;  ///< A distance between two positions.
    using pointer = tovObject*;              ///< What operator-> gives.
    using reference = tovObject&;            ///< What operator* gives.

    /// The end of every container.
    tovRangeIter() noexcept = default;
    /// The first element of `c`, on a new iterator from c.newIterator() (none is kept
    /// for an empty container). Throws std::bad_alloc when the heap is exhausted.
    explicit tovRangeIter(const tovContainer& c) : _walk(start(c, 0)), _container(&c) { settle(); }

    /// The current element; not at the end.
    tovObject& operator*() const noexcept { return *_current; }
    /// The current element; not at the end.
    tovObject* operator->() const noexcept { return _current; }
    /// Steps to the following element; not at the end. Throws std::bad_alloc, leaving
    /// the iterator as it was, when it needs a walk of its own and none can be made.
    tovRangeIter& operator++() {
        if (_walk->position != _position) _walk = start(*_container, _position);
        _walk->iter->next();
        ++_walk->position;
        ++_position;
        settle();
        return *this;
    }
    /// Steps to the following element and returns the iterator as it was.
    tovRangeIter operator++(int) {
        tovRangeIter before = *this;
        ++*this;
        return before;
    }

    /// Equal when both are at the end, or at the same position of the same container.
    friend bool operator==(const tovRangeIter& a, const tovRangeIter& b) noexcept {
        if (!a._current || !b._current) return !a._current && !b._current;
        return a._container == b._container && a._position == b._position;
    }
    /// The negation of ==.
    friend bool operator!=(const tovRangeIter& a, const tovRangeIter& b) noexcept { return !(a == b); }

private:
    // One protocol iterator and how far it has stepped.
    struct Walk {
        std::unique_ptr<tovIterator> iter;
        std::size_t position;
    };

    // A new walk over `c`, stepped `position` times.
    static std::shared_ptr<Walk> start(const tovContainer& c, std::size_t position) {
        std::unique_ptr<tovIterator> iter(c.newIterator());
        for (std::size_t i = 0; i < position; ++i) iter->next();
        return std::make_shared<Walk>(Walk{std::move(iter), position});
    }
    // Takes the walk's current element; at the end, lets go of the walk.
    void settle() {
        if (_walk->iter->done()) {
            _current = nullptr;
            _walk.reset();
        } else {
            _current = &_walk->iter->get();
        }
    }

    std::shared_ptr<Walk> _walk;
    const tovContainer* _container = nullptr;
    tovObject* _current = nullptr;
    std::size_t _position = 0;
};

/// A walk over the elements of `c` in the order of its newIterator(); see tovRangeIter.
/// Throws std::bad_alloc when the heap is exhausted.
inline tovRangeIter begin(const tovContainer& c) { return tovRangeIter(c); }
/// The end of a walk over any container.
inline tovRangeIter end(const tovContainer&) noexcept { return tovRangeIter(); }

#endif
