// Tests of tovObject beyond the init forms: release below zero, copies, hash and order
// by address (class names and dump lines: the strings' identity table and the guide's
// examples); and of the C++ idioms over the library beyond what the containers' and
// strings' models check (range-for walks and their iterators, tovRef's counts, the
// handles' operators and hash): tovRef's conversions.
#include <gtest/gtest.h>

#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

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

// A range-for over the library's own container types follows the nodes; over a
// subclass, which may give newIterator() another meaning, the protocol.
static_assert(std::is_same_v<decltype(begin(std::declval<tovSList&>())), tovNodeIter>);
static_assert(std::is_same_v<decltype(begin(std::declval<const tovHash<17>&>())), tovHashNodeIter<17>>);
static_assert(std::is_same_v<decltype(begin(std::declval<tovStringTbl&>())), tovRangeIter>);  // a subclass

TEST(Refs, ConversionsCount) {
    Item::gone.clear();
    tovPool pool;
    auto* x = new (&pool) Item(1);
    auto* y = new (&pool) Item(2);
    tovRef<Key> rx(x);
    tovRef<Item> ry(y);
    tovRef<Key> base(ry);                        // from a handle on a derived class
    tovRef<const tovObject> any(std::move(ry));  // takes ry's hold over
    EXPECT_EQ(ry, nullptr);
    EXPECT_EQ(y->refCount(), 2);
    EXPECT_EQ(any, base);
    EXPECT_NE(any, rx);
    EXPECT_EQ(rx < base, std::less<const tovObject*>()(x, y));
    EXPECT_EQ(base->key, 2);
    base = rx;
    any = rx;  // a handle on const counts too; y loses its last holder
    EXPECT_EQ(Item::gone, std::vector<int>{2});
    EXPECT_EQ(x->refCount(), 3);
}

}  // namespace
