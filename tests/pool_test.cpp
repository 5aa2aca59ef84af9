// Tests of pools beyond what model.pool (fuzz/pool_fuzz.cpp) predicts: a client's first
// block, the heap calls of the warm path, the main pool, and totals beyond 2^31.
#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include <tovlib.h>

#include "heap_fault.h"

namespace {

// establish() chooses the first block, again after each release(); the cached arena
// it gave back serves the next pool's block.
TEST(Pool, EstablishChoosesTheFirstBlockAfterEachRelease) {
    struct Roomy : tovPool {
        int established = 0;
        void establish(std::size_t size) override {
            ++established;
            tovPool::establish(size < 20000 ? 20000 : size);
        }
    } p;
    tovLib::trimPoolCache();
    for (int round = 0; round < 2; ++round) p.release(), p.alloc(16);
    EXPECT_EQ(p.established, 2);
    EXPECT_EQ(p.amem(), 20000u);
    EXPECT_EQ(p.ablocks(), 1u);
    p.release();  // its arena, cached, serves a smaller block too
    tovPool q;
    q.alloc(9000);
    EXPECT_EQ(tovLib::poolCacheHeld(), 0u);
}

// Neither a recycled element nor a refused size (one that cannot be rounded, or leaves
// no room for a block's record and the heap's header) costs a heap call.
TEST(Pool, WarmSmallPathAndRefusedSizesMakeNoHeapCall) {
    tovPool p;
    void* held[64];
    for (std::size_t c = 1; c < 64; ++c) p.free(p.alloc(8 * c), 8 * c);
    heapFault::failAt(0);  // counts from here
    for (int round = 0; round < 1000; ++round) {
        for (std::size_t c = 1; c < 64; ++c) held[c] = p.alloc(8 * c - round % 8);
        for (std::size_t c = 63; c >= 1; --c) p.free(held[c], 8 * c - round % 8);
    }
    for (std::size_t below : {std::size_t{3}, std::size_t{15}, 7 + (3 * sizeof(void*) + 7) / 8 * 8})
        EXPECT_THROW(p.alloc(std::numeric_limits<std::size_t>::max() - below), std::bad_alloc);
    EXPECT_EQ(heapFault::calls(), 0u);
}

// A split of a segment behind a block added below it (here from a cached arena lower
// than the pool's first, where the heap hands out rising addresses) can leave exactly a
// class's size, the smallest or the largest: first fit must still find it there.
// Only where a segment's header takes 16 bytes: an 8-byte split that leaves a class's size.
TEST(Pool, ASplitBehindALowerBlockLeavesAFitForItsClass) {
    if (sizeof(void*) < 8) GTEST_SKIP() << "a segment of a class's size plus 8 fits the class";
    for (std::size_t c : {std::size_t{24}, 8 * tovPool::sizeClasses - 8}) {
        tovLib::trimPoolCache();
        tovPool low, high, p;
        low.alloc(16040), high.alloc(8);  // arenas of twice the first one's size, and of its size
        low.release(), high.release();
        p.alloc(8000 - c - 8);  // in the high arena: a leftover c + 8 bytes long, which c bytes do not fit
        p.alloc(c), p.alloc(8000 - c);  // so they take a block in the low arena, then filled
        auto* const eight = static_cast<char*>(p.alloc(8));  // leaves c bytes of the leftover
        EXPECT_EQ(p.alloc(c), eight + 8) << c;
    }
}

// The main pool can be replaced but not cleared; destroying it leaves none.
TEST(Pool, MainPoolCanBeReplacedButNotCleared) {
    tovPool* main = tovPool::mainPool();
    auto* other = new tovPool;
    for (tovPool* set : {static_cast<tovPool*>(nullptr), other}) {
        tovPool::setMainPool(set);
        EXPECT_EQ(tovPool::mainPool(), set ? set : main);
    }
    delete other;
    EXPECT_EQ(tovPool::mainPool(), nullptr);
    tovPool::setMainPool(main);
}

// Totals above 2^31 print unsigned (a 32-bit build's boundary).
TEST(Pool, TotalsAboveTwoToThe31PrintUnsigned) {
    tovPool p1, p2;  // two blocks of their own, never touched
    try {
        p1.alloc((std::size_t{1} << 30) + 8);
        p2.alloc((std::size_t{1} << 30) + 8);
    } catch (const std::bad_alloc&) {
        GTEST_SKIP() << "no room for two 1 GiB blocks";
    }
    std::ostringstream all;
    tovPool::printAll(all);
    EXPECT_NE(all.str().find("Alloc=2147483664 Used=2147483664 Free=0 Recycled=0 ***\n"), std::string::npos)
        << all.str();
}

}  // namespace
