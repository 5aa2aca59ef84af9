/// \file
/// operator<< for tovObject: a stream insertion that writes the object's dump line.
#ifndef TOVLIB_TOVSTREAM_H
#define TOVLIB_TOVSTREAM_H

#include <iosfwd>

#include "object/tovObject.h"

/// Writes `o.dump(os, 0, 0)`: the object's diagnostic dump at indentation 0, with the
/// fields the flag bank selects and no line end at its close (a container still breaks
/// the line after its own and writes its elements behind); returns `os`.
///
/// String handles and elements given with their own type (tovString, tovStrElem) keep
/// writing just their text, as they did through their char* conversion before this
/// operator existed; through a tovObject& they write their dump like any object.
inline std::ostream& operator<<(std::ostream& os, const tovObject& o) { return o.dump(os, 0, 0); }

#endif
