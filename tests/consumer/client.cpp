// A client of the library as built or installed, for the checks made from outside its
// build (.ci/run): installed and found with find_package or pkg-config, straight from
// the build tree, taken from source with FetchContent, and with AddressSanitizer against
// a library built without it. With no argument it runs a correct workload and exits 0
// when everything answers as it should; given a misuse's name it makes that mistake,
// which the checker of the build (Memcheck, AddressSanitizer) must report.
#include <cstdio>
#include <cstring>

#include <tovlib.h>

namespace {

struct Valued : tovObject {
    int value = 1;
};

struct Symbol : tovNamedObj {
    explicit Symbol(const tovString& name) : tovNamedObj(name) {}
    TOV_OBJECT_OPERATORS(Symbol)
    int uses = 0;
};

// Through volatile, so that each access is made as written.
template <class T>
T load(const void* p) {
    return *static_cast<const volatile T*>(p);
}

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::printf("client: %s failed\n", what);
        ++failures;
    }
}

// Pools, a container, strings and class identity across the library boundary.
void acrossTheBoundary() {
    tovLib::init(true);
    auto* pool = new tovPool;
    {
        tovHash<4191> symbols;
        symbols.add(*new (pool) Symbol(tovString("alpha")));
        tovObject* found = symbols.find(tovString("alpha"));
        check(found != nullptr, "find by name");
        // A class-name constant taken here is the library's own pointer.
        const char* const mine = tovNamedObjClass;
        check(found && found->isA(mine) && found->isA(tovObjectClass), "isA across the boundary");
        check(dynamic_cast<Symbol*>(found) != nullptr, "dynamic_cast across the boundary");
        check(found && found->getPool() == pool, "object carved from its pool");
        check(symbols.count() == 1 && symbols.isA(tovHashClass), "hash table");
        // The header-only idioms come with the installed headers.
        tovRef<tovObject> held(found);
        int named = 0;
        for (tovObject& e : symbols) named += e.isA(tovNamedObjClass) && &e == held.get();
        check(named == 1 && held->refCount() == 2, "range-for and tovRef");
        check(tovString("alpha").view() == "alpha", "string view");
    }
    check(pool->umem() == 0, "last reference gives the memory back");
    tovLib::reset();
    check(tovPool::npools() == 1, "reset destroys the client's pool");
}

// Elements passed back and forth between the pool code inline in this client and the
// library's own: with AddressSanitizer in the client alone, a correct program runs clean.
void inlineAndLibraryPoolCode() {
    tovPool pool;
    for (int round = 0; round < 3; ++round) {
        // Given back by this client's inline free(), then taken by the library's own
        // alloc() inside operator new, and written by the constructor compiled here.
        for (std::size_t size : {8, 16, 24, 40, 200}) pool.free(pool.alloc(size), size);
        Valued* held[8];
        for (auto*& o : held) {
            o = new (&pool) Valued;
            o->up();
            check(load<int>(&o->value) == 1, "an object built in recycled memory");
        }
        // The library's free() inside operator delete, then this client's alloc().
        for (auto* o : held) o->down();
        for (int i = 0; i < 8; ++i) std::memset(pool.alloc(sizeof(Valued)), 0x5a, sizeof(Valued));
        // Large elements: carved and merged back by the library only.
        auto* big = static_cast<char*>(pool.alloc(3000));
        std::memset(big, 0x5a, 3000);
        pool.free(big, 3000);
        std::memset(pool.alloc(1000), 0x5a, 1000);
        check(pool.verify(), "the pool's records");
        pool.release();  // the blocks go to the cache of released memory; the pool starts afresh
    }
}

// Touches memory that the pool holds but does not hand out, or gives an element back
// twice; 2 for an unknown name.
int misuse(const char* mode) {
    auto is = [mode](const char* name) { return std::strcmp(mode, name) == 0; };
    tovPool pool;
    Valued* o = new (&pool) Valued;
    o->up();
    const int* const value = &o->value;  // taken while the object lives
    // Given back by the pool code inline in this program, or by the library's own free().
    if (is("after-free")) {
        auto* p = static_cast<int*>(pool.alloc(24));
        pool.free(p, 24);
        std::printf("%d\n", load<int>(p + 2));
    } else if (is("after-down")) {
        o->down();  // destroyed: its memory waits in a recycled list
        std::printf("%d\n", load<int>(value));
    } else if (is("link-after-down")) {
        o->down();  // the first word now links the recycled list: the pool's, not ours
        std::printf("%p\n", load<void*>(o));
    } else if (is("after-release") || is("after-release-uncached")) {
        // The block goes to the cache of released memory, or with no cache to the heap.
        if (is("after-release-uncached")) tovLib::setPoolCacheBound(0);
        pool.release();
        std::printf("%d\n", load<int>(value));
    } else if (is("free-segment")) {
        void* big = pool.alloc(1000);
        pool.free(big, 1000);  // merges with the rest of the block, the last segment
        std::printf("%d\n", load<int>(static_cast<int*>(big) + 100));
    } else if (is("double-free")) {
        void* small = pool.alloc(40);
        pool.free(small, 40);
        pool.free(small, 40);
    } else {
        std::fprintf(stderr,
                     "usage: client [after-free|after-down|link-after-down|after-release|"
                     "after-release-uncached|free-segment|double-free]\n");
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) return misuse(argv[1]);
    inlineAndLibraryPoolCode();
    acrossTheBoundary();
    std::printf("client: %s\n", failures ? "FAILED" : "ok");
    return failures ? 1 : 0;
}
