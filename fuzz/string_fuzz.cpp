// Differential fuzzing of the strings: string tables, handles and named objects against
// maps from text to interned element, with the temporary area opened and discarded and
// the library reset at random. Texts come from the input, empty ones and bytes of 0x80
// and above included. Pool use is checked byte for byte: every table, element, text,
// node, handle and named object must sit in the pool the model expects.
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include <tovlib.h>

#include "fuzz_input.h"

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

std::size_t rounded(std::size_t n) { return (n + 7) / 8 * 8; }

struct Table {
    std::unordered_map<std::string, const char*> texts;  // an element's identity: its text
    std::size_t bytes() const {                          // the table and, per element, element, text and node
        std::size_t n = rounded(sizeof(tovStringTbl));
        for (const auto& t : texts)
            n += rounded(sizeof(tovStrElem)) + rounded(t.first.size() + 1) + rounded(sizeof(tovLinkObj));
        return n;
    }
};

// A handle, or a named object when `named` is set; either lives in the main pool, or
// with `inTempPool` in the temporary table's pool (a named object's name goes with it).
struct Obj {
    tovObject* o;
    bool named;
    std::string text;
    bool temp;  // interned in the temporary table
    bool inTempPool;
    const tovString& name() const {
        return named ? static_cast<tovNamedObj*>(o)->name() : *static_cast<tovString*>(o);
    }
};

struct Model {
    bool mainOpen = false;
    bool tempOpen = false;
    Table main, temp;
    std::vector<Obj> objs;
    std::vector<std::string> texts;  // texts met so far, to be met again
    std::vector<tovPool*> pools;     // pools made since the last reset, oldest first
    unsigned unknownPools = 0;       // pools made by tempInit for a table that exists
    tovPool* tempPool = nullptr;
};

// A text met before, or a new one: from a few letters, from any bytes but zero, or an
// earlier text with three bytes more that falls into the same bucket.
std::string makeText(FuzzInput& in, Model& m) {
    const unsigned sel = in.byte();
    if (sel < 128 && !m.texts.empty()) return m.texts[sel % m.texts.size()];
    std::string s(in.below(in.byte() & 1 ? 40 : 6), 'a');
    for (char& c : s) {
        const std::uint8_t b = in.byte();
        c = static_cast<char>(sel & 1 ? "ab\xe9\x80"[b % 4] : b ? b : 0xff);
    }
    if (sel >= 224 && !m.texts.empty()) {
        const std::string& t = m.texts[in.below(static_cast<unsigned>(m.texts.size()))];
        const std::uint32_t h = textHash(t);
        auto with = [h](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            return ((h * 257 + a) * 257 + b) * 257 + c;
        };
        std::uint32_t a = 1, b = 1, c = 1 + in.byte() % 127;  // 1 to 127: the same signed or not
        while (with(a, b, c) % 4191 != h % 4191 && a < 128)
            if (++c == 128) c = 1, b = b == 127 ? (++a, 1) : b + 1;
        s = t + static_cast<char>(a) + static_cast<char>(b) + static_cast<char>(c);
    }
    if (m.texts.size() < 64) m.texts.push_back(s);
    return s;
}

// The element for `text` in the model's table: the one learnt before, else `got`,
// which must then be new to both tables.
void intern(Model& m, bool temp, const std::string& text, const char* got) {
    Table& t = temp ? m.temp : m.main;
    auto it = t.texts.find(text);
    if (it != t.texts.end()) {
        FUZZ_CHECK(got == it->second);
        return;
    }
    for (const Table* other : {&m.main, &m.temp})
        for (const auto& e : other->texts) FUZZ_CHECK(e.second != got);
    FUZZ_CHECK(std::string(got) == text);
    t.texts.emplace(text, got);
}

// What a pool can tell of its recycled elements: the bytes, and their number per size.
struct Recycled {
    std::size_t bytes;
    std::map<std::size_t, long> count;
};

Recycled recycled(const tovPool& p) {
    Recycled r{p.rmem(), {}};
    tovLib::set(0);  // the report lists the recycled elements only with flag 0 set
    std::ostringstream os;
    p.print(os);
    std::istringstream lines(os.str());
    for (std::string line; std::getline(lines, line);) {
        std::size_t size;
        long n;
        if (std::sscanf(line.c_str(), "  Recycled Element: size=%zu Number=%ld", &size, &n) == 2)
            r.count[size] = n;
    }
    return r;
}

// A text found in its table leaves the pool as if a candidate element and its text had
// been taken from it and given back: each of their size classes then holds at least
// the recycled elements the two took, and nothing else has changed.
void checkHit(const tovPool& p, const Recycled& before, std::size_t used, std::size_t textSize) {
    Recycled expected = before;
    std::map<std::size_t, long> taken;
    ++taken[rounded(sizeof(tovStrElem))];
    ++taken[rounded(textSize)];
    for (const auto& [size, n] : taken) {
        long& count = expected.count[size];
        if (count < n) expected.bytes += size * static_cast<std::size_t>(n - count), count = n;
    }
    const Recycled after = recycled(p);
    FUZZ_EQ(p.umem(), used);
    FUZZ_EQ(after.bytes, expected.bytes);
    FUZZ_CHECK(after.count == expected.count);
}

void drop(Model& m, std::size_t i) {
    delete m.objs[i].o;
    m.objs[i] = m.objs.back();
    m.objs.pop_back();
}

void forgetTemp(Model& m) {  // what referred to the temporary table goes first
    for (std::size_t i = m.objs.size(); i-- > 0;)
        if (m.objs[i].temp || m.objs[i].inTempPool) drop(m, i);
    m.temp.texts.clear();
    m.tempOpen = false;
}

void reset(Model& m, bool deleteObjects) {  // the pools take the objects with them
    if (deleteObjects)
        while (!m.objs.empty()) drop(m, m.objs.size() - 1);
    m.objs.clear();
    m.main.texts.clear();
    m.temp.texts.clear();
    m.mainOpen = m.tempOpen = false;
    m.pools.clear();
    m.unknownPools = 0;
    m.tempPool = nullptr;
}

// The objects, and their handles as values: equal for one element, ordered by text.
void compare(const Obj& a, const Obj& b) {
    const bool same = a.temp == b.temp && a.text == b.text;
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
}

void check(const Model& m) {
    const tovStringTbl* main = tovStringTbl::table();
    const tovStringTbl* temp = tovStringTbl::tempTable();
    FUZZ_EQ(main != nullptr, m.mainOpen);
    FUZZ_EQ(temp != nullptr, m.tempOpen);
    if (main) FUZZ_EQ(main->count(), static_cast<int>(m.main.texts.size()));
    if (temp) FUZZ_EQ(temp->count(), static_cast<int>(m.temp.texts.size()));
    if (temp) FUZZ_CHECK(temp->getPool() == m.tempPool);
    FUZZ_EQ(tovPool::npools(), 1 + m.pools.size() + m.unknownPools);
    std::size_t used = m.mainOpen ? m.main.bytes() : 0, tempUsed = m.tempOpen ? m.temp.bytes() : 0;
    for (const Obj& o : m.objs)
        (o.inTempPool ? tempUsed : used) +=
            rounded(sizeof(tovString)) + (o.named ? rounded(sizeof(tovNamedObj)) : 0);
    FUZZ_EQ(tovPool::mainPool()->umem(), used);
    for (tovPool* p : m.pools) FUZZ_EQ(p->umem(), (m.tempOpen && p == m.tempPool ? tempUsed : 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    Model m;
    tovLib::reset();
    check(m);
    while (in.more()) {
        const unsigned op = in.below(15);
        const auto objs = static_cast<unsigned>(m.objs.size());
        const std::size_t pick = objs ? in.below(objs) : 0;
        switch (op) {
            case 0:
            case 1:
            case 2:
            case 3: {  // a handle: in the temporary table while it exists
                if (m.objs.size() >= 200) break;
                const bool null = in.below(16) == 0;
                const std::string text = null ? std::string() : makeText(in, m);
                auto* h = new (nullptr) tovString(null ? nullptr : text.c_str());
                m.mainOpen |= !m.tempOpen;
                intern(m, m.tempOpen, text, *h);
                m.objs.push_back({h, false, text, m.tempOpen, false});
                break;
            }
            case 4: {  // straight into a chosen table, then a handle on the element
                if (m.objs.size() >= 200) break;
                const bool temp = m.tempOpen && in.byte() & 1;
                const std::string text = makeText(in, m);
                const bool hit = (temp ? m.temp : m.main).texts.count(text);
                const tovPool& pool = temp ? *m.tempPool : *tovPool::mainPool();
                const Recycled before = recycled(pool);
                const std::size_t used = pool.umem();
                tovStringTbl* table =
                    temp ? tovStringTbl::establishTemp(nullptr) : tovStringTbl::establish(nullptr);
                tovStrElem& e = table->addStrElem(text.empty() && in.byte() & 1 ? nullptr : text.c_str());
                if (hit) checkHit(pool, before, used, text.size() + 1);
                m.mainOpen |= !temp;
                intern(m, temp, text, e);
                // The handle on its own, or the element's conversion: in the element's pool.
                const bool converted = in.byte() & 1;
                tovString* h = converted ? &static_cast<tovString&>(e) : new (nullptr) tovString(&e);
                m.objs.push_back({h, false, text, temp, converted && temp});
                FUZZ_CHECK(!h->isEqual(e) && !e.isEqual(*h));
                FUZZ_EQ(e.hash(4191), textHash(text) % 4191);
                break;
            }
            case 5: {  // a named object after a handle or another named object
                if (m.objs.empty() || m.objs.size() >= 200) break;
                const bool inTemp = m.tempOpen && in.byte() & 1;
                const Obj& from = m.objs[pick];
                m.objs.push_back({new (inTemp ? m.tempPool : nullptr) tovNamedObj(from.name()), true,
                                  from.text, from.temp, inTemp});
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
                FUZZ_CHECK(std::string(static_cast<char*>(a.name())) == a.text);
                FUZZ_CHECK(a.name().view() == a.text &&
                           a.name().view().data() == static_cast<char*>(a.name()));
                break;
            }
            case 8:
                if (!m.objs.empty()) drop(m, pick);
                break;
            case 9: {  // a new pool each time; the table is made only once
                tovLib::tempInit(nullptr);
                if (m.tempOpen) {
                    ++m.unknownPools;
                    break;
                }
                m.tempOpen = true;
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
                reset(m, in.byte() & 1);
                tovLib::reset();
                break;
            case 12:  // a new, empty main table
                reset(m, in.byte() & 1);
                tovLib::reInit(false);
                m.mainOpen = true;
                break;
            case 13:
                tovLib::init(false);
                m.mainOpen = true;
                break;
            case 14: {  // every element of a table, by a walk over it
                const bool temp = in.byte() & 1;
                const tovStringTbl* t = temp ? tovStringTbl::tempTable() : tovStringTbl::table();
                if (!t) break;
                const Table& model = temp ? m.temp : m.main;
                int n = 0;
                for (tovIterPtr it(*t); it; ++n) {
                    tovStrElem& e = static_cast<tovStrElem&>(it++);
                    auto found = model.texts.find(static_cast<char*>(e));
                    FUZZ_CHECK(found != model.texts.end() && found->second == static_cast<char*>(e));
                    FUZZ_CHECK(t->find(e) == &e);
                    FUZZ_EQ(e.refCount(), 1);  // the table's own: handles take none
                }
                FUZZ_EQ(n, static_cast<int>(model.texts.size()));
                break;
            }
        }
        check(m);
    }
    reset(m, false);  // what is left goes with the pools
    tovLib::reset();
    check(m);
    FUZZ_EQ(tovPool::mainPool()->amem(), 0u);
    return 0;
}
