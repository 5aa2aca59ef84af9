// Differential fuzzing of the strings: string tables, handles and named objects against
// a model of what each table holds, with the temporary area opened and discarded and
// the library reset at random. Texts come from the input, empty ones and bytes of 0x80
// and above included; runs of texts, in pairs of one full hash, grow a table past the
// size that makes its text index and may shrink it below again; some texts share one
// full hash, enough of them to make the index leave that hash for its keyed one. Tables also take
// elements straight in (duplicates, and elements of a client class that answer equality
// themselves), lose entries by key or all at once, and must pass verify() after every
// step. Pool use is checked byte for byte: every table, element, text, node, handle and
// named object must sit in the pool the model expects. The bank of flags follows a
// bitset through start-ups and resets. One operation sets the main pool aside, so that
// a call's objects, tables and texts come from the heap or need a block of a full pool.
#include <algorithm>
#include <bitset>
#include <climits>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <tovlib.h>

#include "model.h"

namespace {

std::uint32_t textHash(const std::string& s) {  // bytes taken as signed
    std::uint32_t h = 1;
    for (char c : s) h = h * 257u + static_cast<std::uint32_t>(static_cast<signed char>(c));
    return h;
}

int textOrder(const std::string& a, const std::string& b) {  // unsigned bytes
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// An element of a client's class: equal by its text like a plain one (a twin), or to
// nothing but itself (aloof). A table must ask it rather than compare texts.
struct Client : tovStrElem {
    Client(const char* s, bool twin) : tovStrElem(s), twin(twin) {}
    bool isEqual(const tovObject& o) const override { return twin ? tovStrElem::isEqual(o) : &o == this; }
    TOV_OBJECT_OPERATORS(Client)
    bool twin;
};

struct Tagged : tovString {  // a client's handle class
    using tovString::tovString;
};

enum Kind { plain, twin, aloof };

// An element of a table, known by the address of its text, which no other element
// shares; `o` is the element itself where the model was given it.
struct Entry {
    tovStrElem* o;
    const char* id;
    Kind kind;
};

struct Table {
    std::vector<Entry> entries;  // oldest first: a chain holds them newest first
    std::size_t bytes() const {  // the table and, per entry, element, text and node
        std::size_t n = rounded(sizeof(tovStringTbl));
        for (const Entry& e : entries)
            n += rounded(e.kind == plain ? sizeof(tovStrElem) : sizeof(Client)) +
                 rounded(std::strlen(e.id) + 1) + rounded(sizeof(tovLinkObj));
        return n;
    }
    // What find() or remove() of the element `key` of `text` meets first: the newest
    // entry that is `key` or, unless aloof, has its text.
    const Entry* answer(const char* key, const std::string& text) const {
        for (std::size_t i = entries.size(); i-- > 0;)
            if (entries[i].id == key ||
                (entries[i].kind != aloof && std::strcmp(entries[i].id, text.c_str()) == 0))
                return &entries[i];
        return nullptr;
    }
};

// A handle, or a named object when `named` is set; either lives in the main pool, or
// with `inTempPool` in the temporary table's pool (a named object's name goes with it).
struct Obj {
    tovObject* o;
    bool named;
    const char* id;  // its element's
    std::string text;
    bool temp;  // its element is in the temporary table
    bool inTempPool;
    const tovString& name() const {
        return named ? static_cast<tovNamedObj*>(o)->name() : *static_cast<tovString*>(o);
    }
};

struct Model {
    bool open[2] = {false, false};  // the main table, the temporary one
    Table tables[2];
    std::vector<Obj> objs;
    std::vector<std::string> texts;  // texts met so far, to be met again
    std::vector<tovPool*> pools;     // pools made since the last reset, oldest first
    unsigned unknownPools = 0;       // pools made by tempInit for a table that exists
    tovPool* tempPool = nullptr;
};

// Text `j` of 64 that share one full hash: six pairs of 8-letter blocks, the two of each
// pair adding the same to any hash, chosen by the bits of j (from crafted_texts.h).
std::string colliding(unsigned j) {
    static const char* const pairs[6][2] = {{"fzjtzbyt", "gwoouuhy"}, {"trcybqdd", "updvimce"},
                                            {"pmicohgv", "qlfgnkbx"}, {"lwyjvcte", "lvytbrpe"},
                                            {"talvihag", "nraoqgbf"}, {"yprqekze", "xwjgtvdm"}};
    std::string s;
    for (unsigned t = 0; t < 6; ++t) s += pairs[t][j >> t & 1];
    FUZZ_EQ(textHash(s), textHash(std::string(pairs[0][0]) + pairs[1][0] + pairs[2][0] + pairs[3][0] +
                                  pairs[4][0] + pairs[5][0]));
    return s;
}

// A text met before, or a new one: from a few letters, from any bytes but zero, or of
// the colliding ones.
std::string makeText(FuzzInput& in, Model& m) {
    const unsigned sel = in.byte();
    if (sel < 128 && !m.texts.empty()) return m.texts[sel % m.texts.size()];
    if (sel >= 240) return colliding(in.byte());
    std::string s(in.below(in.byte() & 1 ? 40 : 6), 'a');
    for (char& c : s) {
        const std::uint8_t b = in.byte();
        c = static_cast<char>(sel & 1 ? "ab\xe9\x80"[b % 4] : b ? b : 0xff);
    }
    if (m.texts.size() < 64) m.texts.push_back(s);
    return s;
}

// A table the model holds open, the main one made if there is none.
tovStringTbl& tableOf(Model& m, bool temp) {
    tovStringTbl& t =
        *FUZZ_FALLIBLE(temp ? tovStringTbl::establishTemp(nullptr) : tovStringTbl::establish(nullptr));
    m.open[temp] = true;
    return t;
}

// The element for `text` in a table: the one the model answers, else `got`, which must
// then be new to both tables.
void intern(Model& m, bool temp, const std::string& text, tovStrElem* o, const char* got) {
    Table& t = m.tables[temp];
    if (const Entry* e = t.answer(nullptr, text)) {
        FUZZ_CHECK(got == e->id);
        return;
    }
    for (const Table& other : m.tables)
        for (const Entry& e : other.entries) FUZZ_CHECK(e.id != got);
    FUZZ_CHECK(got == text);
    t.entries.push_back({o, got, plain});
}

// Interns `text` straight into a table. A text found leaves the pool as if a candidate
// element and its text had been taken from it and given back: both sizes are recycled
// then, taking them again touches no free segment, and at most they were added.
tovStrElem& addText(Model& m, bool temp, const std::string& text, bool null) {
    tovStringTbl& t = tableOf(m, temp);
    const bool hit = m.tables[temp].answer(nullptr, text);
    tovPool& pool = temp ? *m.tempPool : *tovPool::mainPool();
    const std::size_t used = pool.umem(), rmem = pool.rmem(), pair[] = {sizeof(tovStrElem), text.size() + 1};
    tovStrElem& e = FUZZ_FALLIBLE(t.addStrElem(null ? nullptr : text.c_str()));
    if (hit) {
        FUZZ_EQ(pool.umem(), used);
        FUZZ_CHECK(pool.rmem() <= rmem + rounded(pair[0]) + rounded(pair[1]));
        const std::size_t fmem = pool.fmem(), amem = pool.amem();
        void* taken[] = {pool.alloc(pair[0]), pool.alloc(pair[1])};
        FUZZ_CHECK(pool.fmem() == fmem && pool.amem() == amem);
        pool.free(taken[1], pair[1]);
        pool.free(taken[0], pair[0]);
    }
    intern(m, temp, text, &e, e);
    return e;
}

// Drops the objects `gone` picks.
template <class Gone>
void dropIf(Model& m, Gone gone) {
    for (std::size_t i = m.objs.size(); i-- > 0;) {
        if (!gone(m.objs[i])) continue;
        delete m.objs[i].o;
        m.objs[i] = m.objs.back();
        m.objs.pop_back();
    }
}

// Removes from a table what `key`, an element of `text`, meets first; what refers to
// that element goes before it.
void removeKey(Model& m, bool temp, tovStrElem& key, const std::string& text) {
    Table& t = m.tables[temp];
    const Entry* e = t.answer(key, text);
    if (e) dropIf(m, [id = e->id](const Obj& o) { return o.id == id; });
    FUZZ_EQ(tableOf(m, temp).remove(key), e != nullptr);
    if (e) t.entries.erase(t.entries.begin() + (e - t.entries.data()));
}

void forgetTemp(Model& m) {  // what referred to the temporary table goes first
    dropIf(m, [](const Obj& o) { return o.temp || o.inTempPool; });
    m.tables[1].entries.clear();
    m.open[1] = false;
}

void reset(Model& m, bool deleteObjects) {  // the pools take the objects with them
    if (deleteObjects) dropIf(m, [](const Obj&) { return true; });
    Model fresh;
    fresh.texts = std::move(m.texts);
    m = std::move(fresh);
}

// The objects, and their handles as values: equal for one element, ordered by text.
void compare(const Obj& a, const Obj& b) {
    const bool same = a.id == b.id;
    const bool equal = same || a.o == b.o;
    FUZZ_EQ(a.o->isEqual(*b.o), equal);
    FUZZ_EQ(b.o->isEqual(*a.o), equal);
    FUZZ_EQ(a.o->objcmp(*b.o), (equal ? 0 : textOrder(a.text, b.text)));
    FUZZ_EQ(b.o->objcmp(*a.o), (equal ? 0 : textOrder(b.text, a.text)));
    const tovString &x = a.name(), &y = b.name();
    FUZZ_EQ(x == y, same);
    FUZZ_EQ(x != y, !same);
    FUZZ_EQ(x < y, !same && textOrder(a.text, b.text) < 0);
    FUZZ_EQ(x >= y, same || textOrder(a.text, b.text) >= 0);
    if (same) FUZZ_EQ(std::hash<tovString>()(x), std::hash<tovString>()(y));
    tovString copy(x), &alias = copy;  // assigned, also to itself, an automatic handle stays one
    copy = y, copy = alias;
    FUZZ_CHECK(copy == y && !copy.getPool());
}

void check(const Model& m) {
    const tovStringTbl* tables[] = {tovStringTbl::table(), tovStringTbl::tempTable()};
    std::size_t used[2] = {};  // in the main pool, in the temporary one
    for (int i : {0, 1}) {
        FUZZ_EQ(tables[i] != nullptr, m.open[i]);
        if (!tables[i]) continue;
        FUZZ_EQ(tables[i]->count(), static_cast<int>(m.tables[i].entries.size()));
        FUZZ_CHECK(tables[i]->verify());
        used[i] = m.tables[i].bytes();
    }
    if (tables[1]) FUZZ_CHECK(tables[1]->getPool() == m.tempPool);
    FUZZ_EQ(tovPool::npools(), 1 + m.pools.size() + m.unknownPools);
    for (const Obj& o : m.objs)
        used[o.inTempPool] += rounded(sizeof(tovString)) + (o.named ? rounded(sizeof(tovNamedObj)) : 0);
    FUZZ_EQ(tovPool::mainPool()->umem(), used[0]);
    for (tovPool* p : m.pools) FUZZ_EQ(p->umem(), (m.open[1] && p == m.tempPool ? used[1] : 0));
}

// Hands out every free byte of `p` and one element larger than any arena, which leaves
// no room behind it: the pool's next carving needs a block from the heap.
tovPool* fill(tovPool* p) {
    if (p->fmem()) p->alloc(p->fmem());
    p->alloc(std::size_t{8} << 20);
    return p;
}

// The pools' reports, the tables and their counts: what a failed call must leave as it was.
std::string snapshot() {
    std::ostringstream os;
    tovPool::printAll(os);
    for (const tovStringTbl* t : {tovStringTbl::table(), tovStringTbl::tempTable()})
        os << t << ' ' << (t ? t->count() : -1) << ' ';
    return os.str();
}

// From a reset library, one call where the main pool is missing, so that what it makes
// comes from the heap, or is a pool of its own that is full, so that the call needs a
// block. A text present is found without a heap call. A failure leaves the pools, the
// tables and the heap as they were. What the call made goes within the step, and the
// tables on the heap with their elements, which no pool takes with it.
void aside(Model& m, FuzzInput& in) {
    reset(m, true);
    tovLib::reset();
    const unsigned what = in.below(13);
    const bool none = what < 9 || what == 12;
    const bool present = (what == 3 || what == 4) && in.byte() & 1;
    const std::string text = makeText(in, m);
    struct Restore {
        tovPool* main = tovPool::mainPool();
        tovObject* made[2] = {};
        ~Restore() {
            for (tovObject* o : made) delete o;
            for (const tovStringTbl* t : {tovStringTbl::table(), tovStringTbl::tempTable()}) {
                if (!t || t->getPool()) continue;
                std::vector<tovObject*> elements;
                for (tovIterPtr it(t); it; it++) elements.push_back(&it());
                delete t;
                for (tovObject* e : elements) delete e;
            }
            tovPool::setMainPool(main);
            main->setReleaseFlag(true);
            tovLib::reset();  // the pools made here go
        }
    } restore;
    restore.main->setReleaseFlag(false);  // set aside, it is a pool like any other
    auto* doomed = new tovPool;
    tovPool::setMainPool(doomed);
    tovPool::setMainPool(nullptr);  // which cannot clear it
    FUZZ_CHECK(tovPool::mainPool() == doomed);
    if (none) delete doomed;  // and with it the main pool
    FUZZ_CHECK(tovPool::mainPool() == (none ? nullptr : doomed));
    const bool held = what == 5 || what == 6 || what == 9 || what >= 11;  // an element interned first
    tovStringTbl* table = held || what == 3 || what == 4 ? tovStringTbl::establish(nullptr) : nullptr;
    tovStrElem* old = present || held ? &table->addStrElem(text.c_str()) : nullptr;
    if (what == 6) restore.made[1] = new (nullptr) tovString(old);
    if (what == 9) {  // a hit: its candidate gets the recycled element, but its text needs a block
        void* spare = doomed->alloc(sizeof(tovStrElem));
        fill(doomed)->free(spare, sizeof(tovStrElem));
    }
    tovPool* full = what == 10 ? fill(new tovPool) : nullptr;
    const std::string before = snapshot();
    const long live = heapFault::live();
    const std::size_t used = tovPool::upools();
    if (what >= 11) {  // a temporary table without a pool of its own, in the main pool or on the heap
        tovStringTbl::establishTemp(nullptr);
        if (what == 11) tovString(text.c_str());  // an element, given back with the table
    }
    if (what == 8) new (new tovPool) tovObject;  // the reset within reInit takes it, even if init fails
    try {
        const std::size_t calls =
            FUZZ_FALLIBLE((what == 0                ? void(restore.made[0] = new (nullptr) tovObject)
                           : what == 1              ? void(tovStringTbl::establish(nullptr))
                           : what == 2              ? void(tovStringTbl::establishTemp(nullptr))
                           : what == 3 || what == 9 ? void(table->addStrElem(text.c_str()))
                           : what == 4              ? void(tovString(text.c_str()))
                           : what == 5              ? void(restore.made[0] = &static_cast<tovString&>(*old))
                           : what == 6              ? void(restore.made[0] = new (nullptr)
                                                  tovNamedObj(*static_cast<tovString*>(restore.made[1])))
                           : what == 7              ? tovLib::init(false)
                           : what == 8              ? tovLib::reInit(false)
                           : what == 10             ? tovLib::tempInit(full)
                                                    : tovLib::tempReset(),
                           heapFault::calls()));
        FUZZ_CHECK(!present || calls == 0);
        if (what >= 11)  // the table goes, and only it; one on the heap leaves nothing there
            FUZZ_CHECK(!tovStringTbl::tempTable() && table->count() == 1 && tovPool::upools() == used &&
                       (!none || heapFault::live() == live));
    } catch (const std::bad_alloc&) {
        FUZZ_CHECK(!present && snapshot() == before);
        FUZZ_EQ(heapFault::live(), live);
        throw;
    }
}

// Each input from a reset library. No cache of released memory: every block is a heap
// call. A step a fault stops forgets the texts it met.
struct StringModel {
    static constexpr unsigned ops = 21;
    Model m;
    std::bitset<200> flags;

    StringModel() {
        tovLib::setPoolCacheBound(0);
        tovLib::reset();
        tovLib::clrAll();
        check();
    }

    void check() {
        ::check(m);
        for (int i = -3; i < 203; ++i) FUZZ_EQ(tovLib::get(i), i >= 0 && i < 200 && flags[i]);
        FUZZ_CHECK(!tovLib::get(INT_MIN) && !tovLib::get(INT_MAX));
    }

    void step(unsigned op, FuzzInput& in) {
        const std::size_t texts = m.texts.size();
        try {
            operation(op, in);
        } catch (const std::bad_alloc&) {
            m.texts.resize(texts);
            throw;
        }
    }

    void operation(unsigned op, FuzzInput& in) {
        const auto objs = static_cast<unsigned>(m.objs.size());
        const std::size_t pick = objs ? in.below(objs) : 0;
        auto pickTemp = [&] { return m.open[1] && in.byte() & 1; };
        switch (op) {
            case 0:
            case 1:
            case 2:
            case 3: {  // a handle, of a client's class or not: in the temporary table while it exists
                if (m.objs.size() >= 200) break;
                const unsigned sel = in.byte();
                const std::string text = sel % 16 == 0 ? std::string() : makeText(in, m);
                const char* s = sel % 16 == 0 ? nullptr : text.c_str();
                tovString* h = FUZZ_FALLIBLE(sel & 16 ? new (nullptr) Tagged(s) : new (nullptr) tovString(s));
                m.open[0] |= !m.open[1];
                intern(m, m.open[1], text, nullptr, *h);
                m.objs.push_back({h, false, *h, text, m.open[1], false});
                break;
            }
            case 4: {  // straight into a chosen table, then a handle on the element
                if (m.objs.size() >= 200) break;
                const bool temp = pickTemp();
                const std::string text = makeText(in, m);
                tovStrElem& e = addText(m, temp, text, text.empty() && in.byte() & 1);
                // The handle on its own, or the element's conversion: in the element's pool.
                const bool converted = in.byte() & 1;
                tovString* h =
                    FUZZ_FALLIBLE(converted ? &static_cast<tovString&>(e) : new (nullptr) tovString(&e));
                m.objs.push_back({h, false, e, text, temp, converted && temp});
                // Any handle or named object is unequal to an element, and ordered by address;
                // the element itself is in no order before or after it.
                const tovObject& x = *m.objs[in.below(static_cast<unsigned>(m.objs.size()))].o;
                const int byAddress = std::less<const void*>()(&e, &x) ? -1 : 1;
                FUZZ_CHECK(!x.isEqual(e) && !e.isEqual(x) && e.objcmp(x) == byAddress &&
                           x.objcmp(e) == -byAddress && e.objcmp(e) == 0);
                FUZZ_EQ(e.hash(4191), textHash(text) % 4191);
                break;
            }
            case 5: {  // a named object after a handle or another named object
                if (m.objs.empty() || m.objs.size() >= 200) break;
                const bool inTemp = pickTemp();
                const Obj& from = m.objs[pick];
                auto* named = FUZZ_FALLIBLE(new (inTemp ? m.tempPool : nullptr) tovNamedObj(from.name()));
                m.objs.push_back({named, true, from.id, from.text, from.temp, inTemp});
                break;
            }
            case 6:
            case 7: {
                if (m.objs.empty()) break;
                const Obj& a = m.objs[pick];
                compare(a, m.objs[in.below(objs)]);
                const unsigned sel = in.below(8);  // no buckets, all 2^32 - 1 of them, or some
                const int n = sel == 0 ? 0 : sel == 1 ? -1 : static_cast<int>(1 + in.below(65535));
                FUZZ_EQ(a.o->hash(n), (n ? textHash(a.text) % static_cast<unsigned>(n) : 0u));
                FUZZ_CHECK(a.name().view() == a.text &&
                           a.name().view().data() == static_cast<char*>(a.name()));
                break;
            }
            case 8:
                if (!m.objs.empty())
                    dropIf(m, [victim = m.objs[pick].o](const Obj& o) { return o.o == victim; });
                break;
            case 9: {  // a new pool each time; the table is made only once
                FUZZ_FALLIBLE(tovLib::tempInit(nullptr));
                if (m.open[1]) {
                    ++m.unknownPools;
                    break;
                }
                m.open[1] = true;
                m.tempPool = tovStringTbl::tempTable()->getPool();
                // Pools other than the main one end only at a reset, so numbers run 1, 2, ...
                FUZZ_EQ(m.tempPool->getNum(), static_cast<int>(tovPool::npools()) - 1);
                m.pools.push_back(m.tempPool);
                break;
            }
            case 10:  // the pool stays, emptied
                forgetTemp(m);
                tovLib::tempReset();
                break;
            case 11:
            case 12: {  // a reset, or a new, empty main table; of the two only reInit clears the flags
                const unsigned how = in.byte();
                reset(m, how & 1);
                op == 11 ? tovLib::reset() : FUZZ_FALLIBLE(tovLib::reInit(how & 2));  // fails as reset
                m.open[0] = op == 12;
                if (op == 12 && how & 2) flags.reset();
                break;
            }
            case 13: {
                const bool clear = in.byte() & 1;
                FUZZ_FALLIBLE(tovLib::init(clear));
                m.open[0] = true;
                if (clear) flags.reset();
                break;
            }
            case 20: {  // a flag set or cleared, or all; indexes beyond the bank's are ignored
                const int i = static_cast<int>(in.below(206)) - 3, how = static_cast<int>(in.below(3));
                how == 0 ? tovLib::set(i) : how == 1 ? tovLib::clr(i) : tovLib::clrAll();
                if (how == 2) flags.reset();
                if (how < 2 && i >= 0 && i < 200) flags[i] = how == 0;
                break;
            }
            case 14: {  // a walk over a table: what find() meets first for each entry, and the
                        // order and equality of neighbours (equal texts share a bucket)
                const bool temp = in.byte() & 1;
                const tovStringTbl* t = temp ? tovStringTbl::tempTable() : tovStringTbl::table();
                if (!t) break;
                const tovStrElem* prev = nullptr;
                int n = 0;
                for (tovIterPtr it(*t); it; ++n) {
                    tovStrElem& e = static_cast<tovStrElem&>(it++);
                    const Entry* first = m.tables[temp].answer(e, std::string(e.view()));
                    FUZZ_CHECK(first &&
                               static_cast<const tovStrElem*>(t->find(e))->view().data() == first->id);
                    FUZZ_EQ(e.refCount(), 1);  // the table's own: handles take none
                    if (prev) {
                        const auto* client = dynamic_cast<const Client*>(&e);
                        FUZZ_EQ(e.isEqual(*prev), (!client || client->twin) && e.view() == prev->view());
                        FUZZ_EQ(e.objcmp(*prev), textOrder(std::string(e.view()), std::string(prev->view())));
                    }
                    prev = &e;
                }
                FUZZ_EQ(n, static_cast<int>(m.tables[temp].entries.size()));
                break;
            }
            case 15:
            case 16: {  // into a table straight, a duplicate, a twin or an aloof element; or out of
                        // it, by an entry or by an element of an entry's text or of any text
                const bool temp = pickTemp();
                const auto n = static_cast<unsigned>(m.tables[temp].entries.size());
                const Entry* e = n && in.byte() & 1 ? &m.tables[temp].entries[in.below(n)] : nullptr;
                const std::string text = e ? e->id : makeText(in, m);
                tovStringTbl& t = tableOf(m, temp);
                if (op == 16) {
                    tovStrElem fresh(text.c_str());
                    removeKey(m, temp, e && e->o && in.byte() & 1 ? *e->o : fresh, text);
                    break;
                }
                const auto kind = static_cast<Kind>(in.below(3));
                auto* added =
                    FUZZ_FALLIBLE(kind == plain ? new (t.getPool()) tovStrElem(text.c_str())
                                                : new (t.getPool()) Client(text.c_str(), kind == twin));
                try {
                    FUZZ_FALLIBLE(t.add(*added));
                } catch (const std::bad_alloc&) {
                    delete added;
                    throw;
                }
                m.tables[temp].entries.push_back({added, *added, kind});
                break;
            }
            case 17: {  // a run of texts interned, then its first ones removed
                const bool temp = pickTemp();
                const std::string stem = makeText(in, m);
                const unsigned n = in.byte() & 127, removed = in.below(n + 1), crafted = in.byte();
                auto text = [&stem, crafted](unsigned i) {  // in pairs of one hash, or all of one
                    return crafted < 64 ? colliding(crafted + i)
                                        : (i & 1 ? "tkflfk" : "vdnjdl") + stem + std::to_string(i / 2);
                };
                for (unsigned i = 0; i < n; ++i) addText(m, temp, text(i), false);
                for (unsigned i = 0; i < removed; ++i) {
                    tovStrElem key(text(i).c_str());
                    removeKey(m, temp, key, text(i));
                }
                break;
            }
            case 19:
                aside(m, in);
                break;
            case 18: {  // emptied
                const bool temp = pickTemp();
                dropIf(m, [temp](const Obj& o) { return o.temp == temp; });
                m.tables[temp].entries.clear();
                tableOf(m, temp).removeAll();
                break;
            }
        }
    }

    ~StringModel() {
        reset(m, false);  // what is left goes with the pools
        tovLib::reset();
        check();
        FUZZ_EQ(tovPool::mainPool()->amem(), 0u);
    }
};

}  // namespace

FUZZ_MODEL(StringModel)
