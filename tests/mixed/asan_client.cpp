// A client built with AddressSanitizer against a library built without it (.ci/run).
// Without arguments it runs a correct workload that passes elements back and forth
// between the pool code inline in this client and the library's own, and exits 0;
// with a misuse mode it makes that one mistake, which the sanitizer must report.
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

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    auto is = [mode](const char* name) { return std::strcmp(mode, name) == 0; };
    if (!*mode) {
        const bool ok = workload();
        std::printf("asan_client: %s\n", ok ? "ok" : "FAILED");
        return ok ? 0 : 1;
    }
    tovPool pool;
    if (is("after-free")) {  // given back by this client's inline free()
        auto* p = static_cast<int*>(pool.alloc(24));
        pool.free(p, 24);
        std::printf("%d\n", load(p + 2));
    } else if (is("after-down")) {  // given back by the library's free()
        Valued* o = new (&pool) Valued;
        o->up();
        o->down();
        std::printf("%d\n", load(&o->value));
    } else if (is("after-release")) {
        const int* value = &(new (&pool) Valued)->value;
        pool.release();
        std::printf("%d\n", load(value));
    } else {
        std::fprintf(stderr, "usage: asan_client [after-free|after-down|after-release]\n");
        return 2;
    }
    return 0;
}
