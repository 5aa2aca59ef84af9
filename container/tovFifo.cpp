// tovFifo and tovFifoIter.
#include "container/tovFifo.h"

#include "container/tovChain.h"

// Elements released here may add to the FIFO in their destructors; those go too.
tovFifo::~tovFifo() {
    while (_first) removeAll();
}

bool tovFifo::isA(const char* name) const { return name == tovFifoClass || tovContainer::isA(name); }

const char* tovFifo::className() const { return tovFifoClass; }

tovObject& tovFifo::add(tovObject& o) {
    tovLinkObj* node = tovChain::makeNode(o);
    if (_last)
        _last->_next = node;
    else
        _first = node;
    _last = node;
    ++_count;
    return o;
}

tovObject* tovFifo::find(const tovObject& key) const { return tovChain::find(_first, key); }

// The iterator's constructor cannot throw: its new-expression's cleanup never runs.
tovIterator* tovFifo::newIterator() const {
    return new (getPool()) tovFifoIter(this);  // GCOVR_EXCL_BR_LINE
}

bool tovFifo::remove(tovObject& key) {
    tovLinkObj* before;
    tovLinkObj** link = tovChain::findLink(&_first, key, before);
    if (!link) return false;
    tovLinkObj* node = *link;
    --_count;
    *link = node->_next;
    if (node == _last) _last = before;
    delete node;  // GCOVR_EXCL_BR_LINE: delete's own null test; never null here
    return true;
}

// The FIFO is empty before the first element is released, oldest first.
void tovFifo::removeAll() {
    tovLinkObj* const chain = _first;
    _first = _last = nullptr;
    _count = 0;
    tovChain::deleteChain(chain);
}

tovFifoIter::tovFifoIter(const tovFifo* fifo) : _current(fifo->_first), _start(fifo->_first) {}

tovFifoIter::~tovFifoIter() = default;

bool tovFifoIter::isA(const char* name) const { return name == tovFifoIterClass || tovIterator::isA(name); }

const char* tovFifoIter::className() const { return tovFifoIterClass; }

bool tovFifoIter::done() const { return !_current; }

tovObject& tovFifoIter::get() const { return _current->getObj(); }

void tovFifoIter::next() { _current = _current->_next; }

void tovFifoIter::reset() { _current = _start; }
