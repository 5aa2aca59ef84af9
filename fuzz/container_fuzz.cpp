// Differential fuzzing of the containers: a FIFO, a list, a sorted list and two hash
// tables (the library's, and a small one instantiated here), each against a vector of
// the entries in their expected visiting order, and the elements' reference counts
// against a count model. Elements are keyed by a small int (equal keys are equal
// elements) and carry a chosen hash value, so that lookups by key, ties in the sorted
// list and bucket collisions all happen. The elements check that the containers ask the
// stored element, never the key, and sort by asking the new element; now and then their
// callbacks throw, which must leave a container unchanged. Some elements' destructors
// remove an entry from a container and add one, perhaps to the container that is
// releasing them; every destruction must come when and in the order the model says.
// Counted handles (tovRef) hold elements too, made, copied, moved and swapped at random.
#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <new>
#include <utility>
#include <vector>

#include <tovlib.h>

#include "model.h"

namespace {

// The list is a table of one bucket: a new entry goes in front of its bucket.
enum Kind { fifo, list, slist, hash, small, kinds };
using Small = tovHash<17>;
constexpr unsigned buckets[kinds] = {1, 1, 1, 4191, 17};
// Chosen hash values: some collide in a bucket, some lie at or beyond the last bucket.
constexpr unsigned hashes[8] = {0, 1, 7, 4190, 4191, 4198, 2000, 0xFFFFFFFFu};

const tovObject* lookupKey = nullptr;  // never asked during a lookup, only passed
const tovObject* sorted = nullptr;     // the element the sorted list is adding
struct Touchy {};                      // what the callbacks throw while `touchy` is set
bool touchy = false;

class Elem : public tovObject {
public:
    Elem(int id, int key, unsigned h) : id(id), key(key), h(h) {}
    ~Elem() override;
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
    int host = -1;   // the container its destructor works on; -1 for none
    int meddle = 0;  // what it removes and adds there
};

Elem probe(-1, 0, 0), meddleProbe(-1, 0, 0);  // static, so never taken for pool objects

struct Rec {
    Elem* e;
    int pool;  // index into the pools, -1 for an element without a pool
    int refs;  // the modelled count: the harness's hold, and one per entry in a container
    int entries;
    bool held, alive;
    int handles = 0;  // the tovRefs on it
};

constexpr std::size_t iterSize[kinds] = {sizeof(tovFifoIter), sizeof(tovListIter), sizeof(tovSListIter),
                                         sizeof(tovHashIter<4191>), sizeof(tovHashIter<17>)};
constexpr std::size_t containerSize[kinds] = {sizeof(tovFifo), sizeof(tovList), sizeof(tovSList),
                                              sizeof(tovHash<4191>), sizeof(Small)};

struct State {
    tovPool* pools[3];  // two for elements, the last for containers and iterators
    std::vector<Rec> recs;
    tovContainer* c[kinds];
    std::vector<int> order[kinds];  // ids in visiting order
    std::deque<int> pending;        // the destructions due, in their order
    int dying = -1;                 // the container whose destructor runs
    std::size_t mainUsed;           // nothing here may come from the main pool
    tovRef<Elem> refs[4];
    int onRef[4];  // the id each holds, -1 for none
} s;

unsigned bucket(int k, const Elem& e) { return e.h % buckets[k]; }

template <class C>
tovContainer* make(tovPool* pool) {
    return new (pool) C;
}
tovContainer* (*const makers[kinds])(tovPool*) = {make<tovFifo>, make<tovList>, make<tovSList>,
                                                  make<tovHash<4191>>, make<Small>};

tovContainer* makeContainer(int kind) {
    tovContainer* c = makers[kind](s.pools[2]);
    c->up();
    return c;
}

// A new element and its record. One without a pool lives on the heap; its memory is
// cleared first: the constructor takes an object for a pool object when it finds the
// construction marker there.
Elem* newElem(int pool, int key, unsigned h, bool held) {
    const int id = static_cast<int>(s.recs.size());
    Elem* e = pool >= 0 ? FUZZ_FALLIBLE(new (s.pools[pool]) Elem(id, key, h))
                        : ::new (std::memset(::operator new(sizeof(Elem)), 0, sizeof(Elem))) Elem(id, key, h);
    if (held) e->up();
    s.recs.push_back({e, pool, pool >= 0 && held, 0, held, true});
    return e;
}

// One counted reference of id goes; a destruction it causes comes next, or after those
// already due (`later`).
void release(int id, bool later) {
    Rec& r = s.recs[id];
    if (r.pool < 0 || --r.refs > 0) return;
    r.alive = false;
    later ? s.pending.push_back(id) : s.pending.push_front(id);
}

// A handle's hold on id (-1: none) begins or, perhaps destroying it, ends.
void hold(int id, int by) {
    if (id < 0) return;
    s.recs[id].handles += by;
    by > 0 ? void(s.recs[id].refs += s.recs[id].pool >= 0) : release(id, false);
}

// Links an entry in the model and in the container; returns its place in visiting order.
std::size_t addEntry(int k, int id) {
    Rec& r = s.recs[id];
    std::vector<int>& v = s.order[k];
    // The FIFO appends, the sorted list goes behind the keys not above its own, the
    // tables in front of their bucket (the buckets in ascending order).
    auto after = [&](int x) {
        const Elem& o = *s.recs[x].e;
        return k == slist ? r.e->key < o.key : bucket(k, o) >= bucket(k, *r.e);
    };
    const auto pos =
        static_cast<std::size_t>((k == fifo ? v.end() : std::find_if(v.begin(), v.end(), after)) - v.begin());
    sorted = r.e;
    struct Unsort {
        ~Unsort() { sorted = nullptr; }
    } unsort;
    FUZZ_CHECK(&FUZZ_FALLIBLE(s.c[k]->add(*r.e)) == r.e);
    v.insert(v.begin() + static_cast<std::ptrdiff_t>(pos), id);
    r.refs += r.pool >= 0;
    ++r.entries;
    return pos;
}

// The entry that the container's own search meets first: in visiting order, and in a
// table within the key's bucket only. -1 when none matches.
int firstMatch(int k, const Elem& key, bool anyBucket) {
    for (std::size_t i = 0; i < s.order[k].size(); ++i) {
        const Elem& e = *s.recs[s.order[k][i]].e;
        if (e.key == key.key && (anyBucket || bucket(k, e) == bucket(k, key))) return static_cast<int>(i);
    }
    return -1;
}

// remove(key): the model first, since the element released may be destroyed at once.
void removeKey(int k, Elem& key) {
    const int at = firstMatch(k, key, false);
    const int id = at < 0 ? -1 : s.order[k][at];
    if (id >= 0) s.order[k].erase(s.order[k].begin() + at), --s.recs[id].entries, release(id, false);
    lookupKey = &key;
    FUZZ_EQ(s.c[k]->remove(key), at >= 0);
    lookupKey = nullptr;
}

// The entries leave the model at once, as the container empties before it releases
// them, oldest first.
void removeEntries(int k) {
    for (int id : std::exchange(s.order[k], {})) --s.recs[id].entries, release(id, true);
}

// Its destructor may remove and add entries; a table's may add to itself while it is
// being destroyed, and releases those additions afterwards.
Elem::~Elem() {
    if (id < 0) return;
    if (s.pending.empty() && s.dying >= 0) removeEntries(s.dying);
    FUZZ_CHECK(!s.pending.empty() && s.pending.front() == id);
    s.pending.pop_front();
    if (host < 0 || !s.c[host]) return;
    const std::size_t fault = std::exchange(fuzzModel::faultAt, 0);  // nothing fails in a destructor
    meddleProbe.key = meddle % 12;
    meddleProbe.h = hashes[meddle % 12 % 8];
    removeKey(host, meddleProbe);
    addEntry(host, newElem(s.recs[id].pool, meddle / 12, hashes[meddle / 12 % 8], false)->id);
    fuzzModel::faultAt = fault;
}

// The harness lets go of its own hold: a counted element then lives on only in the
// containers; one without a pool is deleted, once no container holds it.
void letGo(int id) {
    Rec& r = s.recs[id];
    if (!r.held || (r.pool < 0 && r.entries + r.handles > 0)) return;
    r.held = false;
    if (r.pool >= 0) {
        release(id, true);
        r.e->down();
        return;
    }
    r.alive = false;
    s.pending.push_back(id);
    delete r.e;
}

// A key that is no element: equal to the elements of its key, and now and then in
// another bucket than theirs.
Elem& probeFor(FuzzInput& in) {
    probe.key = static_cast<int>(in.below(12));
    probe.h = hashes[(probe.key + in.below(2)) % 8];
    return probe;
}

template <class T>
void checkTable(int k) {
    std::vector<unsigned> b;
    for (int id : s.order[k]) b.push_back(bucket(k, *s.recs[id].e));
    b.erase(std::unique(b.begin(), b.end()), b.end());
    FUZZ_EQ(static_cast<T*>(s.c[k])->col(), s.order[k].size() - b.size());
    FUZZ_CHECK(static_cast<T*>(s.c[k])->verify());
}

void check() {
    FUZZ_CHECK(s.pending.empty());
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
    checkTable<tovHash<4191>>(hash);
    checkTable<Small>(small);
    for (tovPool* p : s.pools) FUZZ_CHECK(p->verify());
    for (int i = 0; i < 4; ++i)
        FUZZ_CHECK(s.refs[i].get() == (s.onRef[i] < 0 ? nullptr : s.recs[s.onRef[i]].e));
}

// Visits the entries from `from` on in the model's order, and then stands done; steps
// by post-increment, which gives the current entry, and pre-increment, the next one.
void walk(int k, tovIterPtr& it, std::size_t from) {
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
    if (k >= hash) it->next();  // a finished table iterator stays finished
    FUZZ_EQ(static_cast<int>(it), 0);
    FUZZ_EQ(static_cast<int>(*it.operator->()), 0);
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

void rangeWalks(int k, FuzzInput& in) {
    std::vector<const tovObject*> want;
    for (int id : s.order[k]) want.push_back(s.recs[id].e);
    const tovContainer& c = *s.c[k];
    rangeFor(c, want, in);
    k == fifo    ? rangeFor(static_cast<const tovFifo&>(c), want, in)
    : k == list  ? rangeFor(static_cast<const tovList&>(c), want, in)
    : k == slist ? rangeFor(static_cast<const tovSList&>(c), want, in)
    : k == hash  ? rangeFor(static_cast<const tovHash<4191>&>(c), want, in)
                 : rangeFor(static_cast<const Small&>(c), want, in);
    const int other = (k + 1) % kinds;  // the same position of another container differs
    FUZZ_EQ(begin(c) == begin(*s.c[other]), want.empty() && s.order[other].empty());
}

// A walk, and a walk after reset(). When `addId` is an element, it is added after the
// iterator was made: the iterator started on the entry that was first then, so it sees
// what now follows that entry; reset() goes back to that entry, except in a table,
// whose reset() looks for the first entry afresh.
void iterate(int k, int addId, FuzzInput& in) {
    std::size_t used = rounded(iterSize[k]);  // the iterator comes from the container's pool
    for (std::size_t size : containerSize) used += rounded(size);
    tovIterPtr it(FUZZ_FALLIBLE(s.c[k]->newIterator()));
    FUZZ_EQ(s.pools[2]->umem(), used);
    std::size_t from = 0;
    if (addId >= 0) {
        const bool wasEmpty = s.order[k].empty();
        const std::size_t pos = addEntry(k, addId);
        from = wasEmpty ? s.order[k].size() : pos == 0 ? 1 : 0;
    }
    walk(k, it, from);
    it.reset();
    walk(k, it, k >= hash ? 0 : from);
    if (addId < 0) rangeWalks(k, in);
}

// The last reference to container k: its destructor releases all, again and again
// while destructors add to it.
void destroy(int k) {
    s.dying = k;
    removeEntries(k);
    s.c[k]->down();
    FUZZ_CHECK(s.order[k].empty());
    s.dying = -1;
}

// Each input with three new pools and one container of each kind.
struct ContainerModel {
    static constexpr unsigned ops = 15;

    ContainerModel() {
        s.recs.clear();
        std::fill(std::begin(s.onRef), std::end(s.onRef), -1);
        s.mainUsed = tovPool::mainPool()->umem();
        for (tovPool*& p : s.pools) p = new tovPool;
        for (int k = 0; k < kinds; ++k) s.c[k] = makeContainer(k);
    }

    void check() { ::check(); }

    void step(unsigned op, FuzzInput& in) {
        const int k = static_cast<int>(in.below(kinds));
        std::vector<int> alive;
        for (const Rec& r : s.recs)
            if (r.alive) alive.push_back(r.e->id);
        const int pick = alive.empty() ? -1 : alive[in.below(static_cast<unsigned>(alive.size()))];
        if (op == 0 && alive.size() < 40) {  // a new element, held by the harness
            const int pool = static_cast<int>(in.below(3)) - 1;
            const int key = static_cast<int>(in.below(12));
            Elem* e = newElem(pool, key, hashes[(key + (in.below(4) == 0 ? in.byte() : 0)) % 8], true);
            if (pool >= 0 && in.below(3) == 0) e->host = k, e->meddle = static_cast<int>(in.below(144));
        } else if (op == 1 && pick >= 0) {
            letGo(pick);
        } else if (op >= 2 && op <= 4 && pick >= 0) {
            addEntry(k, pick);
        } else if (op == 5 || op == 6) {  // by key, or by an element itself (an equal one goes)
            removeKey(k, op == 5 || pick < 0 ? probeFor(in) : *s.recs[pick].e);
        } else if (op == 7) {  // the container's search, and the generic one over the iterator
            const Elem& key = probeFor(in);
            const int at = firstMatch(k, key, false), any = firstMatch(k, key, true);
            lookupKey = &key;
            FUZZ_CHECK(s.c[k]->find(key) == (at < 0 ? nullptr : s.recs[s.order[k][at]].e));
            FUZZ_CHECK(s.c[k]->tovContainer::find(key) == (any < 0 ? nullptr : s.recs[s.order[k][any]].e));
            lookupKey = nullptr;
        } else if (op == 8 || op == 9) {
            iterate(k, op == 9 ? pick : -1, in);
        } else if (op == 10) {
            removeEntries(k);
            s.c[k]->removeAll();
        } else if (op == 11) {
            destroy(k);
            s.c[k] = makeContainer(k);
        } else if (op == 12) {  // throwing callbacks: a table hashes first, other searches ask each entry
            const unsigned what = in.below(4);
            const bool empty = s.order[k].empty();
            const bool adds = what == 0 && pick >= 0 && (k >= hash || (k == slist && !empty));
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
            FUZZ_EQ(threw, adds || (what && (!empty || (k >= hash && what != 2))));
        } else if (op == 14 && pick >= 0) {  // copies, made or assigned, take neither pool nor count;
                                             // a release below zero destroys nothing
            auto* copy = new (s.pools[2]) Elem(*s.recs[pick].e);
            *copy = *s.recs[pick].e;
            copy->id = -1;
            FUZZ_CHECK(copy->getPool() == s.pools[2] && copy->refCount() == 0);
            copy->down();
            FUZZ_EQ(copy->refCount(), -1);
            delete copy;
        } else if (op == 13) {  // a handle made, copied (through a copy moved on), moved (perhaps onto
                                // itself), swapped, reset to another's element, or cleared
            const unsigned x = in.below(4), y = in.below(4), how = in.below(6);
            const int old = s.onRef[x], now = how == 0 ? pick : how == 5 ? -1 : s.onRef[y];
            if (how == 2 || how == 3) {  // no count changes, but the old hold's end
                s.onRef[x] = now, s.onRef[y] = how == 3 ? old : x == y ? now : -1;
                if (how == 2 && x != y) hold(old, -1);
                how == 2 ? void(s.refs[x] = std::move(s.refs[y])) : swap(s.refs[x], s.refs[y]);
                return;
            }
            hold(now, 1), hold(old, -1), s.onRef[x] = now;
            if (how == 0) s.refs[x] = tovRef<Elem>(now < 0 ? nullptr : s.recs[now].e);
            if (how == 1) {  // through copies and moves, also to a handle on const objects, which counts too
                tovRef<Elem> copy(s.refs[y]), moved(std::move(copy));
                tovRef<const tovObject> any(moved), taken(std::move(any));
                FUZZ_CHECK(copy == nullptr && any == nullptr && taken == moved && !(taken != moved));
                FUZZ_EQ(taken < s.refs[x], std::less<const void*>()(taken.get(), s.refs[x].get()));
                s.refs[x] = moved;
            }
            if (how == 4) s.refs[x].reset(s.refs[y].get());
            if (how == 5) s.refs[x] = nullptr;
        }
    }

    // Each container goes before the later ones its elements' destructors may add to.
    ~ContainerModel() {
        for (int x = 0; x < 4; ++x) hold(s.onRef[x], -1), s.refs[x] = nullptr;
        for (int k = 0; k < kinds; ++k) destroy(k), s.c[k] = nullptr;
        for (std::size_t id = 0; id < s.recs.size(); ++id) letGo(static_cast<int>(id));
        FUZZ_CHECK(s.pending.empty());
        for (tovPool* p : s.pools) {
            FUZZ_EQ(p->umem(), 0u);
            delete p;
        }
    }
};

}  // namespace

FUZZ_MODEL(ContainerModel)
