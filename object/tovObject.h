/// \file
/// tovObject: the common base of tovlib's objects (identity, reference count, pools).
#ifndef TOVLIB_TOVOBJECT_H
#define TOVLIB_TOVOBJECT_H

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "lib/tovExport.h"
#include "object/tovClassNames.h"

class tovPool;

/// Declares, inside a class derived from tovObject, the pool-aware operators with that
/// class's own size. The placement operator delete runs when a constructor throws
/// inside `new (pool) Class(...)`; declaring it per class gives the memory back with
/// the exact size it was taken with. Every library class uses this; a client class
/// that adds data members should too. (Declaring one form of operator delete hides the
/// others, and a placement delete wants the operator new of its own class, so all
/// three come together.)
#define TOV_OBJECT_OPERATORS(Class)                                                                 \
    static void* operator new(std::size_t size, tovPool* pool) {                                    \
        return tovObject::operator new(size, pool);                                                 \
    }                                                                                               \
    static void operator delete(void* p, std::size_t size) { tovObject::operator delete(p, size); } \
    static void operator delete(void* p, tovPool*) { tovObject::releaseUnbuilt(p, sizeof(Class)); }

/// The common base of every tovlib object.
///
/// Identity: className() returns the class's own class-name constant, and isA(name)
/// is true when `name` is, as a pointer, the constant of the class or of an ancestor.
///
/// Allocation: create objects as `new (pool) Class(...)`. A null pool stands for the
/// main pool, and for the heap when no main pool is set. The object remembers its pool
/// (getPool()) and its memory goes back there, with its class's size, when it is
/// deleted. Objects not made that way (automatic, static, members, array elements,
/// heap objects) have a null pool.
///
/// Reference counting: only objects with a pool are counted. Each holder calls up()
/// when it takes the object and down() when it lets go; the down() that brings the
/// count back to 0 deletes the object. Counts are plain integers, not thread-safe.
class TOV_API tovObject {
public:
    /// The value operator new leaves where the reference count will be, so that the
    /// constructor can tell a pool-made object from any other.
    static constexpr std::int32_t constructionMarker = 0x0FEDBAC0;

    /// A fresh object: pool as recorded by operator new (else null), count 0.
    tovObject();
    /// Constructs exactly as the default constructor does: a copy never takes over its
    /// source's pool or count.
    tovObject(const tovObject&);
    /// Leaves the target's pool and count as they are.
    tovObject& operator=(const tovObject&);
    /// Nothing of its own. `delete` then gives the memory back through operator delete:
    /// to the object's pool with its class's size, or to the heap.
    virtual ~tovObject();

    /// The address shifted right by 3, modulo `n` (unsigned); 0 when `n` is 0.
    virtual unsigned int hash(int n) const;
    /// Writes space(indent), the class name and a blank; with flag 1 "@[address] ",
    /// flag 0 "P[pool number or -1] ", flag 3 "RC[count] "; then std::endl if `nl`.
    virtual std::ostream& dump(std::ostream& os, int indent, int nl) const;
    /// Identity: true only for this very object.
    virtual bool isEqual(const tovObject& other) const;
    /// Order by address: 0 for this object, -1 when this one is lower, 1 when higher.
    virtual int objcmp(const tovObject& other) const;
    /// True when `name` is the pointer tovObjectClass.
    virtual bool isA(const char* name) const;
    /// tovObjectClass.
    virtual const char* className() const;

    /// The pool the object was carved from, or null.
    tovPool* getPool() const { return _pool; }
    /// The number of holders (always 0 for an object without a pool).
    std::int32_t refCount() const { return _refCount; }
    /// Takes a reference; does nothing to an object without a pool.
    void up() {
        if (_pool) ++_refCount;
    }
    /// Drops a reference and deletes the object when the count reaches exactly 0. A
    /// count already at 0 goes to -1 and nothing is destroyed; an object without a
    /// pool is never counted nor destroyed.
    void down() {
        if (_pool && --_refCount == 0) destroy();
    }

    /// Carves the object from `pool` (null: the main pool, or the heap when there is
    /// none) and marks the memory for the constructor. Throws std::bad_alloc.
    static void* operator new(std::size_t size, tovPool* pool);
    /// Gives the memory of a deleted object back to its pool (or the heap) with `size`.
    static void operator delete(void* p, std::size_t size);
    /// Runs when a constructor throws inside `new (pool) tovObject(...)`.
    static void operator delete(void* p, tovPool* pool);

protected:
    /// Gives back memory from operator new whose object was never fully built, with
    /// `size`, to the pool operator new recorded in it, and clears the construction
    /// marker so the memory is never mistaken for a marked object again.
    static void releaseUnbuilt(void* p, std::size_t size);

private:
    // Interning carves its elements itself.
    friend class tovStringTbl;

    // Out of line, so that inlining down() into code that holds an automatic object
    // never shows the compiler a `delete` of it.
    void destroy();
    // What operator new does but for the record of the pending allocation: for library
    // code that constructs a class whose constructors are all user-provided, so that
    // nothing zero-fills the marker and the constructor finds its pool there. Not
    // exported: the library alone calls it.
    [[gnu::visibility("hidden")]] static void* allocMarked(std::size_t size, tovPool* pool);

    tovPool* _pool;
    std::int32_t _refCount;
};

#endif
