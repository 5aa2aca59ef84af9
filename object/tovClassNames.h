// The class-name constants through which every tovlib class states its identity.
#ifndef TOVLIB_TOVCLASSNAMES_H
#define TOVLIB_TOVCLASSNAMES_H

#include "lib/tovExport.h"

// Each constant points at its class's name text. Identity is the pointer, not the
// text: isA() compares pointers, so pass these constants, never a copy of the text.
// They are defined once, in the library, so every client sees the same pointers.
extern TOV_API const char* const tovObjectClass;
extern TOV_API const char* const tovPoolClass;
extern TOV_API const char* const tovContainerClass;
extern TOV_API const char* const tovIteratorClass;
extern TOV_API const char* const tovIterPtrClass;
extern TOV_API const char* const tovLinkObjClass;
extern TOV_API const char* const tovFifoClass;
extern TOV_API const char* const tovFifoIterClass;
extern TOV_API const char* const tovListClass;
extern TOV_API const char* const tovListIterClass;
extern TOV_API const char* const tovSListClass;
extern TOV_API const char* const tovSListIterClass;
extern TOV_API const char* const tovHashClass;
extern TOV_API const char* const tovHashIterClass;
extern TOV_API const char* const tovStrElemClass;
extern TOV_API const char* const tovStringClass;
extern TOV_API const char* const tovStringTblClass;
extern TOV_API const char* const tovNamedObjClass;
/// Reserved: no class of the library returns or accepts it.
extern TOV_API const char* const tovSptrClass;

#endif
