// The library's own copy of the 4191-bucket table and its iterator.
#include "container/tovHash.h"

template class tovHash<4191>;
template class tovHashIter<4191>;
