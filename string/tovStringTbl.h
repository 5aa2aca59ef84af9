/// \file
/// tovStringTbl: the main and the temporary string table, where texts are interned.
#ifndef TOVLIB_TOVSTRINGTBL_H
#define TOVLIB_TOVSTRINGTBL_H

#include "container/tovHash.h"
#include "lib/tovExport.h"
#include "string/tovStrElem.h"

class tovLib;
class tovStringIndex;

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
    /// Every call leaves the table's pool as making a candidate element with a copy of
    /// the text, and deleting it again when the text is already present, would leave
    /// it. On std::bad_alloc, or when a stored object's isEqual throws, the table and
    /// its pool are unchanged. Expected constant time: beside its chains the table
    /// keeps an index of its plain elements' texts (outside the pool's counters).
    tovStrElem& addStrElem(const char* s);

    /// Links `o` at the head of its bucket, as tovHash does, and keeps the index.
    tovObject& add(tovObject& o) override;
    /// Removes the first entry that declares itself equal to `key`, as tovHash does,
    /// and keeps the index.
    bool remove(tovObject& key) override;
    /// Removes every entry, as tovHash does.
    void removeAll() override;
    /// The hash table's checks, and that the text index agrees with the chains.
    bool verify() const;

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
    friend class tovStringIndex;

    /// Where a handle made from text is interned: the temporary table if there is
    /// one, else the main table, made on demand.
    static tovStringTbl& current();
    /// What making and deleting a candidate element for a text of `length` bytes does
    /// to the table's pool, without the element.
    void passCandidate(std::size_t length) const;
    /// addStrElem through a candidate and the bucket's chain, for a bucket that holds
    /// objects of other classes, or when the index cannot be had.
    tovStrElem& addThroughChain(const char* s, std::size_t length);
    /// addStrElem's new element for the `length` bytes of `s`, whose full hash is `h`,
    /// which no stored object equals; `index` is the table's index, if it has one, whose
    /// last search was for this text.
    [[gnu::visibility("hidden")]] tovStrElem& addNew(const char* s, std::size_t length, std::uint32_t h,
                                                     tovStringIndex* index);

    static tovStringTbl* _table;
    static tovStringTbl* _tempTable;
};

#endif
