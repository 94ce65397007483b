// Node kinds and tree surgery on the shared child lists of working records
// and blob records.
#include "connect/region_tree.hpp"

#include <cstdint>

#include "core/require.hpp"

namespace {

int32_t workingIsBlob(const void *) { return 0; }
int32_t workingLabel(const void *node) { return static_cast<const cblob_blob_internal_ *>(node)->label; }
int32_t blobIsBlob(const void *) { return 1; }
int32_t blobLabel(const void *node) { return static_cast<const cblob_blob *>(node)->label; }

}  // namespace

extern "C" {
const cblob_nodeKind_ cblob_blob_external_vtable_ = {&blobIsBlob, &blobLabel};
}

namespace cblob::connect {

const cblob_nodeKind_ kWorkingNodeKind = {&workingIsBlob, &workingLabel};

int32_t appendChild(void *parent, void *node) {
    CBLOB_REQUIRE_ARG(parent);
    CBLOB_REQUIRE_ARG(node);
    void *last = nodeLastChild(parent);
    if (!isBlobNode(parent)) ++static_cast<cblob_blob_internal_ *>(parent)->childCount;
    setNodeParent(node, parent);
    setNodePrevSibling(node, last);
    setNodeNextSibling(node, nullptr);
    if (last) {
        setNodeNextSibling(last, node);
    } else {
        setNodeFirstChild(parent, node);
    }
    setNodeLastChild(parent, node);
    return 0;
}

namespace {

// Joins the node's siblings and moves the parent's ends past the node.
void joinSiblings(void *node) {
    void *parent = nodeParent(node);
    void *prev = nodePrevSibling(node);
    void *next = nodeNextSibling(node);
    if (prev) setNodeNextSibling(prev, next);
    if (next) setNodePrevSibling(next, prev);
    if (parent) {
        if (nodeFirstChild(parent) == node) setNodeFirstChild(parent, next);
        if (nodeLastChild(parent) == node) setNodeLastChild(parent, prev);
        if (!isBlobNode(parent)) --static_cast<cblob_blob_internal_ *>(parent)->childCount;
    }
}

// Every child of `from` gets `parent` as its parent; with a parent they join
// the end of its child list. `from` keeps no children.
void handChildrenTo(void *from, void *parent) {
    void *child = nodeFirstChild(from);
    setNodeFirstChild(from, nullptr);
    setNodeLastChild(from, nullptr);
    if (!isBlobNode(from)) static_cast<cblob_blob_internal_ *>(from)->childCount = 0;
    while (child) {
        void *next = nodeNextSibling(child);
        if (parent) {
            appendChild(parent, child);
        } else {
            setNodeParent(child, nullptr);
        }
        child = next;
    }
}

}  // namespace

int32_t detachFromParent(void *node) {
    CBLOB_REQUIRE_ARG(node);
    joinSiblings(node);
    setNodeParent(node, nullptr);
    setNodePrevSibling(node, nullptr);
    setNodeNextSibling(node, nullptr);
    return 0;
}

int32_t moveChildren(void *from, void *to) {
    CBLOB_REQUIRE_ARG(from);
    CBLOB_REQUIRE_ARG(to);
    CBLOB_REQUIRE_ARG(from != to);
    handChildrenTo(from, to);
    return 0;
}

int32_t unlinkWorking(cblob_blob_internal_ *node) {
    CBLOB_REQUIRE_ARG(node);
    // Children first: when the node is its parent's last child they are
    // appended behind it, and joining its siblings then closes the gap.
    handChildrenTo(node, node->parent);
    joinSiblings(node);
    node->merged = 1;
    return 0;
}

int32_t replaceWithBlob(cblob_blob_internal_ *working, cblob_blob *blob) {
    CBLOB_REQUIRE_ARG(working);
    CBLOB_REQUIRE_ARG(blob);
    CBLOB_REQUIRE_ARG(blob->nodeKind == &cblob_blob_external_vtable_);
    handOverPlace(working, blob);
    return 0;
}

}  // namespace cblob::connect
