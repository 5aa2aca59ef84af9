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
#include <sstream>
#include <string>
#include <vector>

#include <tovlib.h>

#include "heap_fault.h"
#include "support.h"

namespace {

// A small object of the client's. All of them hash alike, so every addition to a hash
// table after the first is a collision.
class Client : public tovObject {
public:
    unsigned int hash(int) const override { return 7; }
    TOV_OBJECT_OPERATORS(Client)
};

std::size_t operations = 0;  // exhaust() calls, each one operation in one setting
std::size_t failurePoints = 0;

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

using Watch = std::function<std::string()>;  // what a case watches besides the library

struct State {
    std::string pools;  // the report with flag 0: counters, blocks, segments, recycled lists
    std::size_t apools, upools;
    std::string rest;  // the chain, the main pool, both tables, flag 7 and the case's own
};

State snapshot(const Watch& watch) {
    std::ostringstream pools, rest;
    const bool detail = tovLib::get(0);
    tovLib::set(0);
    tovPool::printAll(pools);
    if (!detail) tovLib::clr(0);
    const tovStringTbl* t = tovStringTbl::table();
    const tovStringTbl* temp = tovStringTbl::tempTable();
    rest << "npools " << tovPool::npools() << " main " << tovPool::mainPool() << " table " << t << ' '
         << (t ? t->count() : -1) << " temp " << temp << ' ' << (temp ? temp->count() : -1) << " flag7 "
         << tovLib::get(7) << ' ' << (watch ? watch() : "");
    return {pools.str(), tovPool::apools(), tovPool::upools(), rest.str()};
}

// A failure gives back everything the operation was handed. A pool never gives a
// block back, so once an earlier step took one, only the used bytes must be as before.
void expectUnchanged(const State& before, const State& after) {
    if (const tovPool* main = tovPool::mainPool()) {
        EXPECT_TRUE(main->verify());
    }
    for (const tovStringTbl* t : {tovStringTbl::table(), tovStringTbl::tempTable()}) {
        if (t) {
            EXPECT_TRUE(t->verify());
        }
    }
    EXPECT_EQ(after.rest, before.rest);
    EXPECT_EQ(after.upools, before.upools);
    if (after.apools == before.apools)
        EXPECT_EQ(after.pools, before.pools);
    else
        EXPECT_GT(after.apools, before.apools);
}

// One run of an operation with the n-th heap allocation failing, once or from then on.
struct Trial {
    bool persistent;
    std::size_t n;
    bool succeeded = false;

    // Runs `act` armed; after a failure, compares the state with `expected` (the state
    // before the call when null) and runs `act` again, which must succeed.
    void run(const std::function<void()>& act, const Watch& watch = {}, const State* expected = nullptr) {
        const State before = expected ? *expected : snapshot(watch);
        (persistent ? heapFault::failFrom : heapFault::failAt)(n);
        try {
            act();
            succeeded = true;
        } catch (const std::bad_alloc&) {
        } catch (...) {
            heapFault::failAt(0);
            throw;
        }
        heapFault::failAt(0);
        if (succeeded) return;
        ++failurePoints;
        expectUnchanged(before, snapshot(watch));
        EXPECT_NO_THROW(act()) << "the call after the failure";
    }
};

// Runs `scenario` with n = 1, 2, ... in both modes until its operation succeeds, each
// time from a reset library with flag 7 set, and resets after it. `failures` is the
// number of heap allocations the operation makes in this setting, each a failure point.
template <class Scenario>
void exhaust(const std::string& name, std::size_t failures, Scenario scenario) {
    ++operations;
    for (bool persistent : {false, true}) {
        std::size_t n = 1;
        for (; n <= 32; ++n) {
            SCOPED_TRACE(name + (persistent ? ", allocations from " : ", allocation ") + std::to_string(n) +
                         " failing");
            tovLib::reset();
            tovLib::set(7);
            Trial trial{persistent, n};
            scenario(trial);
            tovLib::reset();
            if (trial.succeeded || testing::Test::HasFatalFailure()) break;
        }
        EXPECT_EQ(n - 1, failures) << name << ": failures before the operation succeeded";
    }
    tovLib::clr(7);
}

std::string where(bool onHeap) { return onHeap ? " on the heap" : " in a full pool"; }

TEST(Oom, PoolAllocTakesABlockWithItsRecord) {
    for (std::size_t size : {8, 504, 600, 8000, 9000})
        for (bool full : {false, true})
            exhaust("alloc(" + std::to_string(size) + (full ? ") in a full pool" : ") in a new pool"), 1,
                    [&](Trial& t) {
                        tovPool* p = full ? fullPool() : new tovPool;
                        t.run([&] { p->alloc(size); });
                    });
}

TEST(Oom, NewObject) {
    const char* names[] = {"new (p) Client", "new (nullptr) Client, main pool empty",
                           "new (nullptr) Client, no main pool"};
    for (int setting : {0, 1, 2})
        exhaust(names[setting], 1, [&](Trial& t) {
            NoMainPool none(setting == 2);
            tovPool* p = setting == 0 ? fullPool() : nullptr;
            Client* x = nullptr;
            t.run([&] { x = new (p) Client; });
            delete x;
        });
}

struct Kind {
    const char* name;
    tovContainer* (*make)(tovPool*);
};
template <class C>
tovContainer* make(tovPool* p) {
    return new (p) C;
}
const Kind kinds[] = {{"tovFifo", make<tovFifo>},
                      {"tovList", make<tovList>},
                      {"tovSList", make<tovSList>},
                      {"tovHash", make<tovHash<4191>>}};

// Count, collisions, and each item's presence and count. No iterator: it would come
// from the full pool and give it a block.
std::string contents(tovContainer& c, const Client* const (&items)[3]) {
    std::ostringstream os;
    os << "count " << c.count();
    if (auto* h = dynamic_cast<tovHash<4191>*>(&c)) os << " col " << h->col();
    for (const Client* i : items) os << " [" << (c.find(*i) != nullptr) << ' ' << i->refCount() << ']';
    return os.str();
}

TEST(Oom, ContainerAddAndNewIterator) {
    for (const Kind& kind : kinds)
        for (bool iterate : {false, true})
            for (bool onHeap : {false, true}) {
                auto scenario = [&](Trial& t) {
                    NoMainPool none(onHeap);
                    tovPool* p = onHeap ? nullptr : new tovPool;
                    tovContainer* c = kind.make(p);
                    Client* items[] = {new (p) Client, new (p) Client,
                                       new (p) Client};  // the last one is added
                    c->add(*items[0]);
                    c->add(*items[1]);
                    if (p) fill(*p);
                    tovIterator* it = nullptr;
                    t.run([&] { iterate ? void(it = c->newIterator()) : void(c->add(*items[2])); },
                          [&] { return contents(*c, items); });
                    delete it;
                    delete c;  // the last reference to each pool item goes with it
                    if (onHeap)
                        for (Client* i : items) delete i;
                };
                exhaust(std::string(kind.name) + (iterate ? " newIterator" : " add") + where(onHeap), 1,
                        scenario);
            }
}

TEST(Oom, EstablishTables) {
    const char* settings[] = {" in the empty main pool", " in a full pool", " on the heap"};
    for (bool temp : {false, true})
        for (int setting : {0, 1, 2})
            exhaust(std::string(temp ? "establishTemp" : "establish") + settings[setting], 1, [&](Trial& t) {
                NoMainPool none(setting == 2);
                tovPool* p = setting == 1 ? fullPool() : nullptr;
                t.run([&] { temp ? tovStringTbl::establishTemp(p) : tovStringTbl::establish(p); });
                dropHeapTables();
            });
}

// The main table, and what is made without a pool: in the main pool, whose block the
// table fills exactly, or on the heap with no main pool.
class StringSetting {
public:
    explicit StringSetting(bool onHeap) : _none(onHeap) { tovLib::init(false); }
    ~StringSetting() { dropHeapTables(); }
    tovStringTbl& table() { return *tovStringTbl::establish(nullptr); }
    void fillMain() {
        if (tovPool* main = tovPool::mainPool()) fill(*main);
    }

private:
    NoMainPool _none;
};

TEST(Oom, Interning) {
    // On the heap: candidate, text, node; a text already there is found without a
    // candidate. In the main pool: the candidate's block, in a new arena that has room
    // for the long text's block too.
    struct Row {
        const char* text;
        bool present;
        std::size_t inPool, onHeap;
    };
    const std::string wide(600, 'w'), huge(9000, 'h');
    const Row rows[] = {{"alpha", false, 1, 3},
                        {"alpha", true, 1, 0},
                        {wide.c_str(), false, 1, 3},
                        {huge.c_str(), false, 1, 3}};
    for (const Row& row : rows)
        for (bool onHeap : {false, true})
            for (bool handle : {false, true}) {
                auto scenario = [&](Trial& t) {
                    StringSetting strings(onHeap);
                    tovStringTbl& table = strings.table();
                    tovStrElem* old = row.present ? &table.addStrElem(row.text) : nullptr;
                    strings.fillMain();
                    t.run([&] { handle ? void(tovString(row.text)) : void(table.addStrElem(row.text)); },
                          [&] { return old ? std::to_string(old->refCount()) : ""; });
                };
                const std::string text = std::to_string(std::strlen(row.text)) + " bytes";
                exhaust((handle ? "tovString(" : "addStrElem(") + text + (row.present ? ", present)" : ")") +
                            where(onHeap),
                        onHeap ? row.onHeap : row.inPool, scenario);
            }
    exhaust("tovString in a temporary table in a full pool", 1, [&](Trial& t) {
        tovLib::init(false);
        tovLib::tempInit(new tovPool);  // the table takes a block of exactly its size
        t.run([] { tovString made("alpha"); });
        EXPECT_EQ(tovStringTbl::tempTable()->count(), 1);
    });
}

// The text index of a large table is only an aid: when it cannot be made, grow or count
// an object of another class, the chains answer, and the index is made again once
// memory is back. A hit that cannot have its candidate's text fails as the candidate
// would, leaving the pool as it was.
TEST(Oom, TextIndexIsOptional) {
    tovLib::reInit(false);
    tovStringTbl& table = *tovStringTbl::establish(nullptr);
    tovPool& main = *tovPool::mainPool();
    main.free(main.alloc(60000), 60000);  // room for everything below, without the heap
    auto intern = [&](int i) { return &table.addStrElem(("t" + std::to_string(i)).c_str()); };
    for (bool persistent : {false, true}) {
        for (std::size_t n = 1; n <= 4; ++n) {  // the n-th allocation of the index fails
            table.removeAll();
            heapFault::failFrom(1);
            for (int k = 0; k < 100; ++k) intern(k);  // no index can be had
            tovStrElem* const first = intern(0);
            (persistent ? heapFault::failFrom : heapFault::failAt)(n);
            EXPECT_EQ(intern(100), intern(100));
            EXPECT_EQ(intern(0), first);
            heapFault::failAt(0);
            EXPECT_EQ(table.count(), 101);
            EXPECT_TRUE(table.verify());
            EXPECT_EQ(intern(0), first);  // made again from the chains
            heapFault::failAt(1);         // the count of other objects cannot be had
            auto* other = new (nullptr) Client;
            table.add(*other);
            heapFault::failAt(0);
            EXPECT_TRUE(table.verify());
            EXPECT_TRUE(table.remove(*other));
            EXPECT_EQ(intern(0), first);
            EXPECT_TRUE(table.verify());
        }
    }
    const std::string longText(100, 'x');
    table.addStrElem(longText.c_str());
    void* spare = main.alloc(sizeof(tovStrElem));
    fill(main);
    main.free(spare, sizeof(tovStrElem));  // the candidate's element is there, its text is not
    const std::size_t recycled = main.rmem();
    heapFault::failAt(1);
    EXPECT_THROW(table.addStrElem(longText.c_str()), std::bad_alloc);
    heapFault::failAt(0);
    EXPECT_EQ(main.rmem(), recycled);
    EXPECT_TRUE(main.verify());
    tovLib::reset();
}

TEST(Oom, ElementToHandleAndNamedObject) {
    for (bool named : {false, true})
        for (bool onHeap : {false, true}) {
            auto scenario = [&](Trial& t) {
                StringSetting strings(onHeap);
                tovStrElem& element = strings.table().addStrElem("alpha");
                const tovString name(&element);
                tovPool* p = onHeap ? nullptr : fullPool();
                strings.fillMain();
                tovObject* made = nullptr;
                t.run([&] {  // the handle comes from the element's conversion, as `tovString& h = e;`
                    made = named ? static_cast<tovObject*>(new (p) tovNamedObj(name))
                                 : &static_cast<tovString&>(element);
                });
                delete made;
            };
            // A named object on the heap makes itself and then its name handle there.
            exhaust(std::string(named ? "new (p) tovNamedObj" : "tovString& h = element") + where(onHeap),
                    named && onHeap ? 2 : 1, scenario);
        }
}

TEST(Oom, Startup) {
    for (bool onHeap : {false, true}) {
        const std::string setting = onHeap ? " with no main pool" : "";
        exhaust("init" + setting, 1, [&](Trial& t) {
            NoMainPool none(onHeap);
            t.run([] { tovLib::init(true); });
            dropHeapTables();
        });
        // A failed reInit leaves the library as reset() does: no table, pools released,
        // flags as they were.
        exhaust("reInit" + setting, 1, [&](Trial& t) {
            tovPool* main = tovPool::mainPool();
            main->setReleaseFlag(!onHeap);  // with no main pool, reset would destroy it
            {
                NoMainPool none(onHeap);
                const State resetState = snapshot({});
                if (!onHeap) tovLib::init(false);
                new (new tovPool) Client;
                t.run([] { tovLib::reInit(true); }, {}, &resetState);
                dropHeapTables();
            }
            main->setReleaseFlag(true);
        });
    }
    exhaust("tempInit(nullptr)", 2, [](Trial& t) { t.run([] { tovLib::tempInit(nullptr); }); });
    exhaust("tempInit(p), p full", 1, [](Trial& t) {
        tovPool* p = fullPool();
        t.run([p] { tovLib::tempInit(p); });
    });
    exhaust("tempInit(nullptr), temporary table open", 1, [](Trial& t) {
        tovLib::tempInit(nullptr);
        t.run([] { tovLib::tempInit(nullptr); });
    });
}

// The run's failure points, and the places in the library that received a failure.
class SiteReport : public testing::Environment {
public:
    void TearDown() override {
        std::printf("oom: %zu operations, %zu failure points tried, %zu distinct heap call sites failed\n",
                    operations, failurePoints, heapFault::sites());
        for (std::size_t i = 0; i < heapFault::sites(); ++i) {
            Dl_info info{};
            const auto* at = static_cast<const char*>(heapFault::site(i));
            std::string name = "?";
            if (dladdr(at, &info) && info.dli_sname) {
                int status = 0;
                char* plain = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
                name = std::string(status == 0 ? plain : info.dli_sname) + "+" +
                       std::to_string(at - static_cast<const char*>(info.dli_saddr));
                std::free(plain);
            } else if (info.dli_fname) {  // a function of its own file, or inlined into one
                name = std::string(info.dli_fname) + "+" +
                       std::to_string(at - static_cast<const char*>(info.dli_fbase));
            }
            std::printf("oom: %6zu failures at %s\n", heapFault::siteFailures(i), name.c_str());
        }
    }
};
[[maybe_unused]] testing::Environment* const siteReport = testing::AddGlobalTestEnvironment(new SiteReport);

}  // namespace
