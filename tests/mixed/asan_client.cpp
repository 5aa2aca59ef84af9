// A client built with AddressSanitizer against a library built without it (.ci/run).
// It runs a correct workload that passes elements back and forth between the pool code
// inline in this client and the library's own, and exits 0. (tests/misuse.cpp, built
// beside it, makes the mistakes the sanitizer must report.)
#include <cstdio>
#include <cstring>

#include <tovlib.h>

namespace {

struct Valued : tovObject {
    int value = 1;
};

// Through volatile, so that each access is made as written.
int load(const int* p) { return *static_cast<const volatile int*>(p); }

bool workload() {
    tovPool pool;
    bool ok = true;
    for (int round = 0; round < 3; ++round) {
        // Given back by this client's inline free(), then taken by the library's own
        // alloc() inside operator new, and written by the constructor compiled here.
        for (std::size_t size : {8, 16, 24, 40, 200}) pool.free(pool.alloc(size), size);
        Valued* held[8];
        for (auto*& o : held) {
            o = new (&pool) Valued;
            o->up();
            ok &= load(&o->value) == 1;
        }
        // The library's free() inside operator delete, then this client's alloc().
        for (auto* o : held) o->down();
        for (int i = 0; i < 8; ++i) std::memset(pool.alloc(sizeof(Valued)), 0x5a, sizeof(Valued));
        // Large elements: carved and merged back by the library only.
        auto* big = static_cast<char*>(pool.alloc(3000));
        std::memset(big, 0x5a, 3000);
        pool.free(big, 3000);
        auto* again = static_cast<char*>(pool.alloc(1000));
        std::memset(again, 0x5a, 1000);
        ok &= pool.verify();
        pool.release();  // the blocks go back to the heap; the pool starts afresh
    }
    return ok;
}

}  // namespace

int main() {
    const bool ok = workload();
    std::printf("asan_client: %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
