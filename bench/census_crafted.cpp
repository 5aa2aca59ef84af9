// census_crafted: writes a C file of identifiers for the census's hostile-input rows:
// COUNT texts that share one string hash (crafted) or random ones of the same length
// (random), each of 128 letters, one declaration a line.
//     census_crafted crafted|random COUNT FILE
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crafted_texts.h"

int main(int argc, char** argv) {
    const bool crafted = argc == 4 && std::strcmp(argv[1], "crafted") == 0;
    const long count = argc == 4 ? std::atol(argv[2]) : 0;
    if ((!crafted && (argc != 4 || std::strcmp(argv[1], "random") != 0)) || count <= 0 ||
        count > (1L << 24)) {
        std::fprintf(stderr, "usage: census_crafted crafted|random COUNT FILE\n");
        return 2;
    }
    constexpr std::size_t length = 128;
    std::vector<std::string> texts = crafted ? crafted::collidingTexts(static_cast<std::size_t>(count))
                                             : crafted::randomTexts(static_cast<std::size_t>(count), length);
    std::FILE* out = std::fopen(argv[3], "wb");
    if (!out) {
        std::perror(argv[3]);
        return 1;
    }
    for (std::string& t : texts) {
        // A common tail keeps the hash shared: the texts differ only in their blocks.
        if (t.size() < length) t.append(length - t.size(), 'q');
        std::fprintf(out, "int %s;\n", t.c_str());
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
