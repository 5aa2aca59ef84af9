// tovStringTbl: the two table singletons and find-or-insert interning.
#include "string/tovStringTbl.h"

#include <cstring>
#include <typeinfo>

#include "pool/tovPool.h"
#include "string/tovText.h"

tovStringTbl* tovStringTbl::_table = nullptr;
tovStringTbl* tovStringTbl::_tempTable = nullptr;

tovStringTbl::~tovStringTbl() { removeAll(); }

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

void tovStringTbl::pool() {
    _table = nullptr;
    _tempTable = nullptr;
}

void tovStringTbl::tempPool() { _tempTable = nullptr; }

tovStringTbl& tovStringTbl::current() {
    if (_tempTable) return *_tempTable;
    return *establish(nullptr);
}

// A hit through the full path makes a candidate in the table's pool and deletes it
// again: it takes the head of the element's and the text's recycled lists and puts
// them back in the same order. When those lists hold the elements, the pool ends
// exactly as it began, so the hit is answered without making the candidate.
tovStrElem* tovStringTbl::knownElement(const char* s) const {
    const std::size_t length = std::strlen(s);
    tovPool* pool = getPool() ? getPool() : tovPool::mainPool();
    if (pool) {
        const std::size_t textSize = length + 1;
        const bool sameClass = (sizeof(tovStrElem) + 7) / 8 == (textSize + 7) / 8;
        if (!pool->recycles(sizeof(tovStrElem), sameClass ? 2 : 1) || !pool->recycles(textSize, 1))
            return nullptr;
    }
    // The candidate's find: its bucket, then each stored object's isEqual. For a
    // stored plain element that is the text comparison; any other stored object
    // could answer otherwise, so the full path decides.
    for (tovLinkObj* node = _buckets[tovText::hash(s, length, 4191)]; node; node = node->_next) {
        tovObject& stored = node->getObj();
        if (typeid(stored) != typeid(tovStrElem)) return nullptr;
        auto& element = static_cast<tovStrElem&>(stored);
        if (std::strcmp(element._text, s) == 0) return &element;
    }
    return nullptr;
}

tovStrElem& tovStringTbl::addStrElem(const char* s) {
    if (!s) s = "";
    if (tovStrElem* known = knownElement(s)) return *known;
    // The cleanup of a throwing constructor also tests whether the allocation had
    // succeeded, which it always has by then: a branch that is never taken.
    auto* candidate = new (getPool()) tovStrElem(s);  // GCOVR_EXCL_BR_LINE
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
