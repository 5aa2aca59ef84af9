// tovPool: blocks, recycled elements, first-fit free segments with merging.
#include "pool/tovPool.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

#include "object/tovClassNames.h"
#include "pool/tovPoolCache.h"
#include "pool/tovPoolRecords.h"
#include "pool/tovPoolSide.h"

namespace {

constexpr std::size_t smallestBlock = 8000;
// Arenas double from one smallest block up to this size: a million small elements take
// a dozen heap calls (and as many to give back), a small pool one block's worth. The
// part of the newest arena not yet cut into blocks is not touched until it is.
constexpr std::size_t largestArena = std::size_t{1} << 26;
// The smallest free segment: one that can hold its own header. With 8-byte rounding
// on a 64-bit target this is 16, so a split never leaves an 8-byte remainder.
constexpr std::size_t headerSize = sizeof(void*) + sizeof(std::size_t);  // a Segment

inline std::uintptr_t addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

}  // namespace

// The segment whose link field `link` is.
tovPool::Segment* tovPool::segmentAt(Segment** link) {
    return reinterpret_cast<Segment*>(reinterpret_cast<char*>(link) - offsetof(Segment, next));
}

tovPool::tovPool() : _next(_pools), _num(_pools ? _pools->_num + 1 : 0) {
    forgetBarren();
    _pools = this;
    track();
}

tovPool::~tovPool() {
    release();
    untrack();
    for (tovPool** link = &_pools; *link; link = &(*link)->_next) {
        if (*link == this) {
            *link = _next;
            break;
        }
    }
    if (_mainPool == this) _mainPool = nullptr;
}

void tovPool::establish(std::size_t size) { addblock(size); }

bool tovPool::releaseFlag() { return _releaseFlag; }

void tovPool::setReleaseFlag(bool flag) { _releaseFlag = flag; }

void tovPool::release() {
    // The objects carved from the pool end here without their destructors: what the
    // library keeps beside them goes first.
    tovPoolSide::releaseOf(this);
    // Every element ends here; the checker forgets them before their blocks go.
    untrack();
    track();
    // Whole arenas, with the blocks in them, go to the cache or back to the heap.
    if (_arenas) tovPoolCache::keepAll(_arenas);
    _arenas = nullptr;
    _blocks = nullptr;
    _arenaNext = nullptr;
    _arenaRoom = _arenaGrow = 0;
    for (Element*& head : _recycled) head = nullptr;
    for (Segment**& hint : _fit) hint = nullptr;
    _bumpHint = &_free;
    _bumpAt = _bumpEnd = nullptr;
    _fitsInUse = 0;
    _fitsBelow = 0;
    forgetBarren();
    _free = _freeTail = nullptr;
    _amem = _fmem = _umem = 0;
}

bool tovPool::isA(const char* name) const { return name == tovPoolClass; }

const char* tovPool::className() const { return tovPoolClass; }

// No recycled element of the class: first fit over the free segments, adding blocks
// until one fits. A segment is taken whole when it is exactly the request, and split
// only when the remainder can still hold a segment header.
void* tovPool::carve(std::size_t r) {
    // The common cases first, without the walk, for small requests.
    if (r - 1 < smallLimit - 1 && !poisoning()) {
        // The bump region is the class's first candidate, and alloc() found it too
        // small to keep what it must (see _bumpLimit). If it fits, the walk would carve
        // it and set this class's hint to the link it already is; no hint lies behind
        // it, so none moves. The remainder's class must have no search bound to move.
        if (_fit[r / 8] == _bumpHint) {
            const std::size_t room = bumpRoom();
            if (room == r || keeps(room, r)) {
                if (room == r) _bumpHint = &_free;
                return cut(r);
            }
        }
        settle();
        // The segment at the class's hint (or the head) splits, and no hint lies behind
        // it: a segment that keeps smallLimit bytes fits every class, so no hint passed
        // it; otherwise it lies above every hint. The walk would split it, leave every
        // hint and every bound (the remainder's class has none), and set this class's
        // hint to the link it already is. (Setting it again changes nothing: a hint is
        // marked in use and lies at or below _fitsBelow, which verify() checks.) A
        // remainder of smallLimit bytes or more becomes the bump region, for alloc() to
        // cut from; a smaller one is a free segment as the walk leaves it.
        Segment** const link = _fit[r / 8] ? _fit[r / 8] : &_free;
        if (Segment* const s = follow(link, false)) {
            const std::size_t size = peek(s->size, false);
            if (size >= r + smallLimit) return startBump(link, s, size, r);
            if (addr(s) > _fitsBelow && keeps(size, r)) {
                split(link, s, size, r, false);
                return carved(s, r, false);
            }
        }
    }
    settle();
    return firstFit(r);
}

// Whether a segment of `size` bytes can give `r` from its front and keep the rest as a
// free segment without a walk: the rest holds a header, and fits no class exactly
// whose search bound is set (which would have to move behind it).
bool tovPool::keeps(std::size_t size, std::size_t r) const {
    return size >= r + headerSize && (size - r >= smallLimit || !((_barrenInUse >> ((size - r) / 8)) & 1));
}

// The segment `s`, of `size` bytes at `link`, leaves the list: its first `r` bytes are
// carved, the rest is the bump region, in front of what `link` now leads to. Without
// a checker to tell (carve() asks).
void* tovPool::startBump(Segment** link, Segment* s, std::size_t size, std::size_t r) {
    relink(link, peek(s->next, false), false);
    if (s == _freeTail) _freeTail = link == &_free ? nullptr : segmentAt(link);
    _fmem -= size;
    _bumpHint = hintAt(link);
    _bumpAt = reinterpret_cast<char*>(s);
    _bumpEnd = _bumpAt + size;
    _bumpLimit = addr(_bumpEnd) - (_barrenInUse ? smallLimit : headerSize);
    return cut(r);
}

// The bump region becomes an ordinary free segment again, where it lies.
void tovPool::settleBump() {
    Segment** const link = _bumpHint ? _bumpHint : &_free;
    auto* const rest = reinterpret_cast<Segment*>(_bumpAt);
    Segment* const next = follow(link);
    poke(rest->next, next);
    poke(rest->size, bumpRoom());
    relink(link, rest);
    if (!next) _freeTail = rest;
    _fmem += bumpRoom();
    _bumpHint = &_free;
    _bumpAt = _bumpEnd = nullptr;
}

void* tovPool::firstFit(std::size_t r) {
    if (r == 0) throw std::bad_alloc();
    if (!_blocks) establish(r);
    // Whether to tell the sanitizer is asked once; the records below are opened with
    // that answer. Each segment's size is read once.
    const bool asan = poisoning();
    const std::size_t k = r < smallLimit ? r / 8 : sizeClasses;
    for (;;) {
        Segment** link = _fit[k] ? _fit[k] : &_free;
        // For large requests the hint is the first segment of at least smallLimit
        // bytes met: nothing smaller can ever fit them.
        Segment** firstLarge = nullptr;
        const std::uintptr_t barren = k < sizeClasses ? _barren[k] : UINTPTR_MAX;
        Segment* const first = follow(link, asan);
        for (Segment* s = first; s && addr(s) < barren; s = follow(link, asan)) {
            const std::size_t size = peek(s->size, asan);
            if (k == sizeClasses && !firstLarge && size >= smallLimit) firstLarge = link;
            if (size == r) {
                Segment* const next = peek(s->next, asan);
                relink(link, next, asan);
                if (!next) _freeTail = link == &_free ? nullptr : segmentAt(link);
            } else if (size > r && size - r >= headerSize) {
                Segment* const next = split(link, s, size, r, asan);
                auto* rest = reinterpret_cast<Segment*>(reinterpret_cast<char*>(s) + r);
                // The remainder fits its own size exactly, which the whole segment may
                // not have: that class's hint must not have passed it.
                const std::size_t c = (size - r) / 8;
                if (size - r < smallLimit && addr(_fit[c]) >= addr(s)) _fit[c] = hintAt(link);
                splitLeft(rest, size - r, next);
            } else {
                link = &s->next;
                continue;
            }
            setFit(k, k == sizeClasses ? firstLarge : link);
            if (addr(s) <= _fitsBelow) leaveCarved(s, link);
            return carved(s, r, asan);
        }
        setFit(k, k == sizeClasses && firstLarge ? firstLarge : link);
        // Nothing from the first segment looked at on fits.
        if (k < sizeClasses && first && addr(first) < barren) {
            _barren[k] = addr(first);
            _barrenInUse |= 1ULL << k;
        }
        addblock(r);
    }
}

// Carving shrinks or removes a segment; a fit it makes (a remainder of exactly one
// class's size) is seen to where it is made. The other hints stay valid, but for those
// that pointed into the carved segment `s`, which now start at `link`, its place. The
// bound is made exact again on the way.
void tovPool::leaveCarved(const Segment* s, Segment** link) {
    _fitsBelow = 0;
    auto leave = [&](Segment**& hint) {
        if (hint == &s->next) hint = hintAt(link);
        if (addr(hint) > _fitsBelow) _fitsBelow = addr(hint);
    };
    for (unsigned long long used = _fitsInUse; used; used &= used - 1)
        leave(_fit[static_cast<std::size_t>(__builtin_ctzll(used))]);
    leave(_fit[sizeClasses]);
}

// The segment at `changed` was inserted, grown, shrunk or removed, and `link` points
// at its place: a hint at or behind that place may now skip a segment that fits, so
// it starts again from `link`, ahead of which nothing changed.
void tovPool::rewindFits(Segment** link, const void* changed) {
    auto rewind = [&](Segment**& hint) {
        if (addr(hint) >= addr(changed)) hint = hintAt(link);
    };
    for (unsigned long long used = _fitsInUse; used; used &= used - 1)
        rewind(_fit[static_cast<std::size_t>(__builtin_ctzll(used))]);
    rewind(_fit[sizeClasses]);
}

// The highest link among the first-fit hints and the head whose segment lies below `p`.
// A hint is the next field of a segment of the free list, so the list can be followed
// from there.
tovPool::Segment** tovPool::below(const void* p) {
    Segment** best = nullptr;
    auto consider = [&](Segment** hint) {
        if (hint && addr(hint) < addr(p) && addr(hint) > addr(best)) best = hint;
    };
    for (unsigned long long used = _fitsInUse; used; used &= used - 1)
        consider(_fit[static_cast<std::size_t>(__builtin_ctzll(used))]);
    consider(_fit[sizeClasses]);
    return best ? best : &_free;
}

void tovPool::addblock(std::size_t size) {
    settle();
    const std::size_t r = rounded(size);
    std::size_t b = r < smallestBlock ? smallestBlock : r;
    // A block the request could neither take whole nor split would be added again and
    // again; make it exactly the request instead.
    if (b - r != 0 && b - r < headerSize) b = r;

    // The block and its record come from the newest arena, or from a new one: from the
    // cache of released arenas, which cannot fail, else from the heap. Either comes
    // before any change, so a failure leaves the pool as it was.
    if (b > static_cast<std::size_t>(-1) - sizeof(Block)) throw std::bad_alloc();
    const std::size_t need = b + sizeof(Block);
    if (need > _arenaRoom) {
        if (need > static_cast<std::size_t>(-1) - sizeof(Arena)) throw std::bad_alloc();
        const std::size_t grow = _arenaGrow ? _arenaGrow : sizeof(Arena) + smallestBlock + sizeof(Block);
        const std::size_t size = sizeof(Arena) + need > grow ? sizeof(Arena) + need : grow;
        Arena* a = tovPoolCache::take(size);
        if (!a) a = new (tovPoolCache::fromHeap(size)) Arena{nullptr, size, 0, nullptr};
        a->total = a->size + (_arenas ? _arenas->total : 0);
        a->next = _arenas;
        _arenas = a;
        _arenaNext = reinterpret_cast<char*>(a + 1);
        _arenaRoom = a->size - sizeof(Arena);
        _arenaGrow = std::min(2 * grow, largestArena);
    }
    char* const mem = _arenaNext;
    _arenaNext = mem + need;
    _arenaRoom -= need;
    auto* record = new (mem + b) Block{_blocks, mem, b};

    hide(mem, b);
    auto* seg = reinterpret_cast<Segment*>(mem);
    poke(seg->size, b);
    // Blocks mostly come at rising addresses: after the last segment. Otherwise (arenas
    // that the heap maps at falling addresses, or that come from the cache) the walk
    // starts at the highest first-fit hint below the block, usually in the block cut
    // before it from the same arena, and not at the head: that would pass the leftovers
    // of every block below, each block of an arena one more.
    Segment** link = _freeTail && addr(_freeTail) < addr(mem) ? &_freeTail->next : below(mem);
    for (Segment* s; (s = follow(link)) != nullptr && addr(s) < addr(mem);) link = &s->next;
    Segment* const next = follow(link);
    poke(seg->next, next);
    relink(link, seg);
    if (!next) _freeTail = seg;
    rewindFits(link, seg);
    changed(seg, next);

    _blocks = record;
    _amem += b;
    _fmem += b;
}

// Inserts p into the address-ordered free list and merges it with the neighbours it
// touches.
void tovPool::freeLarge(void* p, std::size_t r) {
    settle();
    _fmem += r;
    _umem -= r;

    Segment** predLink = nullptr;  // the link that points at pred
    Segment* pred = nullptr;
    Segment* succ = _free;
    while (succ && addr(succ) <= addr(p)) {
        predLink = pred ? &pred->next : &_free;
        pred = succ;
        succ = peek(succ->next);
    }

    // Only segment headers are records; a header that a merge swallows is hidden again.
    takeBack(p, r);
    auto* seg = static_cast<Segment*>(p);
    poke(seg->size, r);
    poke(seg->next, succ);
    Segment* merged = seg;
    if (!pred) {
        _free = seg;
        rewindFits(&_free, seg);
    } else if (addr(pred) + peek(pred->size) == addr(p)) {
        poke(pred->size, peek(pred->size) + r);
        poke(pred->next, succ);
        merged = pred;
        hide(seg, sizeof(Segment));
        rewindFits(predLink, pred);
    } else {
        poke(pred->next, seg);
        rewindFits(&pred->next, seg);
    }
    if (succ && addr(merged) + peek(merged->size) == addr(succ)) {
        poke(merged->size, peek(merged->size) + peek(succ->size));
        poke(merged->next, peek(succ->next));
        hide(succ, sizeof(Segment));
    }
    if (!peek(merged->next)) _freeTail = merged;
    changed(merged, peek(merged->next));
}

void tovPool::forgetBarren() {
    for (std::uintptr_t& b : _barren) b = UINTPTR_MAX;
    _barrenInUse = 0;
}

// The segment `s`, followed by `next`, was made or grew: no bound may lie at or before it.
void tovPool::changed(const Segment* s, const Segment* next) {
    for (unsigned long long used = _barrenInUse; used; used &= used - 1) {
        const auto k = static_cast<std::size_t>(__builtin_ctzll(used));
        if (_barren[k] > addr(s)) continue;
        _barren[k] = next ? addr(next) : UINTPTR_MAX;
        if (!next) _barrenInUse &= ~(1ULL << k);
    }
}

unsigned int tovPool::ablocks() const {
    unsigned int n = 0;
    for (const Block* b = _blocks; b; b = b->next) ++n;
    return n;
}

unsigned int tovPool::fblocks() const {
    unsigned int n = 0;
    eachFree([&](const void*, std::size_t, Segment* const*) { return ++n != 0; });
    return n;
}

unsigned int tovPool::rblocks() const {
    unsigned int n = 0;
    for (const Element* head : _recycled)
        for (const Element* e = head; e; e = peek(e->next)) ++n;
    return n;
}
