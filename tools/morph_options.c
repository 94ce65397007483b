/* The morphology options of the cblob tool. */
#include "morph_options.h"

#include <string.h>

int32_t tool_morphCode(const char *option, const char *element) {
    static const char *const options[] = {"--erode", "--dilate", "--close", "--open"};
    static const char *const elements[] = {"1x3", "3x1", "3x3"};
    int32_t which = -1;
    for (int32_t i = 0; i < 4; ++i)
        if (strcmp(option, options[i]) == 0) which = i;
    if (which < 0) return -1;
    for (int32_t e = 0; e < 3; ++e)
        if (strcmp(element, elements[e]) == 0) return which * 3 + e; /* the cblob_morph_* order */
    return -2;
}

int32_t tool_addMorphOps(cblob_runParams *params, const int32_t *codes, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const cblob_morphOp op = codes[i];
        const int32_t status = cstd_vector_cblob_morphOp_pushBack(&params->morphOps, &op);
        if (CBLOB_FAILED(status)) return status;
    }
    return 0;
}
