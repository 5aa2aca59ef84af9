// Tests of the containers beyond what their model (fuzz/container_fuzz.cpp, run as
// model.container) checks step by step: element destructors that change the container
// releasing them, throwing constructors, tables of other sizes, verify() on a damaged
// table, and that containers cannot be copied.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <tovlib.h>

#include "support.h"

namespace {

template <class C>
class Protocol : public testing::Test {
protected:
    void SetUp() override { Item::gone.clear(); }
    tovPool pool;
};
TYPED_TEST_SUITE(Protocol, ContainerKinds, ByIndex);

// A client subclass whose constructor throws gives back exactly what it took.
TYPED_TEST(Protocol, ThrowingSubclassGivesBackItsSize) {
    struct Throws : TypeParam {
        Throws() { throw std::bad_alloc(); }
    };
    EXPECT_THROW(new (&this->pool) Throws, std::bad_alloc);
    EXPECT_EQ(this->pool.umem(), 0u);
    // Small objects are recycled by size class; a hash table is large enough to go
    // back to the free segments.
    const std::size_t size = rounded(sizeof(TypeParam));
    EXPECT_EQ(this->pool.rmem(), size <= 504 ? size : 0u);
    EXPECT_EQ(this->pool.rmem() + this->pool.fmem(), this->pool.amem());
}

// A container's copy would share its nodes, and both would give them back.
template <class... C>
constexpr bool noneCopies = (... && !(std::is_copy_constructible_v<C> || std::is_copy_assignable_v<C>));
static_assert(noneCopies<tovContainer, tovFifo, tovList, tovSList, tovHash<4191>, tovHash<17>, tovStringTbl>);

// An element whose destructor works on the container that is releasing it: it removes
// the elements with keys 2 and 3, and adds follow-ups with keys 1 and 9 (an earlier
// and a later bucket than its own 5).
struct Meddler : Item {
    Meddler(tovContainer& c, bool adds) : Item(5, 5), host(c), adds(adds) {}
    ~Meddler() override {
        for (int k : {2, 3}) {
            Key key(k, static_cast<unsigned int>(k));
            host.remove(key);
        }
        if (adds)
            for (int k : {1, 9}) host.add(*new (getPool()) Item(k, static_cast<unsigned int>(k)));
    }
    TOV_OBJECT_OPERATORS(Meddler)
    tovContainer& host;
    bool adds;
};

// However the container gives up the meddler (remove, removeAll, its own end), it is
// consistent throughout: what the destructor adds stays and is counted, what it removes
// is released once, and in the end everything made is destroyed exactly once.
TYPED_TEST(Protocol, ElementDestructorsMayChangeTheContainerReleasingThem) {
    for (int how : {0, 1, 2}) {  // remove, removeAll, destructor
        for (bool adds : {false, true}) {
            const std::string what = std::to_string(how) + (adds ? " adding" : "");
            Item::gone.clear();
            tovPool& pool = this->pool;
            auto* c = new (&pool) TypeParam;
            for (int k : {2, 5, 3}) c->add(k == 5 ? *new (&pool) Meddler(*c, adds) : *new (&pool) Item(k, k));
            if (how < 2) {
                Key five(5, 5);
                if (how == 0)
                    EXPECT_TRUE(c->remove(five)) << what;
                else
                    c->removeAll();
                const int left = adds ? 2 : 0;
                EXPECT_EQ(c->count(), left) << what;
                EXPECT_EQ(c->empty(), left == 0) << what;
                int walked = 0;
                for (tovIterPtr it(c); it; it++) ++walked;
                EXPECT_EQ(walked, left) << what;
                if constexpr (std::is_same_v<TypeParam, tovHash<4191>>) {
                    EXPECT_TRUE(c->verify()) << what;
                }
            }
            delete c;
            std::sort(Item::gone.begin(), Item::gone.end());
            EXPECT_EQ(Item::gone, adds ? std::vector<int>({1, 2, 3, 5, 9}) : std::vector<int>({2, 3, 5}))
                << what;
            EXPECT_EQ(pool.umem(), 0u) << what;
        }
    }
}

// A table of another size, instantiated here in the client: a small one, whose buckets
// an off-by-one in N would show, and one with more buckets than the library's.
TEST(Hash, OfAnySizeIsTheSameTable) {
    Item a(1, 16), b(2, 3), c(3, 17 + 3), d(4, 0);
    tovHash<17> small;
    for (Item* o : {&a, &b, &c, &d}) small.add(*o);
    std::vector<const tovObject*> order;
    for (tovObject& e : small) order.push_back(&e);
    EXPECT_EQ(order, (std::vector<const tovObject*>{&d, &c, &b, &a}));
    EXPECT_EQ(small.col(), 1u);
    EXPECT_TRUE(small.verify());
    expectChain(small, {tovHashClass, tovContainerClass, tovObjectClass});
    expectChain(*tovIterPtr(small).operator->(), {tovHashIterClass, tovIteratorClass, tovObjectClass});

    tovPool pool;
    auto* large = new (&pool) tovHash<65521>;
    std::vector<Item> many(100000);
    for (std::size_t i = 0; i < many.size(); ++i) {
        many[i].key = static_cast<int>(i);
        many[i].bucket = static_cast<unsigned int>(i);
        large->add(many[i]);
    }
    EXPECT_EQ(large->col(), 100000u - 65521u);
    EXPECT_TRUE(large->verify());
    Key last(99999, 99999);
    EXPECT_EQ(large->find(last), &many.back());
    delete large;
    EXPECT_EQ(pool.umem(), 0u);
}

// What a derived class could break: an entry whose hash moved, the counts, the chains.
TEST(Hash, VerifySeesADamagedTable) {
    struct Exposed : tovHash<4191> {
        using tovContainer::_count;
        using tovHash::_buckets;
        using tovHash::_col;
    };
    Item a(1, 1), b(2, 1);
    Exposed x;
    EXPECT_TRUE(x.verify());
    x.add(a);
    x.add(b);  // a's bucket
    ASSERT_TRUE(x.verify());
    b.bucket = 2;  // stored in bucket 1, now hashing to bucket 2
    EXPECT_FALSE(x.verify());
    b.bucket = 4191 + 1;  // reduced to bucket 1 again
    EXPECT_TRUE(x.verify());
    ++x._col;
    EXPECT_FALSE(x.verify());
    --x._col;
    ++x._count;
    EXPECT_FALSE(x.verify());
    --x._count;
    tovLinkObj* const head = x._buckets[1];
    tovLinkObj* const next = head->_next;
    head->_next = head;  // a chain that loops
    EXPECT_FALSE(x.verify());
    head->_next = next;
    EXPECT_TRUE(x.verify());
}

// A client's own container on the protocol. It overrides neither find nor the identity,
// and declares no operators of its own, so those of tovContainer and tovIterator serve.
class Quad : public tovContainer {
public:
    ~Quad() override { removeAll(); }
    tovObject& add(tovObject& o) override {
        o.up();
        _items[_count++] = &o;
        return o;
    }
    tovIterator* newIterator() const override { return new (getPool()) Iter(*this); }
    bool remove(tovObject&) override { return false; }
    void removeAll() override {
        while (_count) _items[--_count]->down();
    }

private:
    struct Iter : tovIterator {
        explicit Iter(const Quad& q) : _q(q) {}
        bool done() const override { return _i == _q._count; }
        tovObject& get() const override { return *_q._items[_i]; }
        void next() override { ++_i; }
        void reset() override { _i = 0; }
        const Quad& _q;
        int _i = 0;
    };
    tovObject* _items[4] = {};
};

TEST(Client, ContainerGetsTheGenericLookupAndTheBaseIdentities) {
    struct Throwing : Key {
        bool isEqual(const tovObject&) const override { throw std::runtime_error("isEqual"); }
    };
    tovPool pool;
    auto* q = new (&pool) Quad;
    q->up();
    Item a(1), b(2);
    Throwing t;
    q->add(a), q->add(b);
    expectChain<tovObject>(*q, {tovContainerClass, tovObjectClass});
    expectChain<tovObject>(*tovIterPtr(q).operator->(), {tovIteratorClass, tovObjectClass});
    EXPECT_EQ(q->find(Key(2)), &b);  // every element asked in iteration order
    EXPECT_EQ(q->find(Key(3)), nullptr);
    q->add(t);
    const std::size_t used = pool.umem();
    EXPECT_THROW(q->find(Key(3)), std::runtime_error);
    EXPECT_EQ(pool.umem(), used);  // the lookup's iterator went back all the same
    q->down();                     // tovContainer's operator delete, with Quad's size
    EXPECT_EQ(pool.umem(), 0u);
}

}  // namespace
