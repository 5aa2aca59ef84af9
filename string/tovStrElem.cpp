// tovStrElem: text storage, string hash, equality, order and dump.
#include "string/tovStrElem.h"

#include <cstring>
#include <new>
#include <ostream>

#include "lib/tovServices.h"
#include "pool/tovPool.h"
#include "string/tovString.h"
#include "string/tovText.h"

tovStrElem::tovStrElem(const char* s) : tovStrElem(s, std::strlen(s)) {}

tovStrElem::tovStrElem(const char* s, std::size_t length) {
    const std::size_t size = length + 1;
    tovPool* pool = getPool();
    _text = static_cast<char*>(pool ? pool->alloc(size) : ::operator new(size));
    std::memcpy(_text, s, size);
}

tovStrElem::~tovStrElem() {
    if (tovPool* pool = getPool())
        pool->free(_text, std::strlen(_text) + 1);
    else
        ::operator delete(_text);
}

unsigned int tovStrElem::hash(int n) const { return tovText::hash(_text, n); }

std::ostream& tovStrElem::dump(std::ostream& os, int indent, int nl) const {
    if (tovLib::get(4)) {
        tovObject::dump(os, indent, 0);
        indent = 0;
    }
    os << tovLib::space(indent) << _text << " ";
    if (nl) os << std::endl;
    return os;
}

bool tovStrElem::isEqual(const tovObject& other) const {
    if (&other == this) return true;
    if (!other.isA(tovStrElemClass)) return false;
    return std::strcmp(_text, static_cast<const tovStrElem&>(other)._text) == 0;
}

int tovStrElem::objcmp(const tovObject& other) const {
    if (&other == this) return 0;
    if (!other.isA(tovStrElemClass)) return tovObject::objcmp(other);
    return tovText::compare(_text, static_cast<const tovStrElem&>(other)._text);
}

bool tovStrElem::isA(const char* name) const { return name == tovStrElemClass || tovObject::isA(name); }

const char* tovStrElem::className() const { return tovStrElemClass; }

// The handle's constructor cannot throw: the new-expression's cleanup never runs.
tovStrElem::operator tovString&() {
    return *new (getPool()) tovString(this);  // GCOVR_EXCL_BR_LINE
}
