/// \file
/// tovList and tovListIter: a list that puts each new element in front.
#ifndef TOVLIB_TOVLIST_H
#define TOVLIB_TOVLIST_H

#include "container/tovContainer.h"
#include "container/tovLinkObj.h"

/// A list visited newest first: add() puts the new element in front of the others.
class TOV_API tovList : public tovContainer {
public:
    /// An empty list.
    tovList() {}
    /// Removes every element in list order, releasing each reference.
    ~tovList() override;
    /// True for tovListClass, tovContainerClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovListClass.
    const char* className() const override;
    /// Puts `o` in front; constant time.
    tovObject& add(tovObject& o) override;
    /// Searches the whole list from the first element.
    tovObject* find(const tovObject& key) const override;
    /// A tovListIter from the list's pool (the main pool, or the heap, for none).
    tovIterator* newIterator() const override;
    /// Removes the first element, from the front, that declares itself equal to `key`.
    bool remove(tovObject& key) override;
    /// Removes every element, from the front.
    void removeAll() override;

    TOV_OBJECT_OPERATORS(tovList)

private:
    friend struct tovRangeAccess;
    friend class tovListIter;
    tovLinkObj* _first = nullptr;
};

/// Walks a list from the node that was first when the iterator was made; reset()
/// returns there. Elements added later go in front of it and are never seen.
class TOV_API tovListIter : public tovIterator {
public:
    /// Stands on the first element of `list` (not null); lists make it in newIterator().
    explicit tovListIter(const tovList* list);
    /// Nothing of its own.
    ~tovListIter() override;
    /// True for tovListIterClass, tovIteratorClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovListIterClass.
    const char* className() const override;
    /// True once past the last element.
    bool done() const override;
    /// The current element; only while done() is false.
    tovObject& get() const override;
    /// Steps to the following element; only while done() is false.
    void next() override;
    /// Goes back to the node that was first when the iterator was made.
    void reset() override;

    TOV_OBJECT_OPERATORS(tovListIter)

private:
    tovLinkObj* _current;
    tovLinkObj* _start;
};

#endif
