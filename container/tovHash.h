/// \file
/// tovHash<N> and tovHashIter<N>: a chained hash table of counted object references.
#ifndef TOVLIB_TOVHASH_H
#define TOVLIB_TOVHASH_H

#include <ios>
#include <ostream>
#include <typeinfo>

#include "container/tovContainer.h"
#include "container/tovLinkObj.h"
#include "lib/tovServices.h"
#include "string/tovNamedObj.h"

// Exported from its first declaration on: Clang takes a class template's visibility
// from there.
template <int N>
class TOV_API tovHashIter;

/// A chained hash table with a fixed number of buckets (the library provides 4191).
///
/// The table neither hashes nor compares by itself: an object's bucket is its own
/// `hash(N)` (reduced modulo N, so a client hash of N or more still lands in a
/// bucket), and lookups ask each stored object `stored.isEqual(key)`. Each entry is a
/// link node holding one counted reference. The table never grows or rehashes;
/// within a bucket the newest entry comes first. Iteration goes bucket by bucket,
/// which is not the order of insertion.
template <int N>
class TOV_API tovHash : public tovContainer {
public:
    /// An empty table: count and collisions 0, every bucket empty.
    tovHash();
    /// Removes every entry as removeAll() does.
    ~tovHash() override;
    /// With flag 5 clear: the container dump. With flag 5 set: the object line, then
    /// "CT[count] CL[collisions]", a newline, and each entry at `indent` + 4.
    std::ostream& dump(std::ostream& os, int indent, int nl) const override;
    /// True for tovHashClass, tovContainerClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovHashClass.
    const char* className() const override;
    /// Links `o` at the head of its bucket; constant time, never searches.
    tovObject& add(tovObject& o) override;
    /// One hash call, then one isEqual per entry of that bucket.
    tovObject* find(const tovObject& key) const override;
    /// A tovHashIter<N> from the table's pool, standing on the first entry.
    tovIterator* newIterator() const override;
    /// Removes the first entry of the key's bucket whose object declares itself equal
    /// to `key`, newest first; one hash call, then one isEqual per entry passed.
    bool remove(tovObject& key) override;
    /// Removes every entry, bucket by bucket.
    void removeAll() override;
    /// Entries that share their bucket with another: count() less the number of
    /// non-empty buckets.
    virtual unsigned int col();

    /// The number of buckets.
    static constexpr int bucketCount = N;

    /// Checks the table's structure: the entries number count(), col() is count()
    /// less the non-empty buckets, and every entry lies in the bucket its object
    /// hashes to (an object whose hash changed while stored fails this). Allocates
    /// nothing and changes nothing; calls each stored object's hash(N).
    bool verify() const;

    TOV_OBJECT_OPERATORS(tovHash)

protected:
    /// Links `o` at the head of bucket `b` (its bucket) as add() does.
    tovObject& linkAt(tovObject& o, unsigned int b);
    /// Unlinks the first entry of bucket `b` whose object declares itself equal to
    /// `key`, keeping the count and the collisions, and returns its node, which the
    /// caller deletes; null, changing nothing, when none matches.
    tovLinkObj* unlinkFirst(const tovObject& key, unsigned int b);

    /// Entries added to a bucket that already held one, less those removed from one
    /// that keeps an entry.
    unsigned int _col = 0;
    /// The head of each bucket's chain, newest entry first.
    tovLinkObj* _buckets[N];

    /// The bucket of `o`: its hash(N), reduced modulo N.
    static unsigned int bucketOf(const tovObject& o);

private:
    friend class tovHashIter<N>;
    friend struct tovRangeAccess;
};

/// The bucket count for a table that will hold up to `entries` objects, as a constant
/// expression: `tovHash<tovBuckets(400000)>`. It is the smallest prime not below
/// `entries` (and at least 2): the load stays at or below one entry per bucket while the
/// table holds no more than that, and a count without small factors spreads hashes that
/// advance in steps (the identity hash of objects carved one after another) over every
/// bucket. A table never grows, so size it for the most it will hold. `entries` is at
/// most 2^31 - 1, itself a prime.
constexpr int tovBuckets(int entries) {
    long long n = entries < 2 ? 2 : entries;
    for (;; ++n) {
        bool prime = n == 2 || n % 2 != 0;
        for (long long d = 3; prime && d * d <= n; d += 2) prime = n % d != 0;
        if (prime) return static_cast<int>(n);
    }
}

/// Walks a hash table bucket by bucket, each bucket newest first. Removing the entry
/// it stands on, emptying or destroying the table ends its use.
template <int N>
class TOV_API tovHashIter : public tovIterator {
public:
    /// Stands on the first entry of `table` (not null); tables make it in newIterator().
    explicit tovHashIter(const tovHash<N>* table);
    /// Nothing of its own.
    ~tovHashIter() override;
    /// True for tovHashIterClass, tovIteratorClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovHashIterClass.
    const char* className() const override;
    /// True once past the last entry of the last non-empty bucket.
    bool done() const override;
    /// The current entry's object; only while done() is false.
    tovObject& get() const override;
    /// Steps along the chain, then on to the next non-empty bucket; a finished
    /// iterator stays finished.
    void next() override;
    /// Goes back to the head of the first non-empty bucket.
    void reset() override;

    TOV_OBJECT_OPERATORS(tovHashIter)

private:
    void scanFrom(int bucket);

    tovLinkObj* _current = nullptr;
    int _bucket = N;
    const tovHash<N>* const _hash;
};

// The members are defined here, so that a client can make a table of any size; the
// library instantiates and exports the 4191-bucket table, and its clients use that copy.

template <int N>
tovHash<N>::tovHash() : _buckets() {}

// Elements released here may add to the table in their destructors; those go too.
template <int N>
tovHash<N>::~tovHash() {
    do removeAll();
    while (_count != 0);
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
        // The counts are decimal whatever base the caller left the stream in; the
        // caller's formatting is put back.
        struct Decimal {
            std::ios_base& s;
            const std::ios_base::fmtflags saved = s.flags();
            ~Decimal() { s.flags(saved); }
        } dec{os};
        os.setf(std::ios_base::dec, std::ios_base::basefield);
        // Only the exception edges of the insertions go untaken.
        os << "CT[" << _count << "] CL[" << _col << "]\n";  // GCOVR_EXCL_BR_LINE
    }
    // The exception edges of the element's dump and of the handle's cleanup.
    for (tovIterPtr it(this); it; it++) it().dump(os, indent + 4, nl);  // GCOVR_EXCL_BR_LINE
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
    return linkAt(o, bucketOf(o));
}

template <int N>
tovObject& tovHash<N>::linkAt(tovObject& o, unsigned int b) {
    tovLinkObj*& head = _buckets[b];
    // The node lives in the element's pool, or on the heap for an element without one.
    tovLinkObj* node = new (o.getPool()) tovLinkObj(o);
    if (head) ++_col;
    node->_next = head;
    head = node;
    ++_count;
    return o;
}

// A key that is a plain handle (of class tovString itself) is the usual key of a table
// of named objects: its class is asked once, not by each entry, and the answers are
// those of the general path. A plain element's bucket is its kept hash, reduced
// without a call. A named object of the library's own class answers isEqual against a
// handle by comparing the elements of its name and of the handle; that comparison is
// made here without the call. Any other entry, a subclass of tovNamedObj among them
// (it may answer isEqual its own way), is asked as usual. Two type_info objects of one
// class at different addresses would only cost the shortcut; without run-time type
// information every key takes the general path.
template <int N>
tovObject* tovHash<N>::find(const tovObject& key) const {
#if defined(__GXX_RTTI) || defined(_CPPRTTI)
    if (&typeid(key) == &typeid(tovString)) {
        const auto& handle = static_cast<const tovString&>(key);
        const tovStrElem& elem = *handle._elem;
        const unsigned int b = &typeid(elem) == &typeid(tovStrElem)
                                   ? elem.fullHash() % static_cast<unsigned int>(N)
                                   : bucketOf(key);
        for (const tovLinkObj* node = _buckets[b]; node; node = node->_next) {
            tovObject& stored = node->getObj();
            if (&typeid(stored) == &typeid(tovNamedObj)
                    ? static_cast<const tovString&>(static_cast<const tovNamedObj&>(stored)) == handle
                    : stored.isEqual(key))
                return &stored;
        }
        return nullptr;
    }
#endif
    for (const tovLinkObj* node = _buckets[bucketOf(key)]; node; node = node->_next)
        if (node->getObj().isEqual(key)) return &node->getObj();
    return nullptr;
}

// The iterator's constructor cannot throw: its new-expression's cleanup never runs.
template <int N>
tovIterator* tovHash<N>::newIterator() const {
    return new (getPool()) tovHashIter<N>(this);  // GCOVR_EXCL_BR_LINE
}

template <int N>
bool tovHash<N>::remove(tovObject& key) {
    tovLinkObj* const node = unlinkFirst(key, bucketOf(key));
    if (!node) return false;
    delete node;  // GCOVR_EXCL_BR_LINE: delete's own null test; never null here
    return true;
}

// The table is consistent before the caller deletes the node, which may destroy the
// element and run its destructor.
template <int N>
tovLinkObj* tovHash<N>::unlinkFirst(const tovObject& key, unsigned int b) {
    tovLinkObj*& head = _buckets[b];
    tovLinkObj** link = &head;
    while (*link && !(*link)->getObj().isEqual(key)) link = &(*link)->_next;
    tovLinkObj* const node = *link;
    if (!node) return nullptr;
    --_count;
    *link = node->_next;
    if (head) --_col;
    return node;
}

// The table is emptied first: every chain is joined, in bucket order, into one that
// no bucket holds, and only then are the entries released, in that order. An
// element's destructor so finds a consistent, empty table: what it adds stays and is
// counted, and an entry it removes is not found (it is released here, once).
template <int N>
void tovHash<N>::removeAll() {
    tovLinkObj* chain = nullptr;
    tovLinkObj** tail = &chain;
    for (tovLinkObj*& head : _buckets) {
        if (!head) continue;
        *tail = head;
        head = nullptr;
        while (*tail) tail = &(*tail)->_next;
    }
    _count = 0;
    _col = 0;
    while (chain) {
        tovLinkObj* const node = chain;
        chain = node->_next;
        delete node;  // GCOVR_EXCL_BR_LINE: delete's own null test; never null here
    }
}

template <int N>
unsigned int tovHash<N>::col() {
    return _col;
}

template <int N>
tovHashIter<N>::tovHashIter(const tovHash<N>* table) : _hash(table) {
    reset();  // GCOVR_EXCL_BR_LINE: reset() throws nothing, its exception edge is never taken
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

extern template class tovHash<4191>;
extern template class tovHashIter<4191>;

#endif
