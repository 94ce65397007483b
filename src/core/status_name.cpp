// Names of the status codes, for messages and logs.
#include "cblob/status.h"

namespace {
struct Named {
    int32_t code;
    const char *name;
};

#define CBLOB_NAMED_(name, value) {CBLOB_STATUS_CODE(value), #name},
constexpr Named kNames[] = {CBLOB_STATUS_CODES(CBLOB_NAMED_)};
#undef CBLOB_NAMED_
}  // namespace

extern "C" const char *cblob_statusName(int32_t status) {
    if (!CBLOB_FAILED(status)) return "cblob_ok";
    for (const Named &entry : kNames)
        if (entry.code == status) return entry.name;
    return "unknown status";
}
