// tovList and tovListIter: a list that puts each new element in front.
#ifndef TOVLIB_TOVLIST_H
#define TOVLIB_TOVLIST_H

#include "container/tovContainer.h"
#include "container/tovLinkObj.h"

/// A list visited newest first: add() puts the new element in front of the others.
class TOV_API tovList : public tovContainer {
public:
    tovList() = default;
    /// Removes every element in list order, releasing each reference.
    ~tovList() override;
    bool isA(const char* name) const override;
    const char* className() const override;
    /// Puts `o` in front; constant time.
    tovObject& add(tovObject& o) override;
    /// Searches the whole list from the first element.
    tovObject* find(const tovObject& key) const override;
    /// A tovListIter from the list's pool (the main pool, or the heap, for none).
    tovIterator* newIterator() const override;
    bool remove(tovObject& key) override;
    void removeAll() override;

    TOV_OBJECT_OPERATORS(tovList)

private:
    friend class tovListIter;
    tovLinkObj* _first = nullptr;
};

/// Walks a list from the node that was first when the iterator was made; reset()
/// returns there. Elements added later go in front of it and are never seen.
class TOV_API tovListIter : public tovIterator {
public:
    explicit tovListIter(const tovList* list);
    ~tovListIter() override;
    bool isA(const char* name) const override;
    const char* className() const override;
    bool done() const override;
    tovObject& get() const override;
    void next() override;
    void reset() override;

    TOV_OBJECT_OPERATORS(tovListIter)

private:
    tovLinkObj* _current;
    tovLinkObj* _start;
};

#endif
