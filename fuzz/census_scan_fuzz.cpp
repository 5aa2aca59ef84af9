// Fuzzing of the census's scanner (examples/census_scan.h) on any bytes, read as code
// and as text. The input is scanned where libFuzzer put it, with nothing after it, so
// AddressSanitizer reports any read past the end of a comment or literal left open.
// Text mode is checked against a plain model; code mode, which leaves out comments,
// literals and numbers, must report a subset of the text mode's identifiers.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "census_scan.h"
#include "fuzz_input.h"

namespace {

using Found = std::vector<std::pair<std::size_t, std::size_t>>;  // offset and length

bool isIdentChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Every maximal run of identifier bytes that does not start with a digit.
Found textModel(const unsigned char* p, std::size_t n) {
    Found found;
    for (std::size_t i = 0; i < n;) {
        if (!isIdentChar(p[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < n && isIdentChar(p[i])) ++i;
        if (p[start] > '9') found.emplace_back(start, i - start);
    }
    return found;
}

Found scan(const char* p, std::size_t n, bool code) {
    Found found;
    censusScan::scan(p, p + n, code, [&](const char* text, std::size_t length) {
        FUZZ_CHECK(text >= p && length > 0 && length <= static_cast<std::size_t>(p + n - text));
        found.emplace_back(static_cast<std::size_t>(text - p), length);
    });
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* p = reinterpret_cast<const char*>(data);
    const Found text = scan(p, size, false);
    FUZZ_CHECK(text == textModel(data, size));
    // In the order of the text, each one also found in text mode.
    const Found code = scan(p, size, true);
    std::size_t t = 0;
    for (const auto& id : code) {
        while (t < text.size() && text[t].first < id.first) ++t;
        FUZZ_CHECK(t < text.size() && text[t] == id);
    }
    return 0;
}
