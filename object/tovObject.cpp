// tovObject: construction marker, pool-aware allocation, counting, identity and dump.
#include "object/tovObject.h"

#include <cstring>
#include <new>
#include <ostream>

#include "lib/tovFormat.h"
#include "lib/tovServices.h"
#include "pool/tovPool.h"

// operator new writes the pool and the marker where the fields of the object will lie,
// before any constructor runs; offsetof on this polymorphic class is supported by
// every compiler the library builds with.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#define TOV_POOL_AT offsetof(tovObject, _pool)
#define TOV_COUNT_AT offsetof(tovObject, _refCount)

namespace {

// The allocations operator new has handed out whose tovObject part is not built yet,
// newest last. The marker in the memory is wiped when the new-expression
// value-initialises (`new (p) X()` and `new (p) X{}` zero-fill a class without a
// user-provided default constructor, and so does a base value-initialised in a
// constructor's initialiser list): the constructor then finds its pool here, where no
// zero-filling reaches. Several can be pending at once: the allocation of a
// new-expression comes before its arguments are evaluated, and those may hold
// new-expressions of their own. The depth is bounded; the oldest record gives way.
struct Pending {
    const void* at;
    tovPool* pool;
};
constexpr int pendingSlots = 16;
Pending pending[pendingSlots];
int pendingCount = 0;

void recordPending(const void* at, tovPool* pool) {
    if (pendingCount == pendingSlots) {
        for (int i = 1; i < pendingSlots; ++i) pending[i - 1] = pending[i];
        --pendingCount;
    }
    pending[pendingCount++] = Pending{at, pool};
}

// Takes the record of the allocation at `at`, if there is one, into `pool`. Records
// made after it belong to argument evaluation that has finished by the time this
// object's construction begins: any left there were never claimed and go too.
bool takePending(const void* at, tovPool*& pool) {
    for (int i = pendingCount; i-- > 0;) {
        if (pending[i].at == at) {
            pool = pending[i].pool;
            pendingCount = i;
            return true;
        }
    }
    return false;
}

// Drops the record of `at` alone: memory given back before its object was built.
void forgetPending(const void* at) {
    for (int i = pendingCount; i-- > 0;) {
        if (pending[i].at == at) {
            for (int j = i + 1; j < pendingCount; ++j) pending[j - 1] = pending[j];
            --pendingCount;
            return;
        }
    }
}

}  // namespace

// The constructor reads the marker left by operator new. That read must not be
// optimised away as a read of a dead object, which is why the library is built with
// -fno-lifetime-dse under GCC and why this constructor stays out of line. Where the
// marker is gone, the record of the pending allocation at this address gives the
// pool; an object at any other address (automatic, static, member, heap) has none.
tovObject::tovObject() {
#ifdef TOVLIB_MEMCHECK
    // Outside a pool the word is usually uninitialised (automatic, heap and member
    // objects), and reading it anyway is the protocol: tell Memcheck the read is
    // intended. Only its definedness changes, and only where it is addressable, so
    // building an object in memory that is not is still reported.
    VALGRIND_MAKE_MEM_DEFINED_IF_ADDRESSABLE(&_refCount, sizeof _refCount);
#endif
    tovPool* recorded = nullptr;
    const bool wasPending = pendingCount != 0 && takePending(this, recorded);
    if (_refCount != constructionMarker) _pool = wasPending ? recorded : nullptr;
    _refCount = 0;
}

tovObject::tovObject(const tovObject&) : tovObject() {}

// Keeps both fields of the target, so self-assignment is harmless.
// NOLINTNEXTLINE(bugprone-unhandled-self-assignment,cert-oop54-cpp)
tovObject& tovObject::operator=(const tovObject&) { return *this; }

tovObject::~tovObject() = default;

void tovObject::destroy() { delete this; }

void* tovObject::allocMarked(std::size_t size, tovPool* pool) {
    if (!pool) pool = tovPool::mainPool();
    void* mem = pool ? pool->alloc(size) : ::operator new(size);
    // Raw byte copies: the memory holds no object yet.
    std::memcpy(static_cast<char*>(mem) + TOV_POOL_AT, &pool, sizeof pool);
    std::memcpy(static_cast<char*>(mem) + TOV_COUNT_AT, &constructionMarker, sizeof constructionMarker);
    return mem;
}

void* tovObject::operator new(std::size_t size, tovPool* pool) {
    void* mem = allocMarked(size, pool);
    // The pool it was carved from, the main pool in place of null.
    std::memcpy(&pool, static_cast<char*>(mem) + TOV_POOL_AT, sizeof pool);
    recordPending(mem, pool);
    return mem;
}

void tovObject::operator delete(void* p, std::size_t size) {
    // An object built over memory of another pending allocation leaves that record
    // unclaimed (a tovObject that is not the first base of its class); once the memory
    // goes, no object may ever take its pool from it.
    if (pendingCount != 0) forgetPending(p);
    tovPool* pool;
    std::memcpy(&pool, static_cast<char*>(p) + TOV_POOL_AT, sizeof pool);
    if (pool)
        pool->free(p, size);
    else
        ::operator delete(p);
}

void tovObject::operator delete(void* p, tovPool*) { releaseUnbuilt(p, sizeof(tovObject)); }

// The pool is not taken from the argument: operator new recorded the pool it really
// used, which is right even if the main pool has changed. While the allocation is
// still pending (no tovObject part was built: an argument or an earlier base threw)
// its record has the pool, since zero-filling may have wiped the memory's; once
// built, the object's own field has it.
void tovObject::releaseUnbuilt(void* p, std::size_t size) {
    tovPool* pool;
    if (pendingCount != 0 && takePending(p, pool))
        std::memcpy(static_cast<char*>(p) + TOV_POOL_AT, &pool, sizeof pool);
    const std::int32_t cleared = 0;
    std::memcpy(static_cast<char*>(p) + TOV_COUNT_AT, &cleared, sizeof cleared);
    operator delete(p, size);
}

#undef TOV_POOL_AT
#undef TOV_COUNT_AT
#pragma GCC diagnostic pop

unsigned int tovObject::hash(int n) const {
    const auto divisor = static_cast<unsigned int>(n);
    if (divisor == 0) return 0;
    return static_cast<unsigned int>((reinterpret_cast<std::uintptr_t>(this) >> 3) % divisor);
}

std::ostream& tovObject::dump(std::ostream& os, int indent, int nl) const {
    tovDecimalGuard dec(os);
    os << tovLib::space(indent) << className() << " ";
    if (tovLib::get(1)) os << "@[" << static_cast<const void*>(this) << "] ";
    if (tovLib::get(0)) os << "P[" << (_pool ? _pool->getNum() : -1) << "] ";
    if (tovLib::get(3)) os << "RC[" << _refCount << "] ";
    if (nl) os << std::endl;
    return os;
}

bool tovObject::isEqual(const tovObject& other) const { return &other == this; }

int tovObject::objcmp(const tovObject& other) const {
    const auto self = reinterpret_cast<std::uintptr_t>(this);
    const auto that = reinterpret_cast<std::uintptr_t>(&other);
    if (self == that) return 0;
    return self < that ? -1 : 1;
}

bool tovObject::isA(const char* name) const { return name == tovObjectClass; }

const char* tovObject::className() const { return tovObjectClass; }
