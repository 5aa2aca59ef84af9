/// \file
/// tovLib: the library's process-wide services: start-up and reset, the temporary
/// string area, the flag bank, the indentation buffer and the stopwatch.
#ifndef TOVLIB_TOVSERVICES_H
#define TOVLIB_TOVSERVICES_H

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "lib/tovExport.h"

class tovPool;

/// One reading of the stopwatch: three points, each a calendar time (seconds since
/// 1970-01-01 UTC) and a process-clock reading in milliseconds.
struct TOV_API tovTime {
    /// Calendar time of the last startTimer().
    std::int64_t startTime;
    /// Process clock of the last startTimer(), in milliseconds.
    std::int32_t startClock;
    /// Calendar time at which the current section began.
    std::int64_t sectionTime;
    /// Process clock at which the current section began, in milliseconds.
    std::int32_t sectionClock;
    /// Calendar time of the latest reading.
    std::int64_t lastTime;
    /// Process clock of the latest reading, in milliseconds.
    std::int32_t lastClock;
};

/// The process-wide services of tovlib, as static operations of one class.
///
/// Start-up: the main pool exists from load on. Call init() before making the first
/// string handle or named object; it makes the main string table. tempInit() opens a
/// temporary string area: while it is open, new handles intern their text in a
/// temporary table whose pool tempReset() throws away in one piece. reset() forgets
/// both tables and releases every pool whose release flag is set (tovPool::releaseAll):
/// handles and named objects made before it must not be used after it. Released memory
/// waits, up to a bound, in a cache for the next pool's blocks (setPoolCacheBound).
///
/// The flag bank is a row of 200 numbered switches, all false at load. The library's
/// own dump and print operations read flags 0, 1, 3, 4, 5 and 6 to decide how much
/// they write; flags 2 and 7 to 199 are the client's own. The indentation buffer
/// supplies the leading blanks of every dumped line.
///
/// All state is static and unsynchronised: use the library from one thread at a time.
class TOV_API tovLib {
public:
    /// Makes the main string table if there is none (in the main pool); clears all
    /// flags when `clearFlags` is true.
    static void init(bool clearFlags);
    /// reset(), then init(clearFlags): always a new, empty main table.
    static void reInit(bool clearFlags);
    /// Forgets both string tables, then releases all pools. Flags stay as they are.
    static void reset();
    /// Opens the temporary area: the temporary table in `pool`, or in a new pool when
    /// `pool` is null (an existing temporary table stays). If no pool can be made,
    /// std::bad_alloc passes and the area stays closed.
    static void tempInit(tovPool* pool);
    /// Releases the pool of the temporary table, with everything carved from it, and
    /// forgets the table. The pool itself stays registered and usable.
    static void tempReset();

    /// Sets the bound of the cache of released memory: the most bytes that released and
    /// destroyed pools leave there for the next blocks of any pool (64 MiB at load, one
    /// arena of the largest size that pools grow to: enough for a phase of tens of
    /// megabytes to reuse all the memory of the phase before, while a program that once
    /// held gigabytes keeps no more than that). 0 gives everything back to the heap at
    /// once, on every release. What the cache holds beyond the new bound goes back now.
    static void setPoolCacheBound(std::size_t bytes);
    /// The bound of the cache of released memory.
    static std::size_t poolCacheBound();
    /// Bytes the cache of released memory holds: whole heap allocations that pools cut
    /// their blocks from, none of them counted by any pool.
    static std::size_t poolCacheHeld();
    /// Gives everything the cache of released memory holds back to the heap now; the
    /// bound stays. reset() does not do this: it ends a phase, and the next one reuses
    /// the memory. At exit the cache is given back.
    static void trimPoolCache();

    /// Starts the stopwatch; returns a copy of the record.
    static tovTime startTimer();
    /// Ends a section: writes `label` (when not empty; null counts as empty) and the
    /// section's start, end and elapsed seconds.
    static std::ostream& sectionTimer(std::ostream& os, const char* label);
    /// Writes the starting and ending calendar times since startTimer() and the
    /// elapsed seconds. The stopwatch goes on running.
    static std::ostream& stopTimer(std::ostream& os);

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
    static tovTime updateTimer();

    static bool _f[flagCount];
    static char _buffer[maxSpace + 1];
    static tovTime _time;
};

#endif
