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
    std::memcpy(&obj, static_cast<char*>(p) + offsetof(tovLinkObj, _obj),
                sizeof obj);  // NOLINT(bugprone-sizeof-expression): the pointer itself
#pragma GCC diagnostic pop
    tovPool* const pool = obj->getPool();
    if (pool) {
        obj->down();
        pool->free(p, size);
    } else {
        ::operator delete(p);
    }
}

// Only reached when a node's construction did not complete, and the constructor
// cannot fail once it has taken its reference: the node holds none, so only the
// storage goes back.
void tovLinkObj::operator delete(void* p, tovPool* pool) {
    if (pool)
        pool->free(p, sizeof(tovLinkObj));
    else
        ::operator delete(p);
}

bool tovLinkObj::isA(const char* name) const { return name == tovLinkObjClass; }

const char* tovLinkObj::className() const { return tovLinkObjClass; }
