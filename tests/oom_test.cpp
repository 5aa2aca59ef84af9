// Out of memory: every operation that allocates runs with the n-th heap allocation
// failing, once or from then on, for n = 1, 2, ... until it succeeds. Each failure must
// reach the caller as std::bad_alloc and leave the library as it was, and the call
// after it must succeed. Each setting is chosen so that the operation's allocations
// reach the heap: pools whose blocks are full, or no main pool at all.
#include <gtest/gtest.h>

#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
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
void fill(tovPool& p) {
    ASSERT_LE(p.fblocks(), 1u);
    if (p.fmem()) p.alloc(p.fmem());
    p.alloc(std::size_t{8} << 20);
}

tovPool* fullPool() {
    auto* p = new tovPool;  // heap-made with its flag set: the next reset destroys it
    p->alloc(8);
    fill(*p);
    return p;
}

// Tables on the heap are not released with a pool, and never destroy their elements.
void dropHeapTables() {
    for (const tovStringTbl* t : {tovStringTbl::table(), tovStringTbl::tempTable()}) {
        if (!t || t->getPool()) continue;
        std::vector<tovObject*> elements;
        for (tovIterPtr it(t); it; it++) elements.push_back(&it());
        delete t;
        for (tovObject* e : elements) delete e;
    }
}

tovStringTbl& table() { return *tovStringTbl::establish(nullptr); }

struct State {
    std::string pools;  // the report with flag 0: counters, blocks, segments, recycled lists
    std::size_t apools, upools;
    std::string rest;  // the chain, the main pool, both tables, flag 7 and the row's own
};

State snapshot(const std::string& watched) {
    std::ostringstream pools, rest;
    const bool detail = tovLib::get(0);
    tovLib::set(0);
    tovPool::printAll(pools);
    if (!detail) tovLib::clr(0);
    const tovStringTbl* t = tovStringTbl::table();
    const tovStringTbl* temp = tovStringTbl::tempTable();
    rest << "npools " << tovPool::npools() << " main " << tovPool::mainPool() << " table " << t << ' '
         << (t ? t->count() : -1) << " temp " << temp << ' ' << (temp ? temp->count() : -1) << " flag7 "
         << tovLib::get(7) << ' ' << watched;
    return {pools.str(), tovPool::apools(), tovPool::upools(), rest.str()};
}

// What one trial of a row works with; what it made is given back at its end.
struct Trial {
    std::optional<NoMainPool> none;  // destroyed last: the main pool comes back
    bool onHeap = false;
    tovPool* p = nullptr;
    tovContainer* c = nullptr;
    Client* items[3] = {};
    tovIterator* it = nullptr;
    tovObject* made = nullptr;
    tovStrElem* old = nullptr;
    std::optional<tovString> name;
    std::optional<State> expected;  // after a failure; the state before the call when empty
    ~Trial() {
        delete it;
        delete c;  // the last reference to each pooled item goes with it
        if (onHeap)
            for (Client* i : items) delete i;
        delete made;
        name.reset();
        dropHeapTables();
    }
    void noMainPool(bool active) {
        none.emplace(active);
        onHeap = active;
    }
    void strings(bool noMain) {  // the main table; without a main pool, on the heap
        noMainPool(noMain);
        tovLib::init(false);
    }
    static void fillMain() {
        if (tovPool* main = tovPool::mainPool()) fill(*main);
    }
    void use(int setting) {  // 0: a full pool, 1: the empty main pool, 2: the heap
        noMainPool(setting == 2);
        p = setting == 0 ? fullPool() : nullptr;
    }
    void container(tovContainer* (*make)(tovPool*), bool heap) {  // holding two of three items
        noMainPool(heap);
        p = heap ? nullptr : new tovPool;
        c = make(p);
        for (Client*& i : items) i = new (p) Client;
        c->add(*items[0]);
        c->add(*items[1]);
        if (p) fill(*p);
    }
};

// A step of a row, with the trial as `t`.
#define STEP(...) [=]([[maybe_unused]] Trial& t) { __VA_ARGS__; }
using Step = std::function<void(Trial&)>;
struct Row {
    std::string name;
    std::size_t failures;  // heap allocations the operation makes here, each a failure point
    Step setUp, operation;
    std::function<std::string(Trial&)> watch = {};  // what must be unchanged besides the library
};

template <class C>
tovContainer* make(tovPool* p) {
    return new (p) C;
}
const std::pair<const char*, tovContainer* (*)(tovPool*)> kinds[] = {{"tovFifo", make<tovFifo>},
                                                                     {"tovList", make<tovList>},
                                                                     {"tovSList", make<tovSList>},
                                                                     {"tovHash", make<tovHash<4191>>}};

// Count, collisions, and each item's presence and count. No iterator: it would come
// from the full pool and give it a block.
std::string contents(Trial& t) {
    std::ostringstream os;
    os << "count " << t.c->count();
    if (auto* h = dynamic_cast<tovHash<4191>*>(t.c)) os << " col " << h->col();
    for (const Client* i : t.items) os << " [" << (t.c->find(*i) != nullptr) << ' ' << i->refCount() << ']';
    return os.str();
}

std::vector<Row> rows() {
    std::vector<Row> rows;
    const std::string where[] = {" in a full pool", " in the empty main pool", " on the heap"};
    for (std::size_t size : {8, 504, 600, 8000, 9000})
        for (bool full : {false, true})
            rows.push_back({"alloc(" + std::to_string(size) + ")" + (full ? where[0] : " in a new pool"), 1,
                            STEP(t.p = full ? fullPool() : new tovPool), STEP(t.p->alloc(size))});
    for (int s : {0, 1, 2}) {
        const Step setting = STEP(t.use(s));
        rows.push_back({"new (p) Client" + where[s], 1, setting, STEP(t.made = new (t.p) Client)});
        rows.push_back({"establish" + where[s], 1, setting, STEP(tovStringTbl::establish(t.p))});
        rows.push_back({"establishTemp" + where[s], 1, setting, STEP(tovStringTbl::establishTemp(t.p))});
    }
    for (const auto& [kind, kindMake] : kinds)
        for (bool onHeap : {false, true}) {
            const Step setUp = [make = kindMake, onHeap](Trial& t) { t.container(make, onHeap); };
            const std::string name = kind + where[onHeap ? 2 : 0];
            rows.push_back({name + " add", 1, setUp, STEP(t.c->add(*t.items[2])), contents});
            rows.push_back({name + " newIterator", 1, setUp, STEP(t.it = t.c->newIterator()), contents});
        }
    // On the heap: candidate, text, node; a text already there is found without a
    // candidate. In the main pool: the candidate's block, in a new arena that has room
    // for the long text's block too.
    static const std::string wide(600, 'w'), huge(9000, 'h');
    const std::tuple<const char*, bool, std::size_t, std::size_t> interning[] = {{"alpha", false, 1, 3},
                                                                                 {"alpha", true, 1, 0},
                                                                                 {wide.c_str(), false, 1, 3},
                                                                                 {huge.c_str(), false, 1, 3}};
    for (const auto& [aText, aPresent, inPool, onHeap] : interning)
        for (bool heap : {false, true}) {
            const char* const text = aText;  // named, for the steps to capture
            const bool present = aPresent;
            const Step setUp =
                STEP(t.strings(heap); if (present) t.old = &table().addStrElem(text); t.fillMain());
            const std::string name = std::to_string(std::strlen(text)) + " bytes" +
                                     (present ? ", present)" : ")") + where[heap ? 2 : 0];
            auto watch = [](Trial& t) { return t.old ? std::to_string(t.old->refCount()) : ""; };
            rows.push_back(
                {"addStrElem(" + name, heap ? onHeap : inPool, setUp, STEP(table().addStrElem(text)), watch});
            rows.push_back(
                {"tovString(" + name, heap ? onHeap : inPool, setUp, STEP(tovString{text}), watch});
        }
    rows.push_back({
        "tovString in a temporary table in a full pool", 1,
            STEP(tovLib::init(false); tovLib::tempInit(new tovPool)),  // a block of exactly the table
            STEP(tovString made("alpha"); EXPECT_EQ(tovStringTbl::tempTable()->count(), 1))
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
        rows.push_back({"init" + where[heap ? 2 : 1], 1, STEP(t.noMainPool(heap)), STEP(tovLib::init(true))});
        // A failed reInit leaves the library as reset() does: no table, pools released,
        // flags as they were. With no main pool, reset would destroy the one set aside.
        rows.push_back({
            "reInit" + where[heap ? 2 : 1], 1,
                STEP(tovPool::mainPool()->setReleaseFlag(!heap); t.noMainPool(heap);
                     t.expected = snapshot(""); if (!heap) tovLib::init(false); new (new tovPool) Client),
                STEP(tovLib::reInit(true))
        });
    }
    rows.push_back({"tempInit(nullptr)", 2, STEP(), STEP(tovLib::tempInit(nullptr))});
    rows.push_back({"tempInit(p)" + where[0], 1, STEP(t.p = fullPool()), STEP(tovLib::tempInit(t.p))});
    rows.push_back({"tempInit(nullptr), temporary table open", 1, STEP(tovLib::tempInit(nullptr)),
                    STEP(tovLib::tempInit(nullptr))});
    return rows;
}

std::size_t operations = 0, failurePoints = 0;  // rows, and failures tried

// Each row from a reset library with flag 7 set, with n = 1, 2, ... until its
// operation succeeds. A failure gives back everything the operation was handed. A pool
// never gives a block back, so once an earlier step took one, only the used bytes must
// be as before.
TEST(Oom, EveryOperationFailsCleanlyAtEveryAllocation) {
    for (const Row& row : rows()) {
        ++operations;
        for (bool persistent : {false, true}) {
            std::size_t n = 1;
            for (bool succeeded = false; !succeeded && n <= 32 && !testing::Test::HasFatalFailure(); ++n) {
                SCOPED_TRACE(row.name + (persistent ? ", allocations from " : ", allocation ") +
                             std::to_string(n) + " failing");
                tovLib::reset();
                tovLib::set(7);
                {
                    Trial t;
                    row.setUp(t);
                    auto watched = [&] { return row.watch ? row.watch(t) : ""; };
                    const State before = t.expected ? *t.expected : snapshot(watched());
                    (persistent ? heapFault::failFrom : heapFault::failAt)(n);
                    try {
                        row.operation(t);
                        succeeded = true;
                    } catch (const std::bad_alloc&) {
                    } catch (...) {
                        heapFault::failAt(0);
                        throw;
                    }
                    heapFault::failAt(0);
                    if (!succeeded) {
                        ++failurePoints;
                        for (const tovStringTbl* table : {tovStringTbl::table(), tovStringTbl::tempTable()})
                            EXPECT_TRUE(!table || table->verify());
                        EXPECT_TRUE(!tovPool::mainPool() || tovPool::mainPool()->verify());
                        const State after = snapshot(watched());
                        EXPECT_EQ(after.rest, before.rest);
                        EXPECT_EQ(after.upools, before.upools);
                        if (after.apools == before.apools)
                            EXPECT_EQ(after.pools, before.pools);
                        else
                            EXPECT_GT(after.apools, before.apools);
                        EXPECT_NO_THROW(row.operation(t)) << "the call after the failure";
                    }
                }
                tovPool::mainPool()->setReleaseFlag(true);
                tovLib::reset();
            }
            EXPECT_EQ(n - 2, row.failures) << row.name << ": failures before the operation succeeded";
        }
    }
    tovLib::clr(7);
}

// The text index of a large table is only an aid: when it cannot be made, grow or count
// an object of another class, the chains answer, and the index is made again once
// memory is back. A hit that cannot have its candidate's text fails as the candidate
// would, leaving the pool as it was.
TEST(Oom, TextIndexIsOptional) {
    tovLib::reInit(false);
    tovPool& main = *tovPool::mainPool();
    main.free(main.alloc(60000), 60000);  // room for everything below, without the heap
    auto intern = [&](int i) { return &table().addStrElem(("t" + std::to_string(i)).c_str()); };
    for (bool persistent : {false, true})
        for (std::size_t n = 1; n <= 4; ++n) {  // the n-th allocation of the index fails
            table().removeAll();
            heapFault::failFrom(1);
            for (int k = 0; k < 100; ++k) intern(k);  // no index can be had
            tovStrElem* const first = intern(0);
            (persistent ? heapFault::failFrom : heapFault::failAt)(n);
            EXPECT_EQ(intern(100), intern(100));
            EXPECT_EQ(intern(0), first);
            heapFault::failAt(0);
            EXPECT_EQ(table().count(), 101);
            EXPECT_TRUE(table().verify());
            EXPECT_EQ(intern(0), first);  // made again from the chains
            heapFault::failAt(1);         // the count of other objects cannot be had
            auto* other = new (nullptr) Client;
            table().add(*other);
            heapFault::failAt(0);
            EXPECT_TRUE(table().remove(*other));
            EXPECT_EQ(intern(0), first);
            EXPECT_TRUE(table().verify());
        }
    const std::string longText(100, 'x');
    table().addStrElem(longText.c_str());
    void* spare = main.alloc(sizeof(tovStrElem));
    fill(main);
    main.free(spare, sizeof(tovStrElem));  // the candidate's element is there, its text is not
    const std::size_t recycled = main.rmem();
    heapFault::failAt(1);
    EXPECT_THROW(table().addStrElem(longText.c_str()), std::bad_alloc);
    heapFault::failAt(0);
    EXPECT_EQ(main.rmem(), recycled);
    EXPECT_TRUE(main.verify());
    tovLib::reset();
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
