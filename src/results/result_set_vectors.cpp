// The typed vector of measure cache slots and the type-check hooks of the
// result set records. One line per type: see containers/typed_vector.hpp.
#include "cblob/result_set.h"
#include "containers/typed_vector.hpp"

CBLOB_VECTOR_DEFINE(cstd_vector_cblob_measureDataPtr_, cblob_measureDataPtr_, nullptr)
CBLOB_TYPE_CHECK_DEFINE(cblob_resultSet)
CBLOB_TYPE_CHECK_DEFINE(cblob_resultSetPostProcessing_)
