// tovString: interning on construction, identity equality, text order, dump.
#include "string/tovString.h"

#include <ostream>

#include "lib/tovServices.h"
#include "string/tovNamedObj.h"
#include "string/tovStringTbl.h"
#include "string/tovText.h"

tovString::tovString(const char* s) : _elem(&tovStringTbl::current().addStrElem(s)) {}

tovString::tovString(tovStrElem* e) : _elem(e) {}

tovString::tovString(const tovString&) = default;

tovString::~tovString() = default;

tovString::operator char*() const { return *_elem; }

unsigned int tovString::hash(int n) const { return _elem->hash(n); }

std::ostream& tovString::dump(std::ostream& os, int indent, int nl) const {
    if (tovLib::get(4)) {
        tovObject::dump(os, indent, 1);
        ++indent;
    }
    return _elem->dump(os, indent, nl);
}

// Named objects are asked for their name through the virtual name().
const tovStrElem* tovString::elementOf(const tovObject& o) {
    if (o.isA(tovNamedObjClass)) return static_cast<const tovNamedObj&>(o).name()._elem;
    if (o.isA(tovStringClass)) return static_cast<const tovString&>(o)._elem;
    return nullptr;
}

bool tovString::isEqual(const tovObject& other) const {
    if (&other == this) return true;
    return elementOf(other) == _elem;
}

int tovString::objcmp(const tovObject& other) const {
    if (&other == this) return 0;
    const tovStrElem* e = elementOf(other);
    if (!e) return tovObject::objcmp(other);
    if (e == _elem) return 0;
    return tovText::compare(*_elem, *e);
}

bool tovString::isA(const char* name) const { return name == tovStringClass || tovObject::isA(name); }

const char* tovString::className() const { return tovStringClass; }
