// Shared by the fuzz targets: a reader over the fuzz input, and the checks that stop a
// run at the first disagreement between the library and its model.
#ifndef TOVLIB_FUZZ_INPUT_H
#define TOVLIB_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

[[noreturn]] inline void fuzzFail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: model mismatch: %s\n", file, line, what);
    std::fflush(stderr);
    __builtin_trap();
}

[[noreturn]] inline void fuzzFail(const char* file, int line, const char* what, long long got,
                                  long long expected) {
    std::fprintf(stderr, "%s:%d: model mismatch: %s (%lld, expected %lld)\n", file, line, what, got,
                 expected);
    std::fflush(stderr);
    __builtin_trap();
}

#define FUZZ_CHECK(cond)                                  \
    do {                                                  \
        if (!(cond)) fuzzFail(__FILE__, __LINE__, #cond); \
    } while (0)

// The library's value first, the model's second; both go to the message.
#define FUZZ_EQ(a, b)                                                                  \
    do {                                                                               \
        const auto fuzz_a = (a);                                                       \
        const auto fuzz_b = (b);                                                       \
        if (!(fuzz_a == fuzz_b))                                                       \
            fuzzFail(__FILE__, __LINE__, #a " == " #b, static_cast<long long>(fuzz_a), \
                     static_cast<long long>(fuzz_b));                                  \
    } while (0)

// Keeps a function out of libFuzzer's coverage feedback; the models' plain builds
// (GCC) have no such feedback.
#ifdef __clang__
#define FUZZ_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_NO_COVERAGE
#endif

// Reads the input front to back; past its end every byte reads as 0.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : _p(data), _end(data + size) {}
    bool more() const { return _p != _end; }
    std::uint8_t byte() { return _p != _end ? *_p++ : 0; }
    // A value from 0 to n - 1 (n > 0): one byte when n fits in one, else two.
    unsigned below(unsigned n) {
        unsigned v = byte();
        if (n > 256) v = v << 8 | byte();
        return v % n;
    }

private:
    const std::uint8_t* _p;
    const std::uint8_t* _end;
};

#endif
