// tovPoolSide: the registry of side structures that pools delete when they release.
#include "pool/tovPoolSide.h"

tovPoolSide* tovPoolSide::_all = nullptr;

tovPoolSide::tovPoolSide(const tovPool* pool) : _pool(pool), _next(_all) {
    if (_all) _all->_prev = this;
    _all = this;
}

tovPoolSide::~tovPoolSide() {
    if (_prev)
        _prev->_next = _next;
    else
        _all = _next;
    if (_next) _next->_prev = _prev;
}

void tovPoolSide::releaseOf(const tovPool* pool) {
    for (tovPoolSide* side = _all; side;) {
        tovPoolSide* const next = side->_next;
        if (side->_pool == pool) delete side;  // GCOVR_EXCL_BR_LINE: delete's own null test
        side = next;
    }
}
