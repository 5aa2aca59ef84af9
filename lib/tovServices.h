// tovLib: the library's process-wide services (flag bank and indentation buffer).
#ifndef TOVLIB_TOVSERVICES_H
#define TOVLIB_TOVSERVICES_H

#include "lib/tovExport.h"

/// The process-wide services of tovlib, as static operations of one class.
///
/// The flag bank is a row of 200 numbered switches, all false at load. The library's
/// own dump and print operations read flags 0, 1, 3, 4, 5 and 6 to decide how much
/// they write; flags 2 and 7 to 199 are the client's own. The indentation buffer
/// supplies the leading blanks of every dumped line.
///
/// All state is static and unsynchronised: use the library from one thread at a time.
class TOV_API tovLib {
public:
    /// Number of flags in the bank; valid indexes are 0 to flagCount - 1.
    static constexpr int flagCount = 200;
    /// Longest run of blanks that space() produces.
    static constexpr int maxSpace = 127;

    /// The value of flag `i`; false for an index outside 0 to 199.
    static bool get(int i);
    /// Sets flag `i`; an index outside 0 to 199 changes nothing.
    static void set(int i);
    /// Clears flag `i`; an index outside 0 to 199 changes nothing.
    static void clr(int i);
    /// Clears all 200 flags, the client's own included.
    static void clrAll();

    /// A run of blanks as long as the magnitude of `n` (at most 127), nul-terminated.
    /// The result is always the same static buffer: each call overwrites the text of
    /// the one before, so write it out at once and never keep the pointer.
    static char* space(int n);

private:
    static bool _f[flagCount];
    static char _buffer[maxSpace + 1];
};

#endif
