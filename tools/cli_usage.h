/* The help text of the `cblob` command (`cblob --help`). */
#ifndef CBLOB_TOOLS_CLI_USAGE_H
#define CBLOB_TOOLS_CLI_USAGE_H

#ifdef __cplusplus
extern "C" {
#endif

/* The usage and option summary, ending with a newline. */
const char *tool_cliUsage(void);

#ifdef __cplusplus
}
#endif

#endif
