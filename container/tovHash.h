/// \file
/// tovHash<N> and tovHashIter<N>: a chained hash table of counted object references.
#ifndef TOVLIB_TOVHASH_H
#define TOVLIB_TOVHASH_H

#include <iosfwd>

#include "container/tovContainer.h"
#include "container/tovLinkObj.h"

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

    /// Checks the table's structure: the entries number count(), col() is count()
    /// less the non-empty buckets, and every entry lies in the bucket its object
    /// hashes to (an object whose hash changed while stored fails this). Allocates
    /// nothing and changes nothing; calls each stored object's hash(N).
    bool verify() const;

    TOV_OBJECT_OPERATORS(tovHash)

protected:
    /// Entries added to a bucket that already held one, less those removed from one
    /// that keeps an entry.
    unsigned int _col = 0;
    /// The head of each bucket's chain, newest entry first.
    tovLinkObj* _buckets[N];

private:
    friend class tovHashIter<N>;
    static unsigned int bucketOf(const tovObject& o);
};

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

// The library instantiates and exports the 4191-bucket table; clients use that one.
extern template class tovHash<4191>;
extern template class tovHashIter<4191>;

#endif
