// Tests of the library services: flags, indentation, start-up and reset, the
// temporary area, and the stopwatch.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <sstream>
#include <string>

#include <tovlib.h>

#include "support.h"

// The process clock, in microseconds, moved on by clockShift: this definition takes the
// place of the C library's for the stopwatch too.
long long clockShift = 0;
extern "C" std::clock_t clock() noexcept {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<std::clock_t>(now.tv_sec * 1000000LL + now.tv_nsec / 1000 + clockShift);
}

namespace {

// Each flag on its own; indexes outside the bank are ignored; clrAll reaches all 200.
TEST(Flags, SetClearAndTheBanksBounds) {
    tovLib::clrAll();
    for (int i : {0, 2, 199}) {
        tovLib::set(i);
        EXPECT_TRUE(tovLib::get(i));
        EXPECT_FALSE(tovLib::get(i == 0 ? 1 : i - 1));
        tovLib::clr(i);
        EXPECT_FALSE(tovLib::get(i));
    }
    for (int i = -1; i < 201; ++i) tovLib::set(i);
    EXPECT_FALSE(tovLib::get(-1) || tovLib::get(200) || tovLib::get(INT_MIN));
    tovLib::clr(200);
    EXPECT_TRUE(tovLib::get(199));
    tovLib::clrAll();
    for (int i = 0; i < 200; ++i) EXPECT_FALSE(tovLib::get(i)) << i;
}

// Runs of blanks as long as the magnitude, at most 127; every call returns one buffer.
TEST(Space, RunsOfBlanksInOneBuffer) {
    const std::pair<int, int> widths[] = {{0, 0},        {1, 1},         {-3, 3},
                                          {127, 127},    {128, 127},     {-128, 127},
                                          {100000, 127}, {INT_MIN, 127}, {INT_MAX, 127}};
    for (auto [n, blanks] : widths) EXPECT_EQ(std::string(tovLib::space(n)), std::string(blanks, ' ')) << n;
    EXPECT_EQ(tovLib::space(2), tovLib::space(4));
}

// Only init(true) and reInit(true) clear the flags; reset forgets both tables. (The
// string model, fuzz/string_fuzz.cpp, checks the tables and pools of every step.)
TEST(Startup, FlagsAndTables) {
    tovLib::reInit(true);
    for (bool clear : {false, true}) {
        tovLib::set(7);
        tovLib::init(clear);
        EXPECT_EQ(tovLib::get(7), !clear);
        tovLib::set(7);
        tovLib::reInit(clear);
        EXPECT_EQ(tovLib::get(7), !clear);
    }
    tovLib::set(7);
    tovLib::tempInit(nullptr);
    tovLib::reset();
    EXPECT_TRUE(tovLib::get(7));
    EXPECT_EQ(tovStringTbl::table(), nullptr);
    EXPECT_EQ(tovStringTbl::tempTable(), nullptr);
}

// A temporary table made directly, in the main pool or, with no main pool, on the heap:
// tempReset gives it back or deletes it, and leaves the main pool and the main table.
TEST(Startup, TempResetOfATableWithoutAPoolOfItsOwn) {
    tovLib::reInit(true);
    const std::size_t used = tovPool::mainPool()->umem();
    tovStringTbl::establishTemp(nullptr);
    { tovString scratch("scratch"); }
    tovLib::tempReset();
    EXPECT_EQ(tovStringTbl::tempTable(), nullptr);
    EXPECT_EQ(tovPool::mainPool()->umem(), used);
    tovString kept("kept");
    {
        NoMainPool none;
        ASSERT_EQ(tovStringTbl::establishTemp(nullptr)->getPool(), nullptr);
    }
    tovLib::tempReset();
    EXPECT_EQ(tovStringTbl::tempTable(), nullptr);
    EXPECT_EQ(tovStringTbl::table()->count(), 1);
}

// The stopwatch (std::clock for elapsed times), read in a zone of the test's choosing.
class Timer : public testing::Test {
protected:
    static void zone(const std::string& tz) {
        setenv("TZ", tz.c_str(), 1);
        tzset();
    }
    // A zone where the hour is now 5, so that an hour printed with a leading zero shows.
    static void earlyZone() {
        const std::time_t now = std::time(nullptr);
        const int west = std::gmtime(&now)->tm_hour - 5;  // hours behind UTC, -5 to 18
        zone(std::string("EARLY") + (west < 0 ? "-" : "+") + std::to_string(std::abs(west)));
    }
    static std::string section(const char* label) {
        std::ostringstream os;
        tovLib::sectionTimer(os, label);
        return os.str();
    }
    static std::string stop() {
        std::ostringstream os;
        tovLib::stopTimer(os);
        return os.str();
    }
    static void spendCpu(double seconds) {
        const std::clock_t start = std::clock();
        for (volatile unsigned long spin = 0; std::clock() - start < seconds * CLOCKS_PER_SEC;)
            spin = spin + 1;
    }
};

const std::regex sectionLines(
    "    Start section time    5:[0-5]\\d:[0-5]\\d\n"
    "    End section time      5:[0-5]\\d:[0-5]\\d\n"
    "    Elapsed section time (\\d+\\.\\d{6})s\n");
const std::regex stopLines(
    "Starting time (.{24})\n"
    "Ending time   .{24}\n"
    "Elapsed time  ([0-9.e+-]+)s\n");

TEST_F(Timer, BeforeAnyStartTheRecordIsZero) {
    zone("UTC");  // its own process: nothing has started the stopwatch
    const std::string first = section(nullptr);
    EXPECT_EQ(first.substr(0, 46), "    Start section time    0:00:00\n    End sect") << first;
    EXPECT_EQ(stop().substr(0, 39), "Starting time Thu Jan  1 00:00:00 1970\n");
}

// A section runs from the previous reading, the total from startTimer, and the stop
// report can repeat.
TEST_F(Timer, SectionsChainAndTheTotalRunsFromTheStart) {
    earlyZone();
    tovLib::startTimer();
    spendCpu(0.05);
    const std::string first = section(""), labelled = section("reading");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(first, m, sectionLines)) << first;
    EXPECT_GE(std::stod(m[1]), 0.04) << first;
    ASSERT_EQ(labelled.substr(0, 8), "reading\n");
    EXPECT_TRUE(std::regex_match(labelled.substr(8), sectionLines)) << labelled;
    EXPECT_EQ(labelled.substr(8 + 25, 8), first.substr(25 + 34, 8));
    const std::string one = stop(), two = stop();
    std::smatch m1, m2;
    ASSERT_TRUE(std::regex_match(one, m1, stopLines)) << one;
    ASSERT_TRUE(std::regex_match(two, m2, stopLines)) << two;
    EXPECT_EQ(m1[1], m2[1]);
    EXPECT_GE(std::stod(m1[2]), 0.04);
    EXPECT_LE(std::stod(m1[2]), std::stod(m2[2]));
}

// The stopwatch keeps milliseconds in 32 bits: an elapsed time across the wrap of that
// reading (after 24.8 days of CPU time) still comes out right.
TEST_F(Timer, ElapsedTimeAcrossTheWrapOfTheClock) {
    if (sizeof(std::clock_t) < 8) GTEST_SKIP() << "the clock itself wraps first";
    clockShift = (1LL << 31) * 1000 - static_cast<long long>(std::clock()) - 20000;  // 20 ms before
    tovLib::startTimer();
    spendCpu(0.05);
    std::smatch m;
    const std::string text = section(nullptr);
    clockShift = 0;
    ASSERT_TRUE(std::regex_search(text, m, std::regex("time (-?[0-9.]+)s"))) << text;
    EXPECT_GE(std::stod(m[1]), 0.04) << text;
    EXPECT_LT(std::stod(m[1]), 10.0) << text;
}

}  // namespace
