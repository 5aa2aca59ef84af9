// Tests of interned strings: elements and tables, handles, named objects.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
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

// a and b compare alike both ways: isEqual answers `equal`, objcmp gives `order` and its
// opposite, where byAddress stands for the order of their addresses.
void expectCompare(const tovObject& a, const tovObject& b, bool equal, int order) {
    if (order == byAddress) order = std::less<const tovObject*>()(&a, &b) ? -1 : 1;
    const std::string pair = std::string(a.className()) + " " + dumped(a, 0, 0) + "/ " + dumped(b, 0, 0);
    EXPECT_EQ(a.isEqual(b), equal) << pair;
    EXPECT_EQ(b.isEqual(a), equal) << pair;
    EXPECT_EQ(a.objcmp(b), order) << pair;
    EXPECT_EQ(b.objcmp(a), -order) << pair;
}

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

TEST_F(Strings, HashUsesSignedBytes) {
    tovStrElem abc("abc"), empty(""), high("\xE9");
    EXPECT_EQ(abc.hash(-1), 23406631u);  // n = 2^32 - 1 exposes the raw value
    EXPECT_EQ(abc.hash(4191), 4087u);
    EXPECT_EQ(empty.hash(4191), 1u);
    EXPECT_EQ(high.hash(4191), 234u);          // 257 - 23, not 257 + 233
    EXPECT_EQ(high.hash(0), 0u);               // no division by zero
    tovStrElem longer("tovlib interns\xE9x");  // several 4-byte steps, a signed byte, a tail
    EXPECT_EQ(longer.hash(-1), 309286165u);
}

TEST_F(Strings, AddStrElemFindsOrInsertsThroughACandidate) {
    tovPool* main = tovPool::mainPool();
    tovStrElem& x = table->addStrElem("x");
    EXPECT_EQ(x.refCount(), 1);
    EXPECT_EQ(x.getPool(), main);
    const std::size_t used = main->umem(), recycled = main->rmem();
    EXPECT_EQ(&table->addStrElem("x"), &x);
    EXPECT_EQ(table->count(), 1);
    // The second call's candidate and its copy of the text were made and given back.
    EXPECT_EQ(main->umem(), used);
    EXPECT_EQ(main->rmem(), recycled + rounded(sizeof(tovStrElem)) + rounded(2));
    // A further hit takes and returns those same recycled elements: nothing moves.
    const unsigned waiting = main->rblocks();
    EXPECT_EQ(&table->addStrElem("x"), &x);
    EXPECT_EQ(main->rmem(), recycled + rounded(sizeof(tovStrElem)) + rounded(2));
    EXPECT_EQ(main->rblocks(), waiting);
    EXPECT_EQ(&table->addStrElem(nullptr), &table->addStrElem(""));
    EXPECT_STREQ(table->addStrElem(nullptr), "");
    EXPECT_EQ(table->count(), 2);
}

TEST_F(Strings, EstablishKeepsTheTableUntilTheLibraryForgetsIt) {
    tovPool other;
    other.setReleaseFlag(false);  // automatic: reset must not destroy it
    EXPECT_EQ(tovStringTbl::establish(&other), table);
    EXPECT_EQ(tovStringTbl::table(), table);
    table->addStrElem("kept");
    tovLib::reset();
    EXPECT_EQ(tovStringTbl::table(), nullptr);
    EXPECT_EQ(tovStringTbl::tempTable(), nullptr);
    tovString made("alone");  // a handle without any table makes a new main table
    ASSERT_NE(tovStringTbl::table(), nullptr);
    EXPECT_EQ(tovStringTbl::establish(nullptr)->count(), 1);
}

// Elements by their text, with unsigned bytes; handles and named objects by their
// element, ordered by its text; an element against the others by address.
TEST_F(Strings, Comparisons) {
    tovStrElem& ab = table->addStrElem("ab");
    tovStrElem& abc = table->addStrElem("abc");
    tovStrElem& alphaElement = table->addStrElem("alpha");
    tovStrElem abCopy("ab"), b("b"), highElement("\xE9"), a("a");
    tovString hAbc("abc"), hAbc2("abc"), hCopy(hAbc), hAb(&ab), hAbd("abd"), high("\xE9x"), low("\x7Fz");
    tovString none(static_cast<const char*>(nullptr)), empty(""), alpha("alpha");
    tovNamedObj one(alpha), two(tovString("alpha")), nAb(hAb), nAbc(hAbc);
    struct Tagged : tovString {  // a client's handle class
        using tovString::tovString;
    } tagged("alpha");
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
        {hAbc, abc, false, byAddress},
        {hAbc, hAbc2, true, 0},
        {hCopy, hAbc2, true, 0},
        {hAb, hAbc, false, -1},
        {hAbd, hAbc, false, 1},
        {high, low, false, 1},
        {none, empty, true, 0},
        {one, two, true, 0},
        {one, alpha, true, 0},
        {one, tagged, true, 0},
        {nAb, nAbc, false, -1},
        {one, alphaElement, false, byAddress},
        {ab, ab, true, 0},
        {hAbc, hAbc, true, 0},
        {one, one, true, 0},
    };
    for (const auto& row : rows) expectCompare(row.a, row.b, row.equal, row.order);
    EXPECT_EQ(hAbc.hash(4191), hAbc2.hash(4191));
    EXPECT_EQ(one.hash(4191), two.hash(4191));
    EXPECT_EQ(static_cast<char*>(hAbc), static_cast<char*>(hAbc2));  // one shared text
}

// A stored object of another class answers for itself, even where a plain element with
// its text would match: the shortcut for texts already present trusts only plain elements.
TEST_F(Strings, InterningAsksStoredObjectsOfOtherClasses) {
    struct Aloof : tovStrElem {  // equal to nothing but itself
        using tovStrElem::tovStrElem;
        bool isEqual(const tovObject& other) const override { return &other == this; }
        TOV_OBJECT_OPERATORS(Aloof)
    };
    auto* aloof = new (nullptr) Aloof("x");
    table->add(*aloof);
    table->addStrElem("y");
    table->addStrElem("y");  // the hit leaves a candidate and its text recycled: the shortcut may answer
    tovStrElem& x = table->addStrElem("x");
    EXPECT_NE(&x, aloof);
    EXPECT_STREQ(x, "x");
    EXPECT_EQ(table->count(), 3);
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
    const std::size_t counters[] = {pool->amem(), pool->fmem(), pool->rmem(), pool->umem()};
    for (int attempt = 0; attempt < 3; ++attempt) EXPECT_THROW(tovString("abc"), std::runtime_error);
    EXPECT_EQ(table->count(), 1);
    EXPECT_EQ((std::vector<std::size_t>{pool->amem(), pool->fmem(), pool->rmem(), pool->umem()}),
              std::vector<std::size_t>(std::begin(counters), std::end(counters)));
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
// texts have the same full hash.
TEST_F(Strings, InterningAgreesWithTheChainsWhateverTheTableHolds) {
    struct Aloof : tovStrElem {  // an element equal to nothing but itself
        using tovStrElem::tovStrElem;
        bool isEqual(const tovObject& other) const override { return &other == this; }
        TOV_OBJECT_OPERATORS(Aloof)
    };
    for (unsigned seed : {1u, 2u, 3u}) {
        table->removeAll();
        std::mt19937 rng(seed);
        std::map<std::string, std::vector<tovStrElem*>> model;  // per text, plain entries newest first
        std::vector<Stranger*> strangers;
        int entries = 0;
        for (int step = 0; step < 4000; ++step) {
            const unsigned pick = rng() % 40;
            const std::string text = pick < 2 ? (pick ? "tkflfk" : "vdnjdl")
                                              : (rng() % 5 ? "t" : "\xe9") + std::to_string(rng() % 400);
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
                tovStrElem& e = table->addStrElem(text.c_str());
                if (same.empty()) same.push_back(&e), ++entries;
                ASSERT_EQ(&e, same.front()) << seed << " step " << step;
            } else if (op < 78) {
                table->add(*new (nullptr) Aloof(text.c_str()));
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
    }
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

TEST_F(Strings, ClassIdentity) {
    tovStrElem& element = table->addStrElem("abc");
    tovString handle(&element);
    tovNamedObj named(handle);
    expectChain<tovObject>(element, {tovStrElemClass, tovObjectClass});
    expectChain<tovObject>(handle, {tovStringClass, tovObjectClass});
    expectChain<tovObject>(named, {tovNamedObjClass, tovObjectClass});
    expectChain<tovObject>(*table, {tovStringTblClass, tovHashClass, tovContainerClass, tovObjectClass});
}

// Without flag 4 the text alone; with it, the class names and the nested lines.
TEST_F(Strings, Dumps) {
    tovStrElem& abc = table->addStrElem("abc");
    tovString handle("abc");
    tovNamedObj alpha(tovString("alpha"));
    EXPECT_EQ(dumped(abc, 4, 1), "    abc \n");
    EXPECT_EQ(dumped(handle, 0, 1), "abc \n");
    EXPECT_EQ(dumped(alpha, 2, 1), "  tovNamedObj alpha \n");
    tovLib::set(4);
    EXPECT_EQ(dumped(abc, 2, 0), "  tovStrElem abc ");
    EXPECT_EQ(dumped(handle, 0, 1), "tovStringClass \n tovStrElem abc \n");
    EXPECT_EQ(dumped(alpha, 0, 1), "tovNamedObj \n tovStringClass \n  tovStrElem alpha \n");
}

TEST_F(Strings, HandlesTakeNoReferenceAndConvertInTheElementsPool) {
    tovStrElem& e = table->addStrElem("abc");
    tovString h("abc");
    { tovString gone("abc"); }
    EXPECT_EQ(e.refCount(), 1);  // handles take no reference
    tovString& converted = e;    // a new handle, carved from the element's pool
    EXPECT_EQ(converted.getPool(), e.getPool());
    EXPECT_TRUE(converted.isEqual(h));
}

TEST_F(Strings, TemporaryTableGivesOtherElementsForTheSameText) {
    tovString inMain("abc");
    tovLib::tempInit(nullptr);
    tovString inTemp("abc");
    EXPECT_NE(static_cast<char*>(inTemp), static_cast<char*>(inMain));
    expectCompare(inTemp, inMain, false, 0);
    EXPECT_EQ(inTemp.hash(4191), inMain.hash(4191));
    expectCompare(tovNamedObj(inTemp), tovNamedObj(inMain), false, 0);
    tovLib::tempReset();
}

TEST_F(Strings, OverridingNameChangesOrderAndDumpOnly) {
    struct Renamed : tovNamedObj {
        Renamed(const tovString& real, const tovString& shown) : tovNamedObj(real), _shown(shown) {}
        const tovString& name() const override { return _shown; }
        tovString _shown;
    };
    tovString zed("zed");
    Renamed r(tovString("aaa"), zed);
    tovNamedObj plain(tovString("aaa"));
    expectCompare(r, plain, true, 1);  // equality uses the real name, order name(): "zed" > "aaa"
    EXPECT_EQ(dumped(r, 0, 0), "tovNamedObj zed ");
}

TEST_F(Strings, NamedObjectCarvesItsNameFromItsOwnPool) {
    tovPool p;
    tovString key("alpha");
    auto* named = new (&p) tovNamedObj(key);
    EXPECT_EQ(p.umem(), rounded(sizeof(tovNamedObj)) + rounded(sizeof(tovString)));
    EXPECT_EQ(static_cast<const tovString&>(*named).getPool(), &p);
    const std::size_t mainUsed = tovPool::mainPool()->umem();
    {
        tovNamedObj automatic(key);  // no pool: its name goes to the main pool
        EXPECT_EQ(tovPool::mainPool()->umem(), mainUsed + rounded(sizeof(tovString)));
    }
    tovHash<4191> h;
    h.add(*named);
    EXPECT_EQ(h.find(tovString("alpha")), named);
    EXPECT_TRUE(h.remove(key));  // the last reference: object and name handle go back
    EXPECT_EQ(p.umem(), 0u);
    EXPECT_EQ(tovPool::mainPool()->umem(), mainUsed);
    // A plain handle as key keeps what clients override: an entry's isEqual, the hash of
    // the key's element.
    struct Aloof : tovNamedObj {
        using tovNamedObj::tovNamedObj;
        bool isEqual(const tovObject& other) const override { return &other == this; }
    } aloof(key);
    struct Shifted : tovStrElem {
        using tovStrElem::tovStrElem;
        unsigned int hash(int n) const override { return tovStrElem::hash(n) + 1; }
    } shifted("alpha");
    tovNamedObj byShifted{tovString(&shifted)};
    h.add(aloof), h.add(byShifted);
    EXPECT_EQ(h.find(key), nullptr);
    EXPECT_EQ(h.find(tovString(&shifted)), &byShifted);
    h.removeAll();
}

}  // namespace
