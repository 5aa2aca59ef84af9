/// \file
/// tovLinkObj: the node through which every container holds one counted element.
#ifndef TOVLIB_TOVLINKOBJ_H
#define TOVLIB_TOVLINKOBJ_H

#include <cstddef>

#include "lib/tovExport.h"
#include "object/tovObject.h"

/// A link node: one element of a container and the link to the following node.
///
/// Making a node takes one counted reference on its element (up()); deleting it with
/// `delete` gives the reference back (down()), which destroys the element when that
/// was its last one. A node lives in its element's pool, whatever the container's
/// pool is, and on the heap for an element without a pool. Containers create nodes as
/// `new (o.getPool()) tovLinkObj(o)`. Final: nodes are deleted through plain pointers,
/// and the class has no virtual destructor.
class TOV_API tovLinkObj final {
public:
    /// A node for `o`, taking one reference on it.
    explicit tovLinkObj(tovObject& o) : _obj(&o) { o.up(); }
    /// Not copyable: a node stands for exactly one counted reference.
    tovLinkObj(const tovLinkObj&) = delete;
    /// Not assignable, for the same reason.
    tovLinkObj& operator=(const tovLinkObj&) = delete;

    /// The element.
    tovObject& getObj() const { return *_obj; }

    /// Storage from `pool`, or from the heap when `pool` is null (no main-pool
    /// fallback: a node follows its element). Throws std::bad_alloc.
    static void* operator new(std::size_t size, tovPool* pool);
    /// Gives back the node's reference on its element, then the node's storage to the
    /// element's pool (read before the release, which may destroy the element).
    static void operator delete(void* p, std::size_t size);
    /// Undoes `new (pool) tovLinkObj(o)` whose node was never built.
    static void operator delete(void* p, tovPool* pool);

    /// True only for tovLinkObjClass.
    virtual bool isA(const char* name) const;
    /// tovLinkObjClass.
    virtual const char* className() const;

    /// The following node; null for the last. Containers link and unlink through it.
    tovLinkObj* _next = nullptr;

private:
    tovObject* const _obj;
};

#endif
