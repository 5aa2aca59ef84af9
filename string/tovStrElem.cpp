// tovStrElem: text storage, string hash, equality, order and dump.
#include "string/tovStrElem.h"

#include <cstring>
#include <new>
#include <ostream>

#include "lib/tovServices.h"
#include "pool/tovPool.h"
#include "string/tovString.h"
#include "string/tovText.h"

// Caching the hash costs the element no bytes: its size is the base's and the text's.
static_assert(sizeof(tovStrElem) == sizeof(tovObject) + sizeof(char*),
              "the hash must fit the base's padding");

tovStrElem::tovStrElem(const char* s) : tovStrElem(s, std::strlen(s)) {
    keepHash(tovText::fullHash(_text, std::strlen(_text)));
}

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

unsigned int tovStrElem::hash(int n) const {
#if UINTPTR_MAX > 0xFFFFFFFFu
    const auto divisor = static_cast<unsigned int>(n);
    return divisor ? fullHash() % divisor : 0;
#else
    return tovText::hash(_text, n);
#endif
}

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
