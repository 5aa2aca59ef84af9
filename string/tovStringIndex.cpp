// tovStringIndex: open addressing over the texts' hashes, beside a table's chains.
#include "string/tovStringIndex.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <new>
#include <typeinfo>

#if defined(__linux__)
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>
#endif

#include "string/tovStringTbl.h"
#include "string/tovText.h"

namespace {

constexpr unsigned int buckets = 4191;
constexpr std::size_t firstCapacity = 256;
constexpr std::size_t quadrupleBelow = 16384;
// While the index files texts by their string hash, no entry lies farther than this
// from its home, nor passes more than maxSameTag other texts of its tag on the way.
// Ordinary texts stay well inside both (4,000,000 identifiers: 46 slots and 5 texts at
// most); crafted ones reach them within a few hundred insertions. Should ordinary texts
// cross them after all, the index only gets slower by the keyed hash.
constexpr std::size_t maxDistance = 128;
constexpr unsigned int maxSameTag = 16;

struct Key {
    std::uint64_t k0, k1;
};

// GCOVR_EXCL_START: the weak key's mix, for systems with no random source
std::uint64_t splitmix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15u;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
    return x ^ (x >> 31);
}
// GCOVR_EXCL_STOP

// The key of the keyed text hash: 16 bytes from getrandom(), else from /dev/urandom.
// Where both fail (no such call, no such file, a sandbox that refuses them), the key is
// mixed from addresses, which vary with address-space layout randomisation, and the
// clocks: a weak key, which someone who can guess the process's layout and start time
// can reproduce, and then steer the keyed hash as the string hash.
Key drawKey() {
    unsigned char bytes[16];
    std::size_t got = 0;
#if defined(__linux__)
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0)  // GCOVR_EXCL_BR_LINE: getrandom() answers where tested
            got += static_cast<std::size_t>(n);
        else if (errno != EINTR)  // GCOVR_EXCL_LINE: getrandom() answers where tested
            break;                // GCOVR_EXCL_LINE
    }
    // GCOVR_EXCL_START: the fallbacks, for systems without getrandom()
    if (got < sizeof bytes) {
        got = 0;
        const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        while (fd >= 0 && got < sizeof bytes) {
            const ssize_t n = ::read(fd, bytes + got, sizeof bytes - got);
            if (n > 0)
                got += static_cast<std::size_t>(n);
            else if (n == 0 || errno != EINTR)
                break;
        }
        if (fd >= 0) ::close(fd);
    }
#endif
    Key key{};
    if (got == sizeof bytes) {
        std::memcpy(&key, bytes, sizeof key);
        return key;
    }
    int local = 0;
    const auto clock =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const auto wall = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    key.k0 = splitmix(clock ^ reinterpret_cast<std::uintptr_t>(&local));
    key.k1 = splitmix(key.k0 ^ wall ^ reinterpret_cast<std::uintptr_t>(&drawKey));
    return key;
    // GCOVR_EXCL_STOP
}

// Out of line, so that the search that inlines the string hash's path stays small.
[[gnu::noinline]] std::uint32_t keyedHash(const std::uint64_t* key, const char* s, std::size_t length) {
    const std::uint64_t k = tovText::sipHash<1, 3>(key[0], key[1], s, length);
    return static_cast<std::uint32_t>(k ^ k >> 32);
}

// Drawn once per process, when the first index takes the keyed hash.
const Key& processKey() {
    static const Key key = drawKey();  // GCOVR_EXCL_BR_LINE: the static's guard
    return key;
}

const char* textOf(const tovObject& o) { return static_cast<const tovStrElem&>(o); }

// The first bucket from `b` on whose chain is not empty, or `buckets`. A table that has
// just come to the size for an index leaves most of its buckets empty: four heads are
// tested at a time.
unsigned int nextUsed(const tovLinkObj* const* heads, unsigned int b) {
    auto bits = [heads](unsigned int i) { return reinterpret_cast<std::uintptr_t>(heads[i]); };
    while (b + 4 <= buckets && (bits(b) | bits(b + 1) | bits(b + 2) | bits(b + 3)) == 0) b += 4;
    while (b < buckets && !heads[b]) ++b;
    return b;
}

}  // namespace

tovStringIndex* tovStringIndex::_indexes = nullptr;

bool tovStringIndex::plain(const tovObject& o) { return typeid(o) == typeid(tovStrElem); }

std::uint32_t tovStringIndex::hashOf(const tovObject& o) {
    return static_cast<const tovStrElem&>(o).fullHash();
}

tovStringIndex::tovStringIndex(const tovStringTbl& table)
    : tovPoolSide(table.getPool()), _table(&table), _nextIndex(_indexes) {
    _indexes = this;
}

tovStringIndex::~tovStringIndex() {
    tovStringIndex** link = &_indexes;
    while (*link != this) link = &(*link)->_nextIndex;
    *link = _nextIndex;
    delete[] _slots;    // GCOVR_EXCL_BR_LINE: delete's own null test
    delete[] _hashes;   // GCOVR_EXCL_BR_LINE: delete's own null test
    delete[] _foreign;  // GCOVR_EXCL_BR_LINE: delete's own null test
}

tovStringIndex* tovStringIndex::of(const tovStringTbl* table) {
    for (tovStringIndex* index = _indexes; index; index = index->_nextIndex)
        if (index->_table == table) return index;
    return nullptr;
}

void tovStringIndex::drop(const tovStringTbl* table) { delete of(table); }

// The chains are walked newest entry first, so the first plain element of a text that
// the walk meets is the one the index keeps.
tovStringIndex* tovStringIndex::make(const tovStringTbl& table) {
    if (tovStringIndex* index = of(&table)) return index;
    // The constructor cannot throw: the new-expression's cleanup never runs.
    auto* index = new (std::nothrow) tovStringIndex(table);  // GCOVR_EXCL_BR_LINE
    if (!index) return nullptr;
    for (unsigned int b = nextUsed(table._buckets, 0); b < buckets; b = nextUsed(table._buckets, b + 1)) {
        for (const tovLinkObj* node = table._buckets[b]; node; node = node->_next) {
            const tovObject& o = node->getObj();
            const bool fresh = !plain(o) || !index->find(hashOf(o), textOf(o), std::strlen(textOf(o)));
            if (fresh && !index->added(o, b, plain(o) ? hashOf(o) : 0)) {
                delete index;  // GCOVR_EXCL_BR_LINE: delete's own null test
                return nullptr;
            }
        }
    }
    return index;
}

std::uint32_t tovStringIndex::indexHash(std::uint32_t h, const char* s, std::size_t length) const {
    return __builtin_expect(_keyed, 0) ? keyedHash(_key, s, length) : h;
}

std::uint32_t tovStringIndex::indexHash(const tovStrElem& e) const {
    return _keyed ? indexHash(0, textOf(e), std::strlen(textOf(e))) : e.fullHash();
}

// Where pointers have 32 bits the slot keeps it. Where they have 64, the string hash
// is the one the element keeps, and the keyed hash is kept beside the slots, so that
// growing and closing gaps read no text.
std::uint32_t tovStringIndex::keptHash(const Slot* slots, const std::uint32_t* hashes, std::size_t i) {
#if UINTPTR_MAX > 0xFFFFFFFFu
    return hashes ? hashes[i] : slots[i].elem()->fullHash();
#else
    static_cast<void>(hashes);
    return slots[i].hash();
#endif
}

// The walk from home to slot `i` passes only occupied slots. Entries of the tag are
// counted only beyond maxSameTag slots, which ordinary searches seldom reach.
bool tovStringIndex::crowdedAt(std::size_t i, std::size_t start, std::uint32_t k) const {
    const std::size_t distance = (i - start) & _mask;
    if (__builtin_expect(distance <= maxSameTag || _keyed, 1)) return false;
    return distance > maxDistance || sameTagBefore(i, start, k) > maxSameTag;
}

unsigned int tovStringIndex::sameTagBefore(std::size_t i, std::size_t start, std::uint32_t k) const {
    unsigned int sameTag = 0;
    for (std::size_t j = start; j != i; j = (j + 1) & _mask) sameTag += _slots[j].mayHold(k);
    return sameTag;
}

tovStringIndex::Slot* tovStringIndex::keyedSlotOf(const char* s, std::size_t length) const {
    return search<false>(keyedHash(_key, s, length), s, length);
}

// Puts `e`, of index hash `k`, in the first empty slot from its home; false when it
// lies crowded there.
bool tovStringIndex::place(tovStrElem* e, std::uint32_t k) {
    const std::size_t start = home(k);
    std::size_t i = start;
    while (!_slots[i].empty()) i = (i + 1) & _mask;
    _slots[i].set(e, k);
    if (_hashes) _hashes[i] = k;
    return !crowdedAt(i, start, k);
}

// A slot keeps its tag under the same hash, so it moves whole. Only an entry that lands
// more than maxSameTag slots from its home can lie crowded.
template <bool Kept>
bool tovStringIndex::move(const Slot* old, const std::uint32_t* oldHashes, std::size_t oldCapacity) {
    bool fits = true;
    for (std::size_t i = 0; i < oldCapacity; ++i) {
        if (old[i].empty()) continue;
        const std::uint32_t k = Kept ? oldHashes[i] : keptHash(old, nullptr, i);
        const std::size_t start = home(k);
        std::size_t j = start;
        while (!_slots[j].empty()) j = (j + 1) & _mask;
        _slots[j] = old[i];
        if (Kept) _hashes[j] = k;
        if (__builtin_expect(((j - start) & _mask) > maxSameTag, 0)) fits &= !crowdedAt(j, start, k);
    }
    return fits;
}

// Moves every entry into `capacity` new slots, filed by the keyed hash when `keyed`.
// An entry that lands crowded there makes the index take the keyed hash.
bool tovStringIndex::rebuild(std::size_t capacity, bool keyed) {
    static_assert(sizeof(Slot) == 8, "a slot is 8 bytes");
    // Every slot empty. The count cannot overflow: the compiler's test never fires.
    auto* slots = new (std::nothrow) Slot[capacity]();  // GCOVR_EXCL_BR_LINE
    if (!slots) return false;
    std::uint32_t* hashes = nullptr;
    if (keyed && UINTPTR_MAX > 0xFFFFFFFFu) {
        hashes = new (std::nothrow) std::uint32_t[capacity];  // GCOVR_EXCL_BR_LINE: as above
        if (!hashes) {
            delete[] slots;  // GCOVR_EXCL_BR_LINE: delete's own null test
            return false;
        }
    }
    if (keyed && !_keyed) {
        const Key& key = processKey();
        _key[0] = key.k0;
        _key[1] = key.k1;
    }
    Slot* const old = _slots;
    std::uint32_t* const oldHashes = _hashes;
    const std::size_t oldCapacity = _slots ? _mask + 1 : 0;
    const bool sameHash = keyed == _keyed;
    _slots = slots;
    _filed = keyed ? nullptr : slots;
    _hashes = hashes;
    _mask = capacity - 1;
    _growAt = capacity / 2;
    _shift = 32;
    for (std::size_t c = capacity; c > 1; c >>= 1) --_shift;
    _keyed = keyed;
    bool fits = true;
    if (sameHash) {
        fits = _hashes ? move<true>(old, oldHashes, oldCapacity) : move<false>(old, nullptr, oldCapacity);
    } else {
        for (std::size_t i = 0; i < oldCapacity; ++i)
            if (!old[i].empty()) fits &= place(old[i].elem(), indexHash(*old[i].elem()));
    }
    delete[] old;
    delete[] oldHashes;  // GCOVR_EXCL_BR_LINE: delete's own null test
    return fits || rebuild(capacity, true);
}

bool tovStringIndex::takeHole(tovStrElem& e) {
    _slots[_hole].set(&e, _holeHash);
    if (_hashes) _hashes[_hole] = _holeHash;
    ++_size;
    return true;
}

// Four times as large up to 16,384 slots (128 KiB), where moving the entries again
// soon would cost more than the memory; then twice, as the memory of a large table
// counts. A crowded search makes the index keyed at the capacity it has.
bool tovStringIndex::addedSlow(tovStrElem& e, std::uint32_t h) {
    const bool crowded = _slots && crowdedAt(_hole, home(_holeHash), _holeHash);
    // Far from its home, but not crowded there: the hole takes it.
    if (_slots && _size < _growAt && !crowded) return takeHole(e);
    const std::size_t capacity = !_slots                      ? firstCapacity
                                 : _size < _growAt            ? _mask + 1
                                 : _mask + 1 < quadrupleBelow ? 4 * (_mask + 1)
                                                              : 2 * (_mask + 1);
    if (!rebuild(capacity, _keyed || crowded)) return false;
    const char* text = textOf(e);
    if (!place(&e, indexHash(h, text, std::strlen(text))) && !rebuild(capacity, true)) return false;
    ++_size;
    return true;
}

// A plain element linked at the head of its chain is now the first of its text there.
bool tovStringIndex::added(const tovObject& o, unsigned int b, std::uint32_t h) {
    if (!plain(o)) {
        if (!_foreign) {
            _foreign = new (std::nothrow) std::uint32_t[buckets]();  // GCOVR_EXCL_BR_LINE: as above
            if (!_foreign) return false;
        }
        ++_foreign[b];
        return true;
    }
    auto& elem = const_cast<tovStrElem&>(static_cast<const tovStrElem&>(o));
    const char* text = textOf(o);
    if (Slot* slot = slotOf(h, text, std::strlen(text))) {
        if (!Slot::fits(&elem)) return false;  // GCOVR_EXCL_LINE: as in addedNew()
        slot->replace(&elem);
        return true;
    }
    return addedNew(elem, h);
}

bool tovStringIndex::addedNew(tovStrElem& e, std::uint32_t h) {
    if (!Slot::fits(&e)) return false;  // GCOVR_EXCL_LINE: no such address where tested
    // At most half full, so that a search for a missing text ends soon. Without a
    // growth the search that missed the text has found its slot; one that went far
    // asks whether it is crowded there. With no slots, _growAt is 0.
    if (_size >= _growAt || ((_hole - home(_holeHash)) & _mask) > maxSameTag) return addedSlow(e, h);
    return takeHole(e);
}

// When the element the index held leaves, the next plain element of its text in the
// chain, if there is one, takes its place.
bool tovStringIndex::removed(const tovObject& o, unsigned int b, const tovLinkObj* head) {
    if (!plain(o)) {
        --_foreign[b];
        return true;
    }
    const char* text = textOf(o);
    const std::size_t length = std::strlen(text);
    Slot* slot = slotOf(hashOf(o), text, length);
    if (!slot || slot->elem() != &o) return true;
    for (; head; head = head->_next) {
        const tovObject& next = head->getObj();
        if (plain(next) && std::strcmp(textOf(next), text) == 0) {
            auto* const successor = const_cast<tovStrElem*>(static_cast<const tovStrElem*>(&next));
            if (!Slot::fits(successor)) return false;  // GCOVR_EXCL_LINE: as in addedNew()
            slot->replace(successor);
            return true;
        }
    }
    erase(slot);
    return true;
}

// Backward-shift deletion: later slots of the probe run move up, so that no search
// stops early at the emptied slot.
void tovStringIndex::erase(Slot* slot) {
    std::size_t i = static_cast<std::size_t>(slot - _slots);
    for (std::size_t j = (i + 1) & _mask; !_slots[j].empty(); j = (j + 1) & _mask) {
        // The entry stays when its home lies cyclically in (i, j]: then it is nearer
        // its home than the hole is.
        const std::size_t k = home(keptHash(_slots, _hashes, j));
        if (((j - k) & _mask) < ((j - i) & _mask)) continue;
        _slots[i] = _slots[j];
        if (_hashes) _hashes[i] = _hashes[j];
        i = j;
    }
    _slots[i].clear();
    --_size;
}

bool tovStringIndex::agrees(const tovStringTbl& table) const {
    std::size_t firsts = 0;
    bool ok = true;
    for (unsigned int b = 0; b < buckets; ++b) {
        std::uint32_t others = 0;
        for (const tovLinkObj* node = table._buckets[b]; node; node = node->_next) {
            const tovObject& o = node->getObj();
            if (!plain(o)) {
                ++others;
                continue;
            }
            const char* text = textOf(o);
            const tovLinkObj* earlier = table._buckets[b];
            while (earlier != node &&
                   !(plain(earlier->getObj()) && std::strcmp(textOf(earlier->getObj()), text) == 0))
                earlier = earlier->_next;
            if (earlier != node) continue;  // not the first of its text
            ++firsts;
            const std::size_t length = std::strlen(text);
            ok &= find(tovText::fullHash(text, length), text, length) == &o;
        }
        ok &= others == (_foreign ? _foreign[b] : 0u);
    }
    // Every entry is tagged by its text's index hash and reached from its home over
    // occupied slots; filed by the string hash, it lies within the bounds; the index is
    // at most half full.
    std::size_t held = 0;
    for (std::size_t i = 0; _slots && i <= _mask; ++i) {
        if (_slots[i].empty()) continue;
        ++held;
        const std::uint32_t k = indexHash(*_slots[i].elem());
        ok &= _slots[i].mayHold(k);
        ok &= keptHash(_slots, _hashes, i) == k;
        std::size_t j = home(k);
        while (j != i && !_slots[j].empty()) j = (j + 1) & _mask;
        ok &= j == i;
        ok &= !crowdedAt(i, home(k), k);
    }
    ok &= firsts == _size;
    ok &= held == _size;
    ok &= 2 * _size <= _mask + 1;
    ok &= _growAt == (_slots ? (_mask + 1) / 2 : 0);
    ok &= _filed == (_keyed ? nullptr : _slots);
    return ok;
}
