// tovLib: start-up, reset, re-initialisation and the temporary string area.
#include "lib/tovServices.h"
#include "pool/tovPool.h"
#include "string/tovStringTbl.h"

void tovLib::init(bool clearFlags) {
    tovStringTbl::establish(nullptr);
    if (clearFlags) clrAll();
}

// The tables are forgotten before the pools go, so no table pointer is left pointing
// into released memory.
void tovLib::reset() {
    tovStringTbl::pool();
    tovPool::releaseAll();
}

void tovLib::reInit(bool clearFlags) {
    reset();
    init(clearFlags);
}

void tovLib::tempInit(tovPool* pool) {
    if (pool) {
        tovStringTbl::establishTemp(pool);
        return;
    }
    auto* fresh = new tovPool;
    try {
        tovStringTbl::establishTemp(fresh);
    } catch (...) {
        delete fresh;  // leave no trace of a temporary area that could not open
        throw;
    }
}

void tovLib::tempReset() {
    const tovStringTbl* table = tovStringTbl::tempTable();
    if (!table) return;
    tovPool* pool = table->getPool();
    // A temporary table made outside tempInit may sit on the heap or in the main pool;
    // releasing "its pool" would then crash, or throw the main table away with it.
    if (pool && pool != tovPool::mainPool())
        pool->release();
    else
        delete table;
    tovStringTbl::tempPool();
}
