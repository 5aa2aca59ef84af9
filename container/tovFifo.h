/// \file
/// tovFifo and tovFifoIter: a first-in-first-out queue of counted object references.
#ifndef TOVLIB_TOVFIFO_H
#define TOVLIB_TOVFIFO_H

#include "container/tovContainer.h"
#include "container/tovLinkObj.h"

/// A queue: add() appends, and iteration, find() and remove() go oldest first. There
/// is no "take the first": read it with an iterator and remove() it.
class TOV_API tovFifo : public tovContainer {
public:
    /// An empty FIFO.
    tovFifo() {}
    /// Removes every element (oldest first), releasing each reference.
    ~tovFifo() override;
    /// True for tovFifoClass, tovContainerClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovFifoClass.
    const char* className() const override;
    /// Appends `o`; constant time.
    tovObject& add(tovObject& o) override;
    /// The first element, oldest first, that declares itself equal to `key`.
    tovObject* find(const tovObject& key) const override;
    /// A tovFifoIter from the FIFO's pool (the main pool, or the heap, for none).
    tovIterator* newIterator() const override;
    /// Removes the first element, oldest first, that declares itself equal to `key`.
    bool remove(tovObject& key) override;
    /// Removes every element, oldest first.
    void removeAll() override;

    TOV_OBJECT_OPERATORS(tovFifo)

private:
    friend struct tovRangeAccess;
    friend class tovFifoIter;
    tovLinkObj* _first = nullptr;
    tovLinkObj* _last = nullptr;
};

/// Walks a FIFO from the node that was first when the iterator was made; reset()
/// returns there. Elements appended later are seen only if it has not yet run out.
class TOV_API tovFifoIter : public tovIterator {
public:
    /// Stands on the first element of `fifo` (not null); FIFOs make it in newIterator().
    explicit tovFifoIter(const tovFifo* fifo);
    /// Nothing of its own.
    ~tovFifoIter() override;
    /// True for tovFifoIterClass, tovIteratorClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovFifoIterClass.
    const char* className() const override;
    /// True once past the last element.
    bool done() const override;
    /// The current element; only while done() is false.
    tovObject& get() const override;
    /// Steps to the next newer element; only while done() is false.
    void next() override;
    /// Goes back to the node that was first when the iterator was made.
    void reset() override;

    TOV_OBJECT_OPERATORS(tovFifoIter)

private:
    tovLinkObj* _current;
    tovLinkObj* _start;
};

#endif
