// Runs a fuzz target's model without the fuzzer, as a plain test: each input file or
// directory of inputs named on the command line, then RUNS inputs of BYTES random
// bytes from fixed seeds 1, 2, ... A model mismatch stops the program at once.
// Heap failures the models inject are counted where they are thrown.
//     model_<target> RUNS BYTES [input or directory ...]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "heap_fault.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
void replay(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), {}};
    LLVMFuzzerTestOneInput(data.data(), data.size());
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RUNS BYTES [input or directory ...]\n", argv[0]);
        return 2;
    }
    for (int i = 3; i < argc; ++i) {
        if (!std::filesystem::is_directory(argv[i]))
            replay(argv[i]);
        else
            for (const auto& entry : std::filesystem::directory_iterator(argv[i])) replay(entry.path());
    }
    const long runs = std::atol(argv[1]);
    const auto bytes = static_cast<std::size_t>(std::atol(argv[2]));
    std::vector<std::uint8_t> data(bytes);
    for (long seed = 1; seed <= runs; ++seed) {
        std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
        for (std::uint8_t& b : data) b = static_cast<std::uint8_t>(random());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("the library agreed with its model on every input; %zu heap failures injected\n",
                heapFault::failures());
    return 0;
}
