// The benchmark binary: tovlib and the allocators and containers it is compared with.
#include <malloc.h>

#include <cstring>

#include "bench_util.h"

int main(int argc, char** argv) {
    // The heap keeps what is freed instead of giving it back to the system: otherwise
    // whichever case runs after a large free pays the page faults of the memory given
    // back (on this kind of machine several microseconds each), and the order of the
    // cases, not the allocators, decides the figures. Every case, tovlib's and the
    // peers', runs on the same warm heap. With --default_heap (first), the heap is left
    // as a program finds it, for the phase cases (P11), which run one to a process.
    if (argc > 1 && std::strcmp(argv[1], "--default_heap") == 0) {
        argv[1] = argv[0];
        --argc, ++argv;
    } else {
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
    }
    bench::registerPool();
    bench::registerObjects();
    bench::registerStrings();
    bench::registerContainers();
    bench::registerResources();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
