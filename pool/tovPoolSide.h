// Internal: structures the library keeps beside a pool for objects carved from it.
#ifndef TOVLIB_TOVPOOLSIDE_H
#define TOVLIB_TOVPOOLSIDE_H

class tovPool;

/// Memory kept beside a pool on behalf of an object carved from it (an index that
/// speeds the object up), outside the pool's blocks and counters. Releasing or
/// destroying the pool ends its objects without their destructors, so the pool deletes
/// its side structures then; an owner that ends normally deletes its own. A side
/// structure must never be needed for a correct answer: it can be deleted at any time
/// and made again from what its owner holds.
class tovPoolSide {
public:
    /// Registers the structure with `pool` (null: deleted only by its owner).
    explicit tovPoolSide(const tovPool* pool);
    tovPoolSide(const tovPoolSide&) = delete;
    tovPoolSide& operator=(const tovPoolSide&) = delete;
    /// Leaves the registry.
    virtual ~tovPoolSide();

    /// Deletes every side structure registered with `pool`.
    static void releaseOf(const tovPool* pool);

private:
    const tovPool* const _pool;
    tovPoolSide* _next;
    tovPoolSide* _prev = nullptr;
    static tovPoolSide* _all;
};

#endif
