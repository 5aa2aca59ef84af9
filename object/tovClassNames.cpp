// Definitions of the class-name constants (one home, so the pointers are unique).
#include "object/tovClassNames.h"

const char* const tovObjectClass = "tovObject";
const char* const tovPoolClass = "tovPool";
const char* const tovContainerClass = "tovContainer";
const char* const tovIteratorClass = "tovIterator";
const char* const tovIterPtrClass = "tovIterPtr";
const char* const tovLinkObjClass = "tovLinkObj";
const char* const tovFifoClass = "tovFifo";
const char* const tovFifoIterClass = "tovFifoIter";
const char* const tovListClass = "tovList";
const char* const tovListIterClass = "tovListIter";
const char* const tovSListClass = "tovSList";
const char* const tovSListIterClass = "tovSListIter";
const char* const tovHashClass = "tovHash";
const char* const tovHashIterClass = "tovHashIter";
const char* const tovStrElemClass = "tovStrElem";
const char* const tovStringClass = "tovStringClass";
const char* const tovStringTblClass = "tovStringTblClass";
const char* const tovNamedObjClass = "tovNamedObj";
const char* const tovSptrClass = "tovSptr";
