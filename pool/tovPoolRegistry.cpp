// The chain of all pools: the main pool made at load, releaseAll, totals and reports.
#include <new>
#include <ostream>

#include "lib/tovFormat.h"
#include "lib/tovServices.h"
#include "pool/tovPool.h"
#include "pool/tovPoolRecords.h"

namespace {

// Runs during the library's static initialisation, before any client code. Nothing
// destroys the main pool at unload; what it holds goes with the process.
tovPool* makeMainPool() noexcept { return new (std::nothrow) tovPool; }

}  // namespace

// Constant-initialised, so the chain is empty before makeMainPool() runs.
tovPool* tovPool::_pools = nullptr;
tovPool* tovPool::_mainPool = makeMainPool();

tovPool* tovPool::mainPool() { return _mainPool; }

void tovPool::setMainPool(tovPool* pool) {
    if (pool) _mainPool = pool;
}

void tovPool::releaseAll() {
    for (tovPool* p = _pools; p;) {
        tovPool* next = p->_next;
        if (p->releaseFlag()) {
            if (p == _mainPool)
                p->release();
            else
                delete p;  // GCOVR_EXCL_BR_LINE: delete's own null test; never null here
        }
        p = next;
    }
}

unsigned int tovPool::npools() {
    unsigned int n = 0;
    for (const tovPool* p = _pools; p; p = p->_next) ++n;
    return n;
}

std::size_t tovPool::apools() {
    std::size_t sum = 0;
    for (const tovPool* p = _pools; p; p = p->_next) sum += p->amem();
    return sum;
}

std::size_t tovPool::upools() {
    std::size_t sum = 0;
    for (const tovPool* p = _pools; p; p = p->_next) sum += p->umem();
    return sum;
}

std::ostream& tovPool::print(std::ostream& os) const {
    tovDecimalGuard dec(os);
    os << "Pool " << _num << " @" << static_cast<const void*>(this) << " Alloc=" << amem()
       << " Used=" << umem() << " FreeB=" << fmem() << " FreeR=" << rmem() << std::endl;
    if (!tovLib::get(0)) return os;

    os << "  Allocated blocks: ";
    for (const Block* b = _blocks; b; b = b->next)
        os << " @" << static_cast<const void*>(b) << "(" << b->size << ")";
    os << '\n';
    os << "  Free blocks: ";
    eachFree([&](const void* s, std::size_t size, Segment* const*) {
        os << " @" << s << "(" << size << ")";
        return true;
    });
    os << '\n';
    for (std::size_t i = 0; i < sizeClasses; ++i) {
        int n = 0;
        for (const Element* e = _recycled[i]; e; e = peek(e->next)) ++n;
        if (n)
            os << "  Recycled Element: size=" << 8 * i << " Number=" << n
               << " Bytes=" << static_cast<std::size_t>(n) * 8 * i << '\n';
    }
    return os;
}

void tovPool::printAll(std::ostream& os) {
    tovDecimalGuard dec(os);
    os << "*** List of all Pools ***\n";
    std::size_t a = 0, u = 0, f = 0, r = 0;
    for (const tovPool* p = _pools; p; p = p->_next) {
        os << "  ";
        p->print(os);
        a += p->amem();
        u += p->umem();
        f += p->fmem();
        r += p->rmem();
    }
    // Unsigned: totals above 2^31 must not print negative.
    os << "*** Total: Alloc=" << a << " Used=" << u << " Free=" << f << " Recycled=" << r << " ***\n";
}
