// Shared pieces of the fuzz targets: a reader that turns the fuzzer's bytes
// into small numbers (running out of bytes reads zeros, so every input
// decodes to something), a check that aborts with a message (libFuzzer and
// the replay driver both report an abort as a failure), and the invariants
// every successful run must keep.
#ifndef CBLOB_TESTS_FUZZ_SUPPORT_HPP
#define CBLOB_TESTS_FUZZ_SUPPORT_HPP

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "cblob/cblob.h"

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace fuzz {

// Callers read one value per statement: the order in which the arguments
// of one call are evaluated is unspecified.
class Bytes {
public:
    Bytes(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Little-endian; the reads are sequenced, so every compiler decodes an
    // input alike (the corpus is replayed by GCC builds as well).
    uint16_t u16() {
        const uint8_t low = u8();
        return static_cast<uint16_t>(low | (u8() << 8));
    }
    int32_t i32() {
        const uint32_t low = u16();
        return static_cast<int32_t>(low | (static_cast<uint32_t>(u16()) << 16));
    }
    // 0 .. n-1.
    int32_t below(int32_t n) { return static_cast<int32_t>(u8() % static_cast<uint32_t>(n)); }
    bool flag() { return (u8() & 1) != 0; }
    // The bytes not read yet (the pixel source); never empty.
    const uint8_t *rest() const { return pos_ < size_ ? data_ + pos_ : kZero; }
    size_t restSize() const { return pos_ < size_ ? size_ - pos_ : 1; }

private:
    static constexpr uint8_t kZero[1] = {0};
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// The blob tree of a result set's labelled links: every blob reached exactly
// once from the top-level list, children's parent links and counts agree,
// child and parent have different colours and the child's box lies inside
// its parent's.
inline void checkTree(const cblob_resultSet &rs) {
    const int32_t n = rs.numBlobs;
    FUZZ_CHECK(n >= 0 && rs.numViewBlobs >= 0 && rs.numViewBlobs <= n);
    int32_t seen = 0;
    // Iterative depth-first walk; a cycle or a shared child shows as more
    // visits than blobs.
    const cblob_blob *node = rs.firstTopLevelBlob;
    if (node) FUZZ_CHECK(node->parent == nullptr);
    while (node) {
        FUZZ_CHECK(node->owner == &rs);
        FUZZ_CHECK(node->label >= 1 && node->label <= n);
        FUZZ_CHECK(rs.allBlobs[node->label - 1] == node);
        FUZZ_CHECK(++seen <= n);
        int32_t children = 0;
        const cblob_blob *prev = nullptr;
        for (const cblob_blob *c = node->firstChild; c; c = c->nextSibling) {
            FUZZ_CHECK(c->parent == node);
            FUZZ_CHECK(c->prevSibling == prev);
            FUZZ_CHECK(c->colour != node->colour);
            FUZZ_CHECK(c->boxLeft >= node->boxLeft && c->boxTop >= node->boxTop);
            FUZZ_CHECK(c->boxLeft + c->boxWidth <= node->boxLeft + node->boxWidth);
            FUZZ_CHECK(c->boxTop + c->boxHeight <= node->boxTop + node->boxHeight);
            FUZZ_CHECK(++children <= n);
            prev = c;
        }
        FUZZ_CHECK(children == node->numChildren);
        FUZZ_CHECK(node->lastChild == prev);
        // Next: first child, else the next sibling of this node or of the
        // nearest ancestor that has one.
        if (node->firstChild) {
            node = node->firstChild;
        } else {
            while (node && !node->nextSibling) node = node->parent;
            if (node) node = node->nextSibling;
        }
    }
    FUZZ_CHECK(seen == n);
}

// The sum of the object blobs' areas.
inline double objectArea(const cblob_resultSet &rs) {
    double sum = 0;
    for (int32_t i = 0; i < rs.numBlobs; ++i) {
        if (rs.allBlobs[i]->colour == 1) sum += rs.allBlobs[i]->area;
    }
    return sum;
}

}  // namespace fuzz

#endif
