// tovSList and tovSListIter.
#include "container/tovSList.h"

#include "container/tovChain.h"

// Elements released here may add to the list in their destructors; those go too.
tovSList::~tovSList() {
    while (_first) removeAll();
}

bool tovSList::isA(const char* name) const { return name == tovSListClass || tovContainer::isA(name); }

const char* tovSList::className() const { return tovSListClass; }

// The new object is asked, with each element as argument; the walk stops at the first
// element it sorts strictly before, so equal elements keep their order of insertion.
// The node is made after the walk, so a failure of either leaves the list as it was.
tovObject& tovSList::add(tovObject& o) {
    tovLinkObj** link = &_first;
    while (*link && o.objcmp((*link)->getObj()) >= 0) link = &(*link)->_next;
    tovLinkObj* node = tovChain::makeNode(o);
    node->_next = *link;
    *link = node;
    ++_count;
    return o;
}

tovObject* tovSList::find(const tovObject& key) const { return tovChain::find(_first, key); }

// The iterator's constructor cannot throw: its new-expression's cleanup never runs.
tovIterator* tovSList::newIterator() const {
    return new (getPool()) tovSListIter(this);  // GCOVR_EXCL_BR_LINE
}

bool tovSList::remove(tovObject& key) { return tovChain::removeFirst(_first, key, _count); }

// The list is empty before the first element is released, in list order.
void tovSList::removeAll() {
    tovLinkObj* const chain = _first;
    _first = nullptr;
    _count = 0;
    tovChain::deleteChain(chain);
}

tovSListIter::tovSListIter(const tovSList* list) : _current(list->_first), _start(list->_first) {}

tovSListIter::~tovSListIter() = default;

bool tovSListIter::isA(const char* name) const { return name == tovSListIterClass || tovIterator::isA(name); }

const char* tovSListIter::className() const { return tovSListIterClass; }

bool tovSListIter::done() const { return !_current; }

tovObject& tovSListIter::get() const { return _current->getObj(); }

void tovSListIter::next() { _current = _current->_next; }

void tovSListIter::reset() { _current = _start; }
