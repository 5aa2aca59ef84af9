// tovPool::verify: the consistency check that tests and fuzzers run after each step.
#include <cstdint>

#include "pool/tovPool.h"
#include "pool/tovPoolRecords.h"

namespace {

constexpr std::size_t headerSize = sizeof(tovPool*) + sizeof(std::size_t);  // a free segment

inline std::uintptr_t addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

}  // namespace

// Whether the n bytes at p lie in the pool's blocks, 8-aligned from the start of the
// block they begin in. A free segment may run on into a block that happens to follow
// its own in memory, since neighbours merge by address.
bool tovPool::inBlocks(const void* p, std::size_t n) const {
    std::uintptr_t at = addr(p);
    const std::uintptr_t end = at + n;
    if (end < at) return false;
    bool first = true;
    while (at < end) {
        const Block* b = _blocks;
        while (b && !(addr(b->addr) <= at && at < addr(b->addr) + b->size)) b = b->next;
        if (!b || (first && (at - addr(b->addr)) % 8 != 0)) return false;
        first = false;
        at = addr(b->addr) + b->size;  // a following block must start exactly there
    }
    return true;
}

bool tovPool::verify() const {
    // Blocks: their sizes make amem. No more blocks than amem has multiples of 8000
    // bytes, which also stops a cycle.
    std::size_t blockBytes = 0;
    std::size_t blocks = 0;
    for (const Block* b = _blocks; b; b = b->next) {
        if (++blocks > _amem / 8 + 1 || !b->addr || b->size == 0 || b->size % 8 != 0) return false;
        blockBytes += b->size;
    }
    if (blockBytes != _amem || _fmem > _amem || _umem > _amem - _fmem) return false;

    // Free segments: ascending, apart (touching ones would have merged), in blocks.
    std::size_t freeBytes = 0;
    std::uintptr_t end = 0;
    for (const Segment* s = _free; s; s = s->next) {
        if (s->size < headerSize || s->size % 8 != 0 || s->size > _amem) return false;
        if (end != 0 && addr(s) <= end) return false;
        if (!inBlocks(s, s->size)) return false;
        freeBytes += s->size;
        end = addr(s) + s->size;
    }
    if (freeBytes != _fmem) return false;

    // Recycled elements: class i holds elements of 8 x i bytes; class 0 stays empty.
    if (_recycled[0]) return false;
    std::size_t recycledBytes = 0;
    for (std::size_t i = 1; i < sizeClasses; ++i) {
        std::size_t n = 0;
        for (const Element* e = _recycled[i]; e; e = e->next) {
            if (++n > _amem / (8 * i) || !inBlocks(e, 8 * i)) return false;
            recycledBytes += 8 * i;
        }
    }
    if (recycledBytes != rmem()) return false;

    // First-fit hints: each is the list head or the link of a listed segment, and no
    // segment ahead of it fits the hint's class (for large requests: none ahead is as
    // large as the smallest of them). The segment at the hint may fit.
    for (std::size_t k = 0; k <= sizeClasses; ++k) {
        Segment* const* const hint = _fit[k];
        if (!hint || hint == &_free) continue;
        const std::size_t r = 8 * k;
        const Segment* s = _free;
        for (; s && &s->next != hint; s = s->next) {
            const bool fits = k == sizeClasses ? s->size >= smallLimit
                                               : s->size == r || (s->size > r && s->size - r >= headerSize);
            if (fits) return false;
        }
        if (!s) return false;
    }
    return true;
}
