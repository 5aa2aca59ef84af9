// Tests of interned strings beyond what their model (fuzz/string_fuzz.cpp, run as
// model.string) checks step by step: comparisons across classes, stored objects that
// throw or are of other classes, the text index against the chains, its memory, and
// failed construction; and the class identities and dump texts of the whole library.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <tovlib.h>

#include "heap_fault.h"
#include "support.h"

namespace {

constexpr int byAddress = 2;

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

// Elements by their text, with unsigned bytes; an element against the others by
// address; a named object equal by its real name, ordered by name(). (Handles and
// named objects among themselves are the model's.)
TEST_F(Strings, ComparisonsAcrossClasses) {
    tovStrElem& ab = table->addStrElem("ab");
    tovStrElem& alphaElement = table->addStrElem("alpha");
    tovStrElem abCopy("ab"), abc("abc"), b("b"), highElement("\xE9"), a("a");
    tovString hAb(&ab), alpha("alpha");
    struct Tagged : tovString {  // a client's handle class
        using tovString::tovString;
    } tagged("alpha");
    struct Renamed : tovNamedObj {
        Renamed(const tovString& real, const tovString& shown) : tovNamedObj(real), _shown(shown) {}
        const tovString& name() const override { return _shown; }
        tovString _shown;
    } renamed(alpha, tovString("zed"));
    tovNamedObj one(alpha);
    const struct {
        const tovObject& a;
        const tovObject& b;
        bool equal;
        int order;
    } rows[] = {
        {ab, abCopy, true, 0},  // another element with the same text
        {ab, abc, false, -1},   // a proper prefix is the smaller
        {b, abc, false, 1},
        {highElement, a, false, 1},   // 0xE9 is above 'a' as an unsigned byte
        {ab, hAb, false, byAddress},  // a handle is no element, even for its own element
        {one, alphaElement, false, byAddress},
        {one, tagged, true, 0},
        {renamed, one, true, 1},  // equal by the real name, after it by "zed"
        {ab, ab, true, 0},
    };
    for (const auto& row : rows) {
        int order = row.order;
        if (order == byAddress) order = std::less<const tovObject*>()(&row.a, &row.b) ? -1 : 1;
        const std::string pair = dumped(row.a, 0, 0) + "/ " + dumped(row.b, 0, 0);
        EXPECT_EQ(row.a.isEqual(row.b), row.equal) << pair;
        EXPECT_EQ(row.b.isEqual(row.a), row.equal) << pair;
        EXPECT_EQ(row.a.objcmp(row.b), order) << pair;
        EXPECT_EQ(row.b.objcmp(row.a), -order) << pair;
    }
    EXPECT_EQ(dumped(renamed, 0, 0), "tovNamedObj zed ");
}

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
    auto* touchy = new (nullptr) Touchy;
    table->add(*touchy);
    tovPool* const pool = tovPool::mainPool();
    const std::size_t used = pool->umem();
    // The first attempt carves the candidate and its text; they come back recycled.
    EXPECT_THROW(tovString("abc"), std::runtime_error);
    EXPECT_EQ(pool->umem(), used);
    auto counters = [pool] {
        return std::vector<std::size_t>{pool->amem(), pool->fmem(), pool->rmem(), pool->umem()};
    };
    const std::vector<std::size_t> before = counters();
    for (int attempt = 0; attempt < 3; ++attempt) EXPECT_THROW(tovString("abc"), std::runtime_error);
    EXPECT_EQ(table->count(), 1);
    EXPECT_EQ(counters(), before);
    EXPECT_TRUE(table->remove(*touchy));
    EXPECT_STREQ(tovString("abc"), "abc");
}

// An object of another class in a text's bucket, equal to nothing but itself.
struct Stranger : tovObject {
    explicit Stranger(const char* text) : bucket(tovStrElem(text).hash(4191)) {}
    unsigned int hash(int) const override { return bucket; }
    TOV_OBJECT_OPERATORS(Stranger)
    unsigned int bucket;
};

// Random interning, direct additions of duplicates and of objects of other classes,
// removals and emptying, against a model of what the chains answer: the text index
// beside them must agree after every step (verify), large tables included. Two of the
// texts have the same full hash, some are 8 bytes long. A text found leaves the pool's use as it was.
TEST_F(Strings, InterningAgreesWithTheChainsWhateverTheTableHolds) {
    struct Aloof : tovStrElem {  // equal to nothing but itself, or as a twin by its text
        Aloof(const char* s, bool twin) : tovStrElem(s), twin(twin) {}
        bool isEqual(const tovObject& other) const override {
            return twin ? tovStrElem::isEqual(other) : &other == this;
        }
        TOV_OBJECT_OPERATORS(Aloof)
        bool twin;
    };
    tovPool* const pool = tovPool::mainPool();
    for (unsigned seed : {1u, 2u, 3u}) {
        table->removeAll();
        const std::size_t emptied = pool->umem();
        std::mt19937 rng(seed);
        std::map<std::string, std::vector<tovStrElem*>>
            model;  // per text, plain entries and twins newest first
        std::vector<Stranger*> strangers;
        int entries = 0;
        for (int step = 0; step < 4000; ++step) {
            const unsigned pick = rng() % 40;
            const std::string text = pick < 2 ? (pick ? "tkflfk" : "vdnjdl")
                                              : (rng() % 5 ? "t" : "\xe9long") + std::to_string(rng() % 400);
            std::vector<tovStrElem*>& same = model[text];
            const unsigned op = rng() % 100;
            if (op < 3) {
                strangers.push_back(new (nullptr) Stranger(text.c_str()));
                table->add(*strangers.back());
                ++entries;
            } else if (op < 6 && !strangers.empty()) {
                ASSERT_TRUE(table->remove(*strangers.back()));
                strangers.pop_back();
                --entries;
            } else if (op < 7) {
                const tovStrElem absent("no such text");
                ASSERT_FALSE(table->remove(const_cast<tovStrElem&>(absent)));
            } else if (op < 70) {
                const std::size_t used = pool->umem();
                tovStrElem& e = table->addStrElem(text.c_str());
                if (same.empty()) {
                    same.push_back(&e);
                    ++entries;
                } else {
                    ASSERT_EQ(pool->umem(), used);
                }
                ASSERT_EQ(&e, same.front()) << seed << " step " << step;
            } else if (op < 78) {
                auto* aloof = new (nullptr) Aloof(text.c_str(), rng() % 2);
                table->add(*aloof);
                if (aloof->twin) same.insert(same.begin(), aloof);
                ++entries;
            } else if (op < 84) {
                same.insert(same.begin(),
                            &static_cast<tovStrElem&>(table->add(*new (nullptr) tovStrElem(text.c_str()))));
                ++entries;
            } else if (op < 99 && !same.empty()) {
                tovStrElem* key = same.front();
                key->up();
                ASSERT_TRUE(table->remove(*key));
                key->down();
                same.erase(same.begin());
                --entries;
            } else if (op == 99 && rng() % 10 == 0) {
                table->removeAll();
                model.clear();
                strangers.clear();
                entries = 0;
            }
            ASSERT_EQ(table->count(), entries);
            ASSERT_TRUE(table->verify()) << seed << " step " << step;
        }
        table->removeAll();  // every element and text goes back, whole
        EXPECT_EQ(pool->umem(), emptied);
    }
}

// A table that has come down below the size that makes an index keeps its index, and
// keeps it up to date.
TEST_F(Strings, AnIndexOutlivesTheSizeThatMadeIt) {
    auto text = [](const char* prefix, int i) { return prefix + std::to_string(i); };
    for (int i = 0; i < 70; ++i) table->addStrElem(text("k", i).c_str());
    for (int i = 0; i < 20; ++i) {
        tovStrElem key(text("k", i).c_str());
        ASSERT_TRUE(table->remove(key));
    }
    for (int i = 0; i < 20; ++i) table->addStrElem(text("n", i).c_str());
    EXPECT_TRUE(table->verify());
}

// What a derived table could do to its chains behind the index's back: verify() sees
// the index disagree, and removal copes.
TEST_F(Strings, VerifySeesATextIndexThatDisagreesWithTheChains) {
    struct Exposed : tovStringTbl {
        Exposed() : tovStringTbl() {}
        using tovContainer::_count;
        using tovHash::_buckets;
    };
    auto* t = new (nullptr) Exposed;
    for (int i = 0; i < 100; ++i) t->addStrElem(("t" + std::to_string(i)).c_str());
    tovStrElem& original = t->addStrElem("t7");
    tovLinkObj*& head = t->_buckets[original.hash(4191)];
    // A second "t7" in front, which the index now holds; moved behind the first one.
    t->add(*new (nullptr) tovStrElem("t7"));
    ASSERT_TRUE(t->verify());
    tovLinkObj* const second = head;
    head = second->_next;
    tovLinkObj** end = &head;
    while (*end) end = &(*end)->_next;
    *end = second;
    second->_next = nullptr;
    EXPECT_FALSE(t->verify());
    EXPECT_TRUE(t->remove(original));  // the first "t7" of the chain: not the index's
    EXPECT_TRUE(t->verify());
    // An element linked in without the table: the index has none of its text.
    auto* stray = new (nullptr) tovStrElem("stray");
    tovLinkObj*& strayHead = t->_buckets[stray->hash(4191)];
    auto* node = new (stray->getPool()) tovLinkObj(*stray);
    node->_next = strayHead;
    strayHead = node;
    ++t->_count;
    EXPECT_FALSE(t->verify());
    EXPECT_TRUE(t->remove(*stray));
    EXPECT_TRUE(t->verify());
    delete t;
}

// The index lives outside the pools and goes with its table: when the table is
// forgotten (reset, tempReset) or its pool released, nothing of it stays on the heap.
TEST_F(Strings, TextIndexLeavesWithItsTableAndPool) {
    auto intern = [](int n) {
        for (int i = 0; i < n; ++i) tovString(("w" + std::to_string(i)).c_str());
    };
    const long settled = heapFault::live();
    intern(300);
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
}

TEST_F(Strings, FailedConstructionGivesBackTheExactSize) {
    // The object takes the last bytes of its pool's block; what its constructor
    // allocates next needs a new block, which the heap refuses.
    tovString key("abc");
    tovPool p, q;
    p.alloc(8000 - rounded(sizeof(tovStrElem)));
    q.alloc(8000 - rounded(sizeof(tovNamedObj)));
    heapFault::failAt(1);
    EXPECT_THROW(new (&p) tovStrElem("abc"), std::bad_alloc);
    heapFault::failAt(1);
    EXPECT_THROW(new (&q) tovNamedObj(key), std::bad_alloc);
    heapFault::failAt(0);
    EXPECT_EQ(p.rmem(), rounded(sizeof(tovStrElem)));
    EXPECT_EQ(q.rmem(), rounded(sizeof(tovNamedObj)));
    EXPECT_EQ(p.umem() + q.umem(), 16000u - p.rmem() - q.rmem());
}

// The candidate and its text of 16 bytes (a free segment is split only for a rest of
// 16 bytes or more) take the last free bytes of the pool, and its node needs a new block. Blocks come from
// arenas that grow: once one needs the heap, which then refuses, the candidate must go back and the table
// stay as it was.
TEST_F(Strings, AFailedLinkGivesTheCandidateBack) {
    auto* p = new tovPool;
    tovStringTbl* t = tovStringTbl::establishTemp(p);
    bool failed = false;
    for (int i = 0; i < 10 && !failed; ++i) {
        p->alloc(8);  // a block with free bytes
        p->alloc(p->fmem() - rounded(sizeof(tovStrElem)) - 16);
        const std::size_t used = p->umem();
        heapFault::failFrom(1);
        try {
            t->addStrElem(("sixteen bytes " + std::to_string(i % 10)).c_str());
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        heapFault::failFrom(0);
        EXPECT_EQ(p->umem(),
                  failed ? used : used + rounded(sizeof(tovStrElem)) + 16 + rounded(sizeof(tovLinkObj)));
        EXPECT_EQ(t->count(), failed ? i : i + 1);
    }
    EXPECT_TRUE(failed);
    p->release();
}

// isA answers for its class and its bases, by pointer; className names the class.
TEST_F(Strings, ClassIdentityOfEveryClass) {
    tovObject o;
    tovFifo f;
    tovList l;
    tovSList s;
    tovHash<4191> h;
    tovIterPtr fi(f), li(l), si(s), hi(h);
    tovString handle("abc");
    tovStrElem& element = table->addStrElem("abc");
    tovNamedObj named(handle);
    const char *O = tovObjectClass, *C = tovContainerClass, *I = tovIteratorClass;
    const struct {
        const tovObject& o;
        std::vector<const char*> chain;
    } rows[] = {
        {o, {O}},
        {f, {tovFifoClass, C, O}},
        {l, {tovListClass, C, O}},
        {s, {tovSListClass, C, O}},
        {h, {tovHashClass, C, O}},
        {*fi.operator->(), {tovFifoIterClass, I, O}},
        {*li.operator->(), {tovListIterClass, I, O}},
        {*si.operator->(), {tovSListIterClass, I, O}},
        {*hi.operator->(), {tovHashIterClass, I, O}},
        {element, {tovStrElemClass, O}},
        {handle, {tovStringClass, O}},
        {named, {tovNamedObjClass, O}},
        {*table, {tovStringTblClass, tovHashClass, C, O}},
    };
    for (const auto& row : rows) expectChain(row.o, row.chain);
    expectChain(tovLinkObj(o), {tovLinkObjClass});
    expectChain(tovIterPtr(static_cast<tovIterator*>(nullptr)), {tovIterPtrClass});  // deletes nothing
}

// The dump texts: elements 4 blanks further in, nested containers further still; flag 6
// adds a container's count, flag 5 a hash table's count and collisions, flags 0 and 3
// the pool and the reference count, flag 4 a string's class names. Stream insertion
// writes the dump, except for a handle or element as such: its text alone.
TEST_F(Strings, DumpsAndInsertion) {
    tovObject o1, o2;  // the elements first: they outlive the containers
    Item a(1, 1), b(2, 1), c(3, 2);
    tovFifo f, inner;
    for (tovObject* o : {&o1, &o2}) f.add(*o);
    for (Item* o : {&a, &b}) inner.add(*o);
    tovList outer;
    outer.add(o1);
    outer.add(inner);
    tovHash<4191> h;
    for (Item* o : {&a, &b, &c}) h.add(*o);
    tovStrElem& abc = table->addStrElem("abc");
    tovString handle("abc");
    tovNamedObj alpha(tovString("alpha"));
    const std::string objects = "    tovObject \n    tovObject \n",
                      entries = "    item2\n    item1\n    item3\n";
    const struct {
        const tovObject& o;
        int flag, indent, nl;
        std::string text;
    } rows[] = {
        {f, -1, 0, 1, "tovFifo \n" + objects},
        {f, -1, 0, 0, "tovFifo \n    tovObject     tovObject "},  // nl only for the elements
        {f, 6, 0, 1, "tovFifo CT[2]\n" + objects},
        {outer, -1, 0, 1, "tovList \n    tovFifo \n        item1\n        item2\n    tovObject \n"},
        {h, 5, 0, 1, "tovHash CT[3] CL[1]\n" + entries},
        {h, 6, 0, 1, "tovHash CT[3]\n" + entries},  // the container dump: no collisions
        {abc, -1, 4, 1, "    abc \n"},
        {handle, -1, 0, 1, "abc \n"},
        {alpha, -1, 2, 1, "  tovNamedObj alpha \n"},
        {abc, 4, 2, 0, "  tovStrElem abc "},
        {handle, 4, 0, 1, "tovStringClass \n tovStrElem abc \n"},
        {alpha, 4, 0, 1, "tovNamedObj \n tovStringClass \n  tovStrElem alpha \n"},
    };
    for (const auto& row : rows) {
        tovLib::clrAll();
        if (row.flag >= 0) tovLib::set(row.flag);
        EXPECT_EQ(dumped(row.o, row.indent, row.nl), row.text) << row.o.className() << " " << row.flag;
        std::ostringstream os;
        os << row.o;
        EXPECT_EQ(os.str(), dumped(row.o, 0, 0)) << row.o.className() << " " << row.flag;
    }
    std::ostringstream os;
    os << handle << abc;
    EXPECT_EQ(os.str(), "abcabc");
}

// A named-object table looked up by a plain handle keeps what clients override: an
// entry's isEqual, and the hash of the key's element.
TEST_F(Strings, HandleLookupKeepsWhatClientsOverride) {
    tovString key("alpha");
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
