// The container protocol: generic lookup, container dump, identities.
#include "container/tovContainer.h"

#include <ostream>

#include "lib/tovFormat.h"
#include "lib/tovServices.h"

tovContainer::~tovContainer() = default;

tovObject* tovContainer::find(const tovObject& key) const {
    for (tovIterPtr it(this); it; it++) {
        tovObject& e = it();
        if (e.isEqual(key)) return &e;
    }
    return nullptr;
}

std::ostream& tovContainer::dump(std::ostream& os, int indent, int nl) const {
    tovObject::dump(os, indent, 0);
    if (tovLib::get(6)) {
        tovDecimalGuard dec(os);
        os << "CT[" << _count << "]\n";
    } else {
        os << '\n';
    }
    for (tovIterPtr it(this); it; it++) it().dump(os, indent + 4, nl);
    return os;
}

bool tovContainer::isA(const char* name) const { return name == tovContainerClass || tovObject::isA(name); }

const char* tovContainer::className() const { return tovContainerClass; }

tovIterator::~tovIterator() = default;

bool tovIterator::isA(const char* name) const { return name == tovIteratorClass || tovObject::isA(name); }

const char* tovIterator::className() const { return tovIteratorClass; }

bool tovIterPtr::isA(const char* name) const { return name == tovIterPtrClass; }

const char* tovIterPtr::className() const { return tovIterPtrClass; }
