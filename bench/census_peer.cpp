// census_peer: the census demo's counting written with std::unordered_map, as a careful
// programmer would, to time and size the demo against. Each file is read whole into
// one reused buffer and counted in an unordered_map of views of that buffer; then each
// distinct word of the file is merged once into the census. Same inputs, same
// identifiers (the demo's scanner, examples/census_scan.h), same ranking output.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "census_scan.h"

namespace fs = std::filesystem;

namespace {

struct Tally {
    int count = 0;
    int files = 0;
};

void walk(const fs::path& dir, std::vector<fs::path>& out) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code sec;
        if (it->is_symlink(sec)) continue;
        if (it->is_directory(sec))
            walk(it->path(), out);
        else if (it->is_regular_file(sec))
            out.push_back(it->path());
    }
}

}  // namespace

int main(int argc, char** argv) {
    int top = 20;
    bool text = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--text") == 0) {
            text = true;
            continue;
        }
        if (std::strcmp(argv[i], "--top") == 0 && i + 1 < argc) {
            top = std::atoi(argv[++i]);
            continue;
        }
        std::error_code ec;
        if (fs::is_directory(argv[i], ec)) {
            std::vector<fs::path> found;
            walk(argv[i], found);
            std::sort(found.begin(), found.end());
            for (const auto& p : found) files.push_back(p.string());
        } else {
            files.push_back(argv[i]);
        }
    }

    std::unordered_map<std::string, Tally> census;
    std::unordered_map<std::string_view, int> inFile;
    std::string data;
    long long total = 0;
    int read = 0;
    for (const auto& name : files) {
        std::FILE* f = std::fopen(name.c_str(), "rb");
        if (!f) continue;
        data.clear();
        char chunk[65536];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) data.append(chunk, n);
        std::fclose(f);
        ++read;
        inFile.clear();
        const bool code = !text && censusScan::isCFamily(name);
        censusScan::scan(data.data(), data.data() + data.size(), code,
                         [&](const char* start, std::size_t n) { ++inFile[std::string_view(start, n)]; });
        for (const auto& [word, count] : inFile) {
            Tally& t = census[std::string(word)];
            t.count += count;
            ++t.files;
            total += count;
        }
    }

    using Entry = std::pair<const std::string*, Tally>;
    std::vector<Entry> ranked;
    ranked.reserve(census.size());
    for (const auto& [word, tally] : census) ranked.emplace_back(&word, tally);
    const auto before = [](const Entry& a, const Entry& b) {
        if (a.second.count != b.second.count) return a.second.count > b.second.count;
        if (a.second.files != b.second.files) return a.second.files > b.second.files;
        return *a.first < *b.first;
    };
    const std::size_t shown = std::min<std::size_t>(ranked.size(), top < 0 ? 0 : top);
    std::partial_sort(ranked.begin(), ranked.begin() + shown, ranked.end(), before);

    std::printf("census: %d files, %lld identifiers, %zu distinct\n", read, total, census.size());
    std::printf("rank  count  files  identifier\n");
    for (std::size_t i = 0; i < shown; ++i)
        std::printf("%4zu%7d%7d  %s\n", i + 1, ranked[i].second.count, ranked[i].second.files,
                    ranked[i].first->c_str());
    return 0;
}
