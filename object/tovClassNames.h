/// \file
/// The class-name constants through which every tovlib class states its identity.
///
/// Each constant points at its class's name text. Identity is the pointer, not the
/// text: isA() compares pointers, so pass these constants, never a copy of the text.
/// They are defined once, in the library, so every client sees the same pointers.
/// The texts of tovStringClass and tovStringTblClass end in "Class", unlike the others.
#ifndef TOVLIB_TOVCLASSNAMES_H
#define TOVLIB_TOVCLASSNAMES_H

#include "lib/tovExport.h"

extern TOV_API const char* const tovObjectClass;     ///< "tovObject", of tovObject
extern TOV_API const char* const tovPoolClass;       ///< "tovPool", of tovPool
extern TOV_API const char* const tovContainerClass;  ///< "tovContainer", of tovContainer
extern TOV_API const char* const tovIteratorClass;   ///< "tovIterator", of tovIterator
extern TOV_API const char* const tovIterPtrClass;    ///< "tovIterPtr", of tovIterPtr
extern TOV_API const char* const tovLinkObjClass;    ///< "tovLinkObj", of tovLinkObj
extern TOV_API const char* const tovFifoClass;       ///< "tovFifo", of tovFifo
extern TOV_API const char* const tovFifoIterClass;   ///< "tovFifoIter", of tovFifoIter
extern TOV_API const char* const tovListClass;       ///< "tovList", of tovList
extern TOV_API const char* const tovListIterClass;   ///< "tovListIter", of tovListIter
extern TOV_API const char* const tovSListClass;      ///< "tovSList", of tovSList
extern TOV_API const char* const tovSListIterClass;  ///< "tovSListIter", of tovSListIter
extern TOV_API const char* const tovHashClass;       ///< "tovHash", of tovHash<4191>
extern TOV_API const char* const tovHashIterClass;   ///< "tovHashIter", of tovHashIter<4191>
extern TOV_API const char* const tovStrElemClass;    ///< "tovStrElem", of tovStrElem
extern TOV_API const char* const tovStringClass;     ///< "tovStringClass", of tovString
extern TOV_API const char* const tovStringTblClass;  ///< "tovStringTblClass", of tovStringTbl
extern TOV_API const char* const tovNamedObjClass;   ///< "tovNamedObj", of tovNamedObj
extern TOV_API const char* const tovSptrClass;       ///< "tovSptr": reserved; no class returns or accepts it

#endif
