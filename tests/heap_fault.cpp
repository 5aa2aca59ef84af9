// Test support: a replacement global operator new that fails on request.
#include "heap_fault.h"

#include <cstdlib>
#include <new>

namespace {
std::size_t failOn = 0;
std::size_t count = 0;
}  // namespace

void heapFault::failAt(std::size_t n) {
    failOn = n;
    count = 0;
}

std::size_t heapFault::calls() { return count; }

void* operator new(std::size_t size) {
    if (++count == failOn) {
        failOn = 0;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
