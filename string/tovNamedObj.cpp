// tovNamedObj: the name handle in the object's own pool; name-based identity.
#include "string/tovNamedObj.h"

#include <ostream>
#include <typeinfo>

#include "lib/tovServices.h"

// A handle's copy constructor cannot throw: the new-expression's cleanup never runs.
tovNamedObj::tovNamedObj(const tovString& name)
    : _name(new (getPool()) tovString(name)) {}  // GCOVR_EXCL_BR_LINE

tovNamedObj::~tovNamedObj() {
    delete _name;  // GCOVR_EXCL_BR_LINE: delete's own null test; never null here
}

unsigned int tovNamedObj::hash(int n) const { return _name->hash(n); }

std::ostream& tovNamedObj::dump(std::ostream& os, int indent, int nl) const {
    tovObject::dump(os, indent, 0);
    int nameIndent = 0;
    if (tovLib::get(4)) {
        os << '\n';
        nameIndent = indent + 1;
    }
    return name().dump(os, nameIndent, nl);
}

bool tovNamedObj::isEqual(const tovObject& other) const {
    if (&other == this) return true;
    // The usual key, a plain handle, answers both class questions at once.
    if (typeid(other) == typeid(tovString)) return static_cast<const tovString&>(other)._elem == _name->_elem;
    if (other.isA(tovNamedObjClass))
        return static_cast<const tovNamedObj&>(other)._name->_elem == _name->_elem;
    if (other.isA(tovStringClass)) return static_cast<const tovString&>(other)._elem == _name->_elem;
    return false;
}

int tovNamedObj::objcmp(const tovObject& other) const {
    if (&other == this) return 0;
    if (other.isA(tovNamedObjClass)) return name().objcmp(static_cast<const tovNamedObj&>(other).name());
    if (other.isA(tovStringClass)) return name().objcmp(other);
    return tovObject::objcmp(other);
}

bool tovNamedObj::isA(const char* name) const { return name == tovNamedObjClass || tovObject::isA(name); }

const char* tovNamedObj::className() const { return tovNamedObjClass; }

const tovString& tovNamedObj::name() const { return *_name; }
