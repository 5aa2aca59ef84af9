// Tests of the chain of pools: numbering, the main pool, releaseAll, totals and reports.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

#include <tovlib.h>

namespace {

std::string pointer(const void* p) {
    std::ostringstream os;
    os << p;
    return os.str();
}

std::string report(const tovPool& p) {
    std::ostringstream os;
    p.print(os);
    return os.str();
}

// A heap pool that says when it is destroyed.
struct Tracked : tovPool {
    explicit Tracked(bool* gone) : _gone(gone) {}
    ~Tracked() override { *_gone = true; }
    bool* _gone;
};

class PoolRegistry : public testing::Test {
protected:
    void SetUp() override {
        tovLib::clrAll();
        tovPool::releaseAll();  // only the main pool remains, empty
        ASSERT_EQ(tovPool::npools(), 1u);
    }
    void TearDown() override { tovLib::clrAll(); }
};

TEST_F(PoolRegistry, NumbersFollowTheNewestPool) {
    auto* one = new tovPool;
    auto* two = new tovPool;
    EXPECT_EQ(one->getNum(), 1);
    EXPECT_EQ(two->getNum(), 2);
    delete two;  // the newest: its number is given again
    auto* again = new tovPool;
    EXPECT_EQ(again->getNum(), 2);
    delete one;  // an older one: numbers go on from the newest
    auto* three = new tovPool;
    EXPECT_EQ(three->getNum(), 3);
    EXPECT_EQ(tovPool::npools(), 3u);
    delete three;
    delete again;
}

TEST_F(PoolRegistry, MainPoolCanBeReplacedButNotCleared) {
    tovPool* main = tovPool::mainPool();
    tovPool::setMainPool(nullptr);
    EXPECT_EQ(tovPool::mainPool(), main);
    tovPool other;
    tovPool::setMainPool(&other);
    EXPECT_EQ(tovPool::mainPool(), &other);
    tovPool::setMainPool(main);
}

TEST_F(PoolRegistry, DestroyingTheMainPoolLeavesNoDanglingMainPool) {
    tovPool* main = tovPool::mainPool();
    auto* replacement = new tovPool;
    tovPool::setMainPool(replacement);
    delete replacement;
    EXPECT_EQ(tovPool::mainPool(), nullptr);
    tovPool::setMainPool(main);
}

TEST_F(PoolRegistry, ReleaseAllDestroysOthersAndEmptiesTheMainPool) {
    bool gone1 = false, gone2 = false;
    auto* p1 = new Tracked(&gone1);
    auto* p2 = new Tracked(&gone2);
    tovPool::mainPool()->alloc(100);
    p1->alloc(100);
    p2->alloc(9000);
    EXPECT_EQ(tovPool::apools(), 8000u + 8000 + 9000);
    EXPECT_EQ(tovPool::upools(), 104u + 104 + 9000);
    tovPool::releaseAll();
    EXPECT_TRUE(gone1);
    EXPECT_TRUE(gone2);
    EXPECT_EQ(tovPool::npools(), 1u);
    EXPECT_EQ(tovPool::apools(), 0u);
    EXPECT_EQ(tovPool::mainPool()->getNum(), 0);
}

TEST_F(PoolRegistry, ReleaseAllLeavesPoolsWhoseFlagIsClear) {
    bool gone1 = false, gone2 = false;
    auto* p1 = new Tracked(&gone1);
    auto* p2 = new Tracked(&gone2);
    p1->alloc(8);
    p2->alloc(8);
    p2->setReleaseFlag(false);
    tovPool::releaseAll();
    EXPECT_TRUE(gone1);
    EXPECT_FALSE(gone2);
    EXPECT_EQ(p2->amem(), 8000u);
    EXPECT_EQ(tovPool::npools(), 2u);

    std::ostringstream all;
    tovPool::printAll(all);
    EXPECT_TRUE(std::regex_match(all.str(), std::regex("\\*\\*\\* List of all Pools \\*\\*\\*\n"
                                                       "  Pool 2 @.*\n"
                                                       "  Pool 0 @.*\n"
                                                       "\\*\\*\\* Total: .*\n")))
        << all.str();
    auto* next = new tovPool;
    EXPECT_EQ(next->getNum(), 3);
    delete next;
    delete p2;
}

TEST_F(PoolRegistry, ReleaseAllLeavesTheMainPoolWhenItsFlagIsClear) {
    tovPool* main = tovPool::mainPool();
    void* kept = main->alloc(40);
    main->setReleaseFlag(false);
    tovPool::releaseAll();
    main->setReleaseFlag(true);
    EXPECT_EQ(main->amem(), 8000u);
    EXPECT_EQ(main->umem(), 40u);
    main->free(kept, 40);
}

TEST_F(PoolRegistry, ReportLineWithoutDetails) {
    tovPool p;
    EXPECT_EQ(report(p), "Pool 1 @" + pointer(&p) + " Alloc=0 Used=0 FreeB=0 FreeR=0\n");
}

TEST_F(PoolRegistry, ReportDetailsWithFlagZero) {
    tovLib::set(0);
    tovPool p;
    EXPECT_EQ(report(p), "Pool 1 @" + pointer(&p) +
                             " Alloc=0 Used=0 FreeB=0 FreeR=0\n"
                             "  Allocated blocks: \n"
                             "  Free blocks: \n");
    void* e = p.alloc(16);
    const std::string tail = " @" + pointer(static_cast<char*>(e) + 16) + "\\(7984\\)\n";
    EXPECT_TRUE(
        std::regex_match(report(p), std::regex("Pool 1 @0x[0-9a-f]+ Alloc=8000 Used=16 FreeB=7984 FreeR=0\n"
                                               "  Allocated blocks:  @0x[0-9a-f]+\\(8000\\)\n"
                                               "  Free blocks: " +
                                               tail)))
        << report(p);
    p.free(e, 16);
    p.free(p.alloc(500), 500);
    p.free(p.alloc(500), 500);  // taken again from the recycled list
    p.free(p.alloc(8), 8);
    const std::string r = report(p);
    EXPECT_NE(r.find(" FreeB=7472 FreeR=528\n"), std::string::npos) << r;
    EXPECT_NE(r.find("\n  Recycled Element: size=8 Number=1 Bytes=8\n"
                     "  Recycled Element: size=16 Number=1 Bytes=16\n"
                     "  Recycled Element: size=504 Number=1 Bytes=504\n"),
              std::string::npos)
        << r;
}

TEST_F(PoolRegistry, PrintAllListsNewestFirstWithTotals) {
    tovPool p1, p2;
    p1.alloc(24);
    p2.alloc(9000);
    std::ostream::fmtflags hexed;
    std::ostringstream all;
    all << std::hex;  // numbers are decimal whatever the stream was set to
    tovPool::printAll(all);
    hexed = all.flags();
    EXPECT_EQ(hexed & std::ios::basefield, std::ios::hex);
    EXPECT_EQ(all.str(), "*** List of all Pools ***\n  " + report(p2) + "  " + report(p1) + "  " +
                             report(*tovPool::mainPool()) +
                             "*** Total: Alloc=17000 Used=9024 Free=7976 Recycled=0 ***\n");
}

TEST_F(PoolRegistry, TotalsAboveTwoToThe31PrintUnsigned) {
    tovPool p1, p2;  // two blocks of their own, never touched
    try {
        p1.alloc((std::size_t{1} << 30) + 8);
        p2.alloc((std::size_t{1} << 30) + 8);
    } catch (const std::bad_alloc&) {
        GTEST_SKIP() << "no room for two 1 GiB blocks";
    }
    std::ostringstream all;
    tovPool::printAll(all);
    EXPECT_NE(all.str().find("*** Total: Alloc=2147483664 Used=2147483664 Free=0 Recycled=0 ***\n"),
              std::string::npos)
        << all.str();
}

}  // namespace
