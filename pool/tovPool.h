/// \file
/// tovPool: memory pools that carve heap blocks into elements, and the chain of all pools.
#ifndef TOVLIB_TOVPOOL_H
#define TOVLIB_TOVPOOL_H

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "lib/tovExport.h"

// Memory checking: the pool tells a checker which of its memory it hands out, so that
// a use after the last down(), after free() or after release() is reported. Built with
// TOVLIB_VALGRIND (the CMake option of that name, which travels with the target to its
// clients) each pool is a Memcheck memory pool whose elements are its chunks. Otherwise,
// when AddressSanitizer's runtime is in the process, the memory the pool keeps is
// poisoned. That is decided at run time, not by how this file is compiled: alloc() and
// free() are compiled into the client, the rest of the pool into the library, and either
// may be built with or without the sanitizer. Both ask the same question, whether the
// runtime's poisoning interface is there, so they always agree on what is poisoned.
#if defined(TOVLIB_VALGRIND)
#include <valgrind/memcheck.h>
#define TOVLIB_MEMCHECK 1
#else
// The sanitizer's own declarations (sanitizer/asan_interface.h), made weak: the address
// of each is null when no runtime defines it, and a library linked with
// -Wl,--no-undefined still links. A client may include that header too, before or after.
// Not part of tovlib's interface, so kept out of the API reference.
/// \cond
extern "C" {
void __asan_poison_memory_region(void const volatile* addr, std::size_t size) __attribute__((weak));
void __asan_unpoison_memory_region(void const volatile* addr, std::size_t size) __attribute__((weak));
}
/// \endcond
#endif

#if defined(__SANITIZE_ADDRESS__)
/// Defined (as 1) when the including file is compiled with AddressSanitizer, so that it
/// can tell whether its own accesses are checked. The pools do not depend on it.
#define TOVLIB_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOVLIB_ASAN 1
#endif
#endif

/// A memory pool.
///
/// A pool takes memory from the heap in blocks of at least 8000 bytes and carves them
/// into elements. Every size is rounded up to a multiple of 8. Elements of up to 504
/// bytes that are given back are recycled: they wait in one list per rounded size and
/// are handed out again, newest first, only for requests of that same rounded size, so
/// the small path is one list head read and written. Larger elements go back to an
/// address-ordered list of free segments, where neighbours merge; requests that find no
/// recycled element take the first free segment that fits.
///
/// A pool gives its memory back only all at once, when it is released or destroyed,
/// and runs no destructor of anything carved from it. What it gives back goes to a
/// library-wide cache, up to a bound (64 MiB unless tovLib::setPoolCacheBound() sets
/// another), and any pool's next block is cut from there before the heap is asked: work
/// done in phases reuses the memory of the phase before instead of faulting in fresh
/// pages. The cache changes nothing a client observes but addresses. Every pool is entered
/// in a process-wide chain (newest first) when constructed and leaves it when destroyed;
/// pools are numbered from 0 in order of construction. A main pool, number 0, is made
/// when the library is loaded; objects created without a pool are carved from it.
///
/// Four byte counters track the pool: amem (bytes taken from the heap) always equals
/// fmem (free segments) + rmem (recycled elements) + umem (handed out); an element
/// given back with a size that rounds differently from the one it was taken with
/// makes them drift by the difference.
///
/// Pools are not thread-safe; the library takes no locks.
class TOV_API tovPool {
public:
    /// An empty pool: no block, counters zero. It enters the chain of all pools with
    /// the number one above the newest pool's (0 when it is the only one) and its
    /// release flag set.
    tovPool();
    /// Pools are not copyable: a copy would share, and later free twice, the blocks.
    tovPool(const tovPool&) = delete;
    /// Not assignable, for the same reason.
    tovPool& operator=(const tovPool&) = delete;

    /// Gives all blocks back (to the cache of released memory, or the heap) and leaves
    /// the chain. If this pool is the
    /// main pool, the main pool becomes null: objects made without a pool then come
    /// from the heap.
    virtual ~tovPool();

    /// Reserves the pool's first block; alloc() calls it with the rounded request when
    /// the pool holds no block. Override it to choose a different first block.
    virtual void establish(std::size_t size);
    /// Whether releaseAll() may release or destroy this pool (true after construction).
    virtual bool releaseFlag();
    /// Sets the release flag. Clear it to keep the pool, with everything in it, through
    /// releaseAll() and tovLib::reset(); an automatic or static pool must have it clear
    /// whenever releaseAll() may run, since releaseAll() would `delete` it.
    virtual void setReleaseFlag(bool flag);
    /// Gives every block back (to the cache of released memory, or the heap) and
    /// empties the pool. Everything carved from
    /// it ends without its destructor. Number, flag and place in the chain stay, and
    /// the pool can be used again.
    virtual void release();
    /// Writes the pool's report (one line; with flag 0 set also its blocks, free
    /// segments and recycled elements) and returns the stream.
    virtual std::ostream& print(std::ostream& os) const;
    /// True only for tovPoolClass, compared as a pointer.
    virtual bool isA(const char* name) const;
    /// tovPoolClass.
    virtual const char* className() const;

    /// An element of at least `size` bytes (0 counts as 8), 8-aligned within its block.
    /// Never returns null: throws std::bad_alloc when neither the cache of released
    /// memory nor the heap can supply a block, leaving the pool unchanged. A recycled element is handed out
    /// inline, with one list head read and written.
    void* alloc(std::size_t size) {
        if (poisoning()) return allocPoisoning(size);  // GCOVR_EXCL_LINE: see poisoning()
        return allocBody<false>(size);
    }
    /// Gives back an element taken from this pool with a size of the same rounded size.
    /// Nothing is checked: a wrong size or pointer corrupts the pool.
    void free(void* p, std::size_t size) {
        if (poisoning()) return freePoisoning(p, size);  // GCOVR_EXCL_LINE: see poisoning()
        freeBody<false>(p, size);
    }

    /// Bytes taken from the heap: the sum of all block sizes.
    std::size_t amem() const { return _amem; }
    /// Bytes in free segments.
    std::size_t fmem() const { return _fmem + static_cast<std::size_t>(_bumpEnd - _bumpAt); }
    /// Bytes in recycled elements. Every operation moves bytes between exactly these
    /// four counters, so this is what amem leaves after the other three; deriving it
    /// keeps the recycled-element path down to one counter update.
    std::size_t rmem() const { return _amem - fmem() - _umem; }
    /// Bytes handed out and not yet given back.
    std::size_t umem() const { return _umem; }
    /// Number of blocks (walks the block list).
    unsigned int ablocks() const;
    /// Number of free segments (walks the free list).
    unsigned int fblocks() const;
    /// Number of recycled elements over all size classes (walks the 64 lists).
    unsigned int rblocks() const;
    /// Checks the pool's structures: the block sizes add up to amem(); the free
    /// segments ascend strictly by address, do not touch or overlap, lie inside the
    /// pool's blocks, are multiples of 8 and at least a segment header, add up to
    /// fmem(), and fit no size class where the search knows that none does; every
    /// recycled element lies inside a block, and the elements of all classes add up to
    /// rmem(). Allocates nothing and changes nothing. Meant for tests and debugging: it
    /// walks the blocks once per segment and element.
    bool verify() const;
    /// The pool's number, given at construction.
    int getNum() const { return _num; }

    /// The main pool: where objects made without a pool are carved. Null only after
    /// the main pool was destroyed and none was set since.
    static tovPool* mainPool();
    /// Makes `pool` the main pool; null is ignored.
    static void setMainPool(tovPool* pool);
    /// For every pool in the chain whose release flag is set: the main pool is
    /// released (emptied, and stays), every other pool is destroyed.
    static void releaseAll();
    /// Number of pools in the chain.
    static unsigned int npools();
    /// Sum of amem() over the chain.
    static std::size_t apools();
    /// Sum of umem() over the chain.
    static std::size_t upools();
    /// Writes the report of every pool, newest first, and the totals.
    static void printAll(std::ostream& os);

    /// Number of recycled size classes; class i holds elements of rounded size 8 x i.
    static constexpr std::size_t sizeClasses = 64;

private:
    friend class tovStringTbl;
    friend class tovPoolCache;
    friend class tovPoolResource;

    struct Arena;
    struct Block;
    // A free segment's header lies in the free memory itself.
    struct Segment {
        Segment* next;
        std::size_t size;
    };
    // A recycled element keeps only its link; the rest is what the client left there.
    struct Element {
        Element* next;
    };

    /// Rounded sizes below this are recycled by class; larger ones go to the segments.
    static constexpr std::size_t smallLimit = 8 * sizeClasses;
    /// `size` rounded up to a multiple of 8, with 0 counting as 8; 0 when rounding
    /// would wrap (carve refuses it).
    static std::size_t rounded(std::size_t size) {
        return (size + 7 + static_cast<std::size_t>(size == 0)) & ~std::size_t{7};
    }

    // What the pool tells the checker. Block memory that is not handed out (free
    // segments, recycled elements) is inaccessible; the pool's own records in it (the
    // link of a recycled element, the header of a free segment) are read and written
    // through peek() and poke(), which open the record around the access: under
    // AddressSanitizer a record stays open once written, under Memcheck it is closed
    // again at once, so that a client touching it is reported too. The hooks that the
    // small path uses take `asan`, whether to tell AddressSanitizer; it defaults to
    // asking, and alloc() and free() pass it as a constant (see allocBody()).

    /// Whether AddressSanitizer's runtime is in the process (it defines both poisoning
    /// functions or neither); never under Memcheck. Asked at run time, by the library
    /// and by the inline path in the client alike, so that however each was compiled
    /// they agree on what is poisoned. The coverage build runs without the sanitizer;
    /// the asan preset and the mixed client of .ci/run take the branches it decides.
    static bool poisoning() {
#ifdef TOVLIB_MEMCHECK
        return false;
#else
        return &__asan_poison_memory_region != nullptr;
#endif
    }
#ifdef TOVLIB_MEMCHECK
    void track() const { VALGRIND_CREATE_MEMPOOL(this, 0, 0); }
    void untrack() const { VALGRIND_DESTROY_MEMPOOL(this); }
#else
    void track() const {}
    void untrack() const {}
    static void poison(const void* p, std::size_t n, bool asan) {
        if (asan) __asan_poison_memory_region(p, n);  // GCOVR_EXCL_LINE: see poisoning()
    }
    static void unpoison(const void* p, std::size_t n, bool asan) {
        if (asan) __asan_unpoison_memory_region(p, n);  // GCOVR_EXCL_LINE: see poisoning()
    }
#endif
    /// An element of `n` bytes at `p` leaves the pool (to Memcheck, with undefined contents).
    void handOut(const void* p, std::size_t n, bool asan = poisoning()) const {
#ifdef TOVLIB_MEMCHECK
        (void)asan;
        VALGRIND_MEMPOOL_ALLOC(this, p, n);
#else
        unpoison(p, n, asan);
#endif
    }
    /// An element of `n` bytes at `p`, handed out before, comes back.
    void takeBack(const void* p, std::size_t n, bool asan = poisoning()) const {
#ifdef TOVLIB_MEMCHECK
        (void)n, (void)asan;
        VALGRIND_MEMPOOL_FREE(this, p);
#else
        poison(p, n, asan);
#endif
    }
    /// Block memory that the pool keeps and that holds no open record.
    static void hide(const void* p, std::size_t n) {
#ifdef TOVLIB_MEMCHECK
        VALGRIND_MAKE_MEM_NOACCESS(p, n);
#else
        poison(p, n, poisoning());
#endif
    }
    /// Memory that goes back to the heap, or comes from the cache of released memory.
    static void reveal(const void* p, std::size_t n) {
#ifdef TOVLIB_MEMCHECK
        (void)p, (void)n;
#else
        unpoison(p, n, poisoning());
#endif
    }
    template <class T>
    static T peek(const T& field, bool asan = poisoning()) {
        openRecord(&field, sizeof field, asan);
        const T value = field;
        closeRecord(&field, sizeof field);
        return value;
    }
    template <class T>
    static void poke(T& field, T value, bool asan = poisoning()) {
        openRecord(&field, sizeof field, asan);
        field = value;
        closeRecord(&field, sizeof field);
    }
    static void openRecord(const void* p, std::size_t n, bool asan) {
#ifdef TOVLIB_MEMCHECK
        (void)asan;
        VALGRIND_MAKE_MEM_DEFINED(p, n);
#else
        unpoison(p, n, asan);
#endif
    }
    static void closeRecord(const void* p, std::size_t n) {
#ifdef TOVLIB_MEMCHECK
        VALGRIND_MAKE_MEM_NOACCESS(p, n);
#else
        (void)p, (void)n;
#endif
    }

    // The bodies of alloc() and free(), with `Asan` fixed: inline without the sanitizer,
    // so that its absence costs the small path one test, and out of line with it, so
    // that its presence costs every call site no more than a call. Marked cold, the
    // copies out of line also keep the compiler's layout of the inline path straight.
    //
    // When no element of the class is recycled, the usual carve is inline too: the
    // class's first candidate (the segment at its hint, or the head) is the bump region
    // (see _bumpHint), and what the region keeps after the carve starts at or below
    // _bumpLimit. Carving its front is what first fit would do, and it moves no hint and
    // no search bound: no hint lies behind the region, and what is left holds a header
    // and fits no class exactly whose bound is set. No record is written. Otherwise,
    // and for 0 (the rounding that wrapped) and large requests, carve() decides. Under
    // AddressSanitizer there is never a bump region.
    template <bool Asan>
    void* allocBody(std::size_t size) {
        const std::size_t r = rounded(size);
        if (r < smallLimit) {
            if (Element* e = _recycled[r / 8]) {
                _recycled[r / 8] = peek(e->next, Asan);
                _umem += r;
                handOut(e, r, Asan);
                return e;
            }
            if (!Asan && r != 0 && _fit[r / 8] == _bumpHint &&
                reinterpret_cast<std::uintptr_t>(_bumpAt + r) <= _bumpLimit)
                return cut(r);
        }
        return carve(r);
    }
    /// An element of `r` bytes cut from the front of the bump region leaves the pool.
    void* cut(std::size_t r) {
        char* const p = _bumpAt;
        _bumpAt = p + r;
        _umem += r;
        handOut(p, r, false);
        return p;
    }
    /// Whether there is a bump region.
    bool bumping() const { return _bumpHint != &_free; }
    /// The link in front of whose target the bump region lies; null without one.
    Segment* const* bumpLink() const {
        if (!bumping()) return nullptr;
        return _bumpHint ? _bumpHint : &_free;
    }
    /// The bump region's size.
    std::size_t bumpRoom() const { return static_cast<std::size_t>(_bumpEnd - _bumpAt); }
    /// Writes the bump region's header and puts it back in the free list, when there
    /// is one: what every operation does first that walks or changes the free list.
    void settle() {
        if (bumping()) settleBump();
    }
    /// Leaves the last `size - r` bytes of the segment `s` (of `size` bytes, at `link`) in
    /// its place: the first `r` are no longer free, and nothing is counted yet. Returns
    /// the segment that follows.
    Segment* split(Segment** link, Segment* s, std::size_t size, std::size_t r, bool asan) {
        // The remainder's header may overlap this one (r = 8 on 64-bit): both words are
        // read before writing.
        Segment* const next = peek(s->next, asan);
        auto* rest = reinterpret_cast<Segment*>(reinterpret_cast<char*>(s) + r);
        poke(rest->next, next, asan);
        poke(rest->size, size - r, asan);
        relink(link, rest, asan);
        if (s == _freeTail) _freeTail = rest;
        return next;
    }
    template <bool Asan>
    void freeBody(void* p, std::size_t size) {
        const std::size_t r = rounded(size);
        if (r < smallLimit) {
            auto* e = static_cast<Element*>(p);
            takeBack(e, r, Asan);
            poke(e->next, _recycled[r / 8], Asan);
            _recycled[r / 8] = e;
            _umem -= r;
            return;
        }
        freeLarge(p, r);
    }
    /// Whether taking an element of `first` bytes, then one of `second` bytes, and
    /// giving both back, the second first, leaves the pool as it is without doing it:
    /// true when both come from the recycled lists (two from one list when the sizes
    /// share a class), since each is then pushed back where it was popped from, with
    /// the same link, and the counters move back by what they moved.
    bool recyclesPair(std::size_t first, std::size_t second) const {
        const std::size_t a = rounded(first);
        const std::size_t b = rounded(second);
        if (a >= smallLimit || b >= smallLimit || !_recycled[a / 8] || !_recycled[b / 8]) return false;
        return a != b || peek(_recycled[a / 8]->next) != nullptr;
    }
    // GCOVR_EXCL_START: called only when poisoning()
    [[gnu::noinline, gnu::cold]] void* allocPoisoning(std::size_t size) { return allocBody<true>(size); }
    [[gnu::noinline, gnu::cold]] void freePoisoning(void* p, std::size_t size) { freeBody<true>(p, size); }
    // GCOVR_EXCL_STOP

    void addblock(std::size_t size);
    void* carve(std::size_t rounded);
    // carve()'s walk, out of line so that carve()'s common case saves no registers.
    // Not exported: the library alone calls it.
    [[gnu::visibility("hidden"), gnu::noinline]] void* firstFit(std::size_t rounded);
    /// An element of `rounded` bytes at `p`, carved from a free segment, leaves the pool.
    void* carved(void* p, std::size_t rounded, bool asan) {
        _fmem -= rounded;
        _umem += rounded;
        handOut(p, rounded, asan);
        return p;
    }
    void freeLarge(void* p, std::size_t rounded);
    [[gnu::visibility("hidden")]] void* startBump(Segment** link, Segment* s, std::size_t size,
                                                  std::size_t r);
    [[gnu::visibility("hidden")]] bool keeps(std::size_t size, std::size_t r) const;
    [[gnu::visibility("hidden")]] void settleBump();
    /// The free segments in address order, the bump region in its place: f(at, size,
    /// link) for each, with the link that leads to it (the region's is bumpLink()), until
    /// f returns false. Writes nothing. Returns the link that ends the list, or null
    /// when f stopped the walk.
    template <class F>
    Segment* const* eachFree(F&& f) const;
    void rewindFits(Segment** link, const void* changed);
    static Segment* segmentAt(Segment** link);
    /// A hint for `link`: null stands for the head of the free list, so that a hint is
    /// always null or the link field of a segment.
    Segment** hintAt(Segment** link) { return link == &_free ? nullptr : link; }
    void setFit(std::size_t k, Segment** link) {
        Segment** const hint = hintAt(link);
        _fit[k] = hint;
        if (k < sizeClasses) _fitsInUse |= static_cast<unsigned long long>(hint != nullptr) << k;
        const auto at = reinterpret_cast<std::uintptr_t>(hint);
        if (at > _fitsBelow) _fitsBelow = at;
    }
    void leaveCarved(const Segment* s, Segment** link);
    [[gnu::visibility("hidden")]] Segment** below(const void* p);
    [[gnu::visibility("hidden")]] void forgetBarren();
    [[gnu::visibility("hidden")]] void changed(const Segment* s, const Segment* next);
    /// A split left `rest`, of `size` bytes, followed by `next`: it may now fit its size.
    void splitLeft(const Segment* rest, std::size_t size, const Segment* next) {
        if (size >= smallLimit || reinterpret_cast<std::uintptr_t>(rest) < _barren[size / 8]) return;
        _barren[size / 8] = next ? reinterpret_cast<std::uintptr_t>(next) : UINTPTR_MAX;
        if (!next) _barrenInUse &= ~(1ULL << size / 8);
    }
    /// A link of the free list, `_free` or the next field of a segment: its target, and
    /// setting it. Only the segment's field is a record, opened around the access.
    /// Without a checker to tell, the head reads and writes as a segment's field does.
    Segment* follow(Segment* const* link, bool asan = poisoning()) const {
#ifndef TOVLIB_MEMCHECK
        if (!asan) return *link;  // GCOVR_EXCL_BR_LINE: asan only with a checker (see poisoning())
#endif
        // GCOVR_EXCL_START: with a checker only (see poisoning())
        if (link == &_free) return _free;
        return peek(*link, asan);
        // GCOVR_EXCL_STOP
    }
    void relink(Segment** link, Segment* target, bool asan = poisoning()) {
#ifndef TOVLIB_MEMCHECK
        if (!asan) {  // GCOVR_EXCL_BR_LINE: asan only with a checker (see poisoning())
            *link = target;
            return;
        }
#endif
        // GCOVR_EXCL_START: with a checker only (see poisoning())
        if (link == &_free) {
            _free = target;
            return;
        }
        poke(*link, target, asan);
        // GCOVR_EXCL_STOP
    }
    bool inBlocks(const void* p, std::size_t n) const;

    // _umem apart from _fmem: a carve moves bytes from one to the other, and side by
    // side the compiler pairs the two updates into vector instructions that cost more.
    std::size_t _umem = 0;
    Element* _recycled[sizeClasses] = {};
    std::size_t _amem = 0;
    /// Bytes in the segments of the free list.
    std::size_t _fmem = 0;
    Block* _blocks = nullptr;
    Segment* _free = nullptr;
    tovPool* _next = nullptr;
    int _num = 0;
    bool _releaseFlag = true;
    /// Where first fit may start, per recycled class and (last) for every larger
    /// request: no free segment ahead of that link fits. Null: start at the head. It
    /// spares the walk the small leftovers that pile up at the ends of full blocks,
    /// without changing which segment first fit takes.
    Segment** _fit[sizeClasses + 1] = {};
    /// The recycled classes whose hint is set (bit i for class i), so that a change of
    /// the free list looks at those hints only.
    unsigned long long _fitsInUse = 0;
    /// No hint points into a segment above this address (the head does not count): a
    /// carve below it leaves every hint where it is.
    std::uintptr_t _fitsBelow = 0;
    /// Per recycled class: no free segment at this address or above fits the class (the
    /// largest address: nothing known). A walk that finds no fit learns it, and a block
    /// added below such segments (arenas at falling addresses) moves it behind the block:
    /// a walk stops there instead of passing, once a block is full, every leftover of
    /// the blocks above. Changes that may make a segment fit move it behind that segment.
    std::uintptr_t _barren[sizeClasses];
    /// The classes whose bound may be set (bit i for class i); the others' is the largest.
    unsigned long long _barrenInUse = 0;
    /// The last free segment (the highest address) in the list, or null: a new block,
    /// usually above every segment, is appended there without a walk.
    Segment* _freeTail = nullptr;
    /// The bump region: a free segment that small carves cut from the front without
    /// writing its header each time (alloc()). It is out of the list, in front of what
    /// its link leads to; this is that link as a first-fit hint (null: the head), so
    /// that the classes whose hint it is have the region as their first candidate, or
    /// &_free, which no hint ever is, when there is no region. The region runs from
    /// _bumpAt to _bumpEnd (equal without a region), holds at least a segment header,
    /// counts in fmem() but not in _fmem, and no hint lies behind it. Its header is
    /// written, and it goes back into the list, before anything else walks or changes
    /// the list (settle()). While it lasts, no search bound is set or cleared: that
    /// takes a walk or a new segment.
    Segment** _bumpHint = &_free;
    char* _bumpAt = nullptr;
    char* _bumpEnd = nullptr;
    /// alloc() cuts from it while what the region keeps starts at or below this: a
    /// header's room before its end, or smallLimit bytes (too many to fit a class
    /// exactly) when some class's search bound is set.
    std::uintptr_t _bumpLimit = 0;
    /// The heap allocations that the blocks are cut from, newest first; where the next
    /// block can be cut from the newest, and how many bytes are left there; the size of
    /// the next arena (0: the first).
    Arena* _arenas = nullptr;
    char* _arenaNext = nullptr;
    std::size_t _arenaRoom = 0;
    std::size_t _arenaGrow = 0;

    static tovPool* _pools;
    static tovPool* _mainPool;
};

#endif
