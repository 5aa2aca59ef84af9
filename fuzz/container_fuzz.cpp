// Differential fuzzing of the containers: a FIFO, a list, a sorted list and a hash
// table, each against a vector of the entries in their expected visiting order, and
// the elements' reference counts against a count model. Elements are keyed by a small
// int (equal keys are equal elements) and carry a chosen hash value, so that lookups by
// key, ties in the sorted list and bucket collisions all happen. The elements check that
// the containers ask the stored element, never the key, and sort by asking the new
// element; now and then their callbacks throw, which must leave a container unchanged.
#include <algorithm>
#include <utility>
#include <cstring>
#include <new>
#include <vector>

#include <tovlib.h>

#include "fuzz_input.h"

namespace {

constexpr unsigned buckets = 4191;
// Chosen hash values: some collide in a bucket, some lie at or beyond the last bucket.
constexpr unsigned hashes[8] = {0, 1, 7, 4190, 4191, 4198, 2000, 0xFFFFFFFFu};

std::vector<int> destroyed;            // ids, in the order the elements were destroyed
const tovObject* lookupKey = nullptr;  // never asked during a lookup, only passed
const tovObject* sorted = nullptr;     // the element the sorted list is adding
struct Touchy {};                      // what the callbacks throw while `touchy` is set
bool touchy = false;

class Elem : public tovObject {
public:
    Elem(int id, int key, unsigned h) : id(id), key(key), h(h) {}
    ~Elem() override { destroyed.push_back(id); }
    unsigned int hash(int) const override {
        if (touchy) throw Touchy();
        return h;  // the table reduces it
    }
    bool isEqual(const tovObject& o) const override {
        FUZZ_CHECK(this != lookupKey || &o == this);
        if (touchy) throw Touchy();
        return keyOf(o) == key;  // every object here is an Elem
    }
    int objcmp(const tovObject& o) const override {
        FUZZ_CHECK(this == sorted);
        if (touchy) throw Touchy();
        return key < keyOf(o) ? -1 : key > keyOf(o) ? 1 : 0;
    }
    static int keyOf(const tovObject& o) { return static_cast<const Elem&>(o).key; }
    TOV_OBJECT_OPERATORS(Elem)

    int id, key;
    unsigned h;
};

Elem probe(-1, 0, 0);  // static, so never taken for a pool object

struct Rec {
    Elem* e;
    int pool;  // index into the pools, -1 for an element without a pool
    int refs;  // the modelled count: the harness's hold, and one per entry in a container
    int entries;
    bool held, alive;
};

enum Kind { fifo, list, slist, hash, kinds };
constexpr std::size_t iterSize[kinds] = {sizeof(tovFifoIter), sizeof(tovListIter), sizeof(tovSListIter),
                                         sizeof(tovHashIter<4191>)};
constexpr std::size_t containerSize[kinds] = {sizeof(tovFifo), sizeof(tovList), sizeof(tovSList),
                                              sizeof(tovHash<4191>)};

std::size_t rounded(std::size_t n) { return (n + 7) / 8 * 8; }

struct State {
    tovPool* pools[3];  // two for elements, the last for containers and iterators
    std::vector<Rec> recs;
    tovContainer* c[kinds];
    std::vector<int> order[kinds];  // ids in visiting order
    std::vector<int> expectDestroyed;
    std::size_t mainUsed;  // nothing here may come from the main pool
};

// An element without a pool, on the heap. Its memory is cleared first: the constructor
// takes an object for a pool object when it finds the construction marker there.
Elem* heapElem(int id, int key, unsigned h) {
    void* mem = ::operator new(sizeof(Elem));
    std::memset(mem, 0, sizeof(Elem));
    return ::new (mem) Elem(id, key, h);
}

template <class C>
tovContainer* make(tovPool* pool) {
    return new (pool) C;
}
tovContainer* (*const makers[kinds])(tovPool*) = {make<tovFifo>, make<tovList>, make<tovSList>,
                                                  make<tovHash<4191>>};

tovContainer* makeContainer(tovPool* pool, int kind) {
    tovContainer* c = makers[kind](pool);
    c->up();
    return c;
}

void release(State& s, int id) {  // one counted reference of id goes
    Rec& r = s.recs[id];
    if (r.pool >= 0 && --r.refs == 0) {
        r.alive = false;
        s.expectDestroyed.push_back(id);
    }
}

// Links an entry in the model and in the container; returns its place in visiting order.
std::size_t addEntry(State& s, int k, int id) {
    Rec& r = s.recs[id];
    const Elem& e = *r.e;
    std::vector<int>& v = s.order[k];
    // The FIFO appends, the list puts in front, the sorted list goes behind the keys not
    // above its own, the table in front of its bucket (the buckets in ascending order).
    auto after = [&](int x) {
        const Elem& o = *s.recs[x].e;
        return k == slist ? e.key < o.key : o.h % buckets >= e.h % buckets;
    };
    auto at = k == fifo ? v.end() : k == list ? v.begin() : std::find_if(v.begin(), v.end(), after);
    const auto pos = static_cast<std::size_t>(at - v.begin());
    v.insert(at, id);
    sorted = r.e;
    FUZZ_CHECK(&s.c[k]->add(*r.e) == r.e);
    sorted = nullptr;
    if (r.pool >= 0) ++r.refs;
    ++r.entries;
    return pos;
}

// The entry that the container's own search meets first: in visiting order, and in a
// hash table within the key's bucket only. -1 when none matches.
int firstMatch(const State& s, int k, const Elem& key, bool anyBucket) {
    for (std::size_t i = 0; i < s.order[k].size(); ++i) {
        const Elem& e = *s.recs[s.order[k][i]].e;
        if (e.key == key.key && (anyBucket || k != hash || e.h % buckets == key.h % buckets))
            return static_cast<int>(i);
    }
    return -1;
}

// The harness lets go of its own hold: a counted element then lives on only in the
// containers; one without a pool is deleted, once no container holds it.
void letGo(State& s, int id) {
    Rec& r = s.recs[id];
    if (!r.held || (r.pool < 0 && r.entries > 0)) return;
    r.held = false;
    if (r.pool >= 0) {
        r.e->down();
        release(s, id);
        return;
    }
    r.alive = false;
    s.expectDestroyed.push_back(id);
    delete r.e;
}

// A key that is no element: equal to the elements of its key, and now and then in
// another bucket than theirs.
Elem& probeFor(FuzzInput& in) {
    probe.key = static_cast<int>(in.below(12));
    probe.h = hashes[(probe.key + in.below(2)) % 8];
    return probe;
}

void removeEntries(State& s, int k) {  // removeAll, and the emptying by a destructor
    for (int id : s.order[k]) {
        --s.recs[id].entries;
        release(s, id);
    }
    s.order[k].clear();
}

void check(State& s) {
    FUZZ_CHECK(destroyed == s.expectDestroyed);
    destroyed.clear();
    s.expectDestroyed.clear();
    std::size_t used[3] = {0, 0, 0};
    for (const Rec& r : s.recs) {
        if (!r.alive) continue;
        FUZZ_EQ(r.e->refCount(), r.pool >= 0 ? r.refs : 0);
        FUZZ_CHECK(r.e->getPool() == (r.pool >= 0 ? s.pools[r.pool] : nullptr));
        // The element and one node per entry, all from the element's pool.
        if (r.pool >= 0) used[r.pool] += rounded(sizeof(Elem)) + r.entries * rounded(sizeof(tovLinkObj));
    }
    for (int k = 0; k < kinds; ++k) {
        used[2] += rounded(containerSize[k]);
        FUZZ_EQ(s.c[k]->count(), static_cast<int>(s.order[k].size()));
        FUZZ_EQ(s.c[k]->empty(), s.order[k].empty());
    }
    for (int i = 0; i < 3; ++i) FUZZ_EQ(s.pools[i]->umem(), used[i]);
    FUZZ_EQ(tovPool::mainPool()->umem(), s.mainUsed);
    std::vector<unsigned> b;
    for (int id : s.order[hash]) b.push_back(s.recs[id].e->h % buckets);
    b.erase(std::unique(b.begin(), b.end()), b.end());
    FUZZ_EQ(static_cast<tovHash<4191>*>(s.c[hash])->col(), s.order[hash].size() - b.size());
    FUZZ_CHECK(static_cast<tovHash<4191>*>(s.c[hash])->verify());
    for (tovPool* p : s.pools) FUZZ_CHECK(p->verify());
}

// Visits the entries from `from` on in the model's order, and then stands done; steps
// by post-increment, which gives the current entry, and pre-increment, the next one.
void walk(const State& s, int k, tovIterPtr& it, std::size_t from) {
    const std::vector<int>& v = s.order[k];
    for (std::size_t i = from; i < v.size(); ++i) {
        FUZZ_EQ(static_cast<int>(it), 1);
        FUZZ_EQ(static_cast<int>(*it.operator->()), 1);
        FUZZ_CHECK(&it() == s.recs[v[i]].e);
        if (i % 2 && i + 1 < v.size())
            FUZZ_CHECK(&++it == s.recs[v[i + 1]].e);
        else
            FUZZ_CHECK(&it++ == s.recs[v[i]].e);
    }
    FUZZ_EQ(static_cast<int>(it), 0);
    if (k == hash) it->next();  // a finished table iterator stays finished
    FUZZ_EQ(static_cast<int>(it), 0);
}

// A range-for over `c` (the protocol's walk for a tovContainer&, the nodes' for the
// library's own types) meets `want` in order, leaving by break or by an exception at
// `stop`: its iterator must go back either way. Then copies of begin(c), copied, moved
// and stepped at random, each stand on the entry of their position, and are equal
// exactly when at the same position.
template <class C>
void rangeFor(const C& c, const std::vector<const tovObject*>& want, FuzzInput& in) {
    const std::size_t n = want.size(), stop = in.below(static_cast<unsigned>(n) + 2);
    std::size_t seen = 0;
    try {
        for (tovObject& e : c) {
            FUZZ_CHECK(&e == want[seen]);
            if (++seen == stop && stop % 2) break;
            if (seen == stop) throw seen;
        }
    } catch (std::size_t) {
    }
    FUZZ_EQ(seen, stop && stop < n ? stop : n);
    decltype(begin(c)) its[3] = {begin(c), begin(c), end(c)};
    std::size_t pos[3] = {0, 0, n};
    for (unsigned step = in.below(12); step-- > 0;) {
        const unsigned x = in.below(3), y = in.below(3), how = in.below(4);
        if (how == 0) its[x] = its[y], pos[x] = pos[y];
        // A moved-from iterator is usable again.
        if (how == 1 && x != y) its[x] = std::move(its[y]), pos[x] = pos[y], its[y] = begin(c), pos[y] = 0;
        if (how > 1 && pos[x] < n) FUZZ_CHECK(&*its[x]++ == want[pos[x]++]);
        for (unsigned i = 0; i < 3; ++i) {
            if (pos[i] < n) FUZZ_CHECK(&*its[i] == want[pos[i]]);
            FUZZ_EQ(its[i] == its[(i + 1) % 3], pos[i] == pos[(i + 1) % 3]);
        }
    }
}

void rangeWalks(const State& s, int k, FuzzInput& in) {
    std::vector<const tovObject*> want;
    for (int id : s.order[k]) want.push_back(s.recs[id].e);
    const tovContainer& c = *s.c[k];
    rangeFor(c, want, in);
    k == fifo    ? rangeFor(static_cast<const tovFifo&>(c), want, in)
    : k == list  ? rangeFor(static_cast<const tovList&>(c), want, in)
    : k == slist ? rangeFor(static_cast<const tovSList&>(c), want, in)
                 : rangeFor(static_cast<const tovHash<4191>&>(c), want, in);
    const int other = (k + 1) % kinds;  // the same position of another container differs
    FUZZ_EQ(begin(c) == begin(*s.c[other]), want.empty() && s.order[other].empty());
}

// A walk, and a walk after reset(). When `addId` is an element, it is added after the
// iterator was made: the iterator started on the entry that was first then, so it sees
// what now follows that entry; reset() goes back to that entry, except in the hash
// table, whose reset() looks for the first entry afresh.
void iterate(State& s, int k, int addId, FuzzInput& in) {
    std::size_t used = rounded(iterSize[k]);  // the iterator comes from the container's pool
    for (std::size_t size : containerSize) used += rounded(size);
    tovIterPtr it(*s.c[k]);
    FUZZ_EQ(s.pools[2]->umem(), used);
    std::size_t from = 0;
    if (addId >= 0) {
        const bool wasEmpty = s.order[k].empty();
        const std::size_t pos = addEntry(s, k, addId);
        from = wasEmpty ? s.order[k].size() : pos == 0 ? 1 : 0;
    }
    walk(s, k, it, from);
    it.reset();
    walk(s, k, it, k == hash ? 0 : from);
    if (addId < 0) rangeWalks(s, k, in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    State s;
    s.mainUsed = tovPool::mainPool()->umem();
    for (tovPool*& p : s.pools) p = new tovPool;
    for (int k = 0; k < kinds; ++k) s.c[k] = makeContainer(s.pools[2], k);

    while (in.more()) {
        const unsigned op = in.below(13);
        const int k = static_cast<int>(in.below(kinds));
        std::vector<int> alive;
        for (const Rec& r : s.recs)
            if (r.alive) alive.push_back(r.e->id);
        const int pick = alive.empty() ? -1 : alive[in.below(static_cast<unsigned>(alive.size()))];
        switch (op) {
            case 0: {  // a new element, held by the harness
                if (alive.size() >= 40) break;
                const int id = static_cast<int>(s.recs.size());
                const int pool = static_cast<int>(in.below(3)) - 1;
                const int key = static_cast<int>(in.below(12));
                const unsigned h = hashes[(key + (in.below(4) == 0 ? in.byte() : 0)) % 8];
                Elem* e = pool >= 0 ? new (s.pools[pool]) Elem(id, key, h) : heapElem(id, key, h);
                e->up();
                s.recs.push_back({e, pool, pool >= 0 ? 1 : 0, 0, true, true});
                break;
            }
            case 1:
                if (pick >= 0) letGo(s, pick);
                break;
            case 2:
            case 3:
            case 4:
                if (pick >= 0) addEntry(s, k, pick);
                break;
            case 5:
            case 6: {  // by key, or by an element itself (an equal one goes)
                Elem& key = op == 5 || pick < 0 ? probeFor(in) : *s.recs[pick].e;
                const int at = firstMatch(s, k, key, false);
                lookupKey = &key;
                FUZZ_EQ(s.c[k]->remove(key), at >= 0);
                lookupKey = nullptr;
                if (at >= 0) {
                    const int id = s.order[k][at];
                    s.order[k].erase(s.order[k].begin() + at);
                    --s.recs[id].entries;
                    release(s, id);
                }
                break;
            }
            case 7: {  // the container's search, and the generic one over the iterator
                const Elem& key = probeFor(in);
                const int at = firstMatch(s, k, key, false);
                lookupKey = &key;
                FUZZ_CHECK(s.c[k]->find(key) == (at < 0 ? nullptr : s.recs[s.order[k][at]].e));
                const int any = firstMatch(s, k, key, true);
                FUZZ_CHECK(s.c[k]->tovContainer::find(key) ==
                           (any < 0 ? nullptr : s.recs[s.order[k][any]].e));
                lookupKey = nullptr;
                break;
            }
            case 8:
            case 9:
                iterate(s, k, op == 9 ? pick : -1, in);
                break;
            case 10:
                s.c[k]->removeAll();
                removeEntries(s, k);
                break;
            case 11:  // the last reference to the container: its destructor releases all
                s.c[k]->down();
                removeEntries(s, k);
                s.c[k] = makeContainer(s.pools[2], k);
                break;
            case 12: {  // throwing callbacks: a table hashes first, other searches ask each entry
                const unsigned what = in.below(4);
                const bool empty = s.order[k].empty();
                const bool adds = what == 0 && pick >= 0 && (k == hash || (k == slist && !empty));
                Elem& key = probeFor(in);
                bool threw = false;
                touchy = true;
                sorted = adds ? s.recs[pick].e : nullptr;
                try {
                    if (adds) s.c[k]->add(*s.recs[pick].e);
                    if (what == 1) s.c[k]->remove(key);
                    if (what == 2) s.c[k]->tovContainer::find(key);  // its iterator must go back
                    if (what == 3) s.c[k]->find(key);
                } catch (const Touchy&) {
                    threw = true;
                }
                touchy = false;
                sorted = nullptr;
                FUZZ_EQ(threw, adds || (what && (!empty || (k == hash && what != 2))));
                break;
            }
        }
        check(s);
    }
    for (int k = 0; k < kinds; ++k) s.c[k]->down(), removeEntries(s, k);
    for (std::size_t id = 0; id < s.recs.size(); ++id)
        if (s.recs[id].alive) letGo(s, static_cast<int>(id));
    FUZZ_CHECK(destroyed == s.expectDestroyed);
    destroyed.clear();
    for (tovPool* p : s.pools) {
        FUZZ_EQ(p->umem(), 0u);
        delete p;
    }
    return 0;
}
