// tovPoolCache: the arenas of released pools, kept up to a bound for the next pool.
#include "pool/tovPoolCache.h"

#include <new>

#include "lib/tovServices.h"

tovPoolCache::Arena* tovPoolCache::_lists[lists] = {};
tovPoolCache::Arena* tovPoolCache::_pending = nullptr;
std::size_t tovPoolCache::_held = 0;
std::size_t tovPoolCache::_bound = defaultBound;

namespace {

std::size_t listOf(std::size_t size) {
    return 8 * sizeof(unsigned long long) - 1 - static_cast<std::size_t>(__builtin_clzll(size));
}

// At exit the cache goes back to the heap, and a pool released later (a static one
// destroyed after this) gives its arenas straight back.
struct GiveBackAtExit {
    GiveBackAtExit() = default;
    GiveBackAtExit(const GiveBackAtExit&) = delete;
    GiveBackAtExit& operator=(const GiveBackAtExit&) = delete;
    ~GiveBackAtExit() { tovPoolCache::setBound(0); }
} giveBackAtExit;

}  // namespace

tovPoolCache::Arena* tovPoolCache::take(std::size_t size) {
    if (_pending) file();
    if (_held == 0) return nullptr;
    // In the list of the size's power of two, the first of a few that is large enough;
    // failing that, the newest of the next list, where every arena is.
    const std::size_t k = listOf(size);
    Arena** link = &_lists[k];
    Arena* a = follow(link);
    for (int looked = 1; a && read(a->size) < size; ++looked) {
        if (looked == 4) {
            a = nullptr;
            break;
        }
        link = &a->next;
        a = follow(link);
    }
    if (!a && k + 1 < lists) a = follow(link = &_lists[k + 1]);
    if (!a) return nullptr;
    const std::size_t whole = read(a->size);
    relink(link, read(a->next));
    _held -= whole;
    // As the heap hands memory out: accessible, its contents undefined.
#ifdef TOVLIB_MEMCHECK
    VALGRIND_MAKE_MEM_UNDEFINED(a, whole);
#else
    tovPool::reveal(a, whole);
#endif
    a->size = whole;
    return a;
}

void* tovPoolCache::fromHeap(std::size_t size) {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        if (_held == 0) throw;
    }
    trim(0);
    return ::operator new(size);
}

void tovPoolCache::keep(Arena* a) {
    const std::size_t size = a->size;
    if (size > _bound - _held) {
        giveBack(a, size);
        return;
    }
    const std::size_t k = listOf(size);
    tovPool::hide(a, size);  // the header's fields are opened as they are written
    write(a->size, size);
    write(a->next, _lists[k]);
    _lists[k] = a;
    _held += size;
}

void tovPoolCache::keepAll(Arena* newest) {
#ifndef TOVLIB_MEMCHECK
    if (tovPool::poisoning()) return keepEach(newest);  // GCOVR_EXCL_LINE: see poisoning()
    if (newest->total <= _bound - _held) {
        newest->pending = _pending;
        _pending = newest;
        _held += newest->total;
        return;
    }
#endif
    keepEach(newest);
}

void tovPoolCache::keepEach(Arena* newest) {
    while (Arena* a = newest) {
        newest = a->next;
        keep(a);
    }
}

void tovPoolCache::file() {
    while (Arena* chain = _pending) {
        _pending = chain->pending;
        _held -= chain->total;
        keepEach(chain);
    }
}

void tovPoolCache::trim(std::size_t bytes) {
    if (_held <= bytes) return;
    if (_pending) file();
    for (std::size_t k = lists; k-- > 0 && _held > bytes;) {
        while (Arena* a = _lists[k]) {
            if (_held <= bytes) break;
            const std::size_t size = read(a->size);
            _lists[k] = read(a->next);
            _held -= size;
            giveBack(a, size);
        }
    }
}

void tovPoolCache::setBound(std::size_t bytes) {
    _bound = bytes;
    trim(bytes);
}

void tovPoolCache::giveBack(Arena* a, std::size_t size) {
    tovPool::reveal(a, size);
    ::operator delete(a);
}

// A link is a list head, static data that is never hidden, or a cached arena's next field.
tovPoolCache::Arena* tovPoolCache::follow(Arena* const* link) {
    return link >= _lists && link < _lists + lists ? *link : read(*link);
}

void tovPoolCache::relink(Arena** link, Arena* to) {
    if (link >= _lists && link < _lists + lists)
        *link = to;
    else
        write(*link, to);
}

void tovLib::setPoolCacheBound(std::size_t bytes) { tovPoolCache::setBound(bytes); }

std::size_t tovLib::poolCacheBound() { return tovPoolCache::bound(); }

std::size_t tovLib::poolCacheHeld() { return tovPoolCache::held(); }

void tovLib::trimPoolCache() { tovPoolCache::trim(0); }
