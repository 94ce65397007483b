// Integer rectangles: origin and size, with the null rectangle (no width or
// no height) covering nothing. Edges are computed in 64 bits so that no
// combination of fields overflows.
#include "cblob/rect.h"
#include "cblob/sys.h"
#include "core/require.hpp"

namespace {

bool isNull(const cstd_rect32 &r) { return r.width <= 0 || r.height <= 0; }

int64_t right(const cstd_rect32 &r) { return static_cast<int64_t>(r.x) + r.width; }
int64_t bottom(const cstd_rect32 &r) { return static_cast<int64_t>(r.y) + r.height; }

}  // namespace

extern "C" {

int32_t cstd_rect32_init(cstd_rect32 *r, int32_t x, int32_t y, int32_t width, int32_t height) {
    CBLOB_REQUIRE_ARG(r);
    const cstd_rect32 candidate{x, y, width, height};
    if (width < 0 || height < 0 || right(candidate) > INT32_MAX || bottom(candidate) > INT32_MAX)
        return cstd_err_badRect;
    *r = candidate;
    return 0;
}

int32_t cstd_rect32_initNull(cstd_rect32 *r) {
    CBLOB_REQUIRE_ARG(r);
    *r = cstd_rect32{0, 0, 0, 0};
    return 0;
}

int32_t cstd_rect32_getIsNull(const cstd_rect32 *r, int32_t *isNullOut) {
    CBLOB_REQUIRE_ARG(r);
    CBLOB_REQUIRE_ARG(isNullOut);
    *isNullOut = isNull(*r) ? 1 : 0;
    return 0;
}

int32_t cstd_rect32_intersect(cstd_rect32 *out, const cstd_rect32 *a, const cstd_rect32 *b) {
    CBLOB_REQUIRE_ARG(out);
    CBLOB_REQUIRE_ARG(a);
    CBLOB_REQUIRE_ARG(b);
    cstd_rect32 result{0, 0, 0, 0};
    if (!isNull(*a) && !isNull(*b)) {
        const int64_t x0 = a->x > b->x ? a->x : b->x;
        const int64_t y0 = a->y > b->y ? a->y : b->y;
        const int64_t x1 = right(*a) < right(*b) ? right(*a) : right(*b);
        const int64_t y1 = bottom(*a) < bottom(*b) ? bottom(*a) : bottom(*b);
        // The common part lies inside both rectangles, so its fields fit.
        if (x1 > x0 && y1 > y0)
            result = cstd_rect32{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                                 static_cast<int32_t>(y1 - y0)};
    }
    *out = result;
    return 0;
}

int32_t cstd_rect32_getIsEqual(const cstd_rect32 *a, const cstd_rect32 *b, int32_t *isEqual) {
    CBLOB_REQUIRE_ARG(a);
    CBLOB_REQUIRE_ARG(b);
    CBLOB_REQUIRE_ARG(isEqual);
    const bool same = (isNull(*a) && isNull(*b)) ||
                      (a->x == b->x && a->y == b->y && a->width == b->width && a->height == b->height);
    *isEqual = same ? 1 : 0;
    return 0;
}

int32_t cstd_rect32_getContainsPoint(const cstd_rect32 *r, int32_t px, int32_t py, int32_t *contains) {
    CBLOB_REQUIRE_ARG(r);
    CBLOB_REQUIRE_ARG(contains);
    const bool inside = px >= r->x && px < right(*r) && py >= r->y && py < bottom(*r);
    *contains = inside ? 1 : 0;
    return 0;
}

int32_t cstd_rect32_getContainsRect(const cstd_rect32 *outer, const cstd_rect32 *inner, int32_t *contains) {
    CBLOB_REQUIRE_ARG(outer);
    CBLOB_REQUIRE_ARG(inner);
    CBLOB_REQUIRE_ARG(contains);
    const bool inside = isNull(*inner) || (inner->x >= outer->x && inner->y >= outer->y &&
                                           right(*inner) <= right(*outer) && bottom(*inner) <= bottom(*outer));
    *contains = inside ? 1 : 0;
    return 0;
}

}  // extern "C"
