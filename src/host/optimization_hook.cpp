// The optimisation-inhibit hook: null unless the host installs a function.
#include "cblob/sys.h"

cprt_optimizationInhibitedFn cprt_isOptimizationInhibitedFP = nullptr;
