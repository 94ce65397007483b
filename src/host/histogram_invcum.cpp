// The inverse cumulative table of a histogram: per whole percent, the pixel
// value at which the cumulative count first reaches that share of all pixels.
#include <cstdint>

#include "cblob/histogram.h"
#include "core/require.hpp"

extern "C" {

int32_t cip_pelHistogramStat_invCum(const uint32_t *counts, int32_t bins, int32_t table[101]) {
    CBLOB_REQUIRE_ARG(counts);
    CBLOB_REQUIRE_ARG(table);
    if (bins < 1) return cip_err_badBins;
    // At most 2^31 bins of 2^32 - 1 each: the total fits 64 bits.
    uint64_t total = 0;
    for (int32_t v = 0; v < bins; ++v) total += counts[v];
    if (total == 0) return cip_err_emptyHistogram;

    // C(v) >= p N / 100 holds for whole C(v) exactly when C(v) >= ceil(p N / 100).
    // With N = 100 q + r that is p q + ceil(p r / 100), free of overflow.
    const uint64_t q = total / 100, r = total % 100;
    int32_t result[101];
    int32_t v = 0;
    uint64_t cumulative = counts[0];
    for (int32_t p = 0; p <= 100; ++p) {
        uint64_t needed = static_cast<uint64_t>(p) * q + (static_cast<uint64_t>(p) * r + 99) / 100;
        if (needed < 1) needed = 1;
        // needed <= total, so the walk stops at the last non-empty bin at the latest.
        while (cumulative < needed) cumulative += counts[++v];
        result[p] = v;
    }
    for (int32_t p = 0; p <= 100; ++p) table[p] = result[p];
    return 0;
}

}  // extern "C"
