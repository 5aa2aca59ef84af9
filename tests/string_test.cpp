// Tests of interned strings beyond what their model (fuzz/string_fuzz.cpp, run as
// model.string) checks step by step (failed construction and handle assignment
// included): stored objects that throw, a text index that disagrees with the chains,
// its memory, and what clients override; and the class identities, names and dump texts
// of the whole library; the text index's keyed hash against published values.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <tovlib.h>

#include "heap_fault.h"
#include "string/tovText.h"
#include "support.h"

namespace {

class Strings : public testing::Test {
protected:
    void SetUp() override {
        tovLib::reInit(true);
        table = tovStringTbl::establish(nullptr);
    }
    void TearDown() override {
        tovLib::reset();
        tovLib::clrAll();
    }
    tovStringTbl* table = nullptr;
};

// A stored object that throws when asked about the candidate: the exception passes,
// and neither the table nor its pool keeps anything of the attempt.
TEST_F(Strings, InterningLeavesNothingWhenAStoredObjectThrows) {
    struct Touchy : tovObject {
        unsigned int hash(int n) const override { return 23406631u % static_cast<unsigned int>(n); }  // "abc"
        bool isEqual(const tovObject& other) const override {
            if (&other != this) throw std::runtime_error("isEqual failed");
            return true;
        }
    };
    table->add(*new (nullptr) Touchy);
    tovPool* const pool = tovPool::mainPool();
    auto counters = [pool] {
        return std::vector<std::size_t>{pool->amem(), pool->fmem(), pool->rmem(), pool->umem()};
    };
    const std::size_t used = pool->umem();
    // The first attempt carves the candidate and its text; they come back recycled, for
    // the next attempt to take again.
    EXPECT_THROW(tovString("abc"), std::runtime_error);
    const std::vector<std::size_t> after = counters();
    EXPECT_EQ(after.back(), used);
    EXPECT_THROW(tovString("abc"), std::runtime_error);
    EXPECT_EQ(counters(), after);
    EXPECT_EQ(table->count(), 1);
}

// What a derived table could do to its chains behind the index's back: link an
// element in without it, in front of another of its text or with a text of its own.
// verify() sees the index disagree, and the element's removal puts things right.
TEST_F(Strings, VerifySeesATextIndexThatDisagreesWithTheChains) {
    struct Exposed : tovStringTbl {
        Exposed() : tovStringTbl() {}
        using tovContainer::_count;
        using tovHash::_buckets;
        using tovHash::_col;
    };
    auto* t = new (nullptr) Exposed;
    for (int i = 0; i < 100; ++i) t->addStrElem(("t" + std::to_string(i)).c_str());
    for (const char* text : {"t7", "stray"}) {
        auto* e = new (nullptr) tovStrElem(text);
        tovLinkObj*& head = t->_buckets[e->hash(4191)];
        auto* node = new (e->getPool()) tovLinkObj(*e);
        t->_col += head != nullptr;
        node->_next = head;
        head = node;
        ++t->_count;
        EXPECT_FALSE(t->verify()) << text;
        EXPECT_TRUE(t->remove(*e));
        EXPECT_TRUE(t->verify()) << text;
    }
    // A duplicate added in front of its text and removed: the index holds the older one again.
    auto& twin = t->add(*new (nullptr) tovStrElem("t9"));
    EXPECT_TRUE(t->verify());
    EXPECT_TRUE(t->remove(twin));
    EXPECT_TRUE(t->verify());
    delete t;
}

// The index lives outside the pools and goes with its table: when the table is
// forgotten (reset, tempReset) or its pool released, nothing of it stays on the heap
// (released blocks too, with no cache of released memory).
TEST_F(Strings, TextIndexLeavesWithItsTableAndPool) {
    const std::size_t bound = tovLib::poolCacheBound();
    tovLib::setPoolCacheBound(0);
    auto intern = [](int n) {
        for (int i = 0; i < n; ++i) tovString(("w" + std::to_string(i)).c_str());
    };
    const long settled = heapFault::live();
    intern(8300);  // past 16,384 slots, where the index doubles instead of quadrupling
    for (int cycle = 0; cycle < 3; ++cycle) {
        tovLib::tempInit(nullptr);
        intern(300);
        if (cycle < 2) tovLib::tempReset();  // the last area is still open at reInit
    }
    tovLib::reInit(true);
    EXPECT_EQ(heapFault::live(), settled);
    auto* p = new tovPool;
    const long bare = heapFault::live();
    tovStringTbl::establishTemp(p);
    intern(300);
    p->release();
    EXPECT_EQ(heapFault::live(), bare);
    tovLib::reset();
    tovLib::setPoolCacheBound(bound);
}

// The index's keyed hash runs its authors' SipHash with 1 and 3 rounds; with 2 and 4
// it must give their published values (key 00..0f, messages 00..0e of 0 and 15 bytes).
TEST(KeyedHash, PublishedValues) {
    char m[15];
    for (int i = 0; i < 15; ++i) m[i] = static_cast<char>(i);
    const std::uint64_t k0 = 0x0706050403020100u, k1 = 0x0f0e0d0c0b0a0908u;
    EXPECT_EQ((tovText::sipHash<2, 4>(k0, k1, m, 0)), 0x726fdb47dd0e0e31u);
    EXPECT_EQ((tovText::sipHash<2, 4>(k0, k1, m, 15)), 0xa129ca6149be45e5u);
}

// The identity, name and dump texts of every class, one row each: isA answers for the
// class and its bases (rows with a chain), by pointer, and className names the class.
// Elements go 4 blanks further in, nested containers further still; flag 6 adds a
// container's count, flag 5 a hash table's count and collisions, flag 4 a string's
// class names. Stream insertion writes the dump, except for a handle or element as
// such: its text alone.
TEST_F(Strings, IdentityAndDumpOfEveryClass) {
    tovObject o1, o2;  // the elements first: they outlive the containers
    Item a(1, 1), b(2, 1), c(3, 2);
    tovFifo f, inner;
    for (tovObject* o : {&o1, &o2}) f.add(*o);
    for (Item* o : {&a, &b}) inner.add(*o);
    tovList outer;
    outer.add(o1);
    outer.add(inner);
    tovSList s;
    tovHash<4191> h;
    for (Item* o : {&a, &b, &c}) h.add(*o);
    tovIterPtr fi(f), li(outer), si(s), hi(h);
    tovStrElem& abc = table->addStrElem("abc");
    tovString handle("abc");
    tovNamedObj alpha(tovString("alpha"));
    const char *O = tovObjectClass, *C = tovContainerClass, *I = tovIteratorClass;
    const std::string objects = "    tovObject \n    tovObject \n", items = "        item1\n        item2\n",
                      entries = "    item2\n    item1\n    item3\n", texts = "    alpha \n    abc \n";
    const struct {
        const tovObject& o;
        std::vector<const char*> chain;
        int flag, indent, nl;
        std::string text;
    } rows[] = {
        {o1, {O}, -1, 0, 0, "tovObject "},
        {f, {tovFifoClass, C, O}, -1, 0, 1, "tovFifo \n" + objects},
        {f, {}, -1, 0, 0, "tovFifo \n    tovObject     tovObject "},  // nl only for the elements
        {f, {}, 6, 0, 1, "tovFifo CT[2]\n" + objects},
        {outer, {tovListClass, C, O}, -1, 0, 1, "tovList \n    tovFifo \n" + items + "    tovObject \n"},
        {s, {tovSListClass, C, O}, -1, 0, 1, "tovSList \n"},
        {h, {tovHashClass, C, O}, 5, 0, 1, "tovHash CT[3] CL[1]\n" + entries},
        {h, {}, 6, 0, 1, "tovHash CT[3]\n" + entries},  // the container dump: no collisions
        {*fi.operator->(), {tovFifoIterClass, I, O}, -1, 0, 0, "tovFifoIter "},
        {*li.operator->(), {tovListIterClass, I, O}, -1, 0, 0, "tovListIter "},
        {*si.operator->(), {tovSListIterClass, I, O}, -1, 0, 0, "tovSListIter "},
        {*hi.operator->(), {tovHashIterClass, I, O}, -1, 0, 0, "tovHashIter "},
        {*table, {tovStringTblClass, tovHashClass, C, O}, 5, 0, 1, "tovStringTblClass CT[2] CL[0]\n" + texts},
        {abc, {tovStrElemClass, O}, -1, 4, 1, "    abc \n"},
        {abc, {}, 4, 2, 0, "  tovStrElem abc "},
        {handle, {tovStringClass, O}, -1, 0, 1, "abc \n"},
        {handle, {}, 4, 0, 1, "tovStringClass \n tovStrElem abc \n"},
        {alpha, {tovNamedObjClass, O}, -1, 2, 1, "  tovNamedObj alpha \n"},
        {alpha, {}, 4, 0, 1, "tovNamedObj \n tovStringClass \n  tovStrElem alpha \n"},
    };
    for (const auto& row : rows) {
        if (!row.chain.empty()) expectChain(row.o, row.chain);
        tovLib::clrAll();
        if (row.flag >= 0) tovLib::set(row.flag);
        EXPECT_EQ(dumped(row.o, row.indent, row.nl), row.text) << row.o.className() << " " << row.flag;
        std::ostringstream os;
        os << row.o;
        EXPECT_EQ(os.str(), dumped(row.o, 0, 0)) << row.o.className() << " " << row.flag;
    }
    expectChain(tovLinkObj(o1), {tovLinkObjClass});
    expectChain(tovIterPtr(static_cast<tovIterator*>(nullptr)), {tovIterPtrClass});  // deletes nothing
    expectChain(*tovPool::mainPool(), {tovPoolClass});
    std::string names;  // each class name's text; expectChain tells their pointers apart
    for (const char* name : classNames()) names += std::string(name) + ' ';
    EXPECT_EQ(names,
              "tovObject tovPool tovContainer tovIterator tovIterPtr tovLinkObj tovFifo tovFifoIter tovList "
              "tovListIter tovSList tovSListIter tovHash tovHashIter tovStrElem tovStringClass "
              "tovStringTblClass tovNamedObj tovSptr ");
    std::ostringstream os;
    os << handle << abc;
    EXPECT_EQ(os.str(), "abcabc");
}

// What clients override is kept: a named object is equal by the name it was made with,
// yet ordered and dumped by what name() answers; a named-object table looked up by a
// plain handle asks an entry's isEqual, and takes the hash of the key's element.
TEST_F(Strings, WhatClientsOverrideIsKept) {
    tovString key("alpha");
    struct Renamed : tovNamedObj {
        Renamed(const tovString& real, const tovString& shown) : tovNamedObj(real), _shown(shown) {}
        const tovString& name() const override { return _shown; }
        tovString _shown;
    } renamed(key, tovString("zed"));
    tovNamedObj one(key);
    EXPECT_TRUE(renamed.isEqual(one) && one.isEqual(renamed));
    EXPECT_EQ(renamed.objcmp(one), 1);
    EXPECT_EQ(one.objcmp(renamed), -1);
    EXPECT_EQ(dumped(renamed, 0, 0), "tovNamedObj zed ");
    struct Aloof : tovNamedObj {
        using tovNamedObj::tovNamedObj;
        bool isEqual(const tovObject& other) const override { return &other == this; }
    } aloof(key);
    struct Shifted : tovStrElem {
        using tovStrElem::tovStrElem;
        unsigned int hash(int n) const override { return tovStrElem::hash(n) + 1; }
    } shifted("alpha");
    tovNamedObj byShifted{tovString(&shifted)};
    tovHash<4191> h;
    h.add(aloof), h.add(byShifted);
    EXPECT_EQ(h.find(key), nullptr);
    EXPECT_EQ(h.find(tovString(&shifted)), &byShifted);
}

}  // namespace
