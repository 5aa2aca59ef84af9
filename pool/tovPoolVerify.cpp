// tovPool::verify: the consistency check that tests and fuzzers run after each step.
#include <cstdint>

#include "pool/tovPool.h"
#include "pool/tovPoolRecords.h"

namespace {

constexpr std::size_t headerSize = sizeof(tovPool*) + sizeof(std::size_t);  // a free segment

inline std::uintptr_t addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

}  // namespace

// Whether the n bytes at p lie in the pool's blocks. A free segment may run on into a
// block that happens to follow its own in memory, since neighbours merge by address.
bool tovPool::inBlocks(const void* p, std::size_t n) const {
    if (n > _amem) return false;  // also keeps p + n from wrapping
    std::uintptr_t at = addr(p);
    const std::uintptr_t end = at + n;
    while (at < end) {
        const Block* b = _blocks;
        while (b && !(addr(b->addr) <= at && at < addr(b->addr) + b->size)) b = b->next;
        if (!b) return false;
        at = addr(b->addr) + b->size;  // a following block must start exactly there
    }
    return true;
}

// Every condition is evaluated, not short-circuited; a walk stops early only where
// going on would follow a link that cannot be trusted.
bool tovPool::verify() const {
    std::size_t blockBytes = 0;
    for (const Block* b = _blocks; b; b = b->next) blockBytes += b->size;
    const std::size_t freeTotal = fmem();
    bool ok = (blockBytes == _amem) & (freeTotal <= _amem) & (_umem <= _amem - freeTotal);

    // Free segments, the bump region among them: strictly ascending and apart (touching
    // ones would have merged), which also ends the walk of a list that loops.
    std::size_t freeBytes = 0;
    std::uintptr_t end = 0;
    const void* last = nullptr;  // the last segment in the list, the region apart
    bool bumpSeen = false;
    const bool walked =
        nullptr != eachFree([&](const void* s, std::size_t size, Segment* const* link) {
            if (addr(s) <= end || !inBlocks(s, size)) return false;
            ok &= (size >= headerSize) & (size % 8 == 0);
            for (std::size_t k = 1; k < sizeClasses; ++k)  // a segment behind a class's bound fits it not
                ok &= (addr(s) < _barren[k]) | ((size != 8 * k) & (size < 8 * k + headerSize));
            freeBytes += size;
            end = addr(s) + size;
            if (link == bumpLink() && s == _bumpAt && !bumpSeen)
                bumpSeen = true;
            else
                last = s;
            return true;
        });
    if (!walked) return false;
    ok &= (freeBytes == freeTotal) & (last == _freeTail) & (bumpSeen == (_bumpHint != &_free));
    ok &= !bumping() || _bumpLimit + (_barrenInUse ? smallLimit : headerSize) <= addr(_bumpEnd);

    for (std::size_t k = 0; k < sizeClasses; ++k)
        ok &= (_barren[k] == UINTPTR_MAX) | (((_barrenInUse >> k) & 1) != 0);

    // First-fit hints: each one is a link of the free list (or its head), no segment
    // ahead of it fits its class, and the classes with a hint are marked in use. The
    // bump region lies in front of what its link leads to: a hint at that link starts
    // at the region, and no hint lies behind it.
    for (std::size_t k = 0; k <= sizeClasses; ++k) {
        Segment* const* const hint = _fit[k];
        if (k < sizeClasses) ok &= (hint == nullptr) | (((_fitsInUse >> k) & 1) != 0);
        if (!hint) continue;
        const std::size_t r = k < sizeClasses ? 8 * k : smallLimit;
        Segment* const* const rest = eachFree([&](const void* s, std::size_t size, Segment* const* link) {
            if (link == hint) return false;
            ok &= !(link == bumpLink() && s == _bumpAt);
            const bool fitsSmall = (size == r) | ((size > r) & (size - r >= headerSize));
            ok &= !(k == sizeClasses ? size >= smallLimit : fitsSmall);
            return true;
        });
        ok &= (rest == nullptr || rest == hint) & (addr(hint) <= _fitsBelow);
    }

    // Recycled elements: class i holds elements of 8 x i bytes; class 0 stays empty.
    std::size_t recycledBytes = 0;
    ok &= _recycled[0] == nullptr;
    for (std::size_t i = 1; i < sizeClasses; ++i) {
        std::size_t n = 0;
        for (const Element* e = _recycled[i]; e; e = peek(e->next)) {
            // More elements than the blocks have room for: the list loops.
            if (++n > _amem / (8 * i) || !inBlocks(e, 8 * i)) return false;
            recycledBytes += 8 * i;
        }
    }
    return ok & (recycledBytes == rmem());
}
