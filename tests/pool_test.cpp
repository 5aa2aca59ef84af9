// Tests of pools beyond what model.pool (fuzz/pool_fuzz.cpp) reaches: a client's first
// block, free lists whose shape first fit's hints and search bounds must follow, and
// totals beyond 2^31. And the memory resource over a pool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <random>
#include <sstream>
#include <vector>

#include <tovlib.h>

#include "heap_fault.h"
#include "support.h"

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

// Leaves in the cache an arena for a pool's first block and, below it, one of twice its
// size for the pool's second block; false where the heap handed them out the other way
// round (as AddressSanitizer's does, each size from a region of its own).
bool lowerArenaCached() {
    tovLib::trimPoolCache();
    tovPool low, high;
    auto* const l = static_cast<char*>(low.alloc(16056));
    auto* const h = static_cast<char*>(high.alloc(8));
    low.release(), high.release();
    return l < h;
}

// A split of a segment behind a block added below it can leave exactly a class's size,
// the smallest or the largest: first fit must still find it there. Only where a
// segment's header takes 16 bytes: an 8-byte split that leaves a class's size.
TEST(Pool, ASplitBehindALowerBlockLeavesAFitForItsClass) {
    if (sizeof(void*) < 8) GTEST_SKIP() << "a segment of a class's size plus 8 fits the class";
    for (std::size_t c : {std::size_t{24}, 8 * tovPool::sizeClasses - 8}) {
        if (!lowerArenaCached()) GTEST_SKIP() << "the heap handed out the larger arena above";
        tovPool p;
        auto* const first = static_cast<char*>(p.alloc(8000 - c - 8));  // leaves c + 8 bytes, too few for c
        EXPECT_LT(static_cast<char*>(p.alloc(c)), first) << c;          // so c take a block in the low arena,
        p.alloc(8000 - c);                                              // then filled
        auto* const eight = static_cast<char*>(p.alloc(8));             // leaves c bytes of the leftover
        EXPECT_EQ(p.alloc(c), eight + 8) << c;
    }
}

// A split that leaves exactly a class's size in front of where that class's hint points
// (past two segments too short for it) must bring the hint back to it.
TEST(Pool, ASplitBeforeAClassHintLeavesAFitForItsClass) {
    if (sizeof(void*) < 8) GTEST_SKIP() << "a segment of a class's size plus 8 fits the class";
    for (std::size_t c : {std::size_t{24}, 8 * tovPool::sizeClasses - 8}) {
        tovPool p;
        auto* const x = static_cast<char*>(p.alloc(2048));
        p.alloc(512);
        auto* const z = static_cast<char*>(p.alloc(2048));
        p.alloc(512);
        p.free(x, 2048), p.free(z, 2048);
        p.alloc(2040 - c), p.alloc(2040 - c);  // leave c + 8 bytes of each, which c do not fit
        EXPECT_GT(p.alloc(c), z) << c;         // the class's hint now lies past both
        auto* const eight = static_cast<char*>(p.alloc(8));
        ASSERT_EQ(eight, x + 2040 - c) << c;
        EXPECT_EQ(p.alloc(c), eight + 8) << c;
    }
}

// A class whose search found nothing from some segment on, and took a block below it,
// must still find a large element freed above that segment.
TEST(Pool, AFreeAboveAFruitlessSearchIsFoundByIt) {
    if (!lowerArenaCached()) GTEST_SKIP() << "the heap handed out the larger arena above";
    tovPool p;
    auto* const front = static_cast<char*>(p.alloc(528));
    p.alloc(512);
    auto* const tail = static_cast<char*>(p.alloc(8000 - 1040));  // the block is full
    p.free(front, 528);
    EXPECT_EQ(p.alloc(512), front);  // leaves 16 bytes, which 24 do not fit
    EXPECT_LT(static_cast<char*>(p.alloc(24)), front) << "the second block lies below the first";
    p.alloc(8000 - 24);  // fills it
    p.free(tail, 8000 - 1040);
    EXPECT_EQ(p.alloc(24), tail);
    EXPECT_EQ(p.ablocks(), 2u);
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

// Random allocations through a resource, of sizes around the recycling limit and the
// block and of alignments up to a page, given back in any order or dropped by the
// pool's release: each is aligned and keeps its bytes, and the pool's bytes in use are
// exact after every step (an over-aligned element is carved `alignment` bytes larger;
// 0 bytes take 8).
TEST(PoolResource, CountersExactAndEveryElementAlignedAndKept) {
    tovPool pool;
    tovPoolResource r(pool);
    struct Held {
        unsigned char* p;
        std::size_t bytes, alignment;
        int fill;
    };
    std::vector<Held> held;
    std::size_t used = 0;
    std::mt19937 rng(5);
    const std::size_t sizes[] = {0, 1, 24, 504, 505, 5000, 9000}, alignments[] = {1, 8, 16, 64, 4096};
    for (int step = 0; step < 3000; ++step) {
        if (rng() % 100 == 0) {  // the phase ends: its elements go with the pool
            pool.release();
            held.clear();
            used = 0;
        } else if (rng() % 2 && !held.empty()) {
            std::swap(held[rng() % held.size()], held.back());
            const Held h = held.back();
            held.pop_back();
            for (std::size_t i = 0; i < h.bytes; ++i) ASSERT_EQ(h.p[i], h.fill) << step;
            r.deallocate(h.p, h.bytes, h.alignment);
            used -= rounded(std::max<std::size_t>(h.bytes + (h.alignment > 8 ? h.alignment : 0), 1));
        } else {
            const std::size_t bytes = rng() % 2 ? sizes[rng() % 7] : rng() % 600,
                              alignment = alignments[rng() % 5];
            auto* p = static_cast<unsigned char*>(r.allocate(bytes, alignment));
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignment, 0u)
                << bytes << " bytes, " << alignment;
            std::memset(p, step & 0xFF, bytes);  // all of it is the caller's
            held.push_back({p, bytes, alignment, step & 0xFF});
            used += rounded(std::max<std::size_t>(bytes + (alignment > 8 ? alignment : 0), 1));
        }
        ASSERT_EQ(pool.umem(), used) << step;
        ASSERT_TRUE(pool.verify()) << step;
    }
}

// Equal over one pool: memory moves between equal resources without a copy. Refused:
// what the heap cannot give, what cannot be rounded, the release watch's own heap call;
// the pool is left as it was. The release took every element: deallocations that
// follow it do nothing until the resource allocates again, also after the pool's
// destruction.
TEST(PoolResource, EqualityRefusedRequestsAndRelease) {
    tovLib::trimPoolCache();  // refused means refused by the heap: no cached arena may serve
    auto* pool = new tovPool;
    tovPool other;
    tovPoolResource r(*pool), same(*pool), elsewhere(other);
    EXPECT_TRUE(r == same && r != elsewhere && r != *std::pmr::new_delete_resource());
    r.deallocate(r.allocate(16, 8), 16, 8);
    constexpr auto max = static_cast<std::size_t>(-1);
    const std::size_t refused[][2] = {{9000, 8}, {9000, 64}, {max - 3, 8}, {max - 3, 64}, {max - 5000, 4096}};
    for (auto [bytes, alignment] : refused) {
        heapFault::failAt(1);
        EXPECT_THROW((void)r.allocate(bytes, alignment), std::bad_alloc);
        heapFault::failAt(0);
        EXPECT_TRUE(pool->umem() == 0 && pool->rblocks() == 1 && pool->verify()) << bytes;
    }
    {
        std::pmr::vector<int> kept(1000, 7, &r);
        const int* data = kept.data();
        std::pmr::vector<int> moved(std::move(kept), &same), copied(moved, &elsewhere);
        EXPECT_TRUE(moved.data() == data && copied.data() != data && other.umem() == 4000);
        pool->release();
    }
    EXPECT_TRUE(pool->amem() == 0 && pool->verify());
    heapFault::failAt(1);
    EXPECT_THROW((void)r.allocate(16, 8), std::bad_alloc);
    heapFault::failAt(0);
    std::pmr::vector<int> orphan(10, 1, &r);
    EXPECT_EQ(pool->umem(), 40u);
    delete pool;
}

}  // namespace
