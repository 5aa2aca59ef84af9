/// \file
/// tovlib: the one header clients include to use the whole library.
#ifndef TOVLIB_TOVLIB_H
#define TOVLIB_TOVLIB_H

// tovlib is a foundation class library:
//  - tovObject: a common base with class identity by class-name constants, intrusive
//    reference counting, and allocation from memory pools;
//  - tovPool: memory pools that recycle small elements by size class, merge large free
//    segments, and give their memory back in one piece; tovPoolResource carves the
//    memory of standard containers (std::pmr) from a pool;
//  - containers holding objects by counted reference behind one iterator protocol:
//    tovFifo, tovList, tovSList and the 4191-bucket hash table tovHash<4191>;
//  - interned strings: string tables of unique texts (tovStringTbl, tovStrElem),
//    handles that compare by identity (tovString), and named objects (tovNamedObj);
//  - tovLib: process-wide services: start-up and reset, the temporary string area,
//    the diagnostic flag bank, indentation, and a stopwatch.
//
// All of it is single-threaded: use the library from one thread at a time.

/// The library's major version: raised with every change that breaks clients built
/// against an earlier one (it is the shared library's SONAME version).
#define TOVLIB_VERSION_MAJOR 1
/// The minor version: raised when the interface grows compatibly.
#define TOVLIB_VERSION_MINOR 0
/// The patch version: raised for fixes that leave the interface as it is.
#define TOVLIB_VERSION_PATCH 0

#include "lib/tovExport.h"
#include "lib/tovServices.h"
#include "object/tovClassNames.h"
#include "object/tovObject.h"
#include "object/tovRef.h"
#include "object/tovStream.h"
#include "pool/tovPool.h"
#include "pool/tovPoolResource.h"
#include "container/tovContainer.h"
#include "container/tovLinkObj.h"
#include "container/tovFifo.h"
#include "container/tovList.h"
#include "container/tovSList.h"
#include "container/tovHash.h"
#include "container/tovRange.h"
#include "string/tovStrElem.h"
#include "string/tovStringTbl.h"
#include "string/tovString.h"
#include "string/tovNamedObj.h"

#endif
