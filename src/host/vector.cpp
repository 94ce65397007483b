// The untyped growable vector under every typed vector: storage and growth,
// and the element actions (construct, copy, assign, destruct) run through the
// element table with every failure rolled back.
//
// Elements with an action table are never moved bytewise. Whenever such
// elements must change place (growth, insertion or erasure in the middle),
// fresh storage is built by copy-constructing them and the old elements are
// destructed only once the new storage is complete, so these operations
// either succeed or leave the vector as it was, and a source element that
// lies inside the vector itself stays readable while it is copied.
#include <cstring>
#include <utility>

#include "cblob/sys.h"
#include "cblob/vector.h"
#include "core/require.hpp"

namespace {

using Vec = cstd_vector_;
using Table = cstd_vectorElementTable;
using MemoryTable = cstd_vectorMemoryTable;

// The smallest capacity geometric growth produces.
constexpr int64_t kMinGrowth = 4;

void keepFirstFailure(int32_t *status, int32_t next) {
    if (CBLOB_FAILED(next) && !CBLOB_FAILED(*status)) *status = next;
}

// ------------------------------------------------------------------ storage

int64_t maxCount(int64_t elementSize) { return PTRDIFF_MAX / elementSize; }

// The address of element `index` of the elements starting at `base`.
char *offset(char *base, int64_t index, int64_t elementSize) {
    return index == 0 ? base : base + index * elementSize;
}
const char *offset(const char *base, int64_t index, int64_t elementSize) {
    return index == 0 ? base : base + index * elementSize;
}
char *elementAt(const Vec *v, int64_t index) { return offset(static_cast<char *>(v->begin), index, v->elementSize); }

int32_t allocStorage(const Vec *v, int64_t count, char **storage) {
    void *block = nullptr;
    const int64_t bytes = count * v->elementSize;
    const int32_t status =
        v->mtable ? v->mtable->alloc(bytes, &block) : csys_memory_alloc_internal(bytes, &block);
    if (!CBLOB_FAILED(status)) *storage = static_cast<char *>(block);
    return status;
}

int32_t reallocStorage(const Vec *v, int64_t count, void **storage) {
    const int64_t bytes = count * v->elementSize;
    if (!*storage) return v->mtable ? v->mtable->alloc(bytes, storage) : csys_memory_alloc_internal(bytes, storage);
    return v->mtable ? v->mtable->realloc(bytes, storage) : csys_memory_realloc_internal(bytes, storage);
}

template <class T>
int32_t freeStorage(const Vec *v, T **storage) {
    void *block = *storage;
    *storage = nullptr;
    if (!block) return 0;
    return v->mtable ? v->mtable->free(&block) : csys_memory_free_internal(&block);
}

// Whether `count` elements at `p` share bytes with v's storage.
bool overlapsStorage(const Vec *v, const void *p, int64_t count) {
    if (!v->begin || !p || count <= 0) return false;
    const uintptr_t lo = reinterpret_cast<uintptr_t>(v->begin);
    const uintptr_t hi = lo + static_cast<uintptr_t>(v->capacity * v->elementSize);
    const uintptr_t first = reinterpret_cast<uintptr_t>(p);
    const uintptr_t last = first + static_cast<uintptr_t>(count * v->elementSize);
    return first < hi && lo < last;
}

// The capacity for `need` elements when growing geometrically: 1.5 times
// the current capacity, at least kMinGrowth and at least `need`.
int32_t grownCapacity(const Vec *v, int64_t need, int64_t *capacity) {
    const int64_t limit = maxCount(v->elementSize);
    if (need > limit) return csys_err_badSize;
    int64_t grown = v->capacity <= limit - v->capacity / 2 ? v->capacity + v->capacity / 2 : limit;
    if (grown < kMinGrowth) grown = kMinGrowth < limit ? kMinGrowth : limit;
    *capacity = grown < need ? need : grown;
    return 0;
}

// ---------------------------------------------------------- element actions

// Where new elements come from.
enum class Source {
    defaults,  // default-constructed (zero bytes without a table)
    uninit,    // left unconstructed
    block,     // copies of consecutive elements
    one        // copies of one element
};

// Destructs `count` elements at `first`, last first; every element is
// destructed even when one fails, and the first failure is returned.
int32_t destructRange(const Vec *v, char *first, int64_t count) {
    int32_t status = 0;
    if (!v->table) return status;
    for (int64_t i = count - 1; i >= 0; --i) keepFirstFailure(&status, v->table->destruct(offset(first, i, v->elementSize)));
    return status;
}

// Constructs `count` elements at `dst` (raw storage). When one fails, the
// ones built before it are destructed again and its status is returned.
// Without a table the source must not overlap `dst`.
int32_t constructRange(const Vec *v, char *dst, int64_t count, Source how, const char *src) {
    const int64_t size = v->elementSize;
    if (count <= 0 || how == Source::uninit) return 0;
    const Table *table = v->table;
    if (!table) {
        if (how == Source::defaults) {
            std::memset(dst, 0, static_cast<size_t>(count * size));
        } else if (how == Source::block) {
            std::memcpy(dst, src, static_cast<size_t>(count * size));
        } else {
            for (int64_t i = 0; i < count; ++i) std::memcpy(dst + i * size, src, static_cast<size_t>(size));
        }
        return 0;
    }
    int32_t status = 0;
    int64_t built = 0;
    for (; built < count && !CBLOB_FAILED(status); ++built) {
        char *element = offset(dst, built, size);
        if (how == Source::defaults) {
            status = table->construct(element);
        } else {
            status = table->constructCopy(element, how == Source::block ? offset(src, built, size) : src);
        }
    }
    // The failing element was not constructed: only those before it are.
    if (CBLOB_FAILED(status)) destructRange(v, dst, built - 1);
    return status;
}

// Assigns `count` elements from `src` to the constructed elements at `dst`.
// A failing assign stops there; every element stays constructed.
int32_t assignRange(const Vec *v, char *dst, const char *src, int64_t count) {
    if (count <= 0) return 0;
    if (!v->table) {
        std::memmove(dst, src, static_cast<size_t>(count * v->elementSize));
        return 0;
    }
    int32_t status = 0;
    for (int64_t i = 0; i < count && !CBLOB_FAILED(status); ++i)
        status = v->table->assign(offset(dst, i, v->elementSize), offset(src, i, v->elementSize));
    return status;
}

// One run of consecutive new elements in rebuilt storage.
struct Piece {
    Source how;
    const char *src;
    int64_t count;
};

// Builds fresh storage of `capacity` elements holding the pieces in order,
// then destructs v's old elements and frees the old storage. The pieces may
// read v's old elements, which stay intact until the new storage is
// complete. On failure v is unchanged.
int32_t rebuild(Vec *v, int64_t capacity, const Piece *pieces, int pieceCount) {
    char *fresh = nullptr;
    int64_t built = 0;
    int32_t status = capacity > 0 ? allocStorage(v, capacity, &fresh) : 0;
    for (int i = 0; i < pieceCount && !CBLOB_FAILED(status); ++i) {
        status = constructRange(v, offset(fresh, built, v->elementSize), pieces[i].count, pieces[i].how, pieces[i].src);
        if (!CBLOB_FAILED(status)) built += pieces[i].count;
    }
    if (CBLOB_FAILED(status)) {
        // The first failure is the one reported; releasing what was built
        // cannot change it.
        destructRange(v, fresh, built);
        freeStorage(v, &fresh);
        return status;
    }
    status = destructRange(v, static_cast<char *>(v->begin), v->size);
    void *old = v->begin;
    v->begin = fresh;
    v->size = built;
    v->capacity = capacity;
    keepFirstFailure(&status, freeStorage(v, &old));
    return status;
}

// Grows the storage to exactly `capacity` elements, keeping the elements.
int32_t growStorage(Vec *v, int64_t capacity) {
    if (v->table) {
        const Piece keep{Source::block, static_cast<const char *>(v->begin), v->size};
        return rebuild(v, capacity, &keep, 1);
    }
    void *storage = v->begin;
    const int32_t status = reallocStorage(v, capacity, &storage);
    if (!CBLOB_FAILED(status)) {
        v->begin = storage;
        v->capacity = capacity;
    }
    return status;
}

// Grows v to `count` (> size) elements, the new ones built from `how`.
int32_t growTo(Vec *v, int64_t count, Source how, const char *src) {
    const int64_t added = count - v->size;
    if (count <= v->capacity) {
        const int32_t status = constructRange(v, elementAt(v, v->size), added, how, src);
        if (!CBLOB_FAILED(status)) v->size = count;
        return status;
    }
    int64_t capacity = 0;
    int32_t status = grownCapacity(v, count, &capacity);
    if (CBLOB_FAILED(status)) return status;
    if (v->table || (how == Source::one && overlapsStorage(v, src, 1))) {
        const Piece pieces[2] = {{Source::block, static_cast<const char *>(v->begin), v->size}, {how, src, added}};
        return rebuild(v, capacity, pieces, 2);
    }
    status = growStorage(v, capacity);
    if (!CBLOB_FAILED(status)) {
        status = constructRange(v, elementAt(v, v->size), added, how, src);
        if (!CBLOB_FAILED(status)) v->size = count;
    }
    return status;
}

// --------------------------------------------------------------- operations

bool tableValid(const Table *table) {
    return !table || (table->endMarker == CSTD_VECTOR_TABLE_END && table->construct && table->constructCopy &&
                      table->assign && table->destruct);
}

bool memoryTableValid(const MemoryTable *mtable) {
    return !mtable || (mtable->alloc && mtable->free && mtable->realloc);
}

bool sameElements(const Vec *a, const Vec *b) { return a->elementSize == b->elementSize && a->table == b->table; }

// Every constructor: validation in the documented order, then the elements
// are built into a local vector that is stored in *v only on success.
int32_t constructWith(Vec *v, int64_t count, int64_t elementSize, int32_t flags, const Table *table,
                      const MemoryTable *mtable, Source how, const void *src) {
    CBLOB_REQUIRE_ARG(v);
    if ((how == Source::block || how == Source::one) && count > 0) CBLOB_REQUIRE_ARG(src);
    if (flags != 0) return cstd_err_badFlags;
    if (elementSize < 1) return cstd_err_badElementSize;
    if (!tableValid(table)) return cstd_err_badElementTable;
    if (!memoryTableValid(mtable)) return cstd_err_badMemoryTable;
    if (count < 0) return cstd_err_badCount;
    if (count > maxCount(elementSize)) return csys_err_badSize;
    Vec fresh{nullptr, 0, 0, elementSize, table, mtable, 0};
    const Piece piece{how, static_cast<const char *>(src), count};
    const int32_t status = rebuild(&fresh, count, &piece, 1);
    if (!CBLOB_FAILED(status)) *v = fresh;
    return status;
}

// Makes v's elements copies of `count` elements at `src`.
int32_t assignBlock(Vec *v, const char *src, int64_t count) {
    if (count > v->capacity || overlapsStorage(v, src, count)) {
        const Piece piece{Source::block, src, count};
        return rebuild(v, count > v->capacity ? count : v->capacity, &piece, 1);
    }
    const int64_t common = count < v->size ? count : v->size;
    int32_t status = assignRange(v, static_cast<char *>(v->begin), src, common);
    if (CBLOB_FAILED(status)) return status;
    if (count > v->size) {
        status = constructRange(v, elementAt(v, v->size), count - v->size, Source::block,
                                offset(src, v->size, v->elementSize));
        if (!CBLOB_FAILED(status)) v->size = count;
        return status;
    }
    status = destructRange(v, elementAt(v, count), v->size - count);
    v->size = count;
    return status;
}

int32_t resizeWith(Vec *v, int64_t count, Source how, const void *value) {
    CBLOB_REQUIRE_ARG(v);
    if (how == Source::one) CBLOB_REQUIRE_ARG(value);
    if (count < 0) return cstd_err_badCount;
    if (count <= v->size) {
        const int32_t status = destructRange(v, elementAt(v, count), v->size - count);
        v->size = count;
        return status;
    }
    return growTo(v, count, how, static_cast<const char *>(value));
}

int32_t size32(const Vec *v, int32_t *size) {
    if (v->size > INT32_MAX) return cstd_err_sizeOver32Bits;
    *size = static_cast<int32_t>(v->size);
    return 0;
}

}  // namespace

extern "C" {

// ------------------------------------------------------------ construction

int32_t cstd_vector__constructWithVtable(cstd_vector_ *v, int64_t count, int64_t elementSize, int32_t flags,
                                         const cstd_vectorElementTable *table) {
    return constructWith(v, count, elementSize, flags, table, nullptr, Source::defaults, nullptr);
}

int32_t cstd_vector__constructWithVtableWithMtable(cstd_vector_ *v, int64_t count, int64_t elementSize, int32_t flags,
                                                   const cstd_vectorElementTable *table,
                                                   const cstd_vectorMemoryTable *mtable) {
    return constructWith(v, count, elementSize, flags, table, mtable, Source::defaults, nullptr);
}

int32_t cstd_vector__constructWithVtableUninit(cstd_vector_ *v, int64_t count, int64_t elementSize, int32_t flags,
                                               const cstd_vectorElementTable *table) {
    return constructWith(v, count, elementSize, flags, table, nullptr, Source::uninit, nullptr);
}

int32_t cstd_vector__constructFillWithVtable(cstd_vector_ *v, int64_t count, const void *value, int64_t elementSize,
                                             int32_t flags, const cstd_vectorElementTable *table) {
    return constructWith(v, count, elementSize, flags, table, nullptr, Source::one, value);
}

int32_t cstd_vector__constructFromBlockWithVtable(cstd_vector_ *v, const void *block, int64_t count,
                                                  int64_t elementSize, int32_t flags,
                                                  const cstd_vectorElementTable *table) {
    return constructWith(v, count, elementSize, flags, table, nullptr, Source::block, block);
}

int32_t cstd_vector__constructCopy(cstd_vector_ *v, const cstd_vector_ *src) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(src);
    CBLOB_REQUIRE_ARG(v != src);
    return constructWith(v, src->size, src->elementSize, 0, src->table, src->mtable, Source::block, src->begin);
}

// ------------------------------------------------------ copy and assignment

int32_t cstd_vector__assign(cstd_vector_ *v, const cstd_vector_ *src) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(src);
    if (!sameElements(v, src)) return cstd_err_elementMismatch;
    if (v == src) return 0;
    return assignBlock(v, static_cast<const char *>(src->begin), src->size);
}

int32_t cstd_vector__assignElements(cstd_vector_ *v, const void *elements, int64_t count) {
    CBLOB_REQUIRE_ARG(v);
    if (count > 0) CBLOB_REQUIRE_ARG(elements);
    if (count < 0) return cstd_err_badCount;
    if (count > maxCount(v->elementSize)) return csys_err_badSize;
    return assignBlock(v, static_cast<const char *>(elements), count);
}

int32_t cstd_vector__append(cstd_vector_ *v, const cstd_vector_ *src) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(src);
    if (!sameElements(v, src)) return cstd_err_elementMismatch;
    return cstd_vector__insert(v, v->size, src->begin, src->size);
}

int32_t cstd_vector__swap(cstd_vector_ *v, cstd_vector_ *other) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(other);
    std::swap(*v, *other);
    return 0;
}

// ------------------------------------------------------------- destruction

int32_t cstd_vector__clear(cstd_vector_ *v) {
    CBLOB_REQUIRE_ARG(v);
    const int32_t status = destructRange(v, static_cast<char *>(v->begin), v->size);
    v->size = 0;
    v->cursor = 0;
    return status;
}

int32_t cstd_vector__clearAndFreeMemory(cstd_vector_ *v) {
    CBLOB_REQUIRE_ARG(v);
    int32_t status = cstd_vector__clear(v);
    keepFirstFailure(&status, freeStorage(v, &v->begin));
    v->capacity = 0;
    return status;
}

int32_t cstd_vector__destruct(cstd_vector_ *v) { return cstd_vector__clearAndFreeMemory(v); }

// -------------------------------------------------------------------- size

int32_t cstd_vector__resize(cstd_vector_ *v, int64_t count) { return resizeWith(v, count, Source::defaults, nullptr); }

int32_t cstd_vector__resizeUninit(cstd_vector_ *v, int64_t count) {
    return resizeWith(v, count, Source::uninit, nullptr);
}

int32_t cstd_vector__resizeFill(cstd_vector_ *v, int64_t count, const void *value) {
    return resizeWith(v, count, Source::one, value);
}

int32_t cstd_vector__reserve(cstd_vector_ *v, int64_t count) {
    CBLOB_REQUIRE_ARG(v);
    if (count < 0) return cstd_err_badCount;
    if (count <= v->capacity) return 0;
    if (count > maxCount(v->elementSize)) return csys_err_badSize;
    return growStorage(v, count);
}

// ----------------------------------------------------------------- queries

int32_t cstd_vector__getSize(const cstd_vector_ *v, intptr_t *size) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(size);
    *size = static_cast<intptr_t>(v->size);
    return 0;
}

int32_t cstd_vector__getSize32(const cstd_vector_ *v, int32_t *size) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(size);
    return size32(v, size);
}

int32_t cstd_vector__getCapacity(const cstd_vector_ *v, intptr_t *capacity) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(capacity);
    *capacity = static_cast<intptr_t>(v->capacity);
    return 0;
}

int32_t cstd_vector__getElementSize(const cstd_vector_ *v, intptr_t *elementSize) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(elementSize);
    *elementSize = static_cast<intptr_t>(v->elementSize);
    return 0;
}

// ---------------------------------------------------------- element access

int32_t cstd_vector__getBegin(cstd_vector_ *v, void **begin) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(begin);
    v->cursor = 0;
    *begin = v->begin;
    return 0;
}

int32_t cstd_vector__getBeginConst(const cstd_vector_ *v, const void **begin) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(begin);
    // The cursor is iteration state, not part of the vector's value.
    const_cast<cstd_vector_ *>(v)->cursor = 0;
    *begin = v->begin;
    return 0;
}

int32_t cstd_vector__getBeginEnd(cstd_vector_ *v, void **begin, void **end) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(begin);
    CBLOB_REQUIRE_ARG(end);
    *begin = v->begin;
    *end = elementAt(v, v->size);
    return 0;
}

int32_t cstd_vector__getBeginEndConst(const cstd_vector_ *v, const void **begin, const void **end) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(begin);
    CBLOB_REQUIRE_ARG(end);
    *begin = v->begin;
    *end = elementAt(v, v->size);
    return 0;
}

int32_t cstd_vector__getBeginSize(cstd_vector_ *v, void **begin, intptr_t *size) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(begin);
    CBLOB_REQUIRE_ARG(size);
    *begin = v->begin;
    *size = static_cast<intptr_t>(v->size);
    return 0;
}

int32_t cstd_vector__getBeginSizeConst(const cstd_vector_ *v, const void **begin, intptr_t *size) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(begin);
    CBLOB_REQUIRE_ARG(size);
    *begin = v->begin;
    *size = static_cast<intptr_t>(v->size);
    return 0;
}

int32_t cstd_vector__getBeginSize32(cstd_vector_ *v, void **begin, int32_t *size) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(begin);
    CBLOB_REQUIRE_ARG(size);
    const int32_t status = size32(v, size);
    if (!CBLOB_FAILED(status)) *begin = v->begin;
    return status;
}

int32_t cstd_vector__getBeginSize32Const(const cstd_vector_ *v, const void **begin, int32_t *size) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(begin);
    CBLOB_REQUIRE_ARG(size);
    const int32_t status = size32(v, size);
    if (!CBLOB_FAILED(status)) *begin = v->begin;
    return status;
}

int32_t cstd_vector__getElement(cstd_vector_ *v, int64_t index, void **element) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(element);
    if (index < 0 || index >= v->size) return cstd_err_badIndex;
    *element = elementAt(v, index);
    return 0;
}

int32_t cstd_vector__getElementConst(const cstd_vector_ *v, int64_t index, const void **element) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(element);
    if (index < 0 || index >= v->size) return cstd_err_badIndex;
    *element = elementAt(v, index);
    return 0;
}

int32_t cstd_vector__getNextElement(cstd_vector_ *v, void **element) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(element);
    if (v->cursor >= 0 && v->cursor < v->size) {
        *element = elementAt(v, v->cursor++);
    } else {
        *element = nullptr;
    }
    return 0;
}

int32_t cstd_vector__getNextElementConst(const cstd_vector_ *v, const void **element) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(element);
    void *next = nullptr;
    const int32_t status = cstd_vector__getNextElement(const_cast<cstd_vector_ *>(v), &next);
    *element = next;
    return status;
}

// ----------------------------------------------------------------- editing

int32_t cstd_vector__insert(cstd_vector_ *v, int64_t index, const void *elements, int64_t count) {
    CBLOB_REQUIRE_ARG(v);
    if (count > 0) CBLOB_REQUIRE_ARG(elements);
    if (count < 0) return cstd_err_badCount;
    if (index < 0 || index > v->size) return cstd_err_badIndex;
    if (count == 0) return 0;
    if (count > maxCount(v->elementSize) - v->size) return csys_err_badSize;
    const char *src = static_cast<const char *>(elements);
    const int64_t need = v->size + count;
    const int64_t tail = v->size - index;
    // Appending into spare capacity writes only past the last element, so
    // even a source inside the vector stays intact.
    if (need <= v->capacity && tail == 0) return growTo(v, need, Source::block, src);
    if (need <= v->capacity && !v->table && !overlapsStorage(v, src, count)) {
        std::memmove(elementAt(v, index + count), elementAt(v, index), static_cast<size_t>(tail * v->elementSize));
        std::memcpy(elementAt(v, index), src, static_cast<size_t>(count * v->elementSize));
        v->size = need;
        return 0;
    }
    int64_t capacity = v->capacity;
    if (need > capacity) {
        const int32_t status = grownCapacity(v, need, &capacity);
        if (CBLOB_FAILED(status)) return status;
    }
    const Piece pieces[3] = {{Source::block, static_cast<const char *>(v->begin), index},
                             {Source::block, src, count},
                             {Source::block, elementAt(v, index), tail}};
    return rebuild(v, capacity, pieces, 3);
}

int32_t cstd_vector__insertElement(cstd_vector_ *v, int64_t index, const void *element) {
    CBLOB_REQUIRE_ARG(element);
    return cstd_vector__insert(v, index, element, 1);
}

int32_t cstd_vector__erase(cstd_vector_ *v, int64_t index, int64_t count) {
    CBLOB_REQUIRE_ARG(v);
    if (count < 0) return cstd_err_badCount;
    if (index < 0 || index > v->size || count > v->size - index) return cstd_err_badIndex;
    if (count == 0) return 0;
    const int64_t tail = v->size - index - count;
    if (tail == 0) {
        const int32_t status = destructRange(v, elementAt(v, index), count);
        v->size = index;
        return status;
    }
    if (!v->table) {
        std::memmove(elementAt(v, index), elementAt(v, index + count), static_cast<size_t>(tail * v->elementSize));
        v->size -= count;
        return 0;
    }
    const Piece pieces[2] = {{Source::block, static_cast<const char *>(v->begin), index},
                             {Source::block, elementAt(v, index + count), tail}};
    return rebuild(v, v->capacity, pieces, 2);
}

int32_t cstd_vector__eraseElement(cstd_vector_ *v, int64_t index) {
    CBLOB_REQUIRE_ARG(v);
    if (index < 0 || index >= v->size) return cstd_err_badIndex;
    return cstd_vector__erase(v, index, 1);
}

int32_t cstd_vector__pushBack(cstd_vector_ *v, const void *element) {
    CBLOB_REQUIRE_ARG(v);
    CBLOB_REQUIRE_ARG(element);
    if (v->size >= maxCount(v->elementSize)) return csys_err_badSize;
    return growTo(v, v->size + 1, Source::one, static_cast<const char *>(element));
}

int32_t cstd_vector__popBack(cstd_vector_ *v) {
    CBLOB_REQUIRE_ARG(v);
    if (v->size == 0) return cstd_err_emptyVector;
    const int32_t status = destructRange(v, elementAt(v, v->size - 1), 1);
    --v->size;
    return status;
}

}  // extern "C"
