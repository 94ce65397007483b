/* The command line's names of the blob measures: one short name and a
 * one-line meaning per measure code, for --measures and `cblob measures`. */
#ifndef CBLOB_TOOLS_MEASURE_NAMES_H
#define CBLOB_TOOLS_MEASURE_NAMES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tool_measureName {
    int32_t code;        /* the measure code (cblob_measure) */
    const char *name;    /* the column name */
    const char *meaning; /* one line */
    int32_t isAngle;     /* 1: radians in the library, printed in degrees */
} tool_measureName;

/* Every public measure, in code order; *count gets the number of entries. */
const tool_measureName *tool_measureNames(int32_t *count);

/* The entry of a name, or null. */
const tool_measureName *tool_findMeasure(const char *name);

#ifdef __cplusplus
}
#endif

#endif
