// Internal: the records a pool keeps in its blocks and beside them.
#ifndef TOVLIB_TOVPOOLRECORDS_H
#define TOVLIB_TOVPOOLRECORDS_H

#include <cstddef>

#include "pool/tovPool.h"

// A block record is a small heap allocation of its own, so that a block can be handed
// out whole to a request of exactly its size.
struct tovPool::Block {
    Block* next;
    void* addr;
    std::size_t size;
};

// A free segment's header lies in the free memory itself.
struct tovPool::Segment {
    Segment* next;
    std::size_t size;
};

#endif
