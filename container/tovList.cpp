// tovList and tovListIter.
#include "container/tovList.h"

#include "container/tovChain.h"

// Elements released here may add to the list in their destructors; those go too.
tovList::~tovList() {
    while (_first) removeAll();
}

bool tovList::isA(const char* name) const { return name == tovListClass || tovContainer::isA(name); }

const char* tovList::className() const { return tovListClass; }

tovObject& tovList::add(tovObject& o) {
    tovLinkObj* node = tovChain::makeNode(o);
    node->_next = _first;
    _first = node;
    ++_count;
    return o;
}

tovObject* tovList::find(const tovObject& key) const { return tovChain::find(_first, key); }

// The iterator's constructor cannot throw: its new-expression's cleanup never runs.
tovIterator* tovList::newIterator() const {
    return new (getPool()) tovListIter(this);  // GCOVR_EXCL_BR_LINE
}

bool tovList::remove(tovObject& key) { return tovChain::removeFirst(_first, key, _count); }

// The list is empty before the first element is released, in list order.
void tovList::removeAll() {
    tovLinkObj* const chain = _first;
    _first = nullptr;
    _count = 0;
    tovChain::deleteChain(chain);
}

tovListIter::tovListIter(const tovList* list) : _current(list->_first), _start(list->_first) {}

tovListIter::~tovListIter() = default;

bool tovListIter::isA(const char* name) const { return name == tovListIterClass || tovIterator::isA(name); }

const char* tovListIter::className() const { return tovListIterClass; }

bool tovListIter::done() const { return !_current; }

tovObject& tovListIter::get() const { return _current->getObj(); }

void tovListIter::next() { _current = _current->_next; }

void tovListIter::reset() { _current = _start; }
