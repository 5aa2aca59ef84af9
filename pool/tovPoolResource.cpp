// tovPoolResource: standard containers' memory carved from a pool.
#include "pool/tovPoolResource.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "pool/tovPoolSide.h"

namespace {

// Every element a pool hands out is aligned to this.
constexpr std::size_t poolAlignment = 8;

}  // namespace

// Kept beside the pool, which deletes it when it releases its blocks: that tells the
// resource that everything carved so far is gone. Not exported: the library alone uses it.
class [[gnu::visibility("hidden")]] tovPoolResource::Watch final : public tovPoolSide {
public:
    explicit Watch(tovPoolResource & owner) : tovPoolSide(owner._pool), _owner(owner) {}
    ~Watch() override { _owner._watch = nullptr; }

private:
    tovPoolResource& _owner;
};

tovPoolResource::tovPoolResource(tovPool& pool) : _pool(&pool) { watch(); }

tovPoolResource::~tovPoolResource() { delete _watch; }

void tovPoolResource::watch() { _watch = new Watch(*this); }

// The usual case alone, so that it is the pool's inline path with nothing to save
// around it: the rest is out of line.
void* tovPoolResource::do_allocate(std::size_t bytes, std::size_t alignment) {
    if (alignment <= poolAlignment && _watch) return _pool->alloc(bytes);
    return allocateOther(bytes, alignment);
}

// The first allocation since the pool's release, or a larger alignment. Then the
// element is `alignment` bytes larger than asked. Its start is 8-aligned, so the first
// address past it that is aligned as asked lies 8 to `alignment` bytes in: the bytes
// asked for fit behind it, and the distance back fits in front of it.
void* tovPoolResource::allocateOther(std::size_t bytes, std::size_t alignment) {
    if (!_watch) watch();
    if (alignment <= poolAlignment) return _pool->alloc(bytes);
    if (bytes > static_cast<std::size_t>(-1) - alignment) throw std::bad_alloc();
    char* const start = static_cast<char*>(_pool->alloc(bytes + alignment));
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    const std::size_t offset = ((at + alignment) & ~(alignment - 1)) - at;
    char* const p = start + offset;
    std::memcpy(p - sizeof offset, &offset, sizeof offset);
    return p;
}

void tovPoolResource::do_deallocate(void* p, std::size_t bytes, std::size_t alignment) {
    // Released since the last allocation: the element went back to the heap with its
    // block.
    if (!_watch) return;
    if (alignment <= poolAlignment) return _pool->free(p, bytes);
    std::size_t offset;
    std::memcpy(&offset, static_cast<char*>(p) - sizeof offset, sizeof offset);
    _pool->free(static_cast<char*>(p) - offset, bytes + alignment);
}

bool tovPoolResource::do_is_equal(const std::pmr::memory_resource& other) const noexcept {
    const auto* resource = dynamic_cast<const tovPoolResource*>(&other);
    return resource && resource->_pool == _pool;
}
