// The construction marker survives whole-program optimisation of library and caller.
#include <gtest/gtest.h>

#include <tovlib.h>

namespace {

struct Node : tovObject {
    int value = 7;
};

TEST(MarkerOptimised, PoolIsRecordedWhereverTheObjectComesFrom) {
    tovPool pool;
    Node* pooled = new (&pool) Node;
    EXPECT_EQ(pooled->getPool(), &pool);
    EXPECT_EQ(pooled->refCount(), 0);
    pooled->up();
    pooled->down();  // the last release gives the memory back to the pool
    EXPECT_EQ(pool.umem(), 0u);

    Node* inMain = new (nullptr) Node;
    EXPECT_EQ(inMain->getPool(), tovPool::mainPool());
    delete inMain;
    EXPECT_EQ(tovPool::mainPool()->umem(), 0u);

    Node onStack;
    EXPECT_EQ(onStack.getPool(), nullptr);
    EXPECT_EQ(onStack.value, 7);
}

}  // namespace
