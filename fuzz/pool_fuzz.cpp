// Differential fuzzing of tovPool: random alloc/free/release/destroy sequences on a few
// pools, each step checked against a model that predicts every address handed out and
// every counter. The model learns a block's address when the pool makes the block: when
// it predicts that no free segment fits, the address returned must be a new block's
// start, which every later prediction then checks. Now and then the harness damages
// the pool's own records, as a client's stray write or second free() would, and
// verify() must see it. Released memory waits in the library's cache for any pool's
// next block, under bounds the harness changes: the cache never holds more than its
// bound, holds what a pool gave back when unbounded, and a block never overlaps another
// pool's.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <new>
#include <sstream>
#include <vector>

#include <tovlib.h>

#include "model.h"

namespace {

constexpr std::size_t unit = 8;
constexpr std::size_t smallestBlock = 8000;
constexpr std::size_t header = sizeof(void*) + sizeof(std::size_t);  // a free segment's
constexpr std::size_t classes = tovPool::sizeClasses;
constexpr int poolCount = 3;
constexpr std::size_t maxLive = 1500;

std::uintptr_t addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

struct Element {  // handed out: r rounded bytes at p, all set to fill
    unsigned char* p;
    std::size_t r;
    unsigned char fill;
};

struct Model {
    tovPool* pool = nullptr;
    bool flag = true;
    std::vector<std::pair<std::uintptr_t, std::size_t>> blocks;  // oldest first
    std::map<std::uintptr_t, std::size_t> free;                  // address -> size
    std::vector<std::uintptr_t> recycled[classes];               // stacks, head at back
    std::size_t amem = 0, fmem = 0, rmem = 0, umem = 0;
    std::vector<Element> live;
};

Model models[poolCount];
unsigned char serial;

// The model's pools scribble over their memory when deleted, so that a read of a pool
// after its destruction (releaseAll following a deleted pool's link) goes astray.
struct Scribbled : tovPool {
    static void* operator new(std::size_t n) { return ::operator new(n); }
    static void operator delete(void* p, std::size_t n) {
        std::memset(p, 0xA5, n);
        ::operator delete(p);
    }
};

// Pools in construction order, the main pool first: the registry's chain reversed.
std::vector<tovPool*> chain;

void makePool(Model& m) {
    const int expected = chain.empty() ? 0 : chain.back()->getNum() + 1;
    m = Model();
    m.pool = new Scribbled;
    chain.push_back(m.pool);
    FUZZ_EQ(m.pool->getNum(), expected);
    FUZZ_CHECK(m.pool->releaseFlag());
}

void forget(Model& m) {  // the pool was destroyed: so was everything carved from it
    chain.erase(std::find(chain.begin(), chain.end(), m.pool));
    m.pool = nullptr;
}

// Takes r bytes from the front of the free segment `it`; the remainder stays free.
std::uintptr_t take(Model& m, std::map<std::uintptr_t, std::size_t>::iterator it, std::size_t r) {
    const std::uintptr_t a = it->first;
    const std::size_t size = it->second;
    m.free.erase(it);
    if (size > r) m.free.emplace(a + r, size - r);
    m.fmem -= r;
    return a;
}

void doAlloc(Model& m, std::size_t size) {
    const std::size_t r = rounded(size);
    const unsigned blocksBefore = m.pool->ablocks();
    const std::size_t held = tovLib::poolCacheHeld();
    unsigned char* p;
    try {
        p = static_cast<unsigned char*>(FUZZ_FALLIBLE(m.pool->alloc(size)));
    } catch (const std::bad_alloc&) {  // the cache given back to the heap mends one failure
        FUZZ_CHECK(fuzzModel::faultPersists || held == 0);
        FUZZ_EQ(tovLib::poolCacheHeld(), 0u);
        throw;
    }
    const std::uintptr_t a = addr(p);
    std::uintptr_t expected = 0;
    auto fit = m.free.begin();  // first fit, when no recycled element of the class waits
    if (r / unit < classes && !m.recycled[r / unit].empty()) {
        expected = m.recycled[r / unit].back();
        m.recycled[r / unit].pop_back();
        m.rmem -= r;
    } else {
        auto fits = [&](std::size_t size) { return size == r || (size > r && size - r >= header); };
        while (fit != m.free.end() && !fits(fit->second)) ++fit;
        if (fit != m.free.end()) expected = take(m, fit, r);
    }
    if (expected) {  // neither a recycled element nor a free segment costs a heap call
        FUZZ_EQ(m.pool->ablocks(), blocksBefore);
        FUZZ_EQ(fuzzModel::heapCalls, 0u);
    } else {
        // A new block, taken at its start: it must not overlap any block the pool holds.
        std::size_t b = std::max(r, smallestBlock);
        if (b != r && b - r < header) b = r;
        FUZZ_EQ(m.pool->ablocks(), blocksBefore + 1);
        for (const Model& each : models)
            for (const auto& blk : each.blocks) FUZZ_CHECK(a + b <= blk.first || blk.first + blk.second <= a);
        m.blocks.emplace_back(a, b);
        m.amem += b;
        m.fmem += b;
        expected = take(m, m.free.emplace(a, b).first, r);
    }
    FUZZ_EQ(a, expected);
    m.umem += r;
    // A pattern over the whole rounded size: anything the pool writes into a handed-out
    // element shows up when it is given back.
    std::memset(p, ++serial, r);
    m.live.push_back({p, r, serial});
}

// Left out of the coverage feedback: a byte loop that only ever matches says nothing
// new, and comparing would cost the fuzzer more than the check itself.
FUZZ_NO_COVERAGE bool intact(const Element& e) {
    for (std::size_t i = 0; i < e.r; ++i)
        if (e.p[i] != e.fill) return false;
    return true;
}

void doFree(Model& m, std::size_t index, unsigned shrink) {
    const Element e = m.live[index];
    m.live[index] = m.live.back();
    m.live.pop_back();
    FUZZ_CHECK(intact(e));
    // Any size that rounds to the same class will do; 8 also takes 0.
    m.pool->free(e.p, e.r - shrink % (e.r == unit ? 9 : 8));
    m.umem -= e.r;
    if (e.r / unit < classes) {
        m.recycled[e.r / unit].push_back(addr(e.p));
        m.rmem += e.r;
        return;
    }
    m.fmem += e.r;
    auto [it, fresh] = m.free.emplace(addr(e.p), e.r);
    FUZZ_CHECK(fresh);
    if (it != m.free.begin()) {
        auto pred = std::prev(it);
        if (pred->first + pred->second == it->first) {
            pred->second += e.r;
            m.free.erase(it);
            it = pred;
        }
    }
    auto succ = std::next(it);
    if (succ != m.free.end() && it->first + it->second == succ->first) {
        it->second += succ->second;
        m.free.erase(succ);
    }
}

// What the cache holds after the pool `m` gave its blocks back: at least those blocks
// when it is unbounded, nothing when its bound is 0.
void gaveBack(const Model& m, std::size_t heldBefore) {
    const std::size_t held = tovLib::poolCacheHeld(), bound = tovLib::poolCacheBound();
    if (bound == std::numeric_limits<std::size_t>::max()) FUZZ_CHECK(held >= heldBefore + m.amem);
    if (bound == 0) FUZZ_EQ(held, 0u);
}

// Everything carved from the pool ends; number, flag and chain stay.
void release(Model& m) {
    const std::size_t held = tovLib::poolCacheHeld();
    m.pool->release();
    gaveBack(m, held);
    Model emptied;
    emptied.pool = m.pool;
    emptied.flag = m.flag;
    m = emptied;
}

// A client's write over the pool's own records, which verify() must see: a recycled
// element's link or a free segment's link cut short or sent outside the pool, a free
// segment's or a block record's size off by 8. The write is undone. A second free() of
// a recycled element or of a large free segment makes its list loop, which only
// release() mends, as it trusts nothing it would have to walk. Memcheck would
// (rightly) report the writes themselves.
void corrupt([[maybe_unused]] Model& m, [[maybe_unused]] FuzzInput& in) {
#ifndef TOVLIB_MEMCHECK
    // A refused request writes the header of the region the pool cuts small elements
    // from, as every operation that walks the free list does: then every free segment
    // the model knows has one to damage.
    try {
        m.pool->alloc(std::numeric_limits<std::size_t>::max());
    } catch (const std::bad_alloc&) {
    }
    static void* stray[3];
    std::vector<std::pair<std::uintptr_t, bool>> words;  // an address, and whether it holds a size
    for (const auto& list : m.recycled)
        for (std::uintptr_t a : list) words.emplace_back(a, false);
    for (const auto& s : m.free)
        words.emplace_back(s.first, false), words.emplace_back(s.first + sizeof(void*), true);
    for (const auto& b : m.blocks) words.emplace_back(b.first + b.second + 2 * sizeof(void*), true);
    if (words.empty()) return;
    const auto [at, isSize] = words[in.below(static_cast<unsigned>(words.size()))];
    auto* w = reinterpret_cast<std::uintptr_t*>(at);
    const std::uintptr_t was = *w;
    *w = isSize ? was + 8 - in.below(2) * 16 : was ? 0 : addr(stray);
    FUZZ_CHECK(!m.pool->verify());
    *w = was;
    std::pair<std::uintptr_t, std::size_t> twice{};
    for (std::size_t i = 1; i < classes; ++i)
        if (!m.recycled[i].empty()) twice = {m.recycled[i].back(), 8 * i};
    for (const auto& s : m.free)
        if (s.second >= 8 * classes && (!twice.first || in.below(2))) twice = s;
    if (!twice.first || in.below(4)) return;
    m.pool->free(reinterpret_cast<void*>(twice.first), twice.second);
    FUZZ_CHECK(!m.pool->verify());
    release(m);
#endif
}

// The counters, the list walks, and the pool's own report (flag 0 set) of its blocks,
// free segments and recycled elements, against the model.
void check(const Model& m) {
    const tovPool& p = *m.pool;
    FUZZ_CHECK(p.verify());
    FUZZ_EQ(p.ablocks(), m.blocks.size());
    FUZZ_EQ(p.fblocks(), m.free.size());
    std::size_t recycled = 0;
    for (const auto& list : m.recycled) recycled += list.size();
    FUZZ_EQ(p.rblocks(), recycled);

    std::ostringstream got, want;
    want << "Pool " << p.getNum() << " @" << static_cast<const void*>(&p) << " Alloc=" << m.amem
         << " Used=" << m.umem << " FreeB=" << m.fmem << " FreeR=" << m.rmem << "\n";
    p.print(got);
    want << "  Allocated blocks: ";
    for (auto it = m.blocks.rbegin(); it != m.blocks.rend(); ++it) want << " (" << it->second << ")";
    want << "\n  Free blocks: ";
    for (const auto& s : m.free)
        want << " @" << reinterpret_cast<const void*>(s.first) << "(" << s.second << ")";
    want << "\n";
    for (std::size_t i = 0; i < classes; ++i)
        if (const std::size_t n = m.recycled[i].size())
            want << "  Recycled Element: size=" << 8 * i << " Number=" << n << " Bytes=" << n * 8 * i << "\n";
    // The block records' addresses are the pool's own; keep only their sizes.
    std::string text = got.str();
    for (std::size_t at; (at = text.find(" @", text.find("Allocated"))) < text.find("Free blocks");)
        text.erase(at + 1, text.find('(', at) - at - 1);
    if (text != want.str()) {
        std::fprintf(stderr, "report:\n%sexpected:\n%s", text.c_str(), want.str().c_str());
        FUZZ_CHECK(text == want.str());
    }
}

// The totals, and printAll's one-line reports (flag 0 clear), newest pool first, in
// decimal on a hexadecimal stream, which stays hexadecimal.
void checkRegistry() {
    FUZZ_EQ(tovPool::npools(), chain.size());
    std::size_t a = 0, u = 0, f = 0, r = 0;
    std::ostringstream got, want;
    want << "*** List of all Pools ***\n";
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {  // the main pool as it is
        std::size_t pa = (*it)->amem(), pu = (*it)->umem(), pf = (*it)->fmem(), pr = (*it)->rmem();
        for (const Model& m : models)
            if (m.pool == *it) pa = m.amem, pu = m.umem, pf = m.fmem, pr = m.rmem;
        want << "  Pool " << (*it)->getNum() << " @" << static_cast<const void*>(*it) << " Alloc=" << pa
             << " Used=" << pu << " FreeB=" << pf << " FreeR=" << pr << "\n";
        a += pa, u += pu, f += pf, r += pr;
    }
    want << "*** Total: Alloc=" << a << " Used=" << u << " Free=" << f << " Recycled=" << r << " ***\n";
    FUZZ_EQ(tovPool::apools(), a);
    FUZZ_EQ(tovPool::upools(), u);
    FUZZ_CHECK(tovLib::poolCacheHeld() <= tovLib::poolCacheBound());
    tovLib::clr(0);
    got << std::hex;
    tovPool::printAll(got);
    tovLib::set(0);
    FUZZ_CHECK(got.str() == want.str());
    FUZZ_CHECK((got.flags() & std::ios::basefield) == std::ios::hex);
}

// Each input from an empty cache, with three new pools; the step's pool is checked after it.
struct PoolModel {
    static constexpr unsigned ops = 19;
    Model* m = models;

    PoolModel() {
        tovLib::set(0);
        tovLib::setPoolCacheBound(std::size_t{64} << 20);
        tovLib::trimPoolCache();
        chain.assign(1, tovPool::mainPool());
        FUZZ_EQ(tovPool::npools(), 1u);
        for (Model& each : models) makePool(each);
    }

    void check() {
        ::check(*m);
        checkRegistry();
    }

    void step(unsigned op, FuzzInput& in) {
        Model& m = *(this->m = &models[in.below(poolCount)]);
        const bool room = m.live.size() < maxLive;
        if (op < 4 && room) {  // small, around the recycling limit
            doAlloc(m, in.below(530));
        } else if (op == 4 && room) {  // up to a block, around the smallest block, and beyond
            doAlloc(m, in.below(smallestBlock + 200));
        } else if (op == 5 && room) {
            doAlloc(m, smallestBlock - 50 + in.below(in.byte() & 1 ? 80 : 20000));
        } else if (op >= 6 && op <= 10 && !m.live.empty()) {
            doFree(m, in.below(static_cast<unsigned>(m.live.size())), in.byte());
        } else if (op == 11) {
            release(m);
        } else if (op == 12) {  // destroyed and replaced by a new pool, numbered one above the newest
            const std::size_t held = tovLib::poolCacheHeld();
            delete m.pool;
            gaveBack(m, held);
            forget(m);
            makePool(m);
        } else if (op == 13) {
            m.pool->setReleaseFlag(m.flag = !m.flag);
            FUZZ_EQ(m.pool->releaseFlag(), m.flag);
        } else if (op == 14) {  // flagged pools are destroyed, the others left as they are; the
                                // main pool is emptied and stays
            FUZZ_FALLIBLE(tovPool::mainPool()->alloc(in.below(600)));
            tovPool::releaseAll();
            FUZZ_EQ(tovPool::mainPool()->amem(), 0u);
            for (Model& each : models)
                if (each.flag) forget(each);
            checkRegistry();
            for (Model& each : models)
                if (!each.pool) makePool(each);
        } else if (op == 15) {  // a size whose rounding wraps, or that leaves no room for the
                                // block's record and the heap's header: refused, the pool unchanged
            const std::size_t below = in.below(40);
            bool thrown = false;
            try {
                FUZZ_FALLIBLE(m.pool->alloc(std::numeric_limits<std::size_t>::max() - below));
            } catch (const std::bad_alloc&) {
                thrown = true;
            }
            // Within 7 + three words of the top (rounded up), without asking the heap.
            FUZZ_CHECK(thrown && (fuzzModel::heapCalls == 0 || below > 7 + (3 * sizeof(void*) + 7) / 8 * 8));
        } else if (op == 16) {
            corrupt(m, in);
        } else if (op == 18) {  // a burst of one size: blocks fill and leave leftovers, and
                                // arenas grow past the size the heap maps on their own
            const unsigned kind = in.below(3);
            const std::size_t n = kind == 0   ? in.below(530)
                                  : kind == 1 ? in.below(24)
                                              : smallestBlock - 50 + in.below(3000);
            for (unsigned k = in.below(400); k > 0 && m.live.size() < maxLive; --k) {
                doAlloc(m, n);
                // Now and then a free in the middle: the region a burst cuts from meets
                // a merge or a recycled element before check() reads the free list.
                if (in.below(32) == 31) doFree(m, in.below(static_cast<unsigned>(m.live.size())), in.byte());
            }
        } else if (op == 17) {  // a bound of nothing, one arena, a few, the default, or none; a trim
            const std::size_t bounds[] = {0, 9000, 1 << 20, std::size_t{64} << 20,
                                          std::numeric_limits<std::size_t>::max()};
            if (const unsigned choice = in.below(6); choice < 5) {
                tovLib::setPoolCacheBound(bounds[choice]);
            } else {
                tovLib::trimPoolCache();
                FUZZ_EQ(tovLib::poolCacheHeld(), 0u);
            }
        }
    }

    ~PoolModel() {
        for (Model& each : models) {
            for (std::size_t i = each.live.size(); i-- > 0;) doFree(each, i, i);
            ::check(each);
            FUZZ_EQ(each.umem, 0u);
            delete each.pool;
            forget(each);
        }
        FUZZ_EQ(tovPool::npools(), 1u);
    }
};

}  // namespace

FUZZ_MODEL(PoolModel)
