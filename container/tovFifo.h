// tovFifo and tovFifoIter: a first-in-first-out queue of counted object references.
#ifndef TOVLIB_TOVFIFO_H
#define TOVLIB_TOVFIFO_H

#include "container/tovContainer.h"
#include "container/tovLinkObj.h"

/// A queue: add() appends, and iteration, find() and remove() go oldest first. There
/// is no "take the first": read it with an iterator and remove() it.
class TOV_API tovFifo : public tovContainer {
public:
    tovFifo() = default;
    /// Removes every element (oldest first), releasing each reference.
    ~tovFifo() override;
    bool isA(const char* name) const override;
    const char* className() const override;
    /// Appends `o`; constant time.
    tovObject& add(tovObject& o) override;
    tovObject* find(const tovObject& key) const override;
    /// A tovFifoIter from the FIFO's pool (the main pool, or the heap, for none).
    tovIterator* newIterator() const override;
    bool remove(tovObject& key) override;
    void removeAll() override;

    TOV_OBJECT_OPERATORS(tovFifo)

private:
    friend class tovFifoIter;
    tovLinkObj* _first = nullptr;
    tovLinkObj* _last = nullptr;
};

/// Walks a FIFO from the node that was first when the iterator was made; reset()
/// returns there. Elements appended later are seen only if it has not yet run out.
class TOV_API tovFifoIter : public tovIterator {
public:
    explicit tovFifoIter(const tovFifo* fifo);
    ~tovFifoIter() override;
    bool isA(const char* name) const override;
    const char* className() const override;
    bool done() const override;
    tovObject& get() const override;
    void next() override;
    void reset() override;

    TOV_OBJECT_OPERATORS(tovFifoIter)

private:
    tovLinkObj* _current;
    tovLinkObj* _start;
};

#endif
