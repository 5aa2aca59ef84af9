// Out of memory where the models do not go (they fail each call of theirs at its n-th
// heap allocation, always with a main pool): with no main pool, so that objects, tables
// and texts come from the heap; a hit's candidate; a caller's pool given to tempInit.
// Each operation runs with the n-th heap allocation failing, once or from then on, for
// n = 1, 2, ... while the operation reaches the n-th. A failure must reach the caller as
// std::bad_alloc and leave the library as it was; the tables and the main pool verify
// and the call made again succeeds.
#include <gtest/gtest.h>

#include <cxxabi.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
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

class Client : public tovObject {
public:
    TOV_OBJECT_OPERATORS(Client)
};

// Hands out every free byte of `p` (if any), so that its next carving needs a block, and
// one element larger than any arena the pool cuts blocks from: it comes in a heap call
// of its own, which leaves no room behind, so the next block needs the heap too. A pool
// made with new has its flag set: the next reset destroys it.
tovPool* fill(tovPool* p) {
    if (!p) return p;
    EXPECT_LE(p->fblocks(), 1u);
    if (p->fmem()) p->alloc(p->fmem());
    p->alloc(std::size_t{8} << 20);
    return p;
}

tovStringTbl& table() { return *tovStringTbl::establish(nullptr); }

struct State {
    std::string pools, rest;
    std::size_t apools;
};

// What one trial of a row works with; what it made is given back at its end.
struct Trial {
    std::optional<NoMainPool> none;  // destroyed last: the main pool comes back
    tovPool* p = nullptr;
    tovObject* made = nullptr;
    tovStrElem* old = nullptr;
    std::optional<tovString> name;
    std::optional<State> expected;  // after a failure; the state before the call when empty
    ~Trial() {
        heapFault::failAt(0);  // also when an exception other than std::bad_alloc is on its way
        delete made;
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
    // The state a failure must leave as it was: every pool's report with flag 0 (counters,
    // blocks, free segments, recycled lists), apools, and the rest: the chain, upools, the
    // main pool, both tables, flags 0 and 7, and the old element's reference count.
    State state() const {
        std::ostringstream pools, os;
        tovPool::printAll(pools);
        const tovStringTbl *t = tovStringTbl::table(), *temp = tovStringTbl::tempTable();
        os << "npools " << tovPool::npools() << " upools " << tovPool::upools() << " main "
           << tovPool::mainPool() << " table " << t << ' ' << (t ? t->count() : -1) << " temp " << temp << ' '
           << (temp ? temp->count() : -1) << " flags " << tovLib::get(0) << tovLib::get(7);
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

std::vector<Row> rows() {
    std::vector<Row> rows;
    const auto row = [&rows](std::string name, std::size_t failures, Step setUp, Step operation) {
        rows.push_back({std::move(name), failures, std::move(setUp), std::move(operation)});
    };
    const Step none = STEP(t.none.emplace(true));
    row("new (nullptr) Client", 1, none, STEP(t.made = new (nullptr) Client));
    row("establish", 1, none, STEP(tovStringTbl::establish(nullptr)));
    row("establishTemp", 1, none, STEP(tovStringTbl::establishTemp(nullptr)));
    // Candidate, text, node; a text already there is found without a candidate.
    static const std::string texts[] = {"alpha", "alpha", std::string(600, 'w'), std::string(9000, 'h')};
    for (const std::string& s : texts) {
        const char* const text = s.c_str();
        const bool present = &s == &texts[1];  // interned in the set-up
        const Step setUp = STEP(t.strings(true); if (present) t.old = &table().addStrElem(text));
        const std::string name = std::to_string(s.size()) + " bytes" + (present ? ", present)" : ")");
        row("addStrElem(" + name, present ? 0 : 3, setUp, STEP(table().addStrElem(text)));
        row("tovString(" + name, present ? 0 : 3, setUp, STEP(tovString{text}));
    }
    // A hit whose candidate gets its element but not its text fails as the candidate
    // would, giving the element back.
    static const std::string hundred(100, 'x');
    row("addStrElem(100 bytes, present), element recycled, main pool", 1,
        STEP(t.strings(false); table().addStrElem(hundred.c_str());
             void* spare = tovPool::mainPool()->alloc(sizeof(tovStrElem)); fill(tovPool::mainPool());
             tovPool::mainPool()->free(spare, sizeof(tovStrElem))),
        STEP(table().addStrElem(hundred.c_str())));
    // The handle comes from the element's conversion, as `tovString& h = e;`. A named
    // object makes itself and then its name handle.
    const Step named = STEP(t.strings(true); t.old = &table().addStrElem("alpha"); t.name.emplace(t.old));
    row("tovString& h = element", 1, named, STEP(t.made = &static_cast<tovString&>(*t.old)));
    row("new (nullptr) tovNamedObj", 2, named, STEP(t.made = new (nullptr) tovNamedObj(*t.name)));
    row("init", 1, none, STEP(tovLib::init(true)));
    // A failed reInit leaves the library as reset() does: no table, flags as they were;
    // reset would destroy the pool set aside as main.
    row("reInit", 1,
        STEP(tovPool::mainPool()->setReleaseFlag(false); t.none.emplace(true); t.expected = t.state();
             new (new tovPool) Client),
        STEP(tovLib::reInit(true)));
    row("tempInit(p), p full, main pool", 1, STEP(t.p = fill(new tovPool)), STEP(tovLib::tempInit(t.p)));
    return rows;
}

std::size_t operations = 0, failurePoints = 0;  // rows, and injected failures reached

// Each row from a reset library with flags 0 and 7 set, and no cache of released
// memory: every block is a heap call. A pool never gives a block back, so once a failed
// operation's earlier step took one, only the used bytes must be as before.
TEST(Oom, EveryOperationFailsCleanlyAtEveryAllocation) {
    const std::size_t bound = tovLib::poolCacheBound();
    tovLib::setPoolCacheBound(0);
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
                    const long held = heapFault::live();  // heap allocations
                    (persistent ? heapFault::failFrom : heapFault::failAt)(n);
                    try {
                        row.operation(t);
                    } catch (const std::bad_alloc&) {
                        threw = true;
                    }
                    const long heldAfter = heapFault::live();
                    reached = heapFault::calls() >= n;
                    heapFault::failAt(0);
                    failed += threw, failurePoints += reached;
                    for (const tovStringTbl* table : {tovStringTbl::table(), tovStringTbl::tempTable()})
                        EXPECT_TRUE(!table || table->verify());
                    EXPECT_TRUE(!tovPool::mainPool() || tovPool::mainPool()->verify());
                    if (const State after = t.state(); threw) {
                        EXPECT_EQ(after.rest, before.rest);
                        if (after.apools == before.apools) {
                            EXPECT_EQ(after.pools, before.pools);
                            EXPECT_TRUE(t.expected || heldAfter == held) << heldAfter - held << " more";
                        } else
                            EXPECT_GT(after.apools, before.apools);
                    }
                    if (reached) {
                        EXPECT_NO_THROW(row.operation(t)) << "the call after the failure";
                    }
                }
                tovPool::mainPool()->setReleaseFlag(true);
                tovLib::reset();
            }
            EXPECT_EQ(failed, row.failures) << row.name << ": failures that reached the caller";
        }
    }
    tovLib::clr(0), tovLib::clr(7);
    tovLib::setPoolCacheBound(bound);
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
            // A hidden function has no name to give: its file's, without the directory.
            const char* file = info.dli_fname ? info.dli_fname : "?";
            if (const char* slash = std::strrchr(file, '/')) file = slash + 1;
            std::printf("oom: %6zu failures at %s+%td\n", heapFault::siteFailures(i),
                        plain   ? plain
                        : named ? info.dli_sname
                                : file,
                        at - static_cast<const char*>(named ? info.dli_saddr : info.dli_fbase));
            std::free(plain);
        }
    }
};
[[maybe_unused]] testing::Environment* const siteReport = testing::AddGlobalTestEnvironment(new SiteReport);

}  // namespace
