// Tests of pools beyond what model.pool (fuzz/pool_fuzz.cpp) predicts: verify() seeing
// corruption, a client's first block, the heap calls of the warm path, the main pool,
// and totals beyond 2^31.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <sstream>

#include <tovlib.h>

#include "heap_fault.h"

namespace {

char* at(void* p, std::ptrdiff_t offset) { return static_cast<char*>(p) + offset; }

struct Header {  // a free segment's
    void* next;
    std::size_t size;
};

// Each way a client can break a pool -- a write after free(), a double free(), a write
// over a free segment -- is seen. Each case ends with release(), which trusts nothing
// it would have to walk. Memcheck would (rightly) report the writes themselves.
TEST(Pool, VerifySeesCorruption) {
#ifdef TOVLIB_MEMCHECK
    GTEST_SKIP() << "the corrupting writes are reported by Memcheck";
#endif
    tovPool p;
    void* r = p.alloc(24);
    p.free(r, 24);
    void* link;
    std::memcpy(&link, r, sizeof link);
    void* foreign[3] = {};
    void* const stray = foreign;
    std::memcpy(r, &stray, sizeof stray);  // a recycled link pointing outside the pool
    EXPECT_FALSE(p.verify());
    std::memcpy(r, &link, sizeof link);
    EXPECT_TRUE(p.verify());
    p.free(r, 24);  // freed twice: its class's list loops
    EXPECT_FALSE(p.verify());
    p.release();

    void* a = p.alloc(600);
    p.alloc(600);
    p.free(a, 600);
    p.free(a, 600);  // freed twice: the free list loops
    EXPECT_FALSE(p.verify());
    p.release();

    void* first = p.alloc(600);
    auto* rest = reinterpret_cast<Header*>(at(first, 600));  // the rest of the block
    ASSERT_EQ(rest->size, 8000u - 600u);
    auto* record = reinterpret_cast<std::size_t*>(at(first, 8000));  // next, address, size
    ASSERT_EQ(record[1], reinterpret_cast<std::size_t>(first));
    record[2] += 8;  // the blocks no longer add up to amem
    EXPECT_FALSE(p.verify());
    record[2] -= 8;
    for (std::size_t wrong : {std::size_t{7404}, sizeof(Header) - 8, std::size_t{8000 - 600 + 8},
                              std::numeric_limits<std::size_t>::max() / 2}) {
        rest->size = wrong;
        EXPECT_FALSE(p.verify()) << "free segment of " << wrong << " bytes";
    }
    rest->size = 8000 - 600;
    EXPECT_TRUE(p.verify());
    p.release();

    // A first-fit hint passes a segment that fits its class, or is no longer on the list.
    void* small = p.alloc(1000);
    p.alloc(600);
    p.free(small, 1000);  // a 1000-byte segment ahead of the rest of the block
    p.alloc(1000 - 16);   // 984 leaves 16 behind, which 24-byte requests skip
    p.alloc(24);          // its hint now lies past the 16 bytes
    auto* gap = reinterpret_cast<Header*>(at(small, 1000 - 16));
    ASSERT_EQ(gap->size, 16u);
    gap->size = 24;
    EXPECT_FALSE(p.verify());
    gap->size = 16;
    void* const next = gap->next;
    gap->next = nullptr;  // the list ends before the hint
    EXPECT_FALSE(p.verify());
    gap->next = next;
    EXPECT_TRUE(p.verify());
}

// establish() chooses the first block, again after each release().
TEST(Pool, EstablishChoosesTheFirstBlockAfterEachRelease) {
    struct Roomy : tovPool {
        int established = 0;
        void establish(std::size_t size) override {
            ++established;
            tovPool::establish(size < 20000 ? 20000 : size);
        }
    } p;
    p.alloc(16);
    p.release();
    p.alloc(16);
    EXPECT_EQ(p.established, 2);
    EXPECT_EQ(p.amem(), 20000u);
    EXPECT_EQ(p.ablocks(), 1u);
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

// The main pool can be replaced but not cleared; destroying it leaves none.
TEST(Pool, MainPoolCanBeReplacedButNotCleared) {
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
