// The post-processing record of a result set: defaults, copies, clear and
// the heap forms.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "cblob/result_set.h"
#include "results/measure_table.hpp"
#include "core/frame.hpp"

namespace {

void setDefaults(cblob_resultSetPostProcessing_ *pp) {
    pp->weightScale = 1.0;
    pp->connectivityType = 0;
    pp->excludeMode = 0;
    pp->excludeValue = 0.0;
    pp->defaultAngle = 0.0;
    pp->sortDirection = 1;
    pp->sortMeasure = 0;
    cblob::results::initMeasureTable(pp->measureTable);
}

// Frees every measure-data array (the slots stay, holding null).
int32_t freeMeasureData(cblob_resultSetPostProcessing_ *pp) {
    auto *slots = static_cast<cblob_measureDataPtr_ *>(pp->measureData.untyped.begin);
    int32_t status = 0;
    for (int64_t i = 0; i < pp->measureData.untyped.size && !CBLOB_FAILED(status); ++i) {
        status = cblob::release(&slots[i]);
    }
    return status;
}

// Fills the constructed, empty pp with copies of src's fields, filters,
// valid bits and measure-data arrays (one float64 per valid-bits word).
int32_t fillCopy(cblob_resultSetPostProcessing_ *pp, const cblob_resultSetPostProcessing_ *src) {
    cblob::Frame<1> f;
    pp->weightScale = src->weightScale;
    pp->connectivityType = src->connectivityType;
    pp->excludeMode = src->excludeMode;
    pp->excludeValue = src->excludeValue;
    pp->defaultAngle = src->defaultAngle;
    pp->sortDirection = src->sortDirection;
    pp->sortMeasure = src->sortMeasure;
    std::memcpy(pp->measureTable, src->measureTable, sizeof(pp->measureTable));
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_filter_assign(&pp->filters, &src->filters));
    CBLOB_FRAME_TRY(f, cstd_vector32_assign(&pp->validBits, &src->validBits));
    const int64_t values = src->validBits.untyped.size;
    const auto *slots = static_cast<const cblob_measureDataPtr_ *>(src->measureData.untyped.begin);
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_measureDataPtr__reserve(&pp->measureData, src->measureData.untyped.size));
    for (int64_t i = 0; i < src->measureData.untyped.size; ++i) {
        cblob_measureDataPtr_ copy = nullptr;
        if (slots[i]) {
            CBLOB_FRAME_TRY(f, cblob::allocate(values * static_cast<int64_t>(sizeof(double)), &copy));
            if (values > 0) std::memcpy(copy, slots[i], static_cast<size_t>(values) * sizeof(double));
        }
        // The room was reserved: the push cannot fail, so the array cannot leak.
        CBLOB_FRAME_TRY(f, cstd_vector_cblob_measureDataPtr__pushBack(&pp->measureData, &copy));
    }
    return f.exit();
}

}  // namespace

extern "C" {

int32_t cblob_resultSetPostProcessing__construct(cblob_resultSetPostProcessing_ *pp) {
    cblob::Frame<3> f;
    CBLOB_FRAME_REQUIRE(f, pp);
    setDefaults(pp);
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_filter_constructEmpty(&pp->filters));
    f.addObject<&cstd_vector_cblob_filter_destruct>(&pp->filters, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_measureDataPtr__constructEmpty(&pp->measureData));
    f.addObject<&cstd_vector_cblob_measureDataPtr__destruct>(&pp->measureData, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cstd_vector32_constructEmpty(&pp->validBits));
    f.addObject<&cstd_vector32_destruct>(&pp->validBits, csys_cleanup_resultObject);
    return f.exit();
}

int32_t cblob_resultSetPostProcessing__constructCopy(cblob_resultSetPostProcessing_ *pp,
                                                     const cblob_resultSetPostProcessing_ *src) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, pp);
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_REQUIRE(f, pp != src);
    CBLOB_FRAME_TRY(f, cblob_resultSetPostProcessing__construct(pp));
    f.addObject<&cblob_resultSetPostProcessing__destruct>(pp, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, fillCopy(pp, src));
    return f.exit();
}

int32_t cblob_resultSetPostProcessing__assign(cblob_resultSetPostProcessing_ *pp,
                                              const cblob_resultSetPostProcessing_ *src) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, pp);
    CBLOB_FRAME_REQUIRE(f, src);
    if (pp == src) return f.exit();
    // The copy is built aside, then exchanged with pp, whose old contents
    // leave with the temporary.
    cblob_resultSetPostProcessing_ copy;
    CBLOB_FRAME_TRY(f, cblob_resultSetPostProcessing__constructCopy(&copy, src));
    f.addObject<&cblob_resultSetPostProcessing__destruct>(&copy, csys_cleanup_tempObject);
    cblob_resultSetPostProcessing_ old = *pp;
    *pp = copy;
    copy = old;
    return f.exit();
}

int32_t cblob_resultSetPostProcessing__clear(cblob_resultSetPostProcessing_ *pp) {
    CBLOB_REQUIRE_ARG(pp);
    int32_t status = cstd_vector_cblob_filter_clear(&pp->filters);
    if (!CBLOB_FAILED(status)) status = freeMeasureData(pp);
    if (!CBLOB_FAILED(status)) status = cstd_vector_cblob_measureDataPtr__clear(&pp->measureData);
    if (!CBLOB_FAILED(status)) status = cstd_vector32_clear(&pp->validBits);
    if (!CBLOB_FAILED(status)) setDefaults(pp);
    return status;
}

int32_t cblob_resultSetPostProcessing__destruct(cblob_resultSetPostProcessing_ *pp) {
    CBLOB_REQUIRE_ARG(pp);
    int32_t status = cblob_resultSetPostProcessing__clear(pp);
    const int32_t filters = cstd_vector_cblob_filter_destruct(&pp->filters);
    const int32_t data = cstd_vector_cblob_measureDataPtr__destruct(&pp->measureData);
    const int32_t bits = cstd_vector32_destruct(&pp->validBits);
    for (int32_t s : {filters, data, bits}) {
        if (!CBLOB_FAILED(status)) status = s;
    }
    return status;
}

int32_t cblob_resultSetPostProcessing__new(cblob_resultSetPostProcessing_ **p) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, p);
    cblob_resultSetPostProcessing_ *fresh = nullptr;
    CBLOB_FRAME_TRY(f, cblob::allocate(static_cast<int64_t>(sizeof(*fresh)), &fresh));
    f.addMemory(&fresh, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cblob_resultSetPostProcessing__construct(fresh));
    *p = fresh;
    return f.exit();
}

int32_t cblob_resultSetPostProcessing__delete(cblob_resultSetPostProcessing_ **p) {
    CBLOB_REQUIRE_ARG(p);
    if (!*p) return 0;
    const int32_t status = cblob_resultSetPostProcessing__destruct(*p);
    cblob::release(p);
    return status;
}

int32_t cblob_resultSetPostProcessing__newClone(cblob_resultSetPostProcessing_ **p,
                                                const cblob_resultSetPostProcessing_ *src) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_REQUIRE(f, src);
    cblob_resultSetPostProcessing_ *fresh = nullptr;
    CBLOB_FRAME_TRY(f, cblob::allocate(static_cast<int64_t>(sizeof(*fresh)), &fresh));
    f.addMemory(&fresh, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cblob_resultSetPostProcessing__constructCopy(fresh, src));
    *p = fresh;
    return f.exit();
}

}  // extern "C"
