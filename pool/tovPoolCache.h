// Internal: the library-wide cache of the heap allocations that released pools gave back.
#ifndef TOVLIB_TOVPOOLCACHE_H
#define TOVLIB_TOVPOOLCACHE_H

#include <cstddef>

#include "pool/tovPool.h"
#include "pool/tovPoolRecords.h"

/// The arenas (the heap allocations blocks are cut from) of released and destroyed
/// pools, kept for the next pool that needs an arena, up to a bound on their bytes.
/// Work done in phases then takes the memory of the phase before, whose pages are
/// already there, instead of asking the heap, which gives large allocations back to the
/// system and faults their pages in afresh. The arenas wait in one list per power of
/// two of their size, newest first; pools grow their arenas through the same sizes, so
/// a phase like the one before finds each arena it asks for at the head of its list.
/// Cached memory is inaccessible to the checker, like memory a pool keeps, apart from
/// the arena headers under AddressSanitizer: a use after release() is still reported.
/// Not thread-safe, like the pools.
class tovPoolCache {
public:
    using Arena = tovPool::Arena;

    /// An arena of at least `size` bytes, its header's size field set to its whole size,
    /// or null when none is cached. Looks at no more than a few arenas, once the pending
    /// chains are sorted in.
    static Arena* take(std::size_t size);
    /// `size` bytes from the heap; when the heap fails with memory cached, the cache is
    /// given back and the heap asked once more. Throws std::bad_alloc.
    static void* fromHeap(std::size_t size);
    /// Keeps the arena `a` when the bound has room for it; otherwise gives it back to the
    /// heap.
    static void keep(Arena* a);
    /// Keeps, or gives back, a released pool's arenas: `newest` and the older ones linked
    /// behind it. When the bound has room for all of them and no checker is told, they
    /// wait as they are, one chain among the pending ones, and are sorted into the lists
    /// when an arena is next asked for: release() then touches one arena header, not
    /// every one (their pages are long out of the caches by the end of a large phase).
    /// Under a checker each arena is hidden from it at once, as keep() does.
    static void keepAll(Arena* newest);
    /// Gives cached arenas back, the largest first, until at most `bytes` are held.
    static void trim(std::size_t bytes);
    /// The bound: the most bytes the cache holds. Lowering it trims.
    static void setBound(std::size_t bytes);
    static std::size_t bound() { return _bound; }
    /// Bytes held: the sum of the whole sizes of the cached arenas.
    static std::size_t held() { return _held; }

    /// The bound until the client sets one: 64 MiB, one arena of the largest size that
    /// pools grow to, which serves again a phase of tens of megabytes.
    static constexpr std::size_t defaultBound = std::size_t{1} << 26;

private:
    /// Sorts the pending chains into the lists, as keep() would have at their release.
    static void file();
    /// keep() for `newest` and every arena behind it.
    static void keepEach(Arena* newest);
    static void giveBack(Arena* a, std::size_t size);
    static Arena* follow(Arena* const* link);
    static void relink(Arena** link, Arena* to);
    // A field of a cached arena's header, opened around the access. Under Memcheck it
    // is closed again; under AddressSanitizer it stays open, as the pool's own records
    // do: a leak check at exit, which may run before the cache is given back, ignores
    // links in poisoned memory and would report every arena but the first of a list.
    template <class T>
    static T read(const T& field) {
        tovPool::openRecord(&field, sizeof field, tovPool::poisoning());
        const T value = field;
        tovPool::closeRecord(&field, sizeof field);
        return value;
    }
    template <class T>
    static void write(T& field, T value) {
        tovPool::openRecord(&field, sizeof field, tovPool::poisoning());
        field = value;
        tovPool::closeRecord(&field, sizeof field);
    }

    static constexpr std::size_t lists = 8 * sizeof(std::size_t);
    static Arena* _lists[lists];
    /// The chains that released pools handed over as they were, the latest first,
    /// linked through their newest arena's `pending`; counted in _held.
    static Arena* _pending;
    static std::size_t _held;
    static std::size_t _bound;
};

#endif
