// Internal: the records a pool keeps in its blocks and beside them.
#ifndef TOVLIB_TOVPOOLRECORDS_H
#define TOVLIB_TOVPOOLRECORDS_H

#include <cstddef>

#include "pool/tovPool.h"

// A block's record lies right behind the block's bytes: the pool counts and hands out
// the bytes alone, so a block can still go whole to a request of exactly its size, and
// the record keeps blocks that share a heap allocation from touching (free segments
// never merge across blocks). Its size is a multiple of 8, so that the next block cut
// behind it is 8-aligned on 32-bit targets too.
struct alignas(8) tovPool::Block {
    Block* next;
    void* addr;
    std::size_t size;
};

// Blocks are cut, in order, from heap allocations (arenas) that grow geometrically. An
// arena starts with this header; releasing the pool gives its arenas back whole (to the
// cache of released arenas, or to the heap in one call), without visiting their blocks.
struct alignas(8) tovPool::Arena {
    Arena* next;       // the next older arena of the pool, or of the cache's list
    std::size_t size;  // the whole allocation, header included
    // The pool's newest arena only: the sizes of this and every older arena of the pool,
    // and, once the pool handed them to the cache as one chain, the chain handed over
    // before (see tovPoolCache::keepAll()).
    std::size_t total;
    Arena* pending;
};

template <class F>
tovPool::Segment* const* tovPool::eachFree(F&& f) const {
    for (Segment* const* link = &_free;;) {
        if (link == bumpLink() && !f(static_cast<const void*>(_bumpAt), bumpRoom(), link)) return nullptr;
        const Segment* const s = follow(link);
        if (!s) return link;
        if (!f(static_cast<const void*>(s), peek(s->size), link)) return nullptr;
        link = &s->next;
    }
}

#endif
