// Tests of interned strings: elements and tables, handles, named objects.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <tovlib.h>

#include "class_identity.h"
#include "heap_fault.h"

namespace {

constexpr std::size_t rounded(std::size_t n) { return (n + 7) / 8 * 8; }

std::string dumped(const tovObject& o, int indent, int nl) {
    std::ostringstream os;
    o.dump(os, indent, nl);
    return os.str();
}

int sign(int v) { return (v > 0) - (v < 0); }

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
    EXPECT_EQ(tovStringTbl::establish(nullptr)->count(), 0);
}

TEST_F(Strings, ElementsCompareByTextAndUnsignedBytes) {
    tovStrElem& ab = table->addStrElem("ab");
    tovStrElem abc("abc"), b("b"), high("\xE9"), a("a"), abCopy("ab");
    EXPECT_TRUE(ab.isEqual(abCopy));  // another element with the same text
    EXPECT_EQ(ab.objcmp(abc), -1);    // a proper prefix is the smaller
    EXPECT_EQ(b.objcmp(abc), 1);
    EXPECT_EQ(high.objcmp(a), 1);  // 0xE9 is above 'a' as an unsigned byte
    EXPECT_EQ(ab.objcmp(abCopy), 0);
    // A handle is no element, even for the element's own text: address order.
    tovString handle(&ab);
    EXPECT_FALSE(ab.isEqual(handle));
    EXPECT_EQ(ab.objcmp(handle), &ab < static_cast<tovObject*>(&handle) ? -1 : 1);
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

TEST_F(Strings, FailedInterningLeavesTheTableUnchanged) {
    // With no main pool the table, candidates, texts and nodes all come from the heap,
    // so every allocation of the text constructor can be made to fail in turn.
    tovPool* main = tovPool::mainPool();
    tovLib::reset();
    auto* doomed = new tovPool;
    tovPool::setMainPool(doomed);
    delete doomed;
    tovStringTbl* heapTable = tovStringTbl::establish(nullptr);
    ASSERT_EQ(heapTable->getPool(), nullptr);
    std::size_t n = 1;
    for (;; ++n) {
        heapFault::failAt(n);
        try {
            tovString made("fails");
            break;
        } catch (const std::bad_alloc&) {
            EXPECT_EQ(heapTable->count(), 0) << "after failing allocation " << n;
        }
    }
    heapFault::failAt(0);
    EXPECT_EQ(n, 4u);  // candidate, its text and its node failed before one succeeded
    EXPECT_EQ(heapTable->count(), 1);
    // Heap elements are never destroyed by their table: their owner deletes them.
    std::vector<tovObject*> elements;
    for (tovIterPtr it(heapTable); it; it++) elements.push_back(&it());
    delete heapTable;
    for (tovObject* e : elements) delete e;
    tovPool::setMainPool(main);
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

TEST_F(Strings, ClassIdentityAndSelfComparison) {
    tovStrElem& element = table->addStrElem("abc");
    tovString handle(&element);
    tovNamedObj named(handle);
    expectChain<tovObject>(element, {tovStrElemClass, tovObjectClass});
    expectChain<tovObject>(handle, {tovStringClass, tovObjectClass});
    expectChain<tovObject>(named, {tovNamedObjClass, tovObjectClass});
    expectChain<tovObject>(*table, {tovStringTblClass, tovHashClass, tovContainerClass, tovObjectClass});
    const tovObject* const all[] = {&element, &handle, &named};
    for (const tovObject* o : all) {
        EXPECT_TRUE(o->isEqual(*o)) << o->className();
        EXPECT_EQ(o->objcmp(*o), 0) << o->className();
    }
}

TEST_F(Strings, ElementDump) {
    tovStrElem& abc = table->addStrElem("abc");
    EXPECT_EQ(dumped(abc, 4, 1), "    abc \n");
    tovLib::set(4);
    EXPECT_EQ(dumped(abc, 2, 0), "  tovStrElem abc ");
}

TEST_F(Strings, HandlesAreEqualByElementAndOrderedByText) {
    tovString a("abc"), b("abc"), copy(a), ab("ab"), abd("abd"), high("\xE9x"), low("\x7Fz");
    EXPECT_TRUE(a.isEqual(b));
    EXPECT_TRUE(copy.isEqual(b));
    EXPECT_EQ(a.hash(4191), b.hash(4191));
    EXPECT_EQ(a.objcmp(b), 0);
    EXPECT_EQ(ab.objcmp(a), -1);
    EXPECT_EQ(abd.objcmp(a), 1);
    EXPECT_EQ(high.objcmp(low), 1);
    EXPECT_TRUE(tovString(static_cast<const char*>(nullptr)).isEqual(tovString("")));
    EXPECT_EQ(static_cast<char*>(a), static_cast<char*>(b));  // one shared text
}

TEST_F(Strings, HandleAgainstItsOwnElement) {
    tovStrElem& e = table->addStrElem("abc");
    tovString h("abc");
    EXPECT_FALSE(h.isEqual(e));
    EXPECT_EQ(h.objcmp(e), static_cast<tovObject*>(&h) < &e ? -1 : 1);
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
    EXPECT_FALSE(inTemp.isEqual(inMain));
    EXPECT_EQ(inTemp.objcmp(inMain), 0);
    EXPECT_EQ(inTemp.hash(4191), inMain.hash(4191));
    tovNamedObj tempNamed(inTemp), mainNamed(inMain);
    EXPECT_FALSE(tempNamed.isEqual(mainNamed));
    EXPECT_EQ(tempNamed.objcmp(mainNamed), 0);
    tovLib::tempReset();
}

TEST_F(Strings, HandleWithoutAnyTableMakesTheMainTable) {
    tovLib::reset();
    tovString made("alone");
    ASSERT_NE(tovStringTbl::table(), nullptr);
    EXPECT_EQ(tovStringTbl::table()->count(), 1);
}

TEST_F(Strings, HandleDump) {
    tovString abc("abc");
    EXPECT_EQ(dumped(abc, 0, 1), "abc \n");
    tovLib::set(4);
    EXPECT_EQ(dumped(abc, 0, 1), "tovStringClass \n tovStrElem abc \n");
}

TEST_F(Strings, NamedObjectsCompareByNameWithHandlesBothWays) {
    tovString alpha("alpha");
    tovNamedObj one(alpha), two(tovString("alpha")), ab(tovString("ab")), abc(tovString("abc"));
    EXPECT_TRUE(one.isEqual(two) && two.isEqual(one));
    EXPECT_EQ(one.hash(4191), two.hash(4191));
    EXPECT_EQ(one.objcmp(two), 0);
    EXPECT_TRUE(one.isEqual(alpha) && alpha.isEqual(one));
    EXPECT_EQ(one.objcmp(alpha), 0);
    EXPECT_EQ(alpha.objcmp(one), 0);
    EXPECT_EQ(ab.objcmp(abc), -1);
    EXPECT_EQ(abc.objcmp(ab), 1);
    tovStrElem& element = table->addStrElem("alpha");
    EXPECT_FALSE(one.isEqual(element));
    EXPECT_EQ(sign(one.objcmp(element)), static_cast<tovObject*>(&one) < &element ? -1 : 1);
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
    EXPECT_TRUE(r.isEqual(plain));  // equality uses the real name
    EXPECT_EQ(r.objcmp(plain), 1);  // order uses name(): "zed" > "aaa"
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
}

TEST_F(Strings, NamedObjectDump) {
    tovNamedObj alpha(tovString("alpha"));
    EXPECT_EQ(dumped(alpha, 2, 1), "  tovNamedObj alpha \n");
    tovLib::set(4);
    EXPECT_EQ(dumped(alpha, 0, 1), "tovNamedObj \n tovStringClass \n  tovStrElem alpha \n");
}

}  // namespace
