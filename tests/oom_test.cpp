// Out of memory: every operation that allocates runs with the n-th heap allocation
// failing, once or from then on, for n = 1, 2, ... while the operation reaches the n-th.
// A failure that reaches the caller must be std::bad_alloc and leave the library as it
// was; one the operation absorbs (the text index) must leave its results right; either
// way the tables and the main pool verify and the call made again succeeds. Each setting
// is chosen so that the operation's allocations reach the heap: pools whose blocks are
// full, or no main pool at all.
#include <gtest/gtest.h>

#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <tovlib.h>

#include "heap_fault.h"
#include "support.h"

namespace {

// A client's object. All of them hash alike: every addition to a hash after the first
// is a collision.
class Client : public tovObject {
public:
    unsigned int hash(int) const override { return 7; }
    TOV_OBJECT_OPERATORS(Client)
};

// Hands out every free byte of `p`, so that its next carving needs a block, and one
// element larger than any arena the pool cuts blocks from: it comes in a heap call of
// its own, which leaves no room behind, so the next block needs the heap too.
tovPool* fill(tovPool* p) {
    EXPECT_LE(p->fblocks(), 1u);
    if (p->fmem()) p->alloc(p->fmem());
    p->alloc(std::size_t{8} << 20);
    return p;
}
tovPool* fullPool() {  // heap-made with its flag set: the next reset destroys it
    auto* p = new tovPool;
    p->alloc(8);
    return fill(p);
}

tovStringTbl& table() { return *tovStringTbl::establish(nullptr); }
tovStrElem* intern(int i) { return &table().addStrElem(("t" + std::to_string(i)).c_str()); }

struct State {
    std::string pools, rest;
    std::size_t apools;
};

// What one trial of a row works with; what it made is given back at its end.
struct Trial {
    std::optional<NoMainPool> none;  // destroyed last: the main pool comes back
    tovPool* p = nullptr;
    tovContainer* c = nullptr;
    Client* items[3] = {};  // pooled ones go with the container; on the heap (no p), here
    tovObject* made = nullptr;
    tovStrElem* old = nullptr;
    std::optional<tovString> name;
    std::optional<State> expected;  // after a failure; the state before the call when empty
    ~Trial() {
        delete made;
        delete c;
        if (!p)
            for (Client* i : items) delete i;
        name.reset();
        // Tables on the heap are not released with a pool, and never destroy their elements.
        for (const tovStringTbl* t : {tovStringTbl::table(), tovStringTbl::tempTable()}) {
            if (!t || t->getPool()) continue;
            std::vector<tovObject*> elements;
            for (tovIterPtr it(t); it; it++) elements.push_back(&it());
            delete t;
            for (tovObject* e : elements) delete e;
        }
    }
    void strings(bool noMain) {  // the main table; without a main pool, on the heap
        none.emplace(noMain);
        tovLib::init(false);
    }
    static void fillMain() {
        if (tovPool* main = tovPool::mainPool()) fill(main);
    }
    // The state a failure must leave as it was: every pool's report with flag 0 (counters,
    // blocks, free segments, recycled lists), apools, and the rest: the chain, upools, the
    // main pool, both tables, flags 0 and 7, and what the trial holds: the container's count,
    // collisions and each item's presence and reference count (no iterator: it would take a
    // block), the old element's reference count.
    State state() const {
        std::ostringstream pools, os;
        tovPool::printAll(pools);
        const tovStringTbl *t = tovStringTbl::table(), *temp = tovStringTbl::tempTable();
        os << "npools " << tovPool::npools() << " upools " << tovPool::upools() << " main "
           << tovPool::mainPool() << " table " << t << ' ' << (t ? t->count() : -1) << " temp " << temp << ' '
           << (temp ? temp->count() : -1) << " flags " << tovLib::get(0) << tovLib::get(7);
        if (c) os << " count " << c->count();
        if (auto* h = dynamic_cast<tovHash<4191>*>(c)) os << " col " << h->col();
        if (c)
            for (const Client* i : items)
                os << " [" << (c->find(*i) != nullptr) << ' ' << i->refCount() << ']';
        if (old) os << " old " << old->refCount();
        return {pools.str(), os.str(), tovPool::apools()};
    }
};

// A row: its operation, the steps that set the trial up for it, and how many heap
// allocations fail it (each allocation it makes, apart from those it absorbs).
#define STEP(...) [=]([[maybe_unused]] Trial& t) { __VA_ARGS__; }
using Step = std::function<void(Trial&)>;
struct Row {
    std::string name;
    std::size_t failures;
    Step setUp, operation;
};

template <class C>
tovContainer* make(tovPool* p) {
    return new (p) C;
}

std::vector<Row> rows() {
    std::vector<Row> rows;
    const std::string where[] = {" in a full pool", " in the empty main pool", " on the heap"};
    for (std::size_t size : {8, 504, 600, 8000, 9000})
        for (bool full : {false, true})
            rows.push_back({"alloc(" + std::to_string(size) + ")" + (full ? where[0] : " in a new pool"), 1,
                            STEP(t.p = full ? fullPool() : new tovPool), STEP(t.p->alloc(size))});
    for (int s : {0, 1, 2}) {
        const Step setting = STEP(t.none.emplace(s == 2); t.p = s == 0 ? fullPool() : nullptr);
        rows.push_back({"new (p) Client" + where[s], 1, setting, STEP(t.made = new (t.p) Client)});
        rows.push_back({"establish" + where[s], 1, setting, STEP(tovStringTbl::establish(t.p))});
        rows.push_back({"establishTemp" + where[s], 1, setting, STEP(tovStringTbl::establishTemp(t.p))});
    }
    using Make = tovContainer* (*)(tovPool*);
    for (auto kind : {std::pair<const char*, Make>{"tovFifo", make<tovFifo>},
                      {"tovList", make<tovList>},
                      {"tovSList", make<tovSList>},
                      {"tovHash", make<tovHash<4191>>}})
        for (bool heap : {false, true}) {
            const Make makeKind = kind.second;  // holding two of three items
            const Step setUp = STEP(t.none.emplace(heap); t.p = heap ? nullptr : new tovPool;
                                    t.c = makeKind(t.p); for (Client*& i
                                                              : t.items) i = new (t.p) Client;
                                    t.c->add(*t.items[0]); t.c->add(*t.items[1]); if (t.p) fill(t.p));
            const std::string name = kind.first + where[heap ? 2 : 0];
            rows.push_back({name + " add", 1, setUp, STEP(t.c->add(*t.items[2]))});
            rows.push_back({name + " newIterator", 1, setUp, STEP(t.made = t.c->newIterator())});
        }
    // On the heap: candidate, text, node; a text already there is found without a
    // candidate. In the main pool: the candidate's block, in a new arena that has room
    // for the long text's block too.
    static const std::string texts[] = {"alpha", std::string(600, 'w'), std::string(9000, 'h')};
    for (const std::string& s : texts)
        for (bool present : {false, true})
            for (bool heap : {false, true}) {
                if (present && s != texts[0]) continue;  // only a short text is looked up present
                const char* const text = s.c_str();
                const Step setUp =
                    STEP(t.strings(heap); if (present) t.old = &table().addStrElem(text); t.fillMain());
                const std::string name = std::to_string(s.size()) + " bytes" +
                                         (present ? ", present)" : ")") + where[heap ? 2 : 0];
                const std::size_t failures = !heap ? 1 : present ? 0 : 3;
                rows.push_back({"addStrElem(" + name, failures, setUp, STEP(table().addStrElem(text))});
                rows.push_back({"tovString(" + name, failures, setUp, STEP(tovString{text})});
            }
    rows.push_back({
        "tovString in a temporary table in a full pool", 1,
            STEP(tovLib::init(false); tovLib::tempInit(new tovPool)),  // a block of exactly the table
            STEP(tovString made("alpha"); EXPECT_EQ(tovStringTbl::tempTable()->count(), 1))
    });
    // A hit whose candidate gets its element but not its text fails as the candidate
    // would, giving the element back.
    static const std::string hundred(100, 'x');
    rows.push_back({
        "addStrElem(100 bytes, present), element recycled", 1,
            STEP(t.strings(false); table().addStrElem(hundred.c_str());
                 void* spare = tovPool::mainPool()->alloc(sizeof(tovStrElem)); t.fillMain();
                 tovPool::mainPool()->free(spare, sizeof(tovStrElem))),
            STEP(table().addStrElem(hundred.c_str()))
    });
    // The text index of a large table is only an aid: when it cannot be made, grown or
    // count an object of another class, the chains answer, and the index is made again
    // once memory is back. The main pool has room for everything.
    const auto large = [](bool index) {
        return STEP(t.strings(false); tovPool & main = *tovPool::mainPool();
                    main.free(main.alloc(60000), 60000); heapFault::failFrom(!index);
                    for (int k = 0; k < 100; ++k) intern(k); t.old = intern(0); heapFault::failAt(0));
    };
    rows.push_back({
        "addStrElem, text index unavailable", 0, large(false),
            STEP(EXPECT_EQ(intern(100), intern(100)); EXPECT_EQ(intern(0), t.old);
                 EXPECT_EQ(table().count(), 101))
    });
    rows.push_back({
        "add(Client) to an indexed table", 0, large(true),
            STEP(auto* other = new (nullptr) Client; table().add(*other); EXPECT_TRUE(table().remove(*other));
                 EXPECT_EQ(intern(0), t.old))
    });
    // The handle comes from the element's conversion, as `tovString& h = e;`. A named
    // object on the heap makes itself and then its name handle there.
    for (bool heap : {false, true}) {
        const Step setUp = STEP(t.strings(heap); t.old = &table().addStrElem("alpha"); t.name.emplace(t.old);
                                t.p = heap ? nullptr : fullPool(); t.fillMain());
        rows.push_back({"tovString& h = element" + where[heap ? 2 : 0], 1, setUp,
                        STEP(t.made = &static_cast<tovString&>(*t.old))});
        rows.push_back({"new (p) tovNamedObj" + where[heap ? 2 : 0], heap ? 2u : 1u, setUp,
                        STEP(t.made = new (t.p) tovNamedObj(*t.name))});
        rows.push_back(
            {"init" + where[heap ? 2 : 1], 1, STEP(t.none.emplace(heap)), STEP(tovLib::init(true))});
        // A failed reInit leaves the library as reset() does: no table, pools released,
        // flags as they were. With no main pool, reset would destroy the one set aside.
        rows.push_back({
            "reInit" + where[heap ? 2 : 1], 1,
                STEP(tovPool::mainPool()->setReleaseFlag(!heap); t.none.emplace(heap); t.expected = t.state();
                     if (!heap) tovLib::init(false); new (new tovPool) Client),
                STEP(tovLib::reInit(true))
        });
    }
    rows.push_back({"tempInit(nullptr)", 2, STEP(), STEP(tovLib::tempInit(nullptr))});
    rows.push_back({"tempInit(p)" + where[0], 1, STEP(t.p = fullPool()), STEP(tovLib::tempInit(t.p))});
    rows.push_back({"tempInit(nullptr), temporary table open", 1, STEP(tovLib::tempInit(nullptr)),
                    STEP(tovLib::tempInit(nullptr))});
    return rows;
}

std::size_t operations = 0, failurePoints = 0;  // rows, and injected failures reached

// Each row from a reset library with flags 0 and 7 set. A pool never gives a block
// back, so once a failed operation's earlier step took one, only the used bytes must be
// as before.
TEST(Oom, EveryOperationFailsCleanlyAtEveryAllocation) {
    for (const Row& row : rows()) {
        ++operations;
        for (bool persistent : {false, true}) {
            std::size_t failed = 0;
            bool reached = true;
            for (std::size_t n = 1; reached && n <= 64; ++n) {  // bounded, should a fault make it run away
                SCOPED_TRACE(row.name + (persistent ? ", allocations from " : ", allocation ") +
                             std::to_string(n) + " failing");
                tovLib::reset();
                tovLib::set(0), tovLib::set(7);
                {
                    Trial t;
                    row.setUp(t);
                    const State before = t.expected ? *t.expected : t.state();
                    bool threw = false;
                    (persistent ? heapFault::failFrom : heapFault::failAt)(n);
                    try {
                        row.operation(t);
                    } catch (const std::bad_alloc&) {
                        threw = true;
                    } catch (...) {
                        heapFault::failAt(0);
                        throw;
                    }
                    reached = heapFault::calls() >= n;
                    heapFault::failAt(0);
                    failed += threw;
                    failurePoints += reached;
                    for (const tovStringTbl* table : {tovStringTbl::table(), tovStringTbl::tempTable()})
                        EXPECT_TRUE(!table || table->verify());
                    EXPECT_TRUE(!tovPool::mainPool() || tovPool::mainPool()->verify());
                    if (const State after = t.state(); threw) {
                        EXPECT_EQ(after.rest, before.rest);
                        if (after.apools == before.apools)
                            EXPECT_EQ(after.pools, before.pools);
                        else
                            EXPECT_GT(after.apools, before.apools);
                    }
                    if (reached) {
                        EXPECT_NO_THROW(row.operation(t)) << "the call after the failure";
                    }
                }
                tovPool::mainPool()->setReleaseFlag(true);
                tovLib::reset();
            }
            EXPECT_EQ(failed, row.failures) << row.name << ": failures before the operation succeeded";
        }
    }
    tovLib::clr(0), tovLib::clr(7);
}

// The places in the library that received a failure, named through the dynamic linker.
class SiteReport : public testing::Environment {
public:
    void TearDown() override {
        std::printf("oom: %zu operations, %zu failure points tried, %zu distinct heap call sites failed\n",
                    operations, failurePoints, heapFault::sites());
        for (std::size_t i = 0; i < heapFault::sites(); ++i) {
            Dl_info info{};
            const auto* at = static_cast<const char*>(heapFault::site(i));
            const bool named = dladdr(at, &info) && info.dli_sname;
            char* plain = named ? abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, nullptr) : nullptr;
            std::printf("oom: %6zu failures at %s+%td\n", heapFault::siteFailures(i),
                        plain            ? plain
                        : named          ? info.dli_sname
                        : info.dli_fname ? info.dli_fname
                                         : "?",
                        at - static_cast<const char*>(named ? info.dli_saddr : info.dli_fbase));
            std::free(plain);
        }
    }
};
[[maybe_unused]] testing::Environment* const siteReport = testing::AddGlobalTestEnvironment(new SiteReport);

}  // namespace
