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

#include "heap_fault.h"

namespace {

TEST(Flags, SetAndClearOneFlagAtATime) {
    tovLib::clrAll();
    for (int i : {0, 2, 199}) {
        EXPECT_FALSE(tovLib::get(i));
        tovLib::set(i);
        EXPECT_TRUE(tovLib::get(i));
        EXPECT_FALSE(tovLib::get(i == 0 ? 1 : i - 1));
        tovLib::clr(i);
        EXPECT_FALSE(tovLib::get(i));
    }
}

TEST(Flags, ClearAllReachesTheClientsFlagsToo) {
    for (int i = 0; i < 200; ++i) tovLib::set(i);
    tovLib::clrAll();
    for (int i = 0; i < 200; ++i) EXPECT_FALSE(tovLib::get(i)) << i;
}

TEST(Flags, IndexesOutsideTheBankAreIgnored) {
    tovLib::clrAll();
    for (int i : {-1, 200, INT_MAX, INT_MIN}) {
        tovLib::set(i);
        EXPECT_FALSE(tovLib::get(i));
    }
    tovLib::set(199);
    tovLib::clr(200);
    EXPECT_TRUE(tovLib::get(199));
    tovLib::clrAll();
}

TEST(Space, RunsOfBlanksAsLongAsTheMagnitude) {
    EXPECT_STREQ(tovLib::space(0), "");
    EXPECT_STREQ(tovLib::space(1), " ");
    EXPECT_STREQ(tovLib::space(-3), "   ");
    EXPECT_EQ(std::string(tovLib::space(127)), std::string(127, ' '));
    // Wider requests stop at 127 blanks instead of running past the buffer.
    for (int n : {128, -128, 100000, INT_MIN, INT_MAX})
        EXPECT_EQ(std::string(tovLib::space(n)), std::string(127, ' ')) << n;
}

TEST(Space, EveryCallReturnsTheSameBuffer) {
    char* first = tovLib::space(4);
    char* second = tovLib::space(2);
    EXPECT_EQ(first, second);
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

TEST_F(Startup, InitKeepsTheTableAndClearsFlagsOnlyWhenAsked) {
    const tovStringTbl* table = tovStringTbl::table();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->getPool(), tovPool::mainPool());
    tovLib::set(7);
    tovLib::init(false);
    EXPECT_TRUE(tovLib::get(7));
    tovLib::init(true);
    EXPECT_FALSE(tovLib::get(7));
    EXPECT_EQ(tovStringTbl::table(), table);
}

TEST_F(Startup, ResetForgetsTablesAndKeepsFlags) {
    tovLib::tempInit(nullptr);
    tovLib::set(9);
    tovLib::reset();
    EXPECT_EQ(tovStringTbl::table(), nullptr);
    EXPECT_EQ(tovStringTbl::tempTable(), nullptr);
    EXPECT_TRUE(tovLib::get(9));
    EXPECT_EQ(tovPool::npools(), 1u);  // the temporary pool was destroyed
}

TEST_F(Startup, ReInitMakesANewEmptyTable) {
    tovString("one");
    tovLib::set(9);
    tovLib::reInit(false);
    EXPECT_TRUE(tovLib::get(9));
    EXPECT_EQ(tovStringTbl::table()->count(), 0);
    tovString("two");
    tovLib::reInit(true);
    EXPECT_FALSE(tovLib::get(9));
    EXPECT_EQ(tovStringTbl::table()->count(), 0);
}

TEST_F(Startup, TempInitTwiceMakesASecondEmptyPoolButKeepsTheTable) {
    const unsigned pools = tovPool::npools();
    tovLib::tempInit(nullptr);
    const tovStringTbl* temp = tovStringTbl::tempTable();
    ASSERT_NE(temp, nullptr);
    EXPECT_NE(temp->getPool(), tovPool::mainPool());
    tovLib::tempInit(nullptr);
    EXPECT_EQ(tovStringTbl::tempTable(), temp);
    EXPECT_EQ(tovPool::npools(), pools + 2);
    EXPECT_EQ(tovPool::apools(), tovPool::mainPool()->amem() + temp->getPool()->amem());
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

// A temporary table made directly in the main pool must not take the main pool (and
// the main table) with it.
TEST_F(Startup, TempResetOfATableWithoutAPoolOfItsOwn) {
    const std::size_t used = tovPool::mainPool()->umem();
    tovStringTbl::establishTemp(nullptr);
    { tovString scratch("scratch"); }
    tovLib::tempReset();
    EXPECT_EQ(tovStringTbl::tempTable(), nullptr);
    EXPECT_EQ(tovPool::mainPool()->umem(), used);  // the table and its element went back
    tovString kept("kept");
    EXPECT_EQ(tovStringTbl::table()->count(), 1);
}

// A temporary table made directly while there was no main pool lives on the heap: it
// is deleted, not its (absent) pool released, even once there is a main pool again.
TEST_F(Startup, TempResetOfATableOnTheHeap) {
    tovPool* main = tovPool::mainPool();
    auto* doomed = new tovPool;
    tovPool::setMainPool(doomed);
    delete doomed;
    ASSERT_EQ(tovStringTbl::establishTemp(nullptr)->getPool(), nullptr);
    tovPool::setMainPool(main);
    tovLib::tempReset();
    EXPECT_EQ(tovStringTbl::tempTable(), nullptr);
}

TEST_F(Startup, EachTempInitAfterTempResetMakesAPoolThatStaysUntilReset) {
    const unsigned pools = tovPool::npools();
    for (int i = 0; i < 3; ++i) {
        tovLib::tempInit(nullptr);
        tovLib::tempReset();
    }
    EXPECT_EQ(tovPool::npools(), pools + 3);
    tovLib::reset();
    EXPECT_EQ(tovPool::npools(), 1u);
}

TEST_F(Startup, PoolsWithTheirFlagClearedSurviveReset) {
    tovPool kept;
    kept.setReleaseFlag(false);
    void* mine = kept.alloc(64);
    tovPool* main = tovPool::mainPool();
    main->setReleaseFlag(false);
    const tovStringTbl* old = tovStringTbl::table();
    const std::size_t mainHeld = main->amem();
    tovLib::reset();
    EXPECT_EQ(kept.umem(), 64u);
    EXPECT_EQ(main->amem(), mainHeld);  // the old table's memory stays, forgotten
    tovLib::init(false);
    EXPECT_NE(tovStringTbl::table(), old);
    main->setReleaseFlag(true);
    kept.free(mine, 64);
}

TEST_F(Startup, TempInitThatCannotMakeItsPoolLeavesTheAreaClosed) {
    const unsigned pools = tovPool::npools();
    for (std::size_t n : {1, 2}) {  // the pool itself, then the block of its table
        heapFault::failAt(n);
        EXPECT_THROW(tovLib::tempInit(nullptr), std::bad_alloc);
        EXPECT_EQ(tovStringTbl::tempTable(), nullptr);
        EXPECT_EQ(tovPool::npools(), pools);
    }
    heapFault::failAt(0);
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

TEST_F(Timer, SectionReportShape) {
    tovLib::startTimer();
    EXPECT_TRUE(std::regex_match(section(""), sectionLines)) << section("");
    const std::string labelled = section("reading");
    ASSERT_EQ(labelled.substr(0, 8), "reading\n");
    EXPECT_TRUE(std::regex_match(labelled.substr(8), sectionLines)) << labelled;
}

TEST_F(Timer, ConsecutiveSectionsChain) {
    tovLib::startTimer();
    const std::string first = section(""), second = section("");
    // The second section starts where the first ended.
    EXPECT_EQ(second.substr(25, 8), first.substr(25 + 34, 8));
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
