// The plain-number vectors of the host services, and the vectors of them.
#include "cblob/containers.h"
#include "containers/typed_vector.hpp"

CBLOB_VECTOR_DEFINE(cstd_vector8, uint8_t, nullptr)
CBLOB_VECTOR_DEFINE(cstd_vector32, uint32_t, nullptr)
CBLOB_VECTOR_DEFINE(cstd_vector32s, int32_t, nullptr)
CBLOB_VECTOR_DEFINE(cstd_vectord, double, nullptr)
CBLOB_VECTOR_DEFINE(cstd_vector_vector32, cstd_vector32, CBLOB_VECTOR_ELEMENT_TABLE(cstd_vector32))
CBLOB_VECTOR_DEFINE(cstd_vector_vector32s, cstd_vector32s, CBLOB_VECTOR_ELEMENT_TABLE(cstd_vector32s))
CBLOB_TYPE_CHECK_DEFINE(cstd_vector_)
