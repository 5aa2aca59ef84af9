// tovStringTbl: the two table singletons and find-or-insert interning.
#include "string/tovStringTbl.h"

tovStringTbl* tovStringTbl::_table = nullptr;
tovStringTbl* tovStringTbl::_tempTable = nullptr;

tovStringTbl::~tovStringTbl() { removeAll(); }

bool tovStringTbl::isA(const char* name) const {
    return name == tovStringTblClass || tovHash<4191>::isA(name);
}

const char* tovStringTbl::className() const { return tovStringTblClass; }

tovStringTbl* tovStringTbl::establish(tovPool* pool) {
    if (!_table) _table = new (pool) tovStringTbl;
    return _table;
}

tovStringTbl* tovStringTbl::establishTemp(tovPool* pool) {
    if (!_tempTable) _tempTable = new (pool) tovStringTbl;
    return _tempTable;
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

tovStrElem& tovStringTbl::addStrElem(const char* s) {
    auto* candidate = new (getPool()) tovStrElem(s ? s : "");
    if (tovObject* found = find(*candidate)) {
        delete candidate;
        return static_cast<tovStrElem&>(*found);
    }
    try {
        add(*candidate);
    } catch (...) {
        delete candidate;  // no node could be made: the table stays as it was
        throw;
    }
    return *candidate;
}
