// The benchmark binary: tovlib and the allocators and containers it is compared with.
#include "bench_util.h"

int main(int argc, char** argv) {
    bench::registerPool();
    bench::registerObjects();
    bench::registerStrings();
    bench::registerContainers();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
