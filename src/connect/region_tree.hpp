// The region tree of a connectivity scan. Working records and finished
// cblob_blob records share child lists, so every node starts with a node
// kind; the link accessors here tell the two kinds apart before touching a
// link. Writing a link of a cblob_blob writes both its labelled and its
// current link set, so the two sets stay equal until filters and the sort of
// the result set change the current one.
//
// The accessors are inline: the scan calls them for every region it closes
// off, merges or finishes. A node is a cblob_blob exactly when its kind is
// cblob_blob_external_vtable_ (the kind whose is-blob slot answers 1; every
// other node is a working record), so the test is a pointer comparison
// rather than a call through the table. Code that knows a node's record type
// uses that type directly instead.
#ifndef CBLOB_CONNECT_REGION_TREE_HPP
#define CBLOB_CONNECT_REGION_TREE_HPP

#include <cstdint>

#include "cblob/blob.h"
#include "connect/blob_internal.hpp"

namespace cblob::connect {

// The node kind of every working record.
extern const cblob_nodeKind_ kWorkingNodeKind;

// Slot 0 and slot 1 of the node's kind.
inline bool isBlobNode(const void *node) {
    return *static_cast<const cblob_nodeKind_ *const *>(node) == &cblob_blob_external_vtable_;
}
inline int32_t nodeLabel(const void *node) {
    return isBlobNode(node) ? static_cast<const cblob_blob *>(node)->label
                            : static_cast<const cblob_blob_internal_ *>(node)->label;
}

namespace tree_detail {
inline cblob_blob *asBlob(void *node) { return static_cast<cblob_blob *>(node); }
inline const cblob_blob *asBlob(const void *node) { return static_cast<const cblob_blob *>(node); }
inline cblob_blob_internal_ *asWorking(void *node) { return static_cast<cblob_blob_internal_ *>(node); }
inline const cblob_blob_internal_ *asWorking(const void *node) {
    return static_cast<const cblob_blob_internal_ *>(node);
}
}  // namespace tree_detail

// Links of either kind of node (null reads as null). A cblob_blob's links
// are typed; during a scan they may name working records, which the casts
// carry without ever reading through them as blobs.
#define CBLOB_NODE_LINK_ACCESSORS(Getter, Setter, BlobField, CurrentField, WorkingField)                         \
    inline void *Getter(const void *node) {                                                                     \
        if (!node) return nullptr;                                                                              \
        return isBlobNode(node) ? static_cast<void *>(tree_detail::asBlob(node)->BlobField)                     \
                                : tree_detail::asWorking(node)->WorkingField;                                   \
    }                                                                                                           \
    inline void Setter(void *node, void *link) {                                                                \
        if (isBlobNode(node)) {                                                                                 \
            cblob_blob *blob = tree_detail::asBlob(node);                                                       \
            blob->BlobField = static_cast<cblob_blob *>(link);                                                  \
            CurrentField;                                                                                       \
        } else {                                                                                                \
            tree_detail::asWorking(node)->WorkingField = link;                                                  \
        }                                                                                                       \
    }

CBLOB_NODE_LINK_ACCESSORS(nodeParent, setNodeParent, parent, (void)blob, parent)
CBLOB_NODE_LINK_ACCESSORS(nodeFirstChild, setNodeFirstChild, firstChild,
                          blob->curFirstChild = static_cast<cblob_blob *>(link), firstChild)
CBLOB_NODE_LINK_ACCESSORS(nodeLastChild, setNodeLastChild, lastChild,
                          blob->curLastChild = static_cast<cblob_blob *>(link), lastChild)
CBLOB_NODE_LINK_ACCESSORS(nodeNextSibling, setNodeNextSibling, nextSibling,
                          blob->curNextSibling = static_cast<cblob_blob *>(link), nextSibling)
CBLOB_NODE_LINK_ACCESSORS(nodePrevSibling, setNodePrevSibling, prevSibling,
                          blob->curPrevSibling = static_cast<cblob_blob *>(link), prevSibling)

#undef CBLOB_NODE_LINK_ACCESSORS

// Makes the working record `node`, which is in no child list, the last
// child of the working record `parent`. The parent's last child may be of
// either kind.
inline void appendWorkingChild(cblob_blob_internal_ *parent, cblob_blob_internal_ *node) {
    void *last = parent->lastChild;
    ++parent->childCount;
    node->parent = parent;
    node->prevSibling = last;
    node->nextSibling = nullptr;
    if (last) {
        setNodeNextSibling(last, node);
    } else {
        parent->firstChild = node;
    }
    parent->lastChild = node;
}

// Makes `node` the last child of `parent` and `parent` its parent. The node
// must not be in a child list.
int32_t appendChild(void *parent, void *node);

// Takes `node` out of its parent's child list: its previous and next
// siblings are joined, and the parent's first or last child moves past it.
// The node keeps its own children; its parent and sibling links are cleared.
int32_t detachFromParent(void *node);

// Appends every child of `from`, in order, to the end of the child list of
// `to` and makes `to` their parent; `from` is left without children.
int32_t moveChildren(void *from, void *to);

// Drops a working record from the tree (a region discarded after a merge or
// a prune): its children get its parent as parent and, when there is one,
// join the end of the parent's child list; its previous and next siblings are
// joined; the parent's first or last child moves past it; merged becomes 1.
int32_t unlinkWorking(cblob_blob_internal_ *node);

// Finishing a region: the blob takes the working record's place in its
// parent's child list, its parent, its children (who get the blob as their
// parent) and, counted, both child counts. The working record is left
// without links. The blob's node kind must already be set.
int32_t replaceWithBlob(cblob_blob_internal_ *working, cblob_blob *blob);

// The work of replaceWithBlob, without its argument checks, for the scan,
// which finishes a region for every blob. Writes every link and both child
// counts of the blob. Without visitChildren the children keep the working
// record as their parent, for the caller to repoint (the scan does it in one
// pass over its blob records when a region has very many children).
inline void handOverPlace(cblob_blob_internal_ *working, cblob_blob *blob, bool visitChildren = true) {
    void *parent = working->parent;
    void *prev = working->prevSibling;
    void *next = working->nextSibling;
    void *first = working->firstChild;
    blob->parent = static_cast<cblob_blob *>(parent);
    blob->prevSibling = blob->curPrevSibling = static_cast<cblob_blob *>(prev);
    blob->nextSibling = blob->curNextSibling = static_cast<cblob_blob *>(next);
    if (prev) setNodeNextSibling(prev, blob);
    if (next) setNodePrevSibling(next, blob);
    if (parent) {
        if (nodeFirstChild(parent) == working) setNodeFirstChild(parent, blob);
        if (nodeLastChild(parent) == working) setNodeLastChild(parent, blob);
    }
    int32_t children = working->childCount;
    if (visitChildren) {
        children = 0;
        for (void *child = first; child; child = nodeNextSibling(child)) {
            setNodeParent(child, blob);
            ++children;
        }
    }
    blob->firstChild = blob->curFirstChild = static_cast<cblob_blob *>(first);
    blob->lastChild = blob->curLastChild = static_cast<cblob_blob *>(working->lastChild);
    blob->numChildren = children;
    blob->curNumChildren = children;
    working->parent = nullptr;
    working->prevSibling = nullptr;
    working->nextSibling = nullptr;
    working->firstChild = nullptr;
    working->lastChild = nullptr;
    working->childCount = 0;
}

}  // namespace cblob::connect

#endif
