// Stress: a long random mix of allocations and frees over several pools, with whole
// pools released, destroyed and made anew on the way. Every element carries a pattern
// that must be intact when it is given back; every 1,000 steps every pool must pass
// its own check (verify), its counters must balance, the live elements must lie apart,
// and the chain totals must match.
// TOVLIB_STRESS_STEPS sets the number of steps (default 1,000,000).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <tovlib.h>

namespace {

constexpr std::size_t maxSize = 8192;

struct Live {
    unsigned char* at;
    std::size_t size;
    unsigned char seed;  // the element holds pattern + seed
};

struct Slot {
    tovPool* pool = new tovPool;
    std::vector<Live> live;
    std::size_t used = 0;  // rounded bytes handed out
};

std::size_t rounded(std::size_t n) { return (n + 7) / 8 * 8; }

unsigned long long stepsWanted() {
    const char* text = std::getenv("TOVLIB_STRESS_STEPS");
    return text && *text ? std::strtoull(text, nullptr, 10) : 1000000;
}

TEST(Stress, RandomPoolWorkKeepsElementsIntactApartAndCounted) {
    const unsigned long long steps = stepsWanted();
    std::printf("stress: %llu steps\n", steps);
    // Bytes 0, 1, ..., 255, 0, 1, ...: an element starting at seed s holds pattern + s,
    // so an element written over by a neighbour, even shifted, no longer matches.
    static unsigned char pattern[maxSize + 256];
    for (std::size_t i = 0; i < sizeof pattern; ++i) pattern[i] = static_cast<unsigned char>(i);

    std::mt19937 rng(20240611);
    tovPool* const main = tovPool::mainPool();
    const unsigned int pools = tovPool::npools();
    Slot slots[4];
    std::size_t liveCount = 0;

    auto intact = [&](const Live& e) { return std::memcmp(e.at, pattern + e.seed, e.size) == 0; };
    auto forget = [&](Slot& s) {
        for (const Live& e : s.live) ASSERT_TRUE(intact(e)) << "element of " << e.size << " bytes changed";
        liveCount -= s.live.size();
        s.live.clear();
        s.used = 0;
    };

    for (unsigned long long step = 1; step <= steps; ++step) {
        Slot& s = slots[rng() % 4];
        const unsigned int dice = rng() % 100000;
        if (dice < 5) {  // the pool goes, and everything in it
            ASSERT_NO_FATAL_FAILURE(forget(s));
            if (dice < 2) {
                delete s.pool;
                s.pool = new tovPool;
                ASSERT_EQ(tovPool::npools(), pools + 4);
            } else {
                s.pool->release();
                ASSERT_EQ(s.pool->amem() + s.pool->ablocks() + s.pool->fblocks() + s.pool->rblocks(), 0u);
            }
        } else if (s.live.empty() || rng() % 2000 >= liveCount) {  // about 1,000 live elements
            const std::size_t size = rng() % 10 < 8 ? 8 + rng() % 504 : 512 + rng() % (maxSize - 511);
            auto* at = static_cast<unsigned char*>(s.pool->alloc(size));
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(at) % 8, 0u);
            const auto seed = static_cast<unsigned char>(rng());
            std::memcpy(at, pattern + seed, size);
            s.live.push_back({at, size, seed});
            s.used += rounded(size);
            ++liveCount;
        } else {
            const std::size_t i = rng() % s.live.size();
            const Live e = s.live[i];
            ASSERT_TRUE(intact(e)) << "element of " << e.size << " bytes changed at step " << step;
            s.pool->free(e.at, e.size);
            s.live[i] = s.live.back();
            s.live.pop_back();
            s.used -= rounded(e.size);
            --liveCount;
        }

        if (step % 1000 && step != steps) continue;
        std::size_t a = main->amem(), u = main->umem();
        std::vector<Live> all;
        for (const Slot& t : slots) {
            const tovPool& p = *t.pool;
            ASSERT_TRUE(p.verify()) << "step " << step;
            ASSERT_EQ(p.amem(), p.fmem() + p.rmem() + p.umem()) << "step " << step;
            ASSERT_EQ(p.umem(), t.used) << "step " << step;
            a += p.amem();
            u += p.umem();
            all.insert(all.end(), t.live.begin(), t.live.end());
        }
        ASSERT_TRUE(main->verify());
        ASSERT_EQ(tovPool::apools(), a);
        ASSERT_EQ(tovPool::upools(), u);
        auto addr = [](const Live& e) { return reinterpret_cast<std::uintptr_t>(e.at); };
        std::sort(all.begin(), all.end(), [&](const Live& x, const Live& y) { return addr(x) < addr(y); });
        for (std::size_t i = 1; i < all.size(); ++i)
            ASSERT_LE(addr(all[i - 1]) + all[i - 1].size, addr(all[i]))
                << "elements overlap at step " << step;
    }
    for (Slot& s : slots) {
        ASSERT_NO_FATAL_FAILURE(forget(s));
        delete s.pool;
    }
    EXPECT_EQ(tovPool::npools(), pools);
}

}  // namespace
