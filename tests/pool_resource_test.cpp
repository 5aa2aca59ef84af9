// Standard containers over a pool: a recorder between the containers and the resource
// checks every address's alignment and, after every step, the pool's counters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <list>
#include <map>
#include <memory_resource>
#include <random>
#include <unordered_map>
#include <vector>

#include <tovlib.h>

#include "heap_fault.h"
#include "support.h"

namespace {

class Recorder : public std::pmr::memory_resource {
public:
    explicit Recorder(tovPool& pool) : resource(pool) {}
    void check() const { EXPECT_TRUE(resource.pool().verify()); }
    void forget() { live.clear(), used = 0; }  // the pool was released
    tovPoolResource resource;

private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override {
        void* p = resource.allocate(bytes, alignment);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignment, 0u) << bytes << " bytes, " << alignment;
        // An over-aligned element is carved `alignment` bytes larger; 0 bytes take 8.
        const std::size_t carved = rounded(std::max<std::size_t>(bytes + (alignment > 8 ? alignment : 0), 1));
        EXPECT_TRUE(live.emplace(p, carved).second);
        EXPECT_EQ(resource.pool().umem(), used += carved);
        std::memset(p, 0xA5, bytes);  // all of it is the caller's
        return p;
    }
    void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override {
        resource.deallocate(p, bytes, alignment);
        used -= live.at(p);
        live.erase(p);
        EXPECT_EQ(resource.pool().umem(), used);
    }
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }
    std::map<void*, std::size_t> live;
    std::size_t used = 0;
};

struct alignas(32) Wide {
    double v[3];
};
struct alignas(4096) Page {
    char c[100];
};
// One phase's containers; a release abandons them, never destroyed.
struct Phase {
    explicit Phase(std::pmr::memory_resource* r) : ints(r), wides(r), pages(r), lines(r), counts(r) {}
    std::pmr::vector<int> ints;
    std::pmr::vector<Wide> wides;
    std::pmr::vector<Page> pages;
    std::pmr::list<Wide> lines;
    std::pmr::unordered_map<std::pmr::string, int> counts;
};

TEST(PoolResource, ContainersKeepTheCountersExactAndEveryElementAligned) {
    tovPool pool;
    Recorder rec(pool);
    for (auto [bytes, alignment] : {std::pair<std::size_t, std::size_t>{0, 1},
                                    {0, 64},
                                    {504, 8},
                                    {505, 8},
                                    {24, 16},
                                    {1, 64},
                                    {5000, 4096},
                                    {9000, 4096}})
        rec.deallocate(rec.allocate(bytes, alignment), bytes, alignment);
    std::mt19937 rng(5);
    alignas(Phase) unsigned char storage[sizeof(Phase)];
    auto* p = new (storage) Phase(&rec);
    for (int step = 0; step < 2000; ++step) {
        const unsigned op = rng() % 9, n = rng() % 300;
        if (op == 0) p->ints.push_back(step);
        if (op == 1) p->wides.emplace_back();
        if (op == 2) p->pages.resize(n % 9);
        if (op == 3) p->lines.emplace_back();
        if (op == 4)
            ++p->counts[std::pmr::string("an_identifier_longer_than_inline_" + std::to_string(n), &rec)];
        if (op == 5)
            p->counts.erase(std::pmr::string("an_identifier_longer_than_inline_" + std::to_string(n)));
        if (op == 6 && !p->lines.empty()) p->lines.pop_front();
        if (op == 7) p->wides.clear(), p->wides.shrink_to_fit(), p->ints.shrink_to_fit();
        if (op == 8 && n < 4) {  // the phase ends: its containers are dropped with the pool
            pool.release();
            rec.forget();
            p = new (storage) Phase(&rec);
        }
        rec.check();
    }
    p->~Phase();
    EXPECT_EQ(pool.umem(), 0u);
}

// Equal over the same pool: memory moves between equal resources without a copy and
// goes back through the other; to another pool's resource it is copied.
TEST(PoolResource, ResourcesOverOnePoolAreEqual) {
    tovPool a, b;
    tovPoolResource ra(a), ra2(a), rb(b);
    EXPECT_TRUE(ra == ra2 && ra != rb && ra != *std::pmr::new_delete_resource());
    std::pmr::vector<int> v({1, 2, 3}, &ra);
    const int* data = v.data();
    std::pmr::vector<int> w(std::move(v), &ra2), x(w, &rb);
    EXPECT_TRUE(w.data() == data && x.data() != data && a.umem() == 16 && b.umem() == 16);
    w = {}, w.shrink_to_fit();
    EXPECT_EQ(a.umem(), 0u);
}

// The release took every element: deallocations that follow it do nothing until the
// resource allocates again, also after the pool's destruction.
TEST(PoolResource, DeallocationsAfterAReleaseDoNothingUntilTheNextAllocation) {
    auto* pool = new tovPool;
    tovPoolResource r(*pool);
    {
        std::pmr::vector<int> kept(1000, 7, &r);
        pool->release();
    }
    EXPECT_TRUE(pool->amem() == 0 && pool->verify());
    { std::pmr::vector<int> next(10, 1, &r); }
    EXPECT_TRUE(pool->umem() == 0 && pool->rblocks() == 1);  // the 40 bytes, recycled
    std::pmr::vector<int> orphan(10, 1, &r);
    delete pool;
}

// Refused: what the heap cannot give, what cannot be rounded; and the release watch's
// own heap call. The pool is left as it was.
TEST(PoolResource, RefusedRequestsLeaveThePoolAsItWas) {
    tovPool pool;
    tovPoolResource r(pool);
    r.deallocate(r.allocate(16, 8), 16, 8);
    const auto state = [&] { return std::vector<std::size_t>{pool.amem(), pool.umem(), pool.rblocks()}; };
    const auto before = state();
    constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
    for (auto [bytes, alignment] : {std::pair<std::size_t, std::size_t>{9000, 8},
                                    {9000, 64},
                                    {max - 3, 8},
                                    {max - 3, 64},
                                    {max - 5000, 4096}}) {
        heapFault::failAt(1);
        EXPECT_THROW((void)r.allocate(bytes, alignment), std::bad_alloc);
        heapFault::failAt(0);
        EXPECT_TRUE(state() == before && pool.verify()) << bytes << ' ' << alignment;
    }
    pool.release();
    heapFault::failAt(1);
    EXPECT_THROW((void)r.allocate(16, 8), std::bad_alloc);
    heapFault::failAt(0);
    r.deallocate(r.allocate(16, 8), 16, 8);
    EXPECT_TRUE(pool.umem() == 0 && pool.rblocks() == 1);
}

}  // namespace
