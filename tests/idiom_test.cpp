// Tests of the C++ idioms over the library: range-for over containers, tovRef,
// operator<< and the string views.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include <tovlib.h>

#include "support.h"

namespace {

struct Special : Item {
    using Item::Item;
    TOV_OBJECT_OPERATORS(Special)
};

Seq byRangeFor(const tovContainer& c) {
    Seq s;
    for (tovObject& e : c) s.push_back(&e);
    return s;
}

template <class T>
std::string inserted(const T& o) {
    std::ostringstream os;
    os << o;
    return os.str();
}

// --- Range-for over every container

template <class C>
class Range : public testing::Test {
protected:
    void SetUp() override { Item::gone.clear(); }
    tovPool pool;
};

TYPED_TEST_SUITE(Range, ContainerKinds, ByIndex);

// Algorithms, including those that keep copies behind a leading iterator, over the
// three elements `want` in visiting order; `most` and `least` have the largest and the
// smallest key, and `other` is another container that holds the first one.
template <class C>
void algorithmsOver(const C& con, const Seq& want, const Item& most, const Item& least, const C& other) {
    EXPECT_EQ(std::distance(begin(con), end(con)), 3);
    EXPECT_EQ(std::count_if(begin(con), end(con), [](tovObject& e) { return static_cast<Item&>(e).key > 1; }),
              2);
    EXPECT_EQ(&*std::find_if(begin(con), end(con), [&](tovObject& e) { return &e == want[1]; }), want[1]);
    auto byKey = [](tovObject& x, tovObject& y) {
        return static_cast<Item&>(x).key < static_cast<Item&>(y).key;
    };
    EXPECT_EQ(&*std::max_element(begin(con), end(con), byKey), &most);
    EXPECT_EQ(&*std::min_element(begin(con), end(con), byKey), &least);
    EXPECT_EQ(std::adjacent_find(begin(con), end(con), [](tovObject& x, tovObject& y) { return &x == &y; }),
              end(con));
    auto it = begin(con);
    EXPECT_EQ(&*it++, want[0]);
    EXPECT_EQ(it->hash(4191), static_cast<const Item*>(want[1])->bucket);
    auto again = begin(con);
    EXPECT_NE(it, again);
    EXPECT_EQ(++again, it);       // the same position of the same container, on another walk
    auto lag = again;             // both at the second element, on one walk
    ++again;                      // takes the walk on to the third
    EXPECT_EQ(&*++lag, want[2]);  // a walk of its own, stepped to the second element first
    EXPECT_EQ(lag, again);
    EXPECT_NE(begin(con), end(con));
    EXPECT_NE(end(con), begin(con));
    EXPECT_NE(begin(other), begin(con));  // the same position of another container
}

TYPED_TEST(Range, VisitsInTheContainersOwnOrder) {
    // Keys 2, 3, 1 in buckets 5, 0, 9: insertion, reverse, sorted and bucket order all differ.
    Item a(2, 5), b(3, 0), c(1, 9);
    TypeParam con, other;
    EXPECT_EQ(byRangeFor(con), Seq{});
    EXPECT_EQ(begin(con), end(con));
    for (Item* o : {&a, &b, &c}) con.add(*o);
    Seq want;
    if constexpr (std::is_same_v<TypeParam, tovFifo>) want = {&a, &b, &c};
    if constexpr (std::is_same_v<TypeParam, tovList>) want = {&c, &b, &a};
    if constexpr (std::is_same_v<TypeParam, tovSList>) want = {&c, &a, &b};
    if constexpr (std::is_same_v<TypeParam, tovHash<4191>>) want = {&b, &a, &c};
    other.add(const_cast<tovObject&>(*want[0]));
    EXPECT_EQ(byRangeFor(con), want);
    const tovContainer& any = con;
    EXPECT_EQ(byRangeFor(any), want);
    algorithmsOver<TypeParam>(con, want, b, c, other);     // the node walk
    algorithmsOver<tovContainer>(any, want, b, c, other);  // the protocol's walk
    other.removeAll();
}

static_assert(std::is_same_v<decltype(begin(std::declval<tovSList&>())), tovNodeIter>);
static_assert(std::is_same_v<decltype(begin(std::declval<const tovHash<17>&>())), tovHashNodeIter<17>>);
static_assert(std::is_same_v<decltype(begin(std::declval<tovStringTbl&>())), tovRangeIter>);  // a subclass

// A range-for over the container's own static type follows the nodes; whatever the
// container holds, it meets exactly what the protocol's walk meets, in the same order.
TYPED_TEST(Range, NodeWalksMatchTheProtocolsWalk) {
    std::mt19937 rng(5);
    std::vector<Item> items(300);
    TypeParam con;
    for (int step = 0; step < 600; ++step) {
        Item& o = items[rng() % items.size()];
        o.key = static_cast<int>(rng() % 50);
        o.bucket = static_cast<unsigned int>(rng() % 4191 % 37);
        if (rng() % 3)
            con.add(o);
        else
            con.remove(o);
        Seq typed;
        for (tovObject& e : con) typed.push_back(&e);
        ASSERT_EQ(typed, byRangeFor(con)) << "step " << step;
        ASSERT_EQ(std::distance(begin(con), end(con)), con.count());
    }
    con.removeAll();
}

TYPED_TEST(Range, TheIteratorIsDeletedOnceOnEveryWayOut) {
    tovPool& pool = this->pool;
    auto* own = new (&pool) TypeParam;  // its iterators come from `pool`
    const tovContainer* con = own;      // walked through the protocol
    for (int k : {1, 2, 3}) own->add(*new (&pool) Item(k, k));
    const std::size_t idle = pool.umem();
    int seen = 0;
    for (tovObject& e : *con) {
        (void)e;
        EXPECT_GT(pool.umem(), idle);  // the walk's iterator is out, so this counter can see a leak
        if (++seen == 2) break;
    }
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(pool.umem(), idle);
    EXPECT_THROW(
        for (tovObject& e
             : *con) {
            (void)e;
            throw std::runtime_error("out");
        },
        std::runtime_error);
    EXPECT_EQ(pool.umem(), idle);
    {
        tovRangeIter first = begin(*con);
        tovRangeIter copy = first;
        tovRangeIter moved = std::move(copy);
        tovRangeIter assigned;
        assigned = moved;
        assigned = first;  // shares the walk already: nothing to delete
        const std::size_t oneWalk = pool.umem();
        ++moved;  // takes the shared walk along; the other copies stay
        EXPECT_EQ(pool.umem(), oneWalk);
        EXPECT_EQ(&*first, &*assigned);
        EXPECT_NE(first, moved);
        ++first;  // the walk has moved on without it: it makes its own
        EXPECT_GT(pool.umem(), oneWalk);
        EXPECT_EQ(first, moved);
        EXPECT_EQ(&*first, &*moved);
        assigned = moved;  // nothing shares the first walk any more: it is deleted
        first = moved;
        EXPECT_EQ(pool.umem(), oneWalk);
        copy = end(*con);  // a moved-from iterator is usable again
        EXPECT_NE(first, copy);
        {
            tovRangeIter other = begin(*con);
            EXPECT_GT(pool.umem(), oneWalk);  // a second walk has an iterator of its own
        }
        EXPECT_EQ(pool.umem(), oneWalk);
    }
    EXPECT_EQ(pool.umem(), idle);  // ASan would report a second delete or a leak here
    delete own;
    EXPECT_EQ(Item::gone.size(), 3u);
    EXPECT_EQ(pool.umem(), 0u);
}

// --- tovRef

class Refs : public testing::Test {
protected:
    void SetUp() override { Item::gone.clear(); }
    tovPool pool;
};

TEST_F(Refs, CountsFollowEveryHolder) {
    auto* o = new (&pool) Item(1);
    tovRef<Item> a(o);
    EXPECT_EQ(o->refCount(), 1);
    // As the only holder, a handle that let go before taking would delete the object.
    tovRef<Item>& alias = a;  // assignment to itself, hidden from the compiler's warning
    a = alias;
    a = std::move(alias);
    a.reset(o);
    EXPECT_EQ(a.get(), o);
    EXPECT_EQ(o->refCount(), 1);
    EXPECT_TRUE(Item::gone.empty());
    {
        tovRef<Item> b(a);
        EXPECT_EQ(o->refCount(), 2);
        tovRef<Item> c(std::move(b));
        EXPECT_EQ(o->refCount(), 2);
        EXPECT_FALSE(b);
        EXPECT_EQ(b, nullptr);
        b = c;
        EXPECT_EQ(o->refCount(), 3);
        b = std::move(c);
        EXPECT_EQ(o->refCount(), 2);  // the moved handle's hold went to b, b's old one went
        EXPECT_EQ(c, nullptr);
        b = nullptr;
        EXPECT_EQ(o->refCount(), 1);
        b = a;
    }
    EXPECT_EQ(o->refCount(), 1);

    {
        tovFifo f;
        f.add(*a);  // a container is one more holder
        a.reset();
        EXPECT_TRUE(Item::gone.empty());
        EXPECT_EQ(o->refCount(), 1);
        a = tovRef<Item>(&static_cast<Item&>(*begin(f)));
    }
    EXPECT_EQ(o->refCount(), 1);
    EXPECT_TRUE(Item::gone.empty());
    a.reset();  // the last holder: deleted now, and only now
    EXPECT_EQ(Item::gone, std::vector<int>{1});
    EXPECT_EQ(pool.umem(), 0u);
}

TEST_F(Refs, AssignmentSwapAndConversion) {
    auto* x = new (&pool) Item(1);
    auto* y = new (&pool) Special(2);
    tovRef<Item> rx(x);
    tovRef<Special> ry(y);
    tovRef<Item> base(ry);  // from a handle on a derived class
    tovRef<const tovObject> any(std::move(ry));
    EXPECT_EQ(y->refCount(), 2);
    EXPECT_EQ(any, base);
    EXPECT_NE(any, rx);
    EXPECT_EQ(rx < base, std::less<const tovObject*>()(x, y));
    EXPECT_EQ(&*base, y);
    EXPECT_EQ(base->key, 2);
    swap(rx, base);
    EXPECT_EQ(rx.get(), y);
    EXPECT_EQ(x->refCount(), 1);
    EXPECT_EQ(y->refCount(), 2);
    rx = base;  // lets go of y, takes x
    EXPECT_EQ(x->refCount(), 2);
    EXPECT_EQ(y->refCount(), 1);
    any = rx;  // a handle on const counts too; y loses its last holder
    EXPECT_EQ(Item::gone, std::vector<int>{2});
    EXPECT_EQ(x->refCount(), 3);
}

TEST_F(Refs, ObjectsWithoutAPoolAreNeitherCountedNorDeleted) {
    {
        Item local(7);
        tovRef<Item> a(&local);
        tovRef<Item> b(a);
        b.reset();
        EXPECT_EQ(local.refCount(), 0);
        EXPECT_TRUE(Item::gone.empty());
    }  // the handle goes first, then the object, by its owner alone
    EXPECT_EQ(Item::gone, std::vector<int>{7});
    EXPECT_FALSE(tovRef<Item>());
}

// --- Stream insertion and string views

class Text : public testing::Test {
protected:
    void SetUp() override { tovLib::reInit(true); }
    void TearDown() override {
        tovLib::reset();
        tovLib::clrAll();
    }
};

TEST_F(Text, InsertionWritesTheDump) {
    tovString s("name");
    tovNamedObj named(s);
    tovObject plain;
    tovFifo f;
    f.add(plain);
    f.add(s);
    const tovObject* const objects[] = {&plain, &f, &s, &named};
    for (int flags : {0, 1}) {
        if (flags) {
            for (int i : {0, 1, 3, 4, 5, 6}) tovLib::set(i);
        }
        for (const tovObject* o : objects) EXPECT_EQ(inserted(*o), dumped(*o, 0, 0)) << o->className();
        EXPECT_EQ(inserted(named), dumped(named, 0, 0));
        // A handle or element with its own type still writes just its text.
        EXPECT_EQ(inserted(s), "name");
        EXPECT_EQ(inserted(tovStringTbl::establish(nullptr)->addStrElem("name")), "name");
    }
}

TEST_F(Text, ViewsShowTheTextItself) {
    for (const char* text : {"", "abc", "\xE9\x80\xFF", "a longer text with blanks"}) {
        const tovString s(text);
        const tovStrElem& e = tovStringTbl::establish(nullptr)->addStrElem(text);
        for (std::string_view v : {s.view(), e.view()}) {
            EXPECT_EQ(v, std::string_view(text));
            EXPECT_EQ(v.size(), std::strlen(text));
            EXPECT_EQ(v.data(), static_cast<const char*>(s));  // the element's bytes, not a copy
        }
    }
}

// Handles as values: assignment, the standard containers and algorithms. The texts
// include a prefix and a byte above 0x7f, which orders after every ASCII byte.
TEST_F(Text, HandlesWorkAsValues) {
    const std::vector<std::string> texts = {"pear", "\xE9t\xE9", "apple", "app", "fig", "pear", "apple"};
    std::vector<tovString> handles;
    for (const std::string& t : texts) handles.emplace_back(t.c_str());
    tovString a("fig"), b("kiwi");
    a = b;
    tovString& alias = a;  // assignment to itself, hidden from the compiler's warning
    a = alias;
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.getPool(), nullptr);  // an automatic handle stays one
    std::sort(handles.begin(), handles.end());
    handles.erase(std::unique(handles.begin(), handles.end()), handles.end());
    std::vector<std::string> sorted;
    for (const tovString& h : handles) sorted.emplace_back(h.view());
    EXPECT_EQ(sorted, (std::vector<std::string>{"app", "apple", "fig", "pear", "\xE9t\xE9"}));
    std::map<tovString, int> counts;
    std::unordered_map<tovString, int> hashed;
    for (const std::string& t : texts) ++counts[tovString(t.c_str())], ++hashed[tovString(t.c_str())];
    EXPECT_EQ(counts.size(), 5u);
    EXPECT_EQ(counts[tovString("apple")], 2);
    EXPECT_EQ(hashed[tovString("pear")], 2);
    EXPECT_EQ(std::set<tovString>(handles.begin(), handles.end()).size(), 5u);
    // The same text from another table: equivalent in order, not equal.
    tovLib::tempInit(nullptr);
    const tovString other("apple");
    EXPECT_NE(other, tovString(handles[1]));
    EXPECT_FALSE(other < handles[1] || handles[1] < other);
    EXPECT_TRUE(other <= handles[1] && other >= handles[1] && handles[0] < other && handles[2] > other);
    EXPECT_EQ(counts.count(other), 1u);
    EXPECT_EQ(hashed.count(other), 0u);
    tovLib::tempReset();
}

}  // namespace
