// The library loaded into a process whose heap refuses the main pool (its own process):
// there is no main pool, and objects made without a pool come from the heap.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include <tovlib.h>

namespace {
// Constant-initialised, so they hold before the library's static initialisation runs.
bool refusePool = true;
bool refused = false;
}  // namespace

// Refuses the first request of a pool's size, which the library makes at load.
void* operator new(std::size_t size) {
    if (refusePool && size == sizeof(tovPool)) {
        refusePool = false;
        refused = true;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

// Defined here too, so that the library's nothrow request reaches the one above
// whatever runtime (a sanitizer's, say) would otherwise answer it.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// The operator new above takes its memory from malloc, so free is the match; GCC, once
// it inlines these into the test's own new/delete pairs, cannot see that.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

TEST(LoadWithoutMemory, NoMainPoolAndObjectsComeFromTheHeap) {
    ASSERT_TRUE(refused) << "the library made no pool at load";
    EXPECT_EQ(tovPool::mainPool(), nullptr);
    EXPECT_EQ(tovPool::npools(), 0u);
    EXPECT_EQ(tovPool::apools(), 0u);
    auto* o = new (nullptr) tovObject;
    EXPECT_EQ(o->getPool(), nullptr);
    o->up();
    EXPECT_EQ(o->refCount(), 0);  // not counted: its owner deletes it
    delete o;
    tovPool first;  // the chain is empty: numbering starts again at 0
    EXPECT_EQ(first.getNum(), 0);
}
