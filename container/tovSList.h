/// \file
/// tovSList and tovSListIter: a list kept in ascending order of objcmp.
#ifndef TOVLIB_TOVSLIST_H
#define TOVLIB_TOVSLIST_H

#include "container/tovContainer.h"
#include "container/tovLinkObj.h"

/// A sorted list: add() puts each element in front of the first one it sorts strictly
/// before (`o.objcmp(e) < 0`), so the list ascends and equal elements keep their order
/// of insertion. Nothing re-sorts it if an element's order changes while it is held.
class TOV_API tovSList : public tovContainer {
public:
    /// An empty sorted list.
    tovSList() {}
    /// Removes every element in list order, releasing each reference.
    ~tovSList() override;
    /// True for tovSListClass, tovContainerClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovSListClass.
    const char* className() const override;
    /// Inserts `o` behind every element it is not below; linear in the length.
    tovObject& add(tovObject& o) override;
    /// Searches the whole list from the first element.
    tovObject* find(const tovObject& key) const override;
    /// A tovSListIter from the list's pool (the main pool, or the heap, for none).
    tovIterator* newIterator() const override;
    /// Removes the first element, from the front, that declares itself equal to `key`.
    bool remove(tovObject& key) override;
    /// Removes every element, from the front.
    void removeAll() override;

    TOV_OBJECT_OPERATORS(tovSList)

private:
    friend struct tovRangeAccess;
    friend class tovSListIter;
    tovLinkObj* _first = nullptr;
};

/// Walks a sorted list from the node that was first when the iterator was made;
/// reset() returns there. An element added later is seen only if it is linked in
/// behind the node the iterator stands on.
class TOV_API tovSListIter : public tovIterator {
public:
    /// Stands on the first element of `list` (not null); lists make it in newIterator().
    explicit tovSListIter(const tovSList* list);
    /// Nothing of its own.
    ~tovSListIter() override;
    /// True for tovSListIterClass, tovIteratorClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovSListIterClass.
    const char* className() const override;
    /// True once past the last element.
    bool done() const override;
    /// The current element; only while done() is false.
    tovObject& get() const override;
    /// Steps to the following element; only while done() is false.
    void next() override;
    /// Goes back to the node that was first when the iterator was made.
    void reset() override;

    TOV_OBJECT_OPERATORS(tovSListIter)

private:
    tovLinkObj* _current;
    tovLinkObj* _start;
};

#endif
