// Test support: make the N-th global operator new from now on throw std::bad_alloc.
#ifndef TOVLIB_TESTS_HEAP_FAULT_H
#define TOVLIB_TESTS_HEAP_FAULT_H

#include <cstddef>

namespace heapFault {
/// The n-th heap allocation from now (1 = the next one) throws; 0 disarms.
void failAt(std::size_t n);
/// Heap allocations made since the last failAt().
std::size_t calls();
}  // namespace heapFault

#endif
