// Tests of the containers: the shared protocol, each container's order, the hash
// table's buckets, reference counting through the link nodes, and the dump texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <tovlib.h>

#include "support.h"

namespace {

// The elements from the iterator's position to the end.
Seq drain(tovIterPtr& it) {
    Seq s;
    while (it) s.push_back(&it++);
    return s;
}

Seq visit(const tovContainer& c) {
    tovIterPtr it(c);
    return drain(it);
}

class Containers : public testing::Test {
protected:
    void SetUp() override {
        tovLib::clrAll();
        Item::gone.clear();
    }
    void TearDown() override { tovLib::clrAll(); }
    tovPool pool;
};

// --- The protocol, for every container

template <class C>
class Protocol : public Containers {};
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

TYPED_TEST(Protocol, EmptyContainer) {
    TypeParam c;
    Key k(1);
    EXPECT_EQ(c.count(), 0);
    EXPECT_TRUE(c.empty());
    tovIterPtr it(c);
    EXPECT_EQ(static_cast<int>(it), 0);
    EXPECT_EQ(c.find(k), nullptr);
    EXPECT_FALSE(c.remove(k));
    EXPECT_EQ(dumped(c, 2, 1), "  " + std::string(c.className()) + " \n");
    tovIterPtr none(static_cast<tovIterator*>(nullptr));  // a handle on no iterator must delete nothing
}

TYPED_TEST(Protocol, IteratorSteps) {
    Item a(1), b(2);
    TypeParam c;
    c.add(a);
    c.add(b);
    const Seq v = visit(c);
    ASSERT_EQ(v.size(), 2u);
    tovIterPtr it(c);
    EXPECT_EQ(static_cast<int>(it), 1);  // exactly 1, not just any non-zero value
    EXPECT_EQ(&it++, v[0]);
    EXPECT_EQ(&it++, v[1]);  // on the last: returns it, not what follows, and ends
    EXPECT_EQ(static_cast<int>(it), 0);
    it.reset();
    EXPECT_EQ(&it(), v[0]);
    EXPECT_EQ(&++it, v[1]);  // pre-increment returns the new current element

    tovIterator* bare = c.newIterator();  // the iterator's own conversion, without a handle
    EXPECT_EQ(static_cast<int>(*bare), 1);
    bare->next();
    bare->next();
    EXPECT_EQ(static_cast<int>(*bare), 0);
    delete bare;
}

TYPED_TEST(Protocol, IteratorsComeFromTheContainersPool) {
    auto* c = new (&this->pool) TypeParam;
    const std::size_t used = this->pool.umem();
    EXPECT_EQ(tovIterPtr(c)->getPool(), &this->pool);
    EXPECT_EQ(this->pool.umem(), used);  // a handle that leaked its iterator would keep it here
    delete c;
    TypeParam automatic;  // no pool of its own: the main pool
    EXPECT_EQ(tovIterPtr(automatic)->getPool(), tovPool::mainPool());
}

TYPED_TEST(Protocol, ReferencesFollowTheNodes) {
    tovPool& pool = this->pool;
    Item local(3);
    TypeParam c;
    auto* a = new (&pool) Item(1);
    c.add(*a);
    // The node lives in the element's pool, not the container's.
    EXPECT_EQ(pool.umem(), rounded(sizeof(Item)) + rounded(sizeof(tovLinkObj)));
    c.add(*a);
    EXPECT_EQ(c.count(), 2);
    EXPECT_EQ(a->refCount(), 2);
    EXPECT_TRUE(c.remove(*a));
    EXPECT_EQ(a->refCount(), 1);
    EXPECT_TRUE(Item::gone.empty());
    c.removeAll();  // one release per node: the second one destroys it
    EXPECT_EQ(Item::gone, std::vector<int>{1});
    EXPECT_EQ(pool.umem(), 0u);  // element and both nodes are back
    EXPECT_EQ(c.count(), 0);
    EXPECT_EQ(visit(c), Seq{});

    auto* b = new (&pool) Item(2);
    b->up();
    {
        TypeParam holder;
        holder.add(*b);
    }
    EXPECT_EQ(b->refCount(), 1);  // the container's end gives back its own share, no more
    b->down();
    EXPECT_EQ(Item::gone, (std::vector<int>{1, 2}));

    // An element without a pool is never counted nor destroyed; its node is on the heap.
    const std::size_t mainUsed = tovPool::mainPool()->umem();
    c.add(local);
    c.add(local);
    EXPECT_EQ(local.refCount(), 0);
    EXPECT_EQ(tovPool::mainPool()->umem(), mainUsed);  // a node must not fall back to the main pool
    EXPECT_TRUE(c.remove(local));
    c.removeAll();
    EXPECT_EQ(Item::gone, (std::vector<int>{1, 2}));

    // removeAll lets go of the elements in visiting order (a different one per kind).
    const std::pair<int, unsigned> adds[] = {{5, 1}, {4, 3}, {6, 2}};
    for (auto [k, b] : adds) c.add(*new (&pool) Item(k, b));
    std::vector<int> visited;
    for (const tovObject* o : visit(c)) visited.push_back(static_cast<const Item*>(o)->key);
    Item::gone.clear();
    c.removeAll();
    EXPECT_EQ(Item::gone, visited);
}

TYPED_TEST(Protocol, LookupAsksTheStoredElement) {
    tovPool& pool = this->pool;
    TypeParam c;
    auto* stored = new (&pool) Item(7);
    auto* key = new (&pool) Key(7);
    key->up();
    ASSERT_FALSE(key->isEqual(*stored));  // asking the key would never match
    c.add(*stored);
    EXPECT_EQ(c.find(*key), stored);
    EXPECT_EQ(c.tovContainer::find(*key), stored);
    Key other(8);
    EXPECT_EQ(c.find(other), nullptr);
    EXPECT_FALSE(c.remove(other));
    EXPECT_TRUE(c.remove(*key));
    EXPECT_EQ(Item::gone, std::vector<int>{7});  // the element found is released, not the key
    EXPECT_EQ(key->refCount(), 1);
    EXPECT_EQ(c.count(), 0);
    key->down();
    EXPECT_EQ(pool.umem(), 0u);
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
    for (const char* how : {"remove", "removeAll", "destructor"}) {
        for (bool adds : {false, true}) {
            const std::string what = std::string(how) + (adds ? " adding" : "");
            Item::gone.clear();
            tovPool& pool = this->pool;
            auto* c = new (&pool) TypeParam;
            for (int k : {2, 5, 3}) c->add(k == 5 ? *new (&pool) Meddler(*c, adds) : *new (&pool) Item(k, k));
            if (std::string(how) == "destructor") {
                delete c;
            } else {
                if (std::string(how) == "remove") {
                    Key five(5, 5);
                    EXPECT_TRUE(c->remove(five)) << what;
                } else {
                    c->removeAll();
                }
                const int left = adds ? 2 : 0;
                EXPECT_EQ(c->count(), left) << what;
                EXPECT_EQ(c->empty(), left == 0) << what;
                EXPECT_EQ(static_cast<int>(visit(*c).size()), left) << what;
                if constexpr (std::is_same_v<TypeParam, tovHash<4191>>) {
                    EXPECT_TRUE(c->verify()) << what;
                }
                delete c;
            }
            std::sort(Item::gone.begin(), Item::gone.end());
            EXPECT_EQ(Item::gone, adds ? std::vector<int>({1, 2, 3, 5, 9}) : std::vector<int>({2, 3, 5}))
                << what;
            EXPECT_EQ(pool.umem(), 0u) << what;
        }
    }
}

// A table of any size, instantiated here in the client.
TEST_F(Containers, HashOfAnySizeIsTheSameTable) {
    Item a(1, 16), b(2, 3), c(3, 17 + 3), d(4, 0);
    tovHash<17> small;
    for (Item* o : {&a, &b, &c, &d}) small.add(*o);
    EXPECT_EQ(visit(small), (Seq{&d, &c, &b, &a}));
    EXPECT_EQ(small.col(), 1u);
    EXPECT_TRUE(small.verify());
    expectChain(small, {tovHashClass, tovContainerClass, tovObjectClass});
    expectChain(*tovIterPtr(small).operator->(), {tovHashIterClass, tovIteratorClass, tovObjectClass});

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

// --- Class identity of every container class and its iterator

TEST_F(Containers, ClassIdentity) {
    tovFifo f;
    tovList l;
    tovSList s;
    tovHash<4191> h;
    const struct {
        const tovContainer& c;
        const char* name;
        const char* iter;
    } rows[] = {{f, tovFifoClass, tovFifoIterClass},
                {l, tovListClass, tovListIterClass},
                {s, tovSListClass, tovSListIterClass},
                {h, tovHashClass, tovHashIterClass}};
    for (const auto& row : rows) {
        expectChain<tovObject>(row.c, {row.name, tovContainerClass, tovObjectClass});
        tovIterPtr it(row.c);
        expectChain<tovObject>(*it.operator->(), {row.iter, tovIteratorClass, tovObjectClass});
    }
    tovObject o;
    expectChain(tovLinkObj(o), {tovLinkObjClass});
    expectChain(tovIterPtr(static_cast<tovIterator*>(nullptr)), {tovIterPtrClass});
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
    bool remove(tovObject&) override { return false; }  // not needed here
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

TEST_F(Containers, ClientContainerGetsTheGenericLookupAndTheBaseIdentities) {
    struct Throwing : Key {
        bool isEqual(const tovObject&) const override { throw std::runtime_error("isEqual"); }
    };
    auto* q = new (&pool) Quad;
    q->up();
    Item a(1), b(2);
    Throwing t;
    q->add(a);
    q->add(b);
    expectChain<tovObject>(*q, {tovContainerClass, tovObjectClass});
    expectChain<tovObject>(*tovIterPtr(q).operator->(), {tovIteratorClass, tovObjectClass});
    Key two(2), three(3);
    EXPECT_EQ(q->find(two), &b);  // every element asked in iteration order
    EXPECT_EQ(q->find(three), nullptr);
    q->add(t);
    const std::size_t used = pool.umem();
    EXPECT_THROW(q->find(three), std::runtime_error);
    EXPECT_EQ(pool.umem(), used);  // the lookup's iterator went back all the same
    q->down();                     // tovContainer's operator delete, with Quad's size
    EXPECT_EQ(pool.umem(), 0u);
}

// --- FIFO

TEST_F(Containers, FifoGoesOldestFirst) {
    Item a(1), b(2), c(2), d(4), e(5);
    tovFifo f;
    for (Item* o : {&a, &b, &c}) f.add(*o);
    EXPECT_EQ(visit(f), (Seq{&a, &b, &c}));
    Key two(2);
    EXPECT_EQ(f.find(two), &b);
    EXPECT_TRUE(f.remove(two));
    EXPECT_TRUE(f.remove(c));
    f.add(d);
    EXPECT_EQ(visit(f), (Seq{&a, &d}));  // d must hang behind a, not the removed last c
    f.remove(a);
    f.remove(d);
    f.add(e);
    f.add(b);
    EXPECT_EQ(visit(f), (Seq{&e, &b}));  // a stale last node would swallow e
    f.removeAll();
    f.add(c);
    EXPECT_EQ(visit(f), Seq{&c});  // removeAll must clear the last node too
}

TEST_F(Containers, FifoIteratorStartsAtTheFirstNodeOfItsTime) {
    Item a(1), b(2), c(3);
    tovFifo f;
    tovIterPtr none(f);
    f.add(a);
    tovIterPtr early(f);
    f.add(b);
    EXPECT_EQ(static_cast<int>(none), 0);  // made on an empty FIFO: later adds must not revive it
    none.reset();
    EXPECT_EQ(static_cast<int>(none), 0);
    EXPECT_EQ(drain(early), (Seq{&a, &b}));  // b was appended while it still ran
    f.add(c);
    EXPECT_EQ(static_cast<int>(early), 0);  // it had run out before c came
    early.reset();
    EXPECT_EQ(drain(early), (Seq{&a, &b, &c}));
}

// --- Lists

TEST_F(Containers, ListGoesNewestFirst) {
    Item a(1), b(3), c(3);
    tovList l;
    l.add(a);
    tovIterPtr early(l);
    for (Item* o : {&b, &c}) l.add(*o);
    EXPECT_EQ(visit(l), (Seq{&c, &b, &a}));
    EXPECT_EQ(drain(early), Seq{&a});  // later elements go in front of its start
    early.reset();
    EXPECT_EQ(drain(early), Seq{&a});
    Key three(3);
    EXPECT_EQ(l.find(three), &c);
    EXPECT_TRUE(l.remove(three));
    EXPECT_EQ(visit(l), (Seq{&b, &a}));  // the first removed: its successor is first
}

TEST_F(Containers, SortedListAscendsByObjcmp) {
    Item two(2), one(1), three(3), x(5), y(5), zero(0), z(5);
    tovSList s;
    for (Item* o : {&two, &one, &three, &x, &y}) s.add(*o);
    EXPECT_EQ(visit(s), (Seq{&one, &two, &three, &x, &y}));  // equal ones in insertion order
    s.add(zero);                                             // below all: first
    s.add(z);                                                // equal to the last: behind it, not in front
    EXPECT_EQ(visit(s), (Seq{&zero, &one, &two, &three, &x, &y, &z}));
    Key five(5);
    EXPECT_EQ(s.find(five), &x);
    EXPECT_TRUE(s.remove(five));
    EXPECT_EQ(visit(s), (Seq{&zero, &one, &two, &three, &y, &z}));

    tovObject plain[3];
    tovSList byAddress;
    for (int i : {1, 2, 0}) byAddress.add(plain[i]);
    EXPECT_EQ(visit(byAddress), (Seq{&plain[0], &plain[1], &plain[2]}));
}

// --- Hash table

// Buckets in ascending order, the newest first in each; client hashes of 4191 and
// above are reduced to a bucket.
TEST_F(Containers, HashOrderIsBucketThenNewest) {
    Item a(1, 9), b(2, 3), c(3, 9), d(4, 0), e(6, 4190), r(7, 4191 + 5), s(8, 100000), x(5, 40), y(5, 40);
    tovHash<4191> h;
    for (Item* o : {&a, &e, &b, &c, &d, &r, &s}) h.add(*o);
    // The first and last bucket (an off-by-one would skip one), and buckets 5 and 3607.
    EXPECT_EQ(visit(h), (Seq{&d, &b, &r, &c, &a, &s, &e}));
    tovIterPtr it(h);
    drain(it);
    it->next();  // a finished iterator must not scan on past the buckets
    EXPECT_TRUE(it->done());
    for (Item* o : {&x, &y}) h.add(*o);
    Key five(5, 40), seven(7, 4191 + 5), eight(8, 100000);
    EXPECT_EQ(h.find(five), &y);  // of two equal entries, the newer is met first
    EXPECT_EQ(h.find(eight), &s);
    EXPECT_TRUE(h.remove(seven));
    EXPECT_EQ(h.find(seven), nullptr);
}

TEST_F(Containers, HashCollisionCount) {
    Item a(1, 1), b(2, 1), c(3, 2);
    tovHash<4191> h;
    h.add(a);
    h.add(a);  // the same object twice: two entries in one bucket
    EXPECT_EQ(h.col(), 1u);
    h.remove(a);
    EXPECT_EQ(h.col(), 0u);
    h.add(b);
    h.add(c);
    EXPECT_EQ(h.col(), 1u);
    h.remove(c);  // leaves its bucket empty: no collision to take back
    h.remove(a);  // behind b in its bucket, which keeps b
    EXPECT_EQ(h.col(), 0u);
    h.remove(b);
    EXPECT_EQ(h.col(), 0u);  // unsigned: one decrement too many would wrap

    std::vector<Item> many(6000);
    for (std::size_t i = 0; i < many.size(); ++i) {
        many[i].key = static_cast<int>(i);
        many[i].bucket = static_cast<unsigned int>(i % 4191);
        h.add(many[i]);
    }
    EXPECT_EQ(h.col(), 6000u - 4191u);  // every bucket holds at least one
    for (Item& o : many) EXPECT_TRUE(h.remove(o));
    EXPECT_EQ(h.col(), 0u);
    for (Item& o : many) h.add(o);
    h.removeAll();
    EXPECT_EQ(h.col(), 0u);
}

TEST_F(Containers, HashVerifySeesAnEntryWhoseHashMoved) {
    tovHash<4191> h;
    EXPECT_TRUE(h.verify());
    Item a(1, 1), b(2, 1), c(3, 4190);
    for (Item* o : {&a, &b, &c}) h.add(*o);
    EXPECT_TRUE(h.verify());
    b.bucket = 2;  // stored in bucket 1, now hashing to bucket 2
    EXPECT_FALSE(h.verify());
    b.bucket = 4191 + 1;  // reduced to bucket 1 again
    EXPECT_TRUE(h.verify());
    EXPECT_TRUE(h.remove(a));
    EXPECT_TRUE(h.verify());
    h.removeAll();
    EXPECT_TRUE(h.verify());

    // The counts and chains themselves, as a derived class could break them.
    struct Exposed : tovHash<4191> {
        using tovContainer::_count;
        using tovHash::_buckets;
        using tovHash::_col;
    } x;
    x.add(a);
    x.add(b);  // a's bucket
    ASSERT_TRUE(x.verify());
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

// --- Dumps: the elements 4 blanks further in, nested containers further still; flag 6
// adds a container's count, flag 5 a hash table's count and collisions, flags 0 and 3
// the pool and the reference count.

TEST_F(Containers, Dumps) {
    tovObject o1, o2;
    tovFifo f;
    for (tovObject* o : {&o1, &o2}) f.add(*o);
    tovList outer;
    auto* inner = new (&pool) tovFifo;
    for (int k : {1, 2}) inner->add(*new (&pool) Item(k));
    outer.add(o1);
    outer.add(*inner);
    Item a(1, 1), b(2, 1), c(3, 2);
    tovHash<4191> empty, h;
    for (Item* o : {&a, &b, &c}) h.add(*o);
    tovIterator* it = inner->newIterator();
    it->up();
    const std::string objects = "    tovObject \n    tovObject \n",
                      entries = "    item2\n    item1\n    item3\n";
    const struct {
        const tovObject& o;
        std::vector<int> flags;
        int indent, nl;
        std::string text;
    } rows[] = {
        {f, {}, 0, 1, "tovFifo \n" + objects},
        {f, {}, 0, 0, "tovFifo \n    tovObject     tovObject "},  // nl only for the elements
        {f, {6}, 0, 1, "tovFifo CT[2]\n" + objects},
        {outer, {}, 0, 1, "tovList \n    tovFifo \n        item1\n        item2\n    tovObject \n"},
        {empty, {5}, 0, 1, "tovHash CT[0] CL[0]\n"},
        {h, {5}, 0, 1, "tovHash CT[3] CL[1]\n" + entries},
        {h, {5, 6}, 0, 1, "tovHash CT[3] CL[1]\n" + entries},  // flag 5 decides, whatever flag 6 says
        {h, {6}, 0, 1, "tovHash CT[3]\n" + entries},           // the container dump: no collisions
        {h, {}, 0, 1, "tovHash \n" + entries},
        {*it, {0, 3}, 4, 1, "    tovFifoIter P[" + std::to_string(pool.getNum()) + "] RC[1] \n"},
    };
    for (const auto& row : rows) {
        tovLib::clrAll();
        for (int flag : row.flags) tovLib::set(flag);
        EXPECT_EQ(dumped(row.o, row.indent, row.nl), row.text) << row.o.className();
    }
    it->down();  // the last release deletes it
    // A nested container ends with its last release, and releases its elements.
    EXPECT_TRUE(outer.remove(*inner));
    EXPECT_EQ(Item::gone, (std::vector<int>{1, 2}));
    EXPECT_EQ(pool.umem(), 0u);
}

}  // namespace
