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

//
// A container whose static type is exactly tovFifo, tovList, tovSList or tovHash<N> is
// walked without the protocol: begin() gives an iterator that follows the nodes
// themselves (tovNodeIter, tovHashNodeIter), with no allocation and no virtual call per
// element, in the same order and with the same rules on removal. A client's subclass,
// which may give newIterator() another meaning, and any container reached as a
// tovContainer&, keep the protocol's walk.

#include <cstddef>
#include <iterator>
#include <memory>
#include <type_traits>

#include "container/tovContainer.h"
#include "container/tovFifo.h"
#include "container/tovHash.h"
#include "container/tovList.h"
#include "container/tovSList.h"
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

/// Reaches the nodes of the library's own containers for the node walks below.
struct tovRangeAccess {
    /// The first node of a FIFO or list, or null.
    template <class C>
    static const tovLinkObj* first(const C& c) noexcept {
        return c._first;
    }
    /// The head of bucket `b` of a table.
    template <int N>
    static const tovLinkObj* head(const tovHash<N>& h, int b) noexcept {
        return h._buckets[b];
    }
};

/// What the node walks share: a forward iterator standing on a node (null: the end),
/// its element, equality by node, and the post-increment. `Walk` steps with its own
/// pre-increment.
template <class Walk>
class tovNodeWalk {
public:
    using iterator_category = std::forward_iterator_tag;  ///< Several passes.
    using value_type = tovObject;                         ///< The elements.
    using difference_type = std::ptrdiff_t;               ///< A distance.
    using pointer = tovObject*;                           ///< What operator-> gives.
    using reference = tovObject&;                         ///< What operator* gives.

    /// The current element; not at the end.
    tovObject& operator*() const noexcept { return _node->getObj(); }
    /// The current element; not at the end.
    tovObject* operator->() const noexcept { return &_node->getObj(); }
    /// Steps, returning the iterator as it was.
    Walk operator++(int) noexcept {
        Walk before = static_cast<Walk&>(*this);
        ++static_cast<Walk&>(*this);
        return before;
    }
    /// Equal when on the same node, or both at the end.
    friend bool operator==(const Walk& a, const Walk& b) noexcept { return a._node == b._node; }
    /// The negation of ==.
    friend bool operator!=(const Walk& a, const Walk& b) noexcept { return a._node != b._node; }

protected:
    /// The node the walk stands on; null at the end.
    const tovLinkObj* _node = nullptr;
};

/// A forward iterator over the nodes of a FIFO, list or sorted list, from its first
/// node; what the protocol's iterator visits, without it. Default-made, the end.
class tovNodeIter : public tovNodeWalk<tovNodeIter> {
public:
    /// The end.
    tovNodeIter() noexcept = default;
    /// The element of `node` and those behind it; null is the end.
    explicit tovNodeIter(const tovLinkObj* node) noexcept { _node = node; }
    /// Steps to the following node; not at the end.
    tovNodeIter& operator++() noexcept {
        _node = _node->_next;
        return *this;
    }
    using tovNodeWalk::operator++;
};

/// A forward iterator over the entries of a tovHash<N>, bucket by bucket and each
/// bucket newest first, as tovHashIter walks it. Default-made, the end.
template <int N>
class tovHashNodeIter : public tovNodeWalk<tovHashNodeIter<N>> {
public:
    /// The end.
    tovHashNodeIter() noexcept = default;
    /// The first entry of `table`.
    explicit tovHashNodeIter(const tovHash<N>& table) noexcept : _table(&table) { scanFrom(0); }
    /// Steps along the chain, then on to the next non-empty bucket; not at the end.
    tovHashNodeIter& operator++() noexcept {
        if (this->_node->_next)
            this->_node = this->_node->_next;
        else
            scanFrom(_bucket + 1);
        return *this;
    }
    using tovNodeWalk<tovHashNodeIter<N>>::operator++;

private:
    void scanFrom(int bucket) noexcept {
        for (_bucket = bucket; _bucket < N; ++_bucket)
            if ((this->_node = tovRangeAccess::head(*_table, _bucket))) return;
        this->_node = nullptr;
    }

    const tovHash<N>* _table = nullptr;
    int _bucket = N;
};

/// True for the linked containers whose nodes a range-for may follow directly.
template <class C>
constexpr bool tovIsLinked =
    std::is_same_v<C, tovFifo> || std::is_same_v<C, tovList> || std::is_same_v<C, tovSList>;

/// A node walk over a tovFifo, tovList or tovSList (exactly these static types).
template <class C, std::enable_if_t<tovIsLinked<C>, int> = 0>
tovNodeIter begin(const C& c) noexcept {
    return tovNodeIter(tovRangeAccess::first(c));
}
/// The end of a node walk.
template <class C, std::enable_if_t<tovIsLinked<C>, int> = 0>
tovNodeIter end(const C&) noexcept {
    return tovNodeIter();
}

/// A node walk over a tovHash<N> (exactly this static type).
template <class C, int N = C::bucketCount, std::enable_if_t<std::is_same_v<C, tovHash<N>>, int> = 0>
tovHashNodeIter<N> begin(const C& c) noexcept {
    return tovHashNodeIter<N>(c);
}
/// The end of a node walk over a tovHash<N>.
template <class C, int N = C::bucketCount, std::enable_if_t<std::is_same_v<C, tovHash<N>>, int> = 0>
tovHashNodeIter<N> end(const C&) noexcept {
    return tovHashNodeIter<N>();
}

#endif
