// Tests of pools beyond what model.pool (fuzz/pool_fuzz.cpp) predicts: a client's first
// block, the heap calls of the warm path, splits behind a lower block, the main pool,
// and totals beyond 2^31. And standard containers over a pool: a recorder between the
// containers and the resource checks every address's alignment and, after every
// allocation and deallocation, the pool's bytes in use.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory_resource>
#include <random>
#include <sstream>
#include <type_traits>
#include <unordered_map>
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
        low.alloc(16056), high.alloc(8);  // arenas of twice the first one's size, and of its size
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

struct Recorder : std::pmr::memory_resource {
    explicit Recorder(tovPool& pool) : resource(pool) {}
    // What the pool counts: an over-aligned element is carved `alignment` bytes larger;
    // 0 bytes take 8.
    static std::size_t carved(std::size_t bytes, std::size_t alignment) {
        const std::size_t n = bytes + (alignment > 8 ? alignment : 0);
        return n ? rounded(n) : 8;
    }
    void* do_allocate(std::size_t bytes, std::size_t alignment) override {
        void* p = resource.allocate(bytes, alignment);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignment, 0u) << bytes << " bytes, " << alignment;
        EXPECT_EQ(resource.pool().umem(), used += carved(bytes, alignment));
        std::memset(p, 0xA5, bytes);  // all of it is the caller's
        return p;
    }
    void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override {
        resource.deallocate(p, bytes, alignment);
        EXPECT_EQ(resource.pool().umem(), used -= carved(bytes, alignment));
    }
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }
    tovPoolResource resource;
    std::size_t used = 0;
};
using Wide = std::aligned_storage_t<24, 32>;
using Page = std::aligned_storage_t<100, 4096>;
// One phase's containers; the pool's release drops them, never destroyed.
struct Phase {
    explicit Phase(std::pmr::memory_resource* r) : ints(r), wides(r), pages(r), counts(r) {}
    std::pmr::vector<int> ints;
    std::pmr::vector<Wide> wides;
    std::pmr::vector<Page> pages;
    std::pmr::unordered_map<std::pmr::string, int> counts;
};

TEST(PoolResource, ContainersKeepTheCountersExactAndEveryElementAligned) {
    tovPool pool;
    Recorder rec(pool);
    const std::size_t sizes[][2] = {{0, 1},   {0, 64}, {504, 8},     {505, 8},
                                    {24, 16}, {1, 64}, {5000, 4096}, {9000, 4096}};
    for (auto [bytes, alignment] : sizes) rec.deallocate(rec.allocate(bytes, alignment), bytes, alignment);
    std::mt19937 rng(5);
    alignas(Phase) unsigned char storage[sizeof(Phase)];
    auto* p = new (storage) Phase(&rec);
    for (int step = 0; step < 2000; ++step) {
        const unsigned op = rng() % 7;
        if (op == 6 && rng() % 30 == 0) {  // the phase ends: its containers go with the pool
            pool.release();
            rec.used = 0;
            p = new (storage) Phase(&rec);
            continue;
        }
        const std::pmr::string key("an_identifier_longer_than_inline_" + std::to_string(rng() % 300), &rec);
        if (op == 0) p->ints.push_back(step);
        if (op == 1) p->wides.emplace_back();
        if (op == 2) p->pages.resize(rng() % 9);
        if (op == 4) ++p->counts[key];
        if (op == 5) p->counts.erase(key);
        if (op == 3) p->wides.clear(), p->wides.shrink_to_fit(), p->ints.shrink_to_fit();
        EXPECT_TRUE(pool.verify());
    }
    p->~Phase();
    EXPECT_EQ(pool.umem(), 0u);
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
