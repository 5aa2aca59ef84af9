// The harness every model shares: a reader over the fuzz input, the checks that stop a
// run at the first disagreement between the library and its model, and the loop that
// runs a model's steps, each perhaps with a heap allocation failing.
#ifndef TOVLIB_FUZZ_MODEL_H
#define TOVLIB_FUZZ_MODEL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>

#include "heap_fault.h"

// Stops the run at once; `values` says what the two sides were, if known.
[[noreturn]] inline void fuzzFail(const char* file, int line, const char* what, const char* values = "") {
    std::fprintf(stderr, "%s:%d: model mismatch: %s%s\n", file, line, what, values);
    std::fflush(stderr);
    __builtin_trap();
}

#define FUZZ_CHECK(cond)                                  \
    do {                                                  \
        if (!(cond)) fuzzFail(__FILE__, __LINE__, #cond); \
    } while (0)

// The library's value first, the model's second; both go to the message.
template <class A, class B>
void fuzzEq(const A& a, const B& b, const char* file, int line, const char* what) {
    if (a == b) return;
    char values[64];
    std::snprintf(values, sizeof values, " (%lld, expected %lld)", static_cast<long long>(a),
                  static_cast<long long>(b));
    fuzzFail(file, line, what, values);
}
#define FUZZ_EQ(a, b) fuzzEq((a), (b), __FILE__, __LINE__, #a " == " #b)

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

// A pool's unit: what a request of n bytes takes.
inline std::size_t rounded(std::size_t n) { return n == 0 ? 8 : (n + 7) / 8 * 8; }

namespace fuzzModel {

// The fault of the step running: in each library call a model makes through fallible(),
// the n-th heap allocation fails (0: none), once or, persisting, from then on.
inline std::size_t faultAt = 0;
inline bool faultPersists = false;
inline std::size_t heapCalls = 0;  // the heap allocations the last such call made

// Runs one library call under the step's fault. A failure that reaches the model goes
// on to run(), which takes it as the step's whole outcome: the model must be as it was
// before the call, so a model learns what a call did only once it returned.
template <class Call>
decltype(auto) fallible(Call&& call) {
    struct Disarm {
        ~Disarm() { heapCalls = heapFault::calls(), heapFault::failAt(0); }
    } disarm;
    (faultPersists ? heapFault::failFrom : heapFault::failAt)(faultAt);
    return call();
}

// Runs a model over one input. The model is made first (its set-up) and destroyed last
// (its final checks); it has `ops` operations, and step(op, in) reads what an operation
// needs from the input. The byte that chooses the operation chooses, with what its
// choice leaves over, the step's fault: none for half of its values, else the first,
// second or third heap allocation of each call failing, once or from then on. A step a
// fault stops must have changed nothing that check() sees, and must then succeed when
// run again from the same input.
template <class Model>
int run(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    Model model;
    while (in.more()) {
        const unsigned b = in.byte(), op = b % Model::ops, fault = b / Model::ops;
        const FuzzInput at = in;
        faultAt = fault % 2 ? 1 + fault / 4 % 3 : 0;
        faultPersists = fault & 2;
        const std::size_t failures = heapFault::failures();
        try {
            model.step(op, in);
        } catch (const std::bad_alloc&) {
            FUZZ_CHECK(heapFault::failures() > failures);  // the fault, and nothing else
            faultAt = 0;
            model.check();
            in = at;
            model.step(op, in);
        }
        faultAt = 0;
        model.check();
    }
    return 0;
}

}  // namespace fuzzModel

// A library call under the step's fault, as fuzzModel::fallible() makes it.
#define FUZZ_FALLIBLE(...) fuzzModel::fallible([&]() -> decltype(auto) { return (__VA_ARGS__); })

// The fuzz target, or in the models' plain builds the test's entry, of a model class.
#define FUZZ_MODEL(Model)                                                               \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
        return fuzzModel::run<Model>(data, size);                                       \
    }

#endif
