// Tests of the containers beyond what their model (fuzz/container_fuzz.cpp, run as
// model.container) checks step by step: throwing constructors, verify() on a damaged
// table, and that containers cannot be copied. (The generic lookup over an iterator,
// with an isEqual that throws, is the model's; dumps are in the strings' identity table.)
#include <gtest/gtest.h>

#include <new>
#include <type_traits>
#include <utility>

#include <tovlib.h>

#include "support.h"

namespace {

template <class C>
class Protocol : public testing::Test {};
TYPED_TEST_SUITE(Protocol, ContainerKinds, ByIndex);

// A client subclass whose constructor throws gives back exactly what it took: small
// objects to their size class, a hash table (too large for one) to the free segments.
TYPED_TEST(Protocol, ThrowingSubclassGivesBackItsSize) {
    struct Throws : TypeParam {
        Throws() { throw std::bad_alloc(); }
    };
    tovPool pool;
    EXPECT_THROW(new (&pool) Throws, std::bad_alloc);
    const std::size_t size = rounded(sizeof(TypeParam));
    EXPECT_EQ(pool.umem(), 0u);
    EXPECT_EQ(pool.rmem(), size <= 504 ? size : 0u);
    EXPECT_EQ(pool.rmem() + pool.fmem(), pool.amem());
}

// A container's copy would share its nodes, and both would give them back.
template <class... C>
constexpr bool noneCopies = (... && !(std::is_copy_constructible_v<C> || std::is_copy_assignable_v<C>));
static_assert(noneCopies<tovContainer, tovFifo, tovList, tovSList, tovHash<4191>, tovHash<17>, tovStringTbl>);

// What a derived class could break: an entry whose hash moved, the counts, the chains.
TEST(Hash, VerifySeesADamagedTable) {
    Item a(1, 1), b(2, 1);  // outlive the table, which releases them
    struct Exposed : tovHash<4191> {
        using tovContainer::_count;
        using tovHash::_buckets;
        using tovHash::_col;
    } x;
    EXPECT_TRUE(x.verify());
    x.add(a), x.add(b);  // one bucket
    b.bucket = 2;        // stored in bucket 1, now hashing to bucket 2
    EXPECT_FALSE(x.verify());
    b.bucket = 4191 + 1;  // reduced to bucket 1 again
    EXPECT_TRUE(x.verify());
    ++x._col;
    EXPECT_FALSE(x.verify());
    --x._col, ++x._count;
    EXPECT_FALSE(x.verify());
    --x._count;
    tovLinkObj* const next = std::exchange(x._buckets[1]->_next, x._buckets[1]);  // a chain that loops
    EXPECT_FALSE(x.verify());
    x._buckets[1]->_next = next;
    EXPECT_TRUE(x.verify());
}

}  // namespace
