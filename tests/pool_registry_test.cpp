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

// The main pool can be replaced but not cleared; destroying it leaves none.
TEST_F(PoolRegistry, MainPoolCanBeReplacedButNotCleared) {
    tovPool* main = tovPool::mainPool();
    tovPool::setMainPool(nullptr);
    EXPECT_EQ(tovPool::mainPool(), main);
    auto* other = new tovPool;
    tovPool::setMainPool(other);
    EXPECT_EQ(tovPool::mainPool(), other);
    delete other;
    EXPECT_EQ(tovPool::mainPool(), nullptr);
    tovPool::setMainPool(main);
}

// releaseAll destroys the pools whose flag is set and empties the main pool; a pool
// whose flag is clear stays whole in the chain, and numbering goes on above it.
TEST_F(PoolRegistry, ReleaseAllDestroysFlaggedPoolsAndEmptiesTheMainPool) {
    bool gone1 = false, gone2 = false, gone3 = false;
    auto* p1 = new Tracked(&gone1);
    auto* p2 = new Tracked(&gone2);
    auto* p3 = new Tracked(&gone3);
    tovPool::mainPool()->alloc(100);
    p1->alloc(100);
    p2->alloc(8);
    p3->alloc(9000);
    p2->setReleaseFlag(false);
    EXPECT_EQ(tovPool::apools(), 8000u + 8000 + 8000 + 9000);
    EXPECT_EQ(tovPool::upools(), 104u + 104 + 8 + 9000);
    tovPool::releaseAll();
    EXPECT_TRUE(gone1);
    EXPECT_FALSE(gone2);
    EXPECT_TRUE(gone3);
    EXPECT_EQ(p2->umem(), 8u);
    EXPECT_EQ(tovPool::npools(), 2u);
    EXPECT_EQ(tovPool::apools(), 8000u);  // p2's block alone

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

// One line; with flag 0 the blocks, the free segments and the recycled elements.
TEST_F(PoolRegistry, Report) {
    tovPool p;
    const std::string first = "Pool 1 @" + pointer(&p) + " Alloc=0 Used=0 FreeB=0 FreeR=0\n";
    EXPECT_EQ(report(p), first);
    tovLib::set(0);
    EXPECT_EQ(report(p), first + "  Allocated blocks: \n  Free blocks: \n");
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
    std::ostringstream all;
    all << std::hex;  // numbers are decimal whatever the stream was set to, which it keeps
    tovPool::printAll(all);
    EXPECT_EQ(all.flags() & std::ios::basefield, std::ios::hex);
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
