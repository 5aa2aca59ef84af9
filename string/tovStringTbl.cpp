// tovStringTbl: the two table singletons and find-or-insert interning.
#include "string/tovStringTbl.h"

#include <cstdint>
#include <cstring>

#include "pool/tovPool.h"
#include "string/tovStringIndex.h"
#include "string/tovText.h"

namespace {
// Entries from which a table keeps a text index: below, its chains are short.
constexpr int indexFrom = 64;
}  // namespace

tovStringTbl* tovStringTbl::_table = nullptr;
tovStringTbl* tovStringTbl::_tempTable = nullptr;

tovStringTbl::~tovStringTbl() {
    removeAll();
    tovStringIndex::drop(this);
}

bool tovStringTbl::isA(const char* name) const {
    return name == tovStringTblClass || tovHash<4191>::isA(name);
}

const char* tovStringTbl::className() const { return tovStringTblClass; }

// An empty table's constructor cannot throw: the new-expressions' cleanup never runs.
tovStringTbl* tovStringTbl::establish(tovPool* pool) {
    if (_table) return _table;
    return _table = new (pool) tovStringTbl;  // GCOVR_EXCL_BR_LINE
}

tovStringTbl* tovStringTbl::establishTemp(tovPool* pool) {
    if (_tempTable) return _tempTable;
    return _tempTable = new (pool) tovStringTbl;  // GCOVR_EXCL_BR_LINE
}

const tovStringTbl* tovStringTbl::table() { return _table; }

const tovStringTbl* tovStringTbl::tempTable() { return _tempTable; }

// A forgotten table is not used by the library again: its index goes now rather than
// with the table's pool.
void tovStringTbl::pool() {
    tovStringIndex::drop(_table);
    tovStringIndex::drop(_tempTable);
    _table = nullptr;
    _tempTable = nullptr;
}

void tovStringTbl::tempPool() {
    tovStringIndex::drop(_tempTable);
    _tempTable = nullptr;
}

namespace {
// Out of line, so that making a handle from text does not pay for making a table.
[[gnu::noinline]] tovStringTbl* establishMain() { return tovStringTbl::establish(nullptr); }
}  // namespace

tovStringTbl& tovStringTbl::current() {
    if (_tempTable) return *_tempTable;
    if (_table) return *_table;
    return *establishMain();
}

tovObject& tovStringTbl::add(tovObject& o) {
    // A plain element's bucket is its text's hash, which the index needs whole.
    const bool plain = tovStringIndex::plain(o);
    const std::uint32_t h = plain ? static_cast<const tovStrElem&>(o).fullHash() : 0;
    const unsigned int b = plain ? h % 4191 : bucketOf(o);
    linkAt(o, b);
    if (tovStringIndex* index = tovStringIndex::of(this))
        if (!index->added(o, b, h)) tovStringIndex::drop(this);
    return o;
}

bool tovStringTbl::remove(tovObject& key) {
    const unsigned int b = bucketOf(key);
    tovLinkObj* const node = unlinkFirst(key, b);
    if (!node) return false;
    if (tovStringIndex* index = tovStringIndex::of(this))
        if (!index->removed(node->getObj(), b, _buckets[b])) tovStringIndex::drop(this);
    delete node;  // GCOVR_EXCL_BR_LINE: delete's own null test; never null here
    return true;
}

// The index goes first: elements released during the emptying may add to the table.
void tovStringTbl::removeAll() {
    tovStringIndex::drop(this);
    tovHash<4191>::removeAll();
}

bool tovStringTbl::verify() const {
    // Both checks run, whatever the first one finds.
    const bool chains = tovHash<4191>::verify();
    const tovStringIndex* index = tovStringIndex::of(this);
    const bool agreed = !index || index->agrees(*this);
    return chains && agreed;
}

// A candidate takes an element and its text from the pool and gives them back, text
// first; a recycled element makes that a pair of list operations.
void tovStringTbl::passCandidate(std::size_t length) const {
    tovPool* pool = getPool() ? getPool() : tovPool::mainPool();
    if (!pool) return;
    void* const element = pool->alloc(sizeof(tovStrElem));
    void* text;
    try {
        text = pool->alloc(length + 1);
    } catch (...) {
        pool->free(element, sizeof(tovStrElem));
        throw;
    }
    pool->free(text, length + 1);
    pool->free(element, sizeof(tovStrElem));
}

tovStrElem& tovStringTbl::addStrElem(const char* s) {
    if (!s) s = "";
    const std::size_t length = std::strlen(s);
    const std::uint32_t h = tovText::fullHash(s, length);
    // The chains are short while the table is small; the index comes with size.
    tovStringIndex* index = _count >= indexFrom ? tovStringIndex::make(*this) : tovStringIndex::of(this);
    tovStrElem* found = nullptr;
    if (index) {
        // A hit through the index needs no bucket unless the table holds other objects.
        if (index->foreignIn(h)) return addThroughChain(s, length);
        found = index->find(h, s, length);
    } else {
        const unsigned int b = h % 4191;
        // The candidate's find, with each stored plain element's text comparison; any
        // other stored object decides for itself.
        for (const tovLinkObj* node = _buckets[b]; node && !found; node = node->_next) {
            tovObject& stored = node->getObj();
            if (!tovStringIndex::plain(stored)) return addThroughChain(s, length);
            if (std::strcmp(static_cast<tovStrElem&>(stored)._text, s) == 0)
                found = &static_cast<tovStrElem&>(stored);
        }
    }
    if (found) {
        // Mostly both of the candidate's sizes are recycled: then making and deleting
        // it would change nothing in the pool, and is left out.
        const tovPool* pool = getPool() ? getPool() : tovPool::mainPool();
        if (pool && !pool->recyclesPair(sizeof(tovStrElem), length + 1)) passCandidate(length);
        return *found;
    }
    return addNew(s, length, h, index);
}

// No stored object of the bucket can equal the candidate: it is added. The element is
// carved as `new (getPool())` would carve it; its constructors are user-provided, so the
// marker stays and no record of the allocation is needed. Out of the path of a text
// that is found, the pool's work, the node and the index's entry are inlined here.
[[gnu::flatten, gnu::noinline]] tovStrElem& tovStringTbl::addNew(const char* s, std::size_t length,
                                                                 std::uint32_t h, tovStringIndex* index) {
    void* const memory = allocMarked(sizeof(tovStrElem), getPool());
    tovStrElem* candidate;
    try {
        candidate = ::new (memory) tovStrElem(s, length, h);  // GCOVR_EXCL_BR_LINE: placement new's null test
    } catch (...) {
        tovStrElem::operator delete(memory, getPool());
        throw;
    }
    try {
        linkAt(*candidate, h % 4191);
    } catch (...) {
        delete candidate;  // GCOVR_EXCL_BR_LINE: delete's own null test; never null here
        throw;
    }
    // The index looked for the text above; linking changed nothing else in it.
    if (index && !index->addedNew(*candidate, h)) tovStringIndex::drop(this);
    return *candidate;
}

// Find-or-insert through a candidate, asking each stored object of the bucket.
tovStrElem& tovStringTbl::addThroughChain(const char* s, std::size_t length) {
    // The cleanup of a throwing constructor also tests whether the allocation had
    // succeeded, which it always has by then: a branch that is never taken. This rare
    // path hashes the text again rather than pass the hash through an exported call.
    const std::uint32_t h = tovText::fullHash(s, length);
    auto* candidate = new (getPool()) tovStrElem(s, length, h);  // GCOVR_EXCL_BR_LINE
    try {
        if (tovObject* found = find(*candidate)) {
            delete candidate;  // GCOVR_EXCL_BR_LINE: delete's own null test; never null here
            return static_cast<tovStrElem&>(*found);
        }
        add(*candidate);
    } catch (...) {
        // A stored object's isEqual threw, or no node could be made: the candidate
        // goes, and the table and its pool stay as they were.
        delete candidate;  // GCOVR_EXCL_BR_LINE: delete's own null test; never null here
        throw;
    }
    return *candidate;
}
