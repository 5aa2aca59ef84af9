// Internal: the string table's lookup index, kept beside its 4191 chains.
#ifndef TOVLIB_TOVSTRINGINDEX_H
#define TOVLIB_TOVSTRINGINDEX_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "pool/tovPoolSide.h"
#include "string/tovStrElem.h"

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
    /// Whether a text of index hash `k` in slot `i`, whose home is `start`, lies too far
    /// for the string hash to keep filing: more than 128 slots from its home, or past
    /// more than 16 other entries of its tag.
    bool crowdedAt(std::size_t i, std::size_t start, std::uint32_t k) const;
    // Entries of k's tag from `start` up to slot `i`; rarely needed, so out of line.
    [[gnu::noinline]] unsigned int sameTagBefore(std::size_t i, std::size_t start, std::uint32_t k) const;
    // The slot of the text, or null; the keyed search is out of line.
    Slot* slotOf(std::uint32_t h, const char* s, std::size_t length) const;
    // The slot of the text, or with `Element` its element; null when it is not held.
    template <bool Element>
    typename std::conditional<Element, tovStrElem*, Slot*>::type search(std::uint32_t k, const char* s,
                                                                        std::size_t length) const;
    [[gnu::noinline]] Slot* keyedSlotOf(const char* s, std::size_t length) const;
    // Rare (the capacity doubles, the search went far, or the index takes the keyed
    // hash), and out of line so that addedNew() stays small.
    [[gnu::noinline]] bool addedSlow(tovStrElem& e, std::uint32_t h);
    bool rebuild(std::size_t capacity, bool keyed);
    // The entries of `old`, filed by the hash they were filed by there; false when one
    // lies crowded. `Kept`: the hashes are kept beside the slots, here and there.
    template <bool Kept>
    bool move(const Slot* old, const std::uint32_t* oldHashes, std::size_t oldCapacity);
    bool place(tovStrElem* e, std::uint32_t k);
    // `e` goes where the last search that found nothing ended.
    bool takeHole(tovStrElem& e);
    void erase(Slot* slot);

    const tovStringTbl* const _table;
    tovStringIndex* _nextIndex;
    Slot* _slots = nullptr;
    Slot* _filed = nullptr;             // _slots while filed by the string hash, else null
    std::size_t _mask = 0;              // capacity - 1
    unsigned int _shift = 32;           // 32 - log2(capacity)
    std::size_t _size = 0;              // elements held
    std::size_t _growAt = 0;            // half the capacity: an entry more grows the index
    std::uint32_t* _foreign = nullptr;  // per bucket, made with the first such object
    std::uint32_t* _hashes = nullptr;   // keyed, with 64-bit pointers: each slot's hash
    bool _keyed = false;                // filed by the keyed hash
    std::uint64_t _key[2] = {};         // the process's key, once keyed
    // Where the last search that found nothing ended, and the hash it searched with.
    mutable std::size_t _hole = 0;
    mutable std::uint32_t _holeHash = 0;

    static tovStringIndex* _indexes;
};

// The slots and the search are here, so that interning inlines its hit path.
#if UINTPTR_MAX > 0xFFFFFFFFu
// Where pointers have 64 bits, the addresses a process is given leave the top 16 zero: a
// slot is the element's address with a 16-bit tag of its text's index hash in those
// bits, and a search compares a text only where the tag matches. The index hash, which
// a slot's home needs when the index grows or closes a gap, is the full hash the
// element keeps, or the keyed hash of its text. An element whose address uses the top bits cannot be held,
// and the index is dropped: the chains answer without it.
class tovStringIndex::Slot {
public:
    static bool fits(const tovStrElem* e) { return (reinterpret_cast<std::uintptr_t>(e) >> tagShift) == 0; }
    bool empty() const { return _bits == 0; }
    tovStrElem* elem() const {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): the address that set() packed
        return reinterpret_cast<tovStrElem*>(_bits & addressMask);
    }
    bool mayHold(std::uint32_t h) const { return (_bits >> tagShift) == tagOf(h); }
    void set(tovStrElem* e, std::uint32_t h) {
        _bits = reinterpret_cast<std::uintptr_t>(e) | tagOf(h) << tagShift;
    }
    // Another element of the same text, so of the same tag.
    void replace(tovStrElem* e) { _bits = (_bits & ~addressMask) | reinterpret_cast<std::uintptr_t>(e); }
    void clear() { _bits = 0; }

private:
    static constexpr unsigned int tagShift = 48;
    static constexpr std::uintptr_t addressMask = (std::uintptr_t{1} << tagShift) - 1;
    // Both halves of the hash: its high half is zero for the shortest texts.
    static std::uintptr_t tagOf(std::uint32_t h) { return (h ^ h >> 16) & 0xFFFFu; }

    std::uintptr_t _bits;  // 0: empty
};
#else
// Where pointers have 32 bits, the index hash fits beside the element in 8 bytes.
class tovStringIndex::Slot {
public:
    static bool fits(const tovStrElem*) { return true; }
    bool empty() const { return _elem == nullptr; }
    tovStrElem* elem() const { return _elem; }
    bool mayHold(std::uint32_t h) const { return _hash == h; }
    std::uint32_t hash() const { return _hash; }
    void set(tovStrElem* e, std::uint32_t h) { _elem = e, _hash = h; }
    void replace(tovStrElem* e) { _elem = e; }
    void clear() { _elem = nullptr; }

private:
    tovStrElem* _elem;  // null: empty
    std::uint32_t _hash;
};
#endif

// Fibonacci hashing spreads the string hash, whose low bits follow the last bytes.
inline std::size_t tovStringIndex::home(std::uint32_t k) const {
    return static_cast<std::size_t>((k * 0x9E3779B1u) >> _shift) & _mask;
}

// A search that finds nothing ends at the empty slot where the text would go: addedNew()
// puts it there, unless the index grows or takes the keyed hash first.
template <bool Element>
inline typename std::conditional<Element, tovStrElem*, tovStringIndex::Slot*>::type tovStringIndex::search(
    std::uint32_t k, const char* s, std::size_t length) const {
    for (std::size_t i = home(k);; i = (i + 1) & _mask) {
        Slot& slot = _slots[i];
        if (slot.empty()) {
            _hole = i;
            _holeHash = k;
            return nullptr;
        }
        if (!slot.mayHold(k)) continue;
        tovStrElem* const e = slot.elem();
        if (std::memcmp(static_cast<const char*>(*e), s, length + 1) != 0) continue;
        if constexpr (Element)
            return e;
        else
            return &slot;
    }
}

// One test passes to the string hash's search: no slots, or keyed ones, take the other
// way.
inline tovStringIndex::Slot* tovStringIndex::slotOf(std::uint32_t h, const char* s,
                                                    std::size_t length) const {
    if (__builtin_expect(!_filed, 0)) return _slots ? keyedSlotOf(s, length) : nullptr;
    return search<false>(h, s, length);
}

inline tovStrElem* tovStringIndex::find(std::uint32_t h, const char* s, std::size_t length) const {
    if (__builtin_expect(!_filed, 0)) {
        const Slot* slot = _slots ? keyedSlotOf(s, length) : nullptr;
        return slot ? slot->elem() : nullptr;
    }
    return search<true>(h, s, length);
}

#endif
