// tovStringIndex: open addressing over the texts' hashes, beside a table's chains.
#include "string/tovStringIndex.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <typeinfo>

#include "string/tovStringTbl.h"
#include "string/tovText.h"

namespace {

constexpr unsigned int buckets = 4191;
constexpr std::size_t firstCapacity = 256;
constexpr std::size_t quadrupleBelow = 16384;

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

#if UINTPTR_MAX > 0xFFFFFFFFu
// Where pointers have 64 bits, the addresses a process is given leave the top 16 zero: a
// slot is the element's address with a 16-bit tag of its text's hash in those bits,
// and a search compares a text only where the tag matches. The full hash, which a
// slot's home needs when the index grows or closes a gap, is the one the element
// keeps. An element whose address uses the top bits cannot be held, and the index is
// dropped: the chains answer without it.
class tovStringIndex::Slot {
public:
    static bool fits(const tovStrElem* e) { return (reinterpret_cast<std::uintptr_t>(e) >> tagShift) == 0; }
    bool empty() const { return _bits == 0; }
    tovStrElem* elem() const {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): the address that set() packed
        return reinterpret_cast<tovStrElem*>(_bits & addressMask);
    }
    bool mayHold(std::uint32_t h) const { return (_bits >> tagShift) == tagOf(h); }
    std::uint32_t hash() const { return elem()->fullHash(); }
    void set(tovStrElem* e, std::uint32_t h) {
        _bits = reinterpret_cast<std::uintptr_t>(e) | tagOf(h) << tagShift;
    }
    // Another element of the same text, so of the same tag.
    void replace(tovStrElem* e) { _bits = (_bits & ~addressMask) | reinterpret_cast<std::uintptr_t>(e); }
    void clear() { _bits = 0; }

private:
    static constexpr unsigned int tagShift = 48;
    static constexpr std::uintptr_t addressMask = (std::uintptr_t{1} << tagShift) - 1;
    // Both halves of the hash: its high half is zero for the shortest texts.
    static std::uintptr_t tagOf(std::uint32_t h) { return (h ^ h >> 16) & 0xFFFFu; }

    std::uintptr_t _bits;  // 0: empty
};
#else
// Where pointers have 32 bits, the full hash fits beside the element in 8 bytes.
class tovStringIndex::Slot {
public:
    static bool fits(const tovStrElem*) { return true; }
    bool empty() const { return _elem == nullptr; }
    tovStrElem* elem() const { return _elem; }
    bool mayHold(std::uint32_t h) const { return _hash == h; }
    std::uint32_t hash() const { return _hash; }
    void set(tovStrElem* e, std::uint32_t h) { _elem = e, _hash = h; }
    void replace(tovStrElem* e) { _elem = e; }
    void clear() { _elem = nullptr; }

private:
    tovStrElem* _elem;  // null: empty
    std::uint32_t _hash;
};
#endif

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
                delete index;
                return nullptr;
            }
        }
    }
    return index;
}

// Fibonacci hashing spreads the string hash, whose low bits follow the last bytes.
std::size_t tovStringIndex::home(std::uint32_t h) const {
    return static_cast<std::size_t>((h * 0x9E3779B1u) >> _shift) & _mask;
}

// A search that finds nothing ends at the empty slot where the text would go: addedNew()
// puts it there, unless the index grows first.
tovStringIndex::Slot* tovStringIndex::slotOf(std::uint32_t h, const char* s, std::size_t length) const {
    if (!_slots) return nullptr;
    for (std::size_t i = home(h);; i = (i + 1) & _mask) {
        Slot& slot = _slots[i];
        if (slot.empty()) {
            _hole = i;
            return nullptr;
        }
        if (slot.mayHold(h) && std::memcmp(textOf(*slot.elem()), s, length + 1) == 0) return &slot;
    }
}

tovStrElem* tovStringIndex::find(std::uint32_t h, const char* s, std::size_t length) const {
    const Slot* slot = slotOf(h, s, length);
    return slot ? slot->elem() : nullptr;
}

bool tovStringIndex::grow() {
    static_assert(sizeof(Slot) == 8, "a slot is 8 bytes");
    // Four times as large up to 16,384 slots (128 KiB), where moving the entries again
    // soon would cost more than the memory; then twice, as the memory of a large table
    // counts.
    const std::size_t capacity = !_slots                      ? firstCapacity
                                 : _mask + 1 < quadrupleBelow ? 4 * (_mask + 1)
                                                              : 2 * (_mask + 1);
    // Every slot empty. The count cannot overflow: the compiler's test never fires.
    auto* slots = new (std::nothrow) Slot[capacity]();  // GCOVR_EXCL_BR_LINE
    if (!slots) return false;
    Slot* const old = _slots;
    const std::size_t oldCapacity = _slots ? _mask + 1 : 0;
    _slots = slots;
    _mask = capacity - 1;
    _shift = 32;
    for (std::size_t c = capacity; c > 1; c >>= 1) --_shift;
    for (std::size_t i = 0; i < oldCapacity; ++i) {
        if (old[i].empty()) continue;
        std::size_t j = home(old[i].hash());
        while (!_slots[j].empty()) j = (j + 1) & _mask;
        _slots[j] = old[i];
    }
    delete[] old;
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
    // growth the search that missed the text has found its slot.
    std::size_t i = _hole;
    if (!_slots || 2 * (_size + 1) > _mask + 1) {
        if (!grow()) return false;
        i = home(h);
        while (!_slots[i].empty()) i = (i + 1) & _mask;
    }
    _slots[i].set(&e, h);
    ++_size;
    return true;
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
        const std::size_t k = home(_slots[j].hash());
        if (((j - k) & _mask) < ((j - i) & _mask)) continue;
        _slots[i] = _slots[j];
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
    return ok && firsts == _size;
}
