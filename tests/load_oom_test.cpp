// The library loaded into a process whose heap refuses the main pool (its own process,
// with heap_fault.cpp built to refuse it): there is no main pool, and objects made
// without a pool come from the heap.
#include <gtest/gtest.h>

#include <tovlib.h>

#include "heap_fault.h"

TEST(LoadWithoutMemory, NoMainPoolAndObjectsComeFromTheHeap) {
    ASSERT_EQ(heapFault::sites(), 1u) << "the library made no pool at load";
    EXPECT_EQ(tovPool::mainPool(), nullptr);
    EXPECT_EQ(tovPool::npools(), 0u);
    EXPECT_EQ(tovPool::apools(), 0u);
    const long live = heapFault::live();
    auto* o = new (nullptr) tovObject;
    EXPECT_EQ(o->getPool(), nullptr);
    EXPECT_EQ(heapFault::live(), live + 1);
    o->up();
    EXPECT_EQ(o->refCount(), 0);  // not counted: its owner deletes it
    delete o;
    tovPool first;  // the chain is empty: numbering starts again at 0
    EXPECT_EQ(first.getNum(), 0);
}
