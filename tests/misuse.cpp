// Misuse of pooled memory, one case per run, for a checker to report: Memcheck (the
// valgrind preset), AddressSanitizer (the asan preset), and AddressSanitizer in this
// client alone, over a library built without it (.ci/run). Every case touches memory
// that the pool holds but does not hand out, or gives an element back twice.
#include <cstdio>
#include <cstring>

#include <tovlib.h>

namespace {

struct Valued : tovObject {
    int value = 1;
};

// Through volatile, so that each access is made as written.
template <class T>
T load(const void* p) {
    return *static_cast<const volatile T*>(p);
}

}  // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
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
                     "usage: misuse after-free|after-down|link-after-down|after-release|"
                     "after-release-uncached|free-segment|double-free\n");
        return 2;
    }
    return 0;
}
