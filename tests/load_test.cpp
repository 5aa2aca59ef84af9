// The state the library is in when it has just been loaded (its own process).
#include <gtest/gtest.h>

#include <sstream>

#include <tovlib.h>

TEST(Load, OnlyAnEmptyMainPoolNumberZeroExists) {
    ASSERT_NE(tovPool::mainPool(), nullptr);
    EXPECT_EQ(tovPool::npools(), 1u);
    EXPECT_EQ(tovPool::mainPool()->getNum(), 0);
    EXPECT_TRUE(tovPool::mainPool()->releaseFlag());
    EXPECT_EQ(tovPool::apools(), 0u);
    EXPECT_EQ(tovPool::upools(), 0u);
    for (int i = 0; i < 200; ++i) EXPECT_FALSE(tovLib::get(i)) << i;
    // The next pool is numbered after it: the main pool is the tail of the chain.
    tovPool next;
    EXPECT_EQ(next.getNum(), 1);
}
