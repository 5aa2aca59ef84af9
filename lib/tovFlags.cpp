// tovLib's flag bank and indentation buffer.
#include "lib/tovServices.h"

#include <cstdio>
#include <cstring>

bool tovLib::_f[tovLib::flagCount];
char tovLib::_buffer[tovLib::maxSpace + 1];

namespace {
bool validFlag(int i) { return i >= 0 && i < tovLib::flagCount; }
}  // namespace

bool tovLib::get(int i) { return validFlag(i) && _f[i]; }

void tovLib::set(int i) {
    if (validFlag(i)) _f[i] = true;
}

void tovLib::clr(int i) {
    if (validFlag(i)) _f[i] = false;
}

void tovLib::clrAll() { std::memset(_f, 0, sizeof _f); }

char* tovLib::space(int n) {
    if (n == 0) {
        _buffer[0] = '\0';
        return _buffer;
    }
    // Clamp before formatting: a wider field would not fit the buffer (and -INT_MIN
    // has no magnitude as an int).
    if (n > maxSpace) n = maxSpace;
    if (n < -maxSpace) n = -maxSpace;
    std::snprintf(_buffer, sizeof _buffer, "%*s", n, " ");
    return _buffer;
}
