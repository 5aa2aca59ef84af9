/// \file
/// tovContainer, tovIterator and tovIterPtr: the protocol every container follows.
#ifndef TOVLIB_TOVCONTAINER_H
#define TOVLIB_TOVCONTAINER_H

#include <iosfwd>

#include "lib/tovExport.h"
#include "object/tovObject.h"

class tovIterator;

/// The base of every container. Containers hold tovObjects by reference, never by
/// copy: each element is held through a link node that takes one counted reference on
/// it, so a pooled element held by nothing else is destroyed when it leaves its last
/// container. An element without a pool is never counted nor destroyed; its owner
/// must keep it alive while it is held.
class TOV_API tovContainer : public tovObject {
public:
    /// An empty container. User-provided, like every library constructor: a defaulted
    /// one would let `new (p) X()` zero-fill the object before it runs.
    tovContainer() {}
    /// Containers are not copyable: a copy would share its source's nodes, and both
    /// would give them back. Hold containers by pointer or reference.
    tovContainer(const tovContainer&) = delete;
    /// Not assignable, for the same reason.
    tovContainer& operator=(const tovContainer&) = delete;
    /// Nothing of its own: each concrete container empties itself in its destructor,
    /// releasing its references.
    ~tovContainer() override;

    /// The container's line (tovObject::dump without line end; with flag 6 also
    /// "CT[count]"), a newline, then each element's dump at `indent` + 4 with `nl`.
    std::ostream& dump(std::ostream& os, int indent, int nl) const override;

    /// The number of elements.
    int count() const { return _count; }
    /// True when the container holds no element.
    bool empty() const { return _count == 0; }

    /// Adds `o` as a new element (the same object may be added more than once), takes
    /// a reference on it and returns it. Throws std::bad_alloc, changing nothing, when
    /// no node can be allocated.
    virtual tovObject& add(tovObject& o) = 0;
    /// The first element `e`, in the container's search order, for which
    /// `e.isEqual(key)` is true (the element is asked, not the key); null if none.
    virtual tovObject* find(const tovObject& key) const;
    /// A new iterator on the first element, from the container's pool. The caller owns
    /// it: delete it, or hand it to a tovIterPtr.
    virtual tovIterator* newIterator() const = 0;
    /// Removes the first element `e` for which `e.isEqual(key)` is true and releases
    /// the container's reference on it (which may destroy it); false if none matched.
    virtual bool remove(tovObject& key) = 0;
    /// Removes every element, releasing each reference.
    virtual void removeAll() = 0;

    TOV_OBJECT_OPERATORS(tovContainer)

protected:
    /// True for tovContainerClass and tovObjectClass. Protected here; every concrete
    /// container makes its own public.
    bool isA(const char* name) const override;
    /// tovContainerClass.
    const char* className() const override;

    /// The element count, kept by every concrete container.
    int _count = 0;
};

/// The base of every iterator: done(), get(), next(), reset(). An iterator takes no
/// reference on its container or its elements; removing the element it stands on
/// (or, for the linked containers, the first element it started from) ends its use.
class TOV_API tovIterator : public tovObject {
public:
    /// Nothing of its own; `delete` gives the storage back to the iterator's pool (or
    /// the heap).
    ~tovIterator() override;
    /// True for tovIteratorClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovIteratorClass.
    const char* className() const override;

    /// True once the iterator stands past the last element.
    virtual bool done() const = 0;
    /// The current element; only while done() is false.
    virtual tovObject& get() const = 0;
    /// Steps to the following element; only while done() is false.
    virtual void next() = 0;
    /// Goes back to the first element.
    virtual void reset() = 0;

    /// Returns the current element and steps past it.
    tovObject& operator++(int) {
        tovObject& e = get();
        next();
        return e;
    }
    /// Steps, then returns the new current element (one must follow).
    tovObject& operator++() {
        next();
        return get();
    }
    /// 1 while there is a current element, else 0.
    operator int() const { return done() ? 0 : 1; }

    TOV_OBJECT_OPERATORS(tovIterator)

protected:
    /// Iterators are made by their containers' newIterator().
    tovIterator() {}
};

/// Owns one iterator and deletes it when it goes out of scope. Visit a container as
///
///     for (tovIterPtr it(container); it; it++) use(it());
///
/// All members forward to the owned iterator without testing it for null.
class TOV_API tovIterPtr {
public:
    /// Takes ownership of `it`, which may be null.
    tovIterPtr(tovIterator* it) : _iter(it) {}
    /// Owns `c->newIterator()`; `c` must not be null.
    tovIterPtr(const tovContainer* c) : _iter(c->newIterator()) {}
    /// Owns `c.newIterator()`.
    tovIterPtr(const tovContainer& c) : _iter(c.newIterator()) {}
    /// One handle owns one iterator: not copyable.
    tovIterPtr(const tovIterPtr&) = delete;
    /// Not assignable either.
    tovIterPtr& operator=(const tovIterPtr&) = delete;
    /// Deletes the owned iterator, if any. Not virtual: hold handles by value.
    ~tovIterPtr() { delete _iter; }

    /// The owned iterator, for its other operations (done(), next(), ...).
    tovIterator* operator->() { return _iter; }
    /// The current element.
    tovObject& operator()() { return _iter->get(); }
    /// Returns the current element and steps past it.
    tovObject& operator++(int) { return (*_iter)++; }
    /// Steps, then returns the new current element.
    tovObject& operator++() { return ++*_iter; }
    /// 1 while there is a current element, else 0.
    operator int() { return _iter->done() ? 0 : 1; }
    /// Sends the owned iterator back to its first element.
    void reset() { _iter->reset(); }

    /// True only for tovIterPtrClass.
    virtual bool isA(const char* name) const;
    /// tovIterPtrClass.
    virtual const char* className() const;

private:
    tovIterator* _iter;
};

#endif
