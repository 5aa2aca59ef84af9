// Test support: make the N-th global operator new from now on throw std::bad_alloc,
// once or from then on, and tell where the failures were thrown.
#ifndef TOVLIB_TESTS_HEAP_FAULT_H
#define TOVLIB_TESTS_HEAP_FAULT_H

#include <cstddef>

namespace heapFault {
/// The n-th heap allocation from now (1 = the next one) throws; 0 disarms.
void failAt(std::size_t n);
/// The n-th heap allocation from now and every later one throw; 0 disarms.
void failFrom(std::size_t n);
/// Heap allocations made since the last failAt() or failFrom().
std::size_t calls();
/// Heap allocations made and not yet freed, since the program started.
long live();
/// Failures thrown since the program started.
std::size_t failures();

/// The distinct call sites (the return addresses of operator new) that failures were
/// thrown to since the program started, in order of first failure.
std::size_t sites();
/// The i-th call site, and how many failures it received.
const void* site(std::size_t i);
std::size_t siteFailures(std::size_t i);
}  // namespace heapFault

#endif
