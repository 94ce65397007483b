// Precondition check shared by the host services and the library: a null
// required argument is reported to the assert service with the source line,
// and when the host's handler returns, the function fails cleanly.
#ifndef CBLOB_CORE_REQUIRE_HPP
#define CBLOB_CORE_REQUIRE_HPP

#include "cblob/sys.h"

#define CBLOB_REQUIRE_ARG(p)              \
    do {                                  \
        if (!(p)) {                       \
            cstd_assert_(__LINE__);       \
            return csys_err_assertFailed; \
        }                                 \
    } while (0)

#endif
