// Tests of the library services beyond what the strings' model checks (flags, start-up,
// reset and the temporary area): indentation and the stopwatch.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <tovlib.h>

// The process clock, in microseconds, moved on by clockShift: this definition takes the
// place of the C library's for the stopwatch too.
long long clockShift = 0;
extern "C" std::clock_t clock() noexcept {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<std::clock_t>(now.tv_sec * 1000000LL + now.tv_nsec / 1000 + clockShift);
}

namespace {

// Runs of blanks as long as the magnitude, at most 127; every call returns one buffer.
TEST(Space, RunsOfBlanksInOneBuffer) {
    const std::pair<int, int> widths[] = {{0, 0},        {1, 1},         {-3, 3},
                                          {127, 127},    {128, 127},     {-128, 127},
                                          {100000, 127}, {INT_MIN, 127}, {INT_MAX, 127}};
    for (auto [n, blanks] : widths) EXPECT_EQ(std::string(tovLib::space(n)), std::string(blanks, ' ')) << n;
    EXPECT_EQ(tovLib::space(2), tovLib::space(4));
}

// The stopwatch (std::clock for elapsed times).
std::string report(const char* label, bool stop = false) {
    std::ostringstream os;
    stop ? tovLib::stopTimer(os) : tovLib::sectionTimer(os, label);
    return os.str();
}

// The groups of `re` in the whole of `text`; when it does not match, a failure and
// groups of "0".
std::vector<std::string> fields(const std::string& text, const std::regex& re) {
    std::smatch m;
    if (std::regex_match(text, m, re)) return {m.begin() + 1, m.end()};
    ADD_FAILURE() << "unexpected text:\n" << text;
    return std::vector<std::string>(re.mark_count(), "0");
}

void spendCpu(double seconds) {
    const std::clock_t start = std::clock();
    for (volatile unsigned long spin = 0; std::clock() - start < seconds * CLOCKS_PER_SEC;) spin = spin + 1;
}

// Label, start, end and elapsed seconds of a section report; an hour below 10 is
// padded with a blank.
const std::string timeOfDay = "((?: \\d|1\\d|2[0-3]):[0-5]\\d:[0-5]\\d)\n";
const std::regex sectionLines("(.*\n)?    Start section time   " + timeOfDay + "    End section time     " +
                              timeOfDay + "    Elapsed section time (-?\\d+\\.\\d{6})s\n");
// Starting time, elapsed seconds.
const std::regex stopLines(
    "Starting time (.{24})\n"
    "Ending time   .{24}\n"
    "Elapsed time  ([0-9.e+-]+)s\n");

TEST(Timer, BeforeAnyStartTheRecordIsZero) {
    setenv("TZ", "UTC", 1);  // its own process: nothing has started the stopwatch
    tzset();
    EXPECT_EQ(fields(report(nullptr), sectionLines)[1], " 0:00:00");
    EXPECT_EQ(fields(report(nullptr, true), stopLines)[0], "Thu Jan  1 00:00:00 1970");
}

// A section runs from the previous reading, the total from startTimer, and the stop
// report can repeat.
TEST(Timer, SectionsChainAndTheTotalRunsFromTheStart) {
    tovLib::startTimer();
    spendCpu(0.05);
    const auto first = fields(report(""), sectionLines), labelled = fields(report("reading"), sectionLines);
    EXPECT_EQ(first[0] + "|" + labelled[0], "|reading\n");
    EXPECT_GE(std::stod(first[3]), 0.04);
    EXPECT_EQ(labelled[1], first[2]);
    const auto one = fields(report(nullptr, true), stopLines), two = fields(report(nullptr, true), stopLines);
    EXPECT_EQ(one[0], two[0]);
    EXPECT_GE(std::stod(one[1]), 0.04);
    EXPECT_LE(std::stod(one[1]), std::stod(two[1]));
}

// The stopwatch keeps milliseconds in 32 bits: an elapsed time across the wrap of that
// reading (after 24.8 days of CPU time) still comes out right.
TEST(Timer, ElapsedTimeAcrossTheWrapOfTheClock) {
    if (sizeof(std::clock_t) < 8) GTEST_SKIP() << "the clock itself wraps first";
    clockShift = (1LL << 31) * 1000 - static_cast<long long>(std::clock()) - 20000;  // 20 ms before
    tovLib::startTimer();
    spendCpu(0.05);
    const double elapsed = std::stod(fields(report(nullptr), sectionLines)[3]);
    clockShift = 0;
    EXPECT_GE(elapsed, 0.04);
    EXPECT_LT(elapsed, 10.0);
}

}  // namespace
