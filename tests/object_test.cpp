// Tests of tovObject beyond the init forms and the handles' counts: release below zero,
// copies, class names, hash and order by address. (Dump lines: the strings' identity
// table and the guide's examples.)
#include <gtest/gtest.h>

#include <string>

#include <tovlib.h>

#include "support.h"

namespace {

class Object : public testing::Test {
protected:
    void SetUp() override {
        tovLib::clrAll();
        Item::gone.clear();
    }
    void TearDown() override { tovLib::clrAll(); }
    tovPool pool;
};

// The last release of a pooled object destroys it and gives its memory back; a release
// below zero destroys nothing. Copies, constructed or assigned, take neither pool nor
// count: one made without a pool comes from the main pool.
TEST_F(Object, CountingAndCopies) {
    auto* o = new (&pool) Item(1);
    o->up();
    auto* copy = new (nullptr) Item(*o);
    *copy = *o;  // assignment keeps the target's own fields
    EXPECT_EQ(copy->getPool(), tovPool::mainPool());
    EXPECT_EQ(copy->refCount(), 0);
    o->down();
    EXPECT_EQ(Item::gone, std::vector<int>{1});
    EXPECT_EQ(pool.umem(), 0u);
    copy->down();
    EXPECT_EQ(copy->refCount(), -1);
    EXPECT_EQ(Item::gone.size(), 1u);
    delete copy;
}

// Each class name's text, each its own pointer, and the classes an object is.
TEST_F(Object, ClassNamesAndIdentity) {
    std::string texts;
    for (const char* name : classNames()) texts += std::string(name) + ' ';
    EXPECT_EQ(texts,
              "tovObject tovPool tovContainer tovIterator tovIterPtr tovLinkObj tovFifo tovFifoIter tovList "
              "tovListIter tovSList tovSListIter tovHash tovHashIter tovStrElem tovStringClass "
              "tovStringTblClass tovNamedObj tovSptr ");
    expectChain(pool, {tovPoolClass});  // which also tells every pointer apart
}

TEST_F(Object, HashAndOrderFollowTheAddress) {
    tovObject objects[2];
    const auto a = reinterpret_cast<std::uintptr_t>(&objects[0]);
    EXPECT_EQ(objects[0].hash(4191), (a / 8) % 4191);
    EXPECT_EQ(objects[0].hash(0), 0u);  // no division by zero
    EXPECT_EQ(objects[0].objcmp(objects[0]), 0);
    EXPECT_EQ(objects[0].objcmp(objects[1]), -1);
    EXPECT_EQ(objects[1].objcmp(objects[0]), 1);
    EXPECT_TRUE(objects[0].isEqual(objects[0]));
    EXPECT_FALSE(objects[0].isEqual(objects[1]));
}

}  // namespace
