// Test support: a replacement global operator new that fails on request.
#include "heap_fault.h"

#include <cstdlib>
#include <new>

#ifdef HEAP_FAULT_REFUSE_MAIN_POOL
#include <tovlib.h>
#endif

namespace {
std::size_t failOn = 0, count = 0, failed = 0;
bool failLater = false;  // keep failing after the failOn-th call
#ifdef HEAP_FAULT_REFUSE_MAIN_POOL
// The first request of a pool's size fails: the main pool the library makes at load.
// Constant-initialised, so it holds before the library's static initialisation runs.
std::size_t refuseSize = sizeof(tovPool);
#else
std::size_t refuseSize = 0;
#endif
long liveCount = 0;
// Call sites that received a failure; a fixed table, since operator new cannot use
// the heap. Sites beyond its end are counted together in the last entry.
struct Site {
    const void* at;
    std::size_t failures;
} siteTable[64];
std::size_t siteCount = 0;
}  // namespace

void heapFault::failAt(std::size_t n) { failOn = n, failLater = false, count = 0; }
void heapFault::failFrom(std::size_t n) { failAt(n), failLater = n != 0; }
std::size_t heapFault::calls() { return count; }
long heapFault::live() { return liveCount; }
std::size_t heapFault::failures() { return failed; }
std::size_t heapFault::sites() { return siteCount; }
const void* heapFault::site(std::size_t i) { return siteTable[i].at; }
std::size_t heapFault::siteFailures(std::size_t i) { return siteTable[i].failures; }

void* operator new(std::size_t size) {
    if (++count, refuseSize && size == refuseSize) failOn = count, failLater = false, refuseSize = 0;
    if (failOn && (count == failOn || (failLater && count > failOn))) {
        failOn = failLater ? failOn : 0;
        const void* at = __builtin_return_address(0);
        std::size_t i = 0;
        while (i < siteCount && siteTable[i].at != at) ++i;
        if (i == siteCount) siteCount < 64 ? void(siteTable[siteCount++] = {at, 0}) : void(--i);
        ++siteTable[i].failures, ++failed;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1)) return ++liveCount, p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    liveCount -= p != nullptr;
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
// The other forms go through the two above, so that every heap call is counted and can
// fail, and a sanitizer's own versions never pair with these.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
