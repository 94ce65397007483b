/* Every public header compiles as C11; a few calls link and work from C. */
#include <stdio.h>

#include "cblob/cblob.h"

#define CHECK(cond)                                                   \
    do {                                                              \
        if (!(cond)) {                                                \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
            return 1;                                                 \
        }                                                             \
    } while (0)

int main(void) {
    void *block = NULL;
    int64_t live = csys_memory_getLiveBlockCount();
    CHECK(csys_memory_alloc_internal(64, &block) == 0 && block != NULL);
    CHECK(csys_memory_getLiveBlockCount() == live + 1);
    csys_memory_free_internal(&block);
    CHECK(block == NULL && csys_memory_getLiveBlockCount() == live);
    CHECK(CBLOB_FAILED(cblob_err_badThresh));
    printf("%s\n", cblob_statusName(cblob_err_badThresh));
    return 0;
}
