// Tests of tovObject: pool-aware allocation, the marker, counting, identity, dump.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>

#include <tovlib.h>

#include "support.h"

namespace {

// Counts its destructions.
struct Probe : tovObject {
    static inline int destroyed = 0;
    ~Probe() override { ++destroyed; }
};

// Adds no data: the base's placement delete already has its exact size.
struct ThrowsPlain : tovObject {
    ThrowsPlain() { throw std::runtime_error("constructor failed"); }
};

// Adds data, so it declares the pool-aware operators with its own size.
struct ThrowsWithData : tovObject {
    ThrowsWithData() { throw std::runtime_error("constructor failed"); }
    TOV_OBJECT_OPERATORS(ThrowsWithData)
    char payload[40] = {};
};

int failingArgument() { throw std::runtime_error("argument failed"); }

struct TakesArgument : tovObject {
    explicit TakesArgument(int) {}
};

class Object : public testing::Test {
protected:
    void SetUp() override {
        tovLib::clrAll();
        Probe::destroyed = 0;
    }
    void TearDown() override { tovLib::clrAll(); }
    tovPool pool;
};

// Only objects with a pool are counted: the last release destroys one and gives its
// memory back, a release below zero destroys nothing; an automatic one ignores both.
TEST_F(Object, PooledObjectLivesUntilItsLastRelease) {
    Probe automatic;
    EXPECT_EQ(automatic.getPool(), nullptr);
    automatic.up();
    automatic.down();
    automatic.down();
    EXPECT_EQ(automatic.refCount(), 0);
    auto* o = new (&pool) Probe;
    EXPECT_EQ(o->getPool(), &pool);
    EXPECT_EQ(o->refCount(), 0);
    EXPECT_EQ(pool.umem(), rounded(sizeof(Probe)));
    o->up();
    o->up();
    o->down();
    EXPECT_EQ(o->refCount(), 1);
    EXPECT_EQ(Probe::destroyed, 0);
    o->down();
    EXPECT_EQ(Probe::destroyed, 1);
    EXPECT_EQ(pool.umem(), 0u);
    EXPECT_EQ(pool.rmem(), rounded(sizeof(Probe)));
    auto* below = new (&pool) Probe;
    below->down();
    EXPECT_EQ(below->refCount(), -1);
    EXPECT_EQ(Probe::destroyed, 1);
    delete below;
    EXPECT_EQ(pool.umem(), 0u);
}

TEST_F(Object, NullPoolMeansTheMainPoolOrTheHeap) {
    tovPool* main = tovPool::mainPool();
    const std::size_t before = main->umem();
    auto* inMain = new (nullptr) Probe;
    EXPECT_EQ(inMain->getPool(), main);
    EXPECT_EQ(main->umem(), before + rounded(sizeof(Probe)));
    delete inMain;
    NoMainPool none;  // with the main pool gone, objects come from the heap
    auto* onHeap = new (nullptr) Probe;
    EXPECT_EQ(onHeap->getPool(), nullptr);
    onHeap->up();
    EXPECT_EQ(onHeap->refCount(), 0);
    delete onHeap;
    EXPECT_EQ(Probe::destroyed, 2);
}

TEST_F(Object, CopiesNeverTakeOverPoolOrCount) {
    auto* source = new (&pool) Probe;
    source->up();
    Probe automatic(*source);
    EXPECT_EQ(automatic.getPool(), nullptr);
    EXPECT_EQ(automatic.refCount(), 0);
    tovPool other;
    auto* copy = new (&other) Probe(*source);
    EXPECT_EQ(copy->getPool(), &other);
    EXPECT_EQ(copy->refCount(), 0);
    *copy = automatic;  // assignment keeps the target's own fields
    EXPECT_EQ(copy->getPool(), &other);
    delete copy;
    source->down();
    EXPECT_EQ(Probe::destroyed, 2);  // the automatic copy ends with the scope
}

TEST_F(Object, FailedConstructionGivesBackTheExactSize) {
    static_assert(sizeof(ThrowsPlain) == sizeof(tovObject));
    EXPECT_THROW(new (&pool) ThrowsPlain, std::runtime_error);
    EXPECT_THROW(new (&pool) ThrowsWithData, std::runtime_error);
    EXPECT_EQ(pool.umem(), 0u);
    EXPECT_EQ(pool.rmem(), rounded(sizeof(ThrowsPlain)) + rounded(sizeof(ThrowsWithData)));
    EXPECT_EQ(pool.rblocks(), 2u);
    // Each went back to its own size class: the next request of that size gets it.
    void* big = pool.alloc(sizeof(ThrowsWithData));
    void* small = pool.alloc(sizeof(ThrowsPlain));
    EXPECT_EQ(pool.rmem(), 0u);
    EXPECT_LT(small, big);
}

TEST_F(Object, MemoryOfAnUnbuiltObjectLosesTheMarker) {
    EXPECT_THROW(new (&pool) TakesArgument(failingArgument()), std::runtime_error);
    EXPECT_EQ(pool.umem(), 0u);
    void* mem = pool.alloc(sizeof(TakesArgument));  // the same element, recycled
    auto* o = ::new (mem) TakesArgument(1);         // built without the pool-aware new
    EXPECT_EQ(o->getPool(), nullptr);
    o->~TakesArgument();
    pool.free(mem, sizeof(TakesArgument));
}

// The constants' texts, each its own pointer; an object is only a tovObject.
TEST_F(Object, IdentityIsByPointer) {
    std::string texts;
    for (const char* name : classNames()) {
        texts += std::string(name) + ' ';
        EXPECT_EQ(std::count(classNames().begin(), classNames().end(), name), 1) << name;
    }
    EXPECT_EQ(texts,
              "tovObject tovPool tovContainer tovIterator tovIterPtr tovLinkObj tovFifo tovFifoIter tovList "
              "tovListIter tovSList tovSListIter tovHash tovHashIter tovStrElem tovStringClass "
              "tovStringTblClass tovNamedObj tovSptr ");
    expectChain(Probe(), {tovObjectClass});
}

TEST_F(Object, HashAndOrderFollowTheAddress) {
    Probe objects[2];
    const auto a = reinterpret_cast<std::uintptr_t>(&objects[0]);
    EXPECT_EQ(objects[0].hash(4191), (a / 8) % 4191);
    EXPECT_EQ(objects[0].hash(0), 0u);  // no division by zero
    EXPECT_EQ(objects[0].hash(-1), (a >> 3) % 0xFFFFFFFFu);
    EXPECT_EQ(objects[0].objcmp(objects[0]), 0);
    EXPECT_EQ(objects[0].objcmp(objects[1]), -1);
    EXPECT_EQ(objects[1].objcmp(objects[0]), 1);
    EXPECT_TRUE(objects[0].isEqual(objects[0]));
    EXPECT_FALSE(objects[0].isEqual(objects[1]));
}

TEST_F(Object, DumpLine) {
    tovPool p2;  // pool numbers here: main 0, the fixture's 1, this one 2
    auto* o = new (&p2) Probe;
    o->up();
    EXPECT_EQ(dumped(*o, 0, 0), "tovObject ");
    tovLib::set(0);
    tovLib::set(3);
    EXPECT_EQ(dumped(*o, 4, 1), "    tovObject P[2] RC[1] \n");
    EXPECT_EQ(dumped(*o, -2, 0), "  tovObject P[2] RC[1] ");
    Probe automatic;
    EXPECT_EQ(dumped(automatic, 0, 0), "tovObject P[-1] RC[0] ");
    tovLib::set(1);
    std::ostringstream where;
    where << static_cast<const void*>(o);
    EXPECT_EQ(dumped(*o, 1, 1), " tovObject @[" + where.str() + "] P[2] RC[1] \n");
    o->down();
}

#ifdef TOVLIB_ASAN
// Under AddressSanitizer the pool marks what it does not hand out.
int readValue(const int* p) { return *static_cast<const volatile int*>(p); }

struct Valued : tovObject {
    int value = 1;
};

TEST(PoisonedPool, UseAfterTheLastReleaseIsReported) {
    EXPECT_DEATH(
        {
            tovPool p;
            Valued* o = new (&p) Valued;
            const int* value = &o->value;
            o->up();
            o->down();  // destroyed: its memory waits in a recycled list
            std::printf("%d\n", readValue(value));
        },
        "use-after-poison");
}

TEST(PoisonedPool, UseAfterThePoolIsReleasedIsReported) {
    EXPECT_DEATH(
        {
            tovPool p;
            const int* value = &(new (&p) Valued)->value;
            p.release();  // the block went back to the heap
            std::printf("%d\n", readValue(value));
        },
        "heap-use-after-free");
}

TEST(PoisonedPool, FreeSegmentsAreMarked) {
    EXPECT_DEATH(
        {
            tovPool p;
            auto* big = static_cast<int*>(p.alloc(1000));
            p.free(big, 1000);
            std::printf("%d\n", readValue(big + 100));
        },
        "use-after-poison");
}
#endif

}  // namespace
