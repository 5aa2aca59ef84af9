// Tests of tovObject beyond the init forms and the handles' counts: release below zero,
// copies, hash and order by address. (Class names and dump lines: the strings' identity
// table and the guide's examples.)
#include <gtest/gtest.h>

#include <string>

#include <tovlib.h>

#include "support.h"

namespace {

// The last release of a pooled object destroys it and gives its memory back; a release
// below zero destroys nothing. Copies, constructed or assigned, take neither pool nor
// count: one made without a pool comes from the main pool.
TEST(Object, CountingAndCopies) {
    Item::gone.clear();
    tovPool pool;
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

TEST(Object, HashAndOrderFollowTheAddress) {
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
