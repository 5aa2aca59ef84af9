/// \file
/// tovPoolResource: a std::pmr::memory_resource that carves from a tovPool.
#ifndef TOVLIB_TOVPOOLRESOURCE_H
#define TOVLIB_TOVPOOLRESOURCE_H

#include <cstddef>
#include <memory_resource>

#include "lib/tovExport.h"
#include "pool/tovPool.h"

/// Standard containers in a pool.
///
/// A tovPoolResource hands the memory of a pool to anything that takes a
/// `std::pmr::memory_resource`: `std::pmr::vector`, `std::pmr::string`,
/// `std::pmr::unordered_map` and the rest. A phase's containers and its tovlib objects
/// can then share one pool and be dropped together by one `release()`, which runs no
/// destructor: abandon the containers (never destroy them after the release) as you
/// abandon pooled objects.
///
/// Each allocation is one element of the pool, with the pool's rounding and counters:
/// a deallocation gives the element back with the size it was carved with, so small
/// elements are recycled for the next request of their size and the counters stay
/// exact. Alignments up to 8 cost nothing extra. A larger one (a power of two, as the
/// standard requires) is honoured exactly: the element is carved `alignment` bytes
/// larger and the address handed out lies inside it, aligned as asked, with the
/// distance back to the element's start kept in the word in front of it.
///
/// A request of 0 bytes gets an element of its own (8 bytes). A request the heap
/// cannot supply, or too large to round, throws std::bad_alloc and leaves the pool as
/// it was.
///
/// The resource notices when its pool is released or destroyed: the memory of
/// everything carved before went back to the heap then, so from that moment until the
/// resource's next allocation its deallocations do nothing. A container over the pool
/// may therefore still go out of scope after the release, as long as destroying it
/// reads none of its memory (a vector or string of plain values) and nothing was
/// allocated through a resource over the pool since; the pool is never handed memory
/// it no longer owns that way. Allocating needs the pool: a resource whose pool was
/// destroyed may still be destroyed itself, and asked to deallocate, but not to
/// allocate.
///
/// Resources over the same pool compare equal: memory taken through one may be given
/// back through another. Like the pool, a resource is not thread-safe.
class TOV_API tovPoolResource : public std::pmr::memory_resource {
public:
    /// A resource that carves from `pool`; nothing is taken from the pool yet.
    explicit tovPoolResource(tovPool& pool);
    /// Not copyable: each resource watches its pool's releases on its own.
    tovPoolResource(const tovPoolResource&) = delete;
    /// Not assignable, for the same reason.
    tovPoolResource& operator=(const tovPoolResource&) = delete;
    /// Leaves the pool and everything carved from it as it is.
    ~tovPoolResource() override;

    /// The pool the resource carves from.
    tovPool& pool() const { return *_pool; }

protected:
    /// An element of at least `bytes` bytes, aligned to `alignment` (a power of two).
    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    /// Gives `p` back to the pool with the size it was carved with; nothing after the
    /// pool's release until the next allocation.
    void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override;
    /// True for a tovPoolResource over the same pool.
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override;

private:
    class Watch;

    // Not exported: the library alone calls them.
    [[gnu::visibility("hidden"), gnu::noinline]] void* allocateOther(std::size_t bytes,
                                                                     std::size_t alignment);
    [[gnu::visibility("hidden")]] void watch();

    tovPool* const _pool;
    /// Registered with the pool, which deletes it when it releases: null from the
    /// pool's release until the resource's next allocation.
    Watch* _watch = nullptr;
};

#endif
