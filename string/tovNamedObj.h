/// \file
/// tovNamedObj: an object keyed by an interned name.
#ifndef TOVLIB_TOVNAMEDOBJ_H
#define TOVLIB_TOVNAMEDOBJ_H

#include <iosfwd>

#include "lib/tovExport.h"
#include "object/tovObject.h"
#include "string/tovString.h"

/// An object with a name. It hashes, compares equal and orders by its name, both
/// against other named objects and against string handles, so a handle is the key
/// that finds a named object in a container. The name handle is the object's own,
/// carved from the object's pool.
class TOV_API tovNamedObj : public tovObject {
public:
    /// Copies the handle `name` into a handle of its own, from this object's pool (the
    /// main pool, or the heap, when it has none).
    explicit tovNamedObj(const tovString& name);
    /// Not copyable: make another object from the same name instead.
    tovNamedObj(const tovNamedObj&) = delete;
    /// Not assignable: the name is fixed at construction.
    tovNamedObj& operator=(const tovNamedObj&) = delete;
    /// Deletes the name handle; the interned element stays in its table.
    ~tovNamedObj() override;

    /// The hash of the name's text.
    unsigned int hash(int n) const override;
    /// The object line, then the name: on the same line, or with flag 4 below it.
    std::ostream& dump(std::ostream& os, int indent, int nl) const override;
    /// Same name element, against named objects and handles.
    bool isEqual(const tovObject& other) const override;
    /// By the name's text against named objects and handles, else by address.
    int objcmp(const tovObject& other) const override;
    /// True for tovNamedObjClass and tovObjectClass.
    bool isA(const char* name) const override;
    /// tovNamedObjClass.
    const char* className() const override;
    /// The name. Order and dump use this; hash and equality use the handle directly.
    virtual const tovString& name() const;

    /// The name handle, so a named object can stand where a handle is expected.
    operator const tovString&() const { return *_name; }

    TOV_OBJECT_OPERATORS(tovNamedObj)

private:
    tovString* _name;
};

#endif
