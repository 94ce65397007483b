// The region tree of a connectivity scan. Working records and finished
// cblob_blob records share child lists, so every node starts with a node
// kind whose slot 0 tells them apart; the link accessors here read it before
// touching a link. Writing a link of a cblob_blob writes both its labelled
// and its current link set, so the two sets stay equal until filters and the
// sort of the result set change the current one.
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
    return (*static_cast<const cblob_nodeKind_ *const *>(node))->isBlob(node) != 0;
}
inline int32_t nodeLabel(const void *node) {
    return (*static_cast<const cblob_nodeKind_ *const *>(node))->getLabel(node);
}

// Links of either kind of node (null reads as null).
void *nodeParent(const void *node);
void *nodeFirstChild(const void *node);
void *nodeLastChild(const void *node);
void *nodeNextSibling(const void *node);
void *nodePrevSibling(const void *node);
void setNodeParent(void *node, void *parent);
void setNodeFirstChild(void *node, void *child);
void setNodeLastChild(void *node, void *child);
void setNodeNextSibling(void *node, void *sibling);
void setNodePrevSibling(void *node, void *sibling);

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

}  // namespace cblob::connect

#endif
