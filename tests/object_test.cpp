// Tests of tovObject: counting, the pool of an object made without one, copies,
// identity, hash and order, and dump lines.
#include <gtest/gtest.h>

#include <string>

#include <tovlib.h>

#include "support.h"

namespace {

struct Probe : tovObject {  // counts its destructions
    static inline int destroyed = 0;
    ~Probe() override { ++destroyed; }
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
// memory back, a release below zero destroys nothing; copies take neither pool nor
// count; without a pool an object comes from the main pool, or with none from the heap.
TEST_F(Object, CountingPoolsAndCopies) {
    Probe automatic;
    automatic.up();
    EXPECT_EQ(automatic.refCount(), 0);
    auto* o = new (&pool) Probe;
    o->up();
    o->up();
    o->down();
    EXPECT_EQ(Probe::destroyed, 0);
    auto* copy = new (nullptr) Probe(*o);
    *copy = *o;  // assignment keeps the target's own fields
    EXPECT_EQ(copy->getPool(), tovPool::mainPool());
    EXPECT_EQ(copy->refCount(), 0);
    o->down();
    EXPECT_EQ(Probe::destroyed, 1);
    EXPECT_EQ(pool.umem(), 0u);
    copy->down();
    EXPECT_EQ(copy->refCount(), -1);
    EXPECT_EQ(Probe::destroyed, 1);
    delete copy;
    NoMainPool none;
    auto* onHeap = new (nullptr) Probe;
    EXPECT_EQ(onHeap->getPool(), nullptr);
    delete onHeap;
}

// Each class name's text, each its own pointer, and the classes an object is.
TEST_F(Object, ClassNamesAndIdentity) {
    std::string texts;
    for (const char* name : classNames()) texts += std::string(name) + ' ';
    EXPECT_EQ(texts,
              "tovObject tovPool tovContainer tovIterator tovIterPtr tovLinkObj tovFifo tovFifoIter tovList "
              "tovListIter tovSList tovSListIter tovHash tovHashIter tovStrElem tovStringClass "
              "tovStringTblClass tovNamedObj tovSptr ");
    expectChain(Probe(), {tovObjectClass});  // which also tells every pointer apart
    expectChain(pool, {tovPoolClass});
}

TEST_F(Object, HashAndOrderFollowTheAddress) {
    Probe objects[2];
    const auto a = reinterpret_cast<std::uintptr_t>(&objects[0]);
    EXPECT_EQ(objects[0].hash(4191), (a / 8) % 4191);
    EXPECT_EQ(objects[0].hash(0), 0u);  // no division by zero
    EXPECT_EQ(objects[0].objcmp(objects[0]), 0);
    EXPECT_EQ(objects[0].objcmp(objects[1]), -1);
    EXPECT_EQ(objects[1].objcmp(objects[0]), 1);
    EXPECT_TRUE(objects[0].isEqual(objects[0]));
    EXPECT_FALSE(objects[0].isEqual(objects[1]));
}

TEST_F(Object, DumpLines) {
    tovPool p2;  // pool numbers here: main 0, the fixture's 1, this one 2
    auto* o = new (&p2) Probe;
    o->up();
    Probe automatic;
    std::ostringstream where;
    where << static_cast<const void*>(o);
    const struct {
        std::vector<int> flags;
        const tovObject* object;
        int indent, nl;
        std::string text;
    } rows[] = {{{}, o, 0, 0, "tovObject "},
                {{0, 3}, o, 4, 1, "    tovObject P[2] RC[1] \n"},
                {{0, 3}, o, -2, 0, "  tovObject P[2] RC[1] "},
                {{0, 3}, &automatic, 0, 0, "tovObject P[-1] RC[0] "},
                {{0, 1, 3}, o, 1, 1, " tovObject @[" + where.str() + "] P[2] RC[1] \n"},
                {{2}, o, 0, 0, "tovObject "}};
    for (const auto& row : rows) {
        tovLib::clrAll();
        for (int f : row.flags) tovLib::set(f);
        EXPECT_EQ(dumped(*row.object, row.indent, row.nl), row.text);
    }
    o->down();
}

}  // namespace
