// Tests of the containers beyond what their model (fuzz/container_fuzz.cpp, run as
// model.container) checks step by step: throwing constructors, verify() on a damaged
// table, that containers cannot be copied, and a client's own container. (Dumps are in
// the strings' identity table.)
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

// A client's own container on the protocol. It overrides neither find nor the identity,
// and declares no operators of its own, so those of tovContainer and tovIterator serve.
class Pair : public tovContainer {
public:
    ~Pair() override { removeAll(); }
    tovObject& add(tovObject& o) override {
        o.up();
        return *(_items[_count++] = &o);
    }
    tovIterator* newIterator() const override { return new (getPool()) Iter(*this); }
    bool remove(tovObject&) override { return false; }
    void removeAll() override {
        while (_count) _items[--_count]->down();
    }

private:
    struct Iter : tovIterator {
        explicit Iter(const Pair& q) : _q(q) {}
        bool done() const override { return _i == _q._count; }
        tovObject& get() const override { return *_q._items[_i]; }
        void next() override { ++_i; }
        void reset() override { _i = 0; }
        const Pair& _q;
        int _i = 0;
    };
    tovObject* _items[2] = {};
};

TEST(Client, ContainerGetsTheBaseIdentitiesAndOperators) {
    tovPool pool;
    auto* q = new (&pool) Pair;
    q->up();
    Item a(1);
    q->add(a);
    expectChain<tovObject>(*q, {tovContainerClass, tovObjectClass});
    expectChain<tovObject>(*tovIterPtr(q).operator->(), {tovIteratorClass, tovObjectClass});
    EXPECT_EQ(q->find(Key(1)), &a);  // the generic lookup, over the iterator
    q->down();                       // tovContainer's operator delete, with Pair's size
    EXPECT_EQ(pool.umem(), 0u);
}

// A table sized for n entries gets the smallest prime not below n: below 2, a prime, an
// even number, the square of a prime, the largest int.
TEST(Hash, BucketsForEntriesAreTheNextPrime) {
    for (auto [n, buckets] :
         {std::pair{0, 2}, {3, 3}, {4, 5}, {8, 11}, {4191, 4201}, {2147483646, 2147483647}})
        EXPECT_EQ(tovBuckets(n), buckets) << n;
    static_assert(tovHash<tovBuckets(400000)>::bucketCount == 400009);
}

}  // namespace
