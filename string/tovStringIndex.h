// Internal: the string table's lookup index, kept beside its 4191 chains.
#ifndef TOVLIB_TOVSTRINGINDEX_H
#define TOVLIB_TOVSTRINGINDEX_H

#include <cstddef>
#include <cstdint>

#include "pool/tovPoolSide.h"

class tovLinkObj;
class tovObject;
class tovStrElem;
class tovStringTbl;

/// Finds a table's plain string element by its text in expected constant time,
/// whatever the table holds: open addressing over a 32-bit hash of the texts, in 8-byte
/// slots, grown geometrically. The chains stay the table's structure; the index only answers what a
/// walk of a chain would answer. For each text it holds the first plain element with
/// that text in its bucket's chain, which is what find() of a candidate meets first.
/// Objects of any other class in a bucket decide for themselves through isEqual, so
/// the index only counts them, and their bucket takes the full path. The index is a
/// cache: it is deleted when it cannot follow a change (no memory), when its table is
/// forgotten or its pool released, and is made again from the chains when needed.
///
/// The index starts on the texts' string hash, which the table computes anyway for the
/// bucket. That hash is a fixed polynomial, so texts can be made to share it, or to
/// share a home slot: once a new text lands more than 128 slots from its home, or
/// passes more than 16 other texts of its tag, the index moves every entry to homes
/// chosen by SipHash-1-3 under a key drawn once per process, and keeps that hash until
/// it is deleted. Until then no search passes more than those bounds, so no input makes
/// interning a walk.
class tovStringIndex final : public tovPoolSide {
public:
    /// The index of `table`, or null.
    static tovStringIndex* of(const tovStringTbl* table);
    /// The index of `table`, made from its chains if it has none; null when no memory
    /// can be had for it.
    static tovStringIndex* make(const tovStringTbl& table);
    /// Deletes the index of `table`, if it has one.
    static void drop(const tovStringTbl* table);
    ~tovStringIndex() override;

    /// Whether the bucket of texts of full hash `h` holds an object that is not a plain
    /// element.
    bool foreignIn(std::uint32_t h) const { return _foreign && _foreign[h % 4191] != 0; }
    /// The element the index holds for the `length` bytes of `s`, whose full hash is `h`.
    tovStrElem* find(std::uint32_t h, const char* s, std::size_t length) const;
    /// `o` was linked at the head of bucket `b`; `h` is its full hash if it is a plain
    /// element. False when the index could not follow: then it must be dropped.
    bool added(const tovObject& o, unsigned int b, std::uint32_t h);
    /// The plain element `e`, whose text the index does not hold and whose full hash is
    /// `h`, was linked at the head of its bucket; the index's last search was the one
    /// for that text, which found nothing. False as for added().
    bool addedNew(tovStrElem& e, std::uint32_t h);
    /// `o` was unlinked from bucket `b`, whose chain now starts at `head`; its node
    /// is still alive, so is `o`. False as for added().
    bool removed(const tovObject& o, unsigned int b, const tovLinkObj* head);
    /// Whether the index holds exactly the first plain element of every text in every
    /// chain of `table`, and the count of other objects of every bucket.
    bool agrees(const tovStringTbl& table) const;

    /// Whether `o` is a plain element, which answers isEqual by its text.
    static bool plain(const tovObject& o);

private:
    // One entry, 8 bytes: an element and what its text's hash tells before the texts
    // are compared (see the source).
    class Slot;

    explicit tovStringIndex(const tovStringTbl& table);
    /// The full hash of the plain element `o`'s text.
    static std::uint32_t hashOf(const tovObject& o);
    /// The hash the index files the `length` bytes of `s` under; `h` is their string hash.
    std::uint32_t indexHash(std::uint32_t h, const char* s, std::size_t length) const;
    /// The same for an element the index holds.
    std::uint32_t indexHash(const tovStrElem& e) const;
    /// The index hash of entry `i` of `slots`, whose keyed hashes, if kept apart, are `hashes`.
    static std::uint32_t keptHash(const Slot* slots, const std::uint32_t* hashes, std::size_t i);
    std::size_t home(std::uint32_t k) const;
    /// Whether an entry that passed `sameTag` other texts of its tag and lies
    /// `distance` slots from its home is too far for the string hash to keep filing.
    bool crowded(unsigned int sameTag, std::size_t distance) const;
    Slot* slotOf(std::uint32_t h, const char* s, std::size_t length) const;
    // Rare (the capacity doubles, or the index takes the keyed hash), and out of line
    // so that addedNew() stays small.
    [[gnu::noinline]] bool addedSlow(tovStrElem& e, std::uint32_t h);
    bool rebuild(std::size_t capacity, bool keyed);
    bool place(tovStrElem* e, std::uint32_t k);
    void erase(Slot* slot);

    const tovStringTbl* const _table;
    tovStringIndex* _nextIndex;
    Slot* _slots = nullptr;
    std::size_t _mask = 0;              // capacity - 1
    unsigned int _shift = 32;           // 32 - log2(capacity)
    std::size_t _size = 0;              // elements held
    std::uint32_t* _foreign = nullptr;  // per bucket, made with the first such object
    std::uint32_t* _hashes = nullptr;   // keyed, with 64-bit pointers: each slot's hash
    bool _keyed = false;                // filed by the keyed hash
    std::uint64_t _key[2] = {};         // the process's key, once keyed
    // Where the last search that found nothing ended, the hash it searched with, and
    // whether its text would lie crowded there.
    mutable std::size_t _hole = 0;
    mutable std::uint32_t _holeHash = 0;
    mutable bool _holeCrowded = false;

    static tovStringIndex* _indexes;
};

#endif
