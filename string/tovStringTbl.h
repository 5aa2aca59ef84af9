/// \file
/// tovStringTbl: the main and the temporary string table, where texts are interned.
#ifndef TOVLIB_TOVSTRINGTBL_H
#define TOVLIB_TOVSTRINGTBL_H

#include "container/tovHash.h"
#include "lib/tovExport.h"
#include "string/tovStrElem.h"

class tovLib;

/// A hash table of string elements, one element per distinct text. There are at most
/// two: the main table and, while a temporary area is open, the temporary table
/// (tovLib::init and tovLib::tempInit make them). Each table holds one counted
/// reference on each of its elements; elements, their texts and the table live in the
/// table's pool and go away with it.
class TOV_API tovStringTbl : public tovHash<4191> {
public:
    /// Removes every element, which destroys each one that nothing else holds.
    /// tovLib::reset() does not run it: it forgets the tables and releases their pools.
    ~tovStringTbl() override;
    /// True for tovStringTblClass, tovHashClass, tovContainerClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovStringTblClass.
    const char* className() const override;

    /// The main table, made in `pool` (null: the main pool, or the heap) if there is
    /// none yet; an existing table is returned as it is.
    static tovStringTbl* establish(tovPool* pool);
    /// The same for the temporary table.
    static tovStringTbl* establishTemp(tovPool* pool);
    /// The main table, or null.
    static const tovStringTbl* table();
    /// The temporary table, or null.
    static const tovStringTbl* tempTable();

    /// The table's element for the text `s` (null counts as ""), added if missing.
    /// Every call first makes a candidate element with a copy of the text, deleted
    /// again when the text is already present. On std::bad_alloc the table is
    /// unchanged.
    tovStrElem& addStrElem(const char* s);

    TOV_OBJECT_OPERATORS(tovStringTbl)

protected:
    /// An empty table; tables are made only by establish() and establishTemp().
    tovStringTbl() {}
    /// Forgets both tables, destroying nothing.
    static void pool();
    /// Forgets the temporary table, destroying nothing.
    static void tempPool();

private:
    friend class tovLib;
    friend class tovString;

    /// Where a handle made from text is interned: the temporary table if there is
    /// one, else the main table, made on demand.
    static tovStringTbl& current();
    /// The element a candidate for `s` would find, when that is certain without
    /// making the candidate; null when the full find-or-insert must decide.
    tovStrElem* knownElement(const char* s) const;

    static tovStringTbl* _table;
    static tovStringTbl* _tempTable;
};

#endif
