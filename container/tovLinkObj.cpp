// tovLinkObj: node allocation in the element's pool and the release on delete.
#include "container/tovLinkObj.h"

#include <cstring>
#include <new>

#include "pool/tovPool.h"

void* tovLinkObj::operator new(std::size_t size, tovPool* pool) {
    return pool ? pool->alloc(size) : ::operator new(size);
}

// A node has no destructor of its own; the release happens here, after the (trivial)
// end of the node's lifetime, from the fields it still holds.
void tovLinkObj::operator delete(void* p, std::size_t size) {
    tovObject* obj;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    std::memcpy(&obj, static_cast<char*>(p) + offsetof(tovLinkObj, _obj), sizeof obj);
#pragma GCC diagnostic pop
    tovPool* const pool = obj->getPool();
    if (pool) {
        obj->down();
        pool->free(p, size);
    } else {
        ::operator delete(p);
    }
}

// Pairs with the pool-taking operator new for a node whose construction did not
// complete: such a node holds no reference, so only the storage goes back. The
// constructor cannot throw, so no new-expression ever calls it.
// GCOVR_EXCL_START
void tovLinkObj::operator delete(void* p, tovPool* pool) {
    if (pool)
        pool->free(p, sizeof(tovLinkObj));
    else
        ::operator delete(p);
}
// GCOVR_EXCL_STOP

bool tovLinkObj::isA(const char* name) const { return name == tovLinkObjClass; }

const char* tovLinkObj::className() const { return tovLinkObjClass; }
