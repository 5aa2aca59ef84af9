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

namespace {

// Each flag on its own; indexes outside the bank are ignored; clrAll reaches all 200,
// the client's flags too.
TEST(Flags, SetClearAndTheBanksBounds) {
    tovLib::clrAll();
    for (int i : {0, 2, 199}) {
        EXPECT_FALSE(tovLib::get(i));
        tovLib::set(i);
        EXPECT_TRUE(tovLib::get(i));
        EXPECT_FALSE(tovLib::get(i == 0 ? 1 : i - 1));
        tovLib::clr(i);
        EXPECT_FALSE(tovLib::get(i));
    }
    for (int i : {-1, 200, INT_MAX, INT_MIN}) {
        tovLib::set(i);
        EXPECT_FALSE(tovLib::get(i));
    }
    for (int i = 0; i < 200; ++i) tovLib::set(i);
    tovLib::clr(200);
    EXPECT_TRUE(tovLib::get(199));
    tovLib::clrAll();
    for (int i = 0; i < 200; ++i) EXPECT_FALSE(tovLib::get(i)) << i;
}

// Runs of blanks as long as the magnitude, at most 127 instead of running past the
// buffer; every call returns the same buffer.
TEST(Space, RunsOfBlanksInOneBuffer) {
    const std::pair<int, int> widths[] = {{0, 0},        {1, 1},         {-3, 3},
                                          {127, 127},    {128, 127},     {-128, 127},
                                          {100000, 127}, {INT_MIN, 127}, {INT_MAX, 127}};
    for (auto [n, blanks] : widths) EXPECT_EQ(std::string(tovLib::space(n)), std::string(blanks, ' ')) << n;
    char* first = tovLib::space(4);
    EXPECT_EQ(tovLib::space(2), first);
    EXPECT_STREQ(first, "  ");
}

class Startup : public testing::Test {
protected:
    void SetUp() override { tovLib::reInit(true); }
    void TearDown() override {
        tovLib::reset();
        tovLib::clrAll();
    }
};

// init keeps the table, reInit makes a new empty one, reset forgets both tables (and
// destroys the temporary pool); only init(true) and reInit(true) clear the flags.
TEST_F(Startup, InitReInitAndReset) {
    const tovStringTbl* table = tovStringTbl::table();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->getPool(), tovPool::mainPool());
    tovLib::set(7);
    tovLib::init(false);
    EXPECT_TRUE(tovLib::get(7));
    tovLib::init(true);
    EXPECT_FALSE(tovLib::get(7));
    EXPECT_EQ(tovStringTbl::table(), table);

    tovString("one");
    tovLib::set(9);
    tovLib::reInit(false);
    EXPECT_TRUE(tovLib::get(9));
    EXPECT_EQ(tovStringTbl::table()->count(), 0);
    tovString("two");
    tovLib::reInit(true);
    EXPECT_FALSE(tovLib::get(9));
    EXPECT_EQ(tovStringTbl::table()->count(), 0);

    tovLib::tempInit(nullptr);
    tovLib::set(9);
    tovLib::reset();
    EXPECT_EQ(tovStringTbl::table(), nullptr);
    EXPECT_EQ(tovStringTbl::tempTable(), nullptr);
    EXPECT_TRUE(tovLib::get(9));
    EXPECT_EQ(tovPool::npools(), 1u);
}

// Every tempInit makes a pool, even where the table exists already (which it keeps);
// the pools stay, emptied by tempReset, until reset.
TEST_F(Startup, EachTempInitMakesAPoolThatStaysUntilReset) {
    const unsigned pools = tovPool::npools();
    tovLib::tempInit(nullptr);
    const tovStringTbl* temp = tovStringTbl::tempTable();
    ASSERT_NE(temp, nullptr);
    EXPECT_NE(temp->getPool(), tovPool::mainPool());
    tovLib::tempInit(nullptr);
    EXPECT_EQ(tovStringTbl::tempTable(), temp);
    EXPECT_EQ(tovPool::npools(), pools + 2);
    EXPECT_EQ(tovPool::apools(), tovPool::mainPool()->amem() + temp->getPool()->amem());
    for (int i = 0; i < 3; ++i) {
        tovLib::tempReset();
        tovLib::tempInit(nullptr);
    }
    tovLib::tempReset();
    EXPECT_EQ(tovPool::npools(), pools + 5);
    tovLib::reset();
    EXPECT_EQ(tovPool::npools(), 1u);
}

TEST_F(Startup, TempResetReleasesTheClientsPoolAndKeepsItRegistered) {
    auto* p = new tovPool;
    p->alloc(100);  // the client's own memory goes too
    tovLib::tempInit(p);
    EXPECT_EQ(tovStringTbl::tempTable()->getPool(), p);
    tovString scratch("scratch");
    const unsigned pools = tovPool::npools();
    tovLib::tempReset();
    EXPECT_EQ(tovStringTbl::tempTable(), nullptr);
    EXPECT_NE(tovStringTbl::table(), nullptr);
    EXPECT_EQ(p->amem(), 0u);
    EXPECT_EQ(tovPool::npools(), pools);
    p->alloc(8);          // still usable
    tovLib::tempReset();  // no temporary table: nothing happens
    EXPECT_EQ(p->amem(), 8000u);
}

// A temporary table made directly, in the main pool or, with no main pool, on the heap:
// tempReset gives it back or deletes it, and leaves the main pool and the main table.
TEST_F(Startup, TempResetOfATableWithoutAPoolOfItsOwn) {
    const std::size_t used = tovPool::mainPool()->umem();
    tovStringTbl::establishTemp(nullptr);
    { tovString scratch("scratch"); }
    tovLib::tempReset();
    EXPECT_EQ(tovStringTbl::tempTable(), nullptr);
    EXPECT_EQ(tovPool::mainPool()->umem(), used);  // the table and its element went back
    tovString kept("kept");
    EXPECT_EQ(tovStringTbl::table()->count(), 1);
    {
        NoMainPool none;
        ASSERT_EQ(tovStringTbl::establishTemp(nullptr)->getPool(), nullptr);
    }
    tovLib::tempReset();  // deleted, even now that there is a main pool again
    EXPECT_EQ(tovStringTbl::tempTable(), nullptr);
    EXPECT_EQ(tovStringTbl::table()->count(), 1);
}

TEST_F(Startup, PoolsWithTheirFlagClearedSurviveReset) {
    tovPool kept;
    kept.setReleaseFlag(false);
    void* mine = kept.alloc(64);
    tovPool* main = tovPool::mainPool();
    main->setReleaseFlag(false);
    const tovStringTbl* old = tovStringTbl::table();
    const std::size_t mainHeld = main->amem(), mainUsed = main->umem();
    tovLib::reset();
    EXPECT_EQ(kept.umem(), 64u);
    EXPECT_EQ(main->amem(), mainHeld);  // the old table's memory stays, forgotten
    EXPECT_EQ(main->umem(), mainUsed);
    tovLib::init(false);
    EXPECT_NE(tovStringTbl::table(), old);
    main->setReleaseFlag(true);
    kept.free(mine, 64);
}

// The stopwatch, read in UTC so that calendar time 0 is midnight.
class Timer : public testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
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
};

const std::regex sectionLines(
    "    Start section time   [ 12]\\d:[0-5]\\d:[0-5]\\d\n"
    "    End section time     [ 12]\\d:[0-5]\\d:[0-5]\\d\n"
    "    Elapsed section time \\d+\\.\\d{6}s\n");

TEST_F(Timer, BeforeAnyStartTheRecordIsZero) {
    // Its own process: nothing has started the stopwatch.
    const std::string first = section(nullptr);
    EXPECT_EQ(first.substr(0, 46), "    Start section time    0:00:00\n    End sect") << first;
    EXPECT_EQ(stop().substr(0, 39), "Starting time Thu Jan  1 00:00:00 1970\n");
}

TEST_F(Timer, SectionReportShapeAndChain) {
    tovLib::startTimer();
    const std::string first = section(""), labelled = section("reading");
    EXPECT_TRUE(std::regex_match(first, sectionLines)) << first;
    ASSERT_EQ(labelled.substr(0, 8), "reading\n");
    EXPECT_TRUE(std::regex_match(labelled.substr(8), sectionLines)) << labelled;
    // The second section starts where the first ended.
    EXPECT_EQ(labelled.substr(8 + 25, 8), first.substr(25 + 34, 8));
}

TEST_F(Timer, StopRunsFromTheStartAndCanRepeat) {
    const tovTime started = tovLib::startTimer();
    EXPECT_EQ(started.startTime, started.lastTime);
    EXPECT_EQ(started.startClock, started.lastClock);
    section("a");
    const std::string one = stop(), two = stop();
    const std::regex shape(
        "Starting time (.{24})\n"
        "Ending time   .{24}\n"
        "Elapsed time  ([0-9.e+-]+)s\n");
    std::smatch m1, m2;
    ASSERT_TRUE(std::regex_match(one, m1, shape)) << one;
    ASSERT_TRUE(std::regex_match(two, m2, shape)) << two;
    EXPECT_EQ(m1[1], m2[1]);
    EXPECT_LE(std::stod(m1[2]), std::stod(m2[2]));
}

}  // namespace
