// Runs a fuzz target's model without the fuzzer, as a plain test: each input file or
// directory of inputs named on the command line, then RUNS inputs of BYTES random
// bytes from fixed seeds 1, 2, ... A model mismatch stops the program at once.
// Heap failures the models inject are counted by the places in the library that
// received them, named through the dynamic linker.
//     model_<target> RUNS BYTES [input or directory ...]
#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    for (std::size_t i = 0; i < heapFault::sites(); ++i) {
        Dl_info info{};
        const auto* at = static_cast<const char*>(heapFault::site(i));
        const bool named = dladdr(at, &info) && info.dli_sname;
        char* plain = named ? abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, nullptr) : nullptr;
        // A hidden function has no name to give: its file's, without the directory.
        const char* file = info.dli_fname ? info.dli_fname : "?";
        if (const char* slash = std::strrchr(file, '/')) file = slash + 1;
        std::printf("%6zu failures at %s+%td\n", heapFault::siteFailures(i),
                    plain   ? plain
                    : named ? info.dli_sname
                            : file,
                    at - static_cast<const char*>(named ? info.dli_saddr : info.dli_fbase));
        std::free(plain);
    }
    return 0;
}
