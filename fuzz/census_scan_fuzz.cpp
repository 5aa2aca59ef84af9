// Fuzzing of the census's scanner (examples/census_scan.h) on any bytes, read as code
// and as text. The input is scanned where libFuzzer put it, with nothing after it, so
// AddressSanitizer reports any read past the end of a comment or literal left open.
// Text mode is checked against a plain model; code mode, which leaves out comments,
// literals and numbers, must report a subset of the text mode's identifiers. Read in
// pieces (cut at every offset of a short input, and in steps of a few sizes), each in
// a buffer of its own size, both modes must find what the whole text gives, with a
// bound on identifiers that the input chooses.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "census_scan.h"
#include "model.h"

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

// The identifiers of [p, p + n), read in pieces: `first` bytes, then `step` at a time.
// The last entry holds the count of those over `limit` bytes.
Found scanPieces(const char* p, std::size_t n, bool code, std::size_t limit, std::size_t first,
                 std::size_t step) {
    censusScan::Scanner scanner(code, limit);
    Found found;
    std::vector<char> carried;
    std::size_t offset = 0, pos = 0;  // of the carried bytes, and of the next piece
    for (bool more = true, firstPiece = true; more; firstPiece = false) {
        const std::size_t take = std::min(firstPiece ? first : step, n - pos);
        std::vector<char> piece(carried);
        piece.insert(piece.end(), p + pos, p + pos + take);
        pos += take;
        more = pos < n;
        const char* b = piece.data();
        const char* e = b + piece.size();
        const char* stop = scanner.scan(b, e, more, [&](const char* text, std::size_t length) {
            FUZZ_CHECK(text >= b && length > 0 && length <= static_cast<std::size_t>(e - text));
            found.emplace_back(offset + static_cast<std::size_t>(text - b), length);
        });
        FUZZ_CHECK(stop >= b && stop <= e && static_cast<std::size_t>(e - stop) <= scanner.maxCarry());
        FUZZ_CHECK(more || stop == e);
        carried.assign(stop, e);
        offset += static_cast<std::size_t>(stop - b);
    }
    found.emplace_back(scanner.tooLong(), 0);
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
    // Pieces against the whole text, under a bound the first byte chooses.
    const std::size_t limit = size ? 3 + data[0] % 16 : 3;
    for (const bool mode : {false, true}) {
        const Found whole = scanPieces(p, size, mode, limit, size, 1);
        for (const std::size_t step : {1, 2, 3, 7, 64})
            FUZZ_CHECK(scanPieces(p, size, mode, limit, step, step) == whole);
        for (std::size_t cut = 0; size <= 2048 && cut <= size; ++cut)
            FUZZ_CHECK(scanPieces(p, size, mode, limit, cut, size) == whole);
    }
    return 0;
}
