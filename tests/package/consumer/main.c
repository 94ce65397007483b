#include <stdio.h>

#include "cblob/cblob.h"

int main(void) {
    void *block = NULL;
    if (csys_memory_alloc_internal(16, &block) != 0) return 1;
    csys_memory_free_internal(&block);
    printf("%s\n", cblob_statusName(cblob_err_badThresh));
    return 0;
}
