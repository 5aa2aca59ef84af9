// Internal: the node-chain walks shared by the FIFO and the two lists.
#ifndef TOVLIB_TOVCHAIN_H
#define TOVLIB_TOVCHAIN_H

#include "container/tovLinkObj.h"

namespace tovChain {

/// A node for `o` in `o`'s own pool (the heap when it has none); takes a reference.
inline tovLinkObj* makeNode(tovObject& o) { return new (o.getPool()) tovLinkObj(o); }

/// The first element from `node` on that declares itself equal to `key`.
inline tovObject* find(const tovLinkObj* node, const tovObject& key) {
    for (; node; node = node->_next)
        if (node->getObj().isEqual(key)) return &node->getObj();
    return nullptr;
}

/// The link (`*head` or a node's `_next`) that points at the first node whose element
/// declares itself equal to `key`, or null; `before` receives the node ahead of it.
inline tovLinkObj** findLink(tovLinkObj** head, const tovObject& key, tovLinkObj*& before) {
    before = nullptr;
    for (tovLinkObj** link = head; *link; link = &(*link)->_next) {
        if ((*link)->getObj().isEqual(key)) return link;
        before = *link;
    }
    return nullptr;
}

/// Unlinks and deletes the first node from `head` on whose element declares itself
/// equal to `key`, lowering `count`; false, changing nothing, when there is none.
inline bool removeFirst(tovLinkObj*& head, const tovObject& key, int& count) {
    tovLinkObj* before;
    // Only the call's exception edge, which gcov leaves untagged in the unused inline copies.
    tovLinkObj** link = findLink(&head, key, before);  // GCOVR_EXCL_BR_LINE
    if (!link) return false;
    tovLinkObj* node = *link;
    --count;
    *link = node->_next;
    // Releases the element, which may destroy it.
    delete node;  // GCOVR_EXCL_BR_LINE: delete's own null test; never null here
    return true;
}

/// Deletes the nodes of a chain that no container holds any more, in chain order,
/// each releasing its element. The container was emptied first, so an element's
/// destructor finds it consistent: what it adds stays there, and what it removes of
/// this chain is not found there (it is released here, once).
inline void deleteChain(tovLinkObj* node) {
    while (node) {
        tovLinkObj* const next = node->_next;
        delete node;  // GCOVR_EXCL_BR_LINE: delete's own null test; never null here
        node = next;
    }
}

}  // namespace tovChain

#endif
