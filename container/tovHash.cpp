// tovHash<N> and tovHashIter<N>, instantiated for 4191 buckets.
#include "container/tovHash.h"

#include <ostream>

#include "container/tovChain.h"
#include "lib/tovFormat.h"
#include "lib/tovServices.h"

template <int N>
tovHash<N>::tovHash() : _buckets() {}

template <int N>
tovHash<N>::~tovHash() {
    removeAll();
}

// A client hash may return N or more; reducing it keeps every index in the array.
template <int N>
unsigned int tovHash<N>::bucketOf(const tovObject& o) {
    return o.hash(N) % static_cast<unsigned int>(N);
}

template <int N>
std::ostream& tovHash<N>::dump(std::ostream& os, int indent, int nl) const {
    if (!tovLib::get(5)) return tovContainer::dump(os, indent, nl);
    // The object line alone: the container's own dump would list the elements too.
    tovObject::dump(os, indent, 0);  // NOLINT(bugprone-parent-virtual-call)
    {
        tovDecimalGuard dec(os);
        os << "CT[" << _count << "] CL[" << _col << "]\n";
    }
    for (tovIterPtr it(this); it; it++) it().dump(os, indent + 4, nl);
    return os;
}

template <int N>
bool tovHash<N>::verify() const {
    const auto count = static_cast<unsigned int>(_count);
    unsigned int entries = 0;
    unsigned int used = 0;
    bool placed = true;
    for (int b = 0; b < N; ++b) {
        used += _buckets[b] != nullptr;
        for (const tovLinkObj* n = _buckets[b]; n; n = n->_next) {
            // More nodes than the count: a chain that loops, or stray nodes; stop.
            if (++entries > count) return false;
            placed &= bucketOf(n->getObj()) == static_cast<unsigned int>(b);
        }
    }
    return placed & (entries == count) & (_col == count - used);
}

template <int N>
bool tovHash<N>::isA(const char* name) const {
    return name == tovHashClass || tovContainer::isA(name);
}

template <int N>
const char* tovHash<N>::className() const {
    return tovHashClass;
}

// The bucket is computed before the node is made, so that neither a throwing hash
// nor a failed allocation leaves anything behind.
template <int N>
tovObject& tovHash<N>::add(tovObject& o) {
    tovLinkObj*& head = _buckets[bucketOf(o)];
    tovLinkObj* node = tovChain::makeNode(o);
    if (head) ++_col;
    node->_next = head;
    head = node;
    ++_count;
    return o;
}

template <int N>
tovObject* tovHash<N>::find(const tovObject& key) const {
    return tovChain::find(_buckets[bucketOf(key)], key);
}

// The iterator's constructor cannot throw: its new-expression's cleanup never runs.
template <int N>
tovIterator* tovHash<N>::newIterator() const {
    return new (getPool()) tovHashIter<N>(this);  // GCOVR_EXCL_BR_LINE
}

template <int N>
bool tovHash<N>::remove(tovObject& key) {
    tovLinkObj*& head = _buckets[bucketOf(key)];
    tovLinkObj* before;
    tovLinkObj** link = tovChain::findLink(&head, key, before);
    if (!link) return false;
    tovLinkObj* node = *link;
    --_count;
    *link = node->_next;
    if (head) --_col;
    delete node;  // GCOVR_EXCL_BR_LINE: delete's own null test; never null here
    return true;
}

template <int N>
void tovHash<N>::removeAll() {
    for (tovLinkObj*& head : _buckets) tovChain::deleteAll(head);
    _count = 0;
    _col = 0;
}

template <int N>
unsigned int tovHash<N>::col() {
    return _col;
}

template <int N>
tovHashIter<N>::tovHashIter(const tovHash<N>* table) : _hash(table) {
    reset();
}

template <int N>
tovHashIter<N>::~tovHashIter() = default;

template <int N>
bool tovHashIter<N>::isA(const char* name) const {
    return name == tovHashIterClass || tovIterator::isA(name);
}

template <int N>
const char* tovHashIter<N>::className() const {
    return tovHashIterClass;
}

template <int N>
bool tovHashIter<N>::done() const {
    return !_current;
}

template <int N>
tovObject& tovHashIter<N>::get() const {
    return _current->getObj();
}

template <int N>
void tovHashIter<N>::next() {
    if (_current && _current->_next)
        _current = _current->_next;
    else
        scanFrom(_bucket < N ? _bucket + 1 : N);
}

template <int N>
void tovHashIter<N>::reset() {
    scanFrom(0);
}

// Stands on the head of the first non-empty bucket from `bucket` on, or finishes.
template <int N>
void tovHashIter<N>::scanFrom(int bucket) {
    for (_bucket = bucket; _bucket < N; ++_bucket) {
        if ((_current = _hash->_buckets[_bucket])) return;
    }
    _current = nullptr;
}

template class tovHash<4191>;
template class tovHashIter<4191>;
