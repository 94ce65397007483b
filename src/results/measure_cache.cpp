// The measure cache of a result set: one float64 array per cache slot, one
// valid-bits word per blob, and the keys that say whether a cached angle or
// principal box still applies.
#include <algorithm>
#include <cstdint>

#include "cblob/result_set.h"
#include "core/frame.hpp"
#include "results/measure_internal.hpp"

namespace cblob::results {
namespace {

constexpr int32_t kBoundaryCodes[] = {4, 3, 15};
constexpr int32_t kAngleCodes[] = {48, 49, 26, 27, 30, 32, 34, 35};
constexpr int32_t kPrincipalCodes[] = {50, 37, 38, 41, 43, 45, 46};
constexpr int32_t kInteriorCodes[] = {16};

// A valid word has 32 bits.
constexpr int32_t kMaxSlots = 32;

template <size_t N>
const int32_t *codes(const int32_t (&list)[N], int32_t *count) {
    *count = static_cast<int32_t>(N);
    return list;
}

uint32_t *validWords(const cblob_resultSet *rs) {
    return static_cast<uint32_t *>(rs->postProcessing->validBits.untyped.begin);
}

double *slotArray(const cblob_resultSet *rs, int32_t slot) {
    return static_cast<cblob_measureDataPtr_ *>(rs->postProcessing->measureData.untyped.begin)[slot];
}

}  // namespace

const int32_t *groupCodes(MeasureGroup group, int32_t *count) {
    switch (group) {
        case MeasureGroup::boundary:
            return codes(kBoundaryCodes, count);
        case MeasureGroup::angle:
            return codes(kAngleCodes, count);
        case MeasureGroup::principal:
            return codes(kPrincipalCodes, count);
        case MeasureGroup::interior:
            return codes(kInteriorCodes, count);
        default:
            *count = 0;
            return nullptr;
    }
}

double angleInUse(const cblob_resultSetPostProcessing_ *pp, const double *angle) {
    return angle ? *angle : pp->defaultAngle;
}

int32_t ensureGroupSlots(cblob_resultSet *rs, MeasureGroup group) {
    cblob::Frame<1> f;
    cblob_resultSetPostProcessing_ *pp = rs->postProcessing;
    int32_t count = 0;
    const int32_t *list = groupCodes(group, &count);
    const int32_t missing = static_cast<int32_t>(
        std::count_if(list, list + count, [&](int32_t code) { return pp->measureTable[code] < 0; }));
    if (missing == 0) return f.exit();
    const int64_t used = pp->measureData.untyped.size;
    CBLOB_FRAME_REQUIRE(f, used + missing <= kMaxSlots);
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_measureDataPtr__reserve(&pp->measureData, used + missing));
    const int64_t bytes = std::max<int64_t>(rs->numBlobs, 1) * static_cast<int64_t>(sizeof(double));
    for (int32_t i = 0; i < count; ++i) {
        if (pp->measureTable[list[i]] >= 0) continue;
        cblob_measureDataPtr_ array = nullptr;
        CBLOB_FRAME_TRY(f, cblob::allocateClear(bytes, &array));
        const int32_t slot = static_cast<int32_t>(pp->measureData.untyped.size);
        // The room was reserved: the push cannot fail, so the array cannot leak.
        CBLOB_FRAME_TRY(f, cstd_vector_cblob_measureDataPtr__pushBack(&pp->measureData, &array));
        pp->measureTable[list[i]] = slot;
    }
    return f.exit();
}

bool cachedValue(const cblob_resultSet *rs, const cblob_blob *blob, int32_t code, double *value) {
    const int32_t slot = rs->postProcessing->measureTable[code];
    if (slot < 0 || !(validWords(rs)[blob->label - 1] & (1u << slot))) return false;
    *value = slotArray(rs, slot)[blob->label - 1];
    return true;
}

int32_t storeValue(cblob_resultSet *rs, const cblob_blob *blob, int32_t code, double value) {
    const int32_t slot = rs->postProcessing->measureTable[code];
    CBLOB_REQUIRE_ARG(slot >= 0 && slot < kMaxSlots);
    slotArray(rs, slot)[blob->label - 1] = value;
    validWords(rs)[blob->label - 1] |= 1u << slot;
    return 0;
}

bool keysApply(const cblob_resultSet *rs, const cblob_blob *blob, MeasureGroup group, double angle, double amount) {
    double key = 0;
    switch (group) {
        case MeasureGroup::angle:
            return cachedValue(rs, blob, kMeasureAngleKey, &key) && key == angle &&
                   cachedValue(rs, blob, kMeasureAngleExclusionKey, &key) && key == amount;
        case MeasureGroup::principal:
            return cachedValue(rs, blob, kMeasurePrincipalExclusionKey, &key) && key == amount;
        default:
            return true;
    }
}

bool groupCached(const cblob_resultSet *rs, const cblob_blob *blob, MeasureGroup group, double angle,
                 double amount) {
    int32_t count = 0;
    const int32_t *list = groupCodes(group, &count);
    double value = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (!cachedValue(rs, blob, list[i], &value)) return false;
    }
    return keysApply(rs, blob, group, angle, amount);
}

}  // namespace cblob::results
