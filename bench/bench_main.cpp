// The benchmark binary: tovlib and the allocators and containers it is compared with.
#include <malloc.h>

#include "bench_util.h"

int main(int argc, char** argv) {
    // The heap keeps what is freed instead of giving it back to the system: otherwise
    // whichever case runs after a large free pays the page faults of the memory given
    // back (on this kind of machine several microseconds each), and the order of the
    // cases, not the allocators, decides the figures. Every case, tovlib's and the
    // peers', runs on the same warm heap.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
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
