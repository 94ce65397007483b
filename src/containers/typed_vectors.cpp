// The typed vectors of the library's own element types. One line per type:
// see typed_vector.hpp.
#include "cblob/containers.h"
#include "containers/typed_vector.hpp"

CBLOB_VECTOR_DEFINE(cstd_vector_cblob_measure, cblob_measure, nullptr)
CBLOB_VECTOR_DEFINE(cstd_vector_cblob_morphOp, cblob_morphOp, nullptr)
CBLOB_VECTOR_DEFINE(cstd_vector_cblock_of_cblob_blob_ptr, cblock_of_cblob_blob_ptr,
                    CBLOB_POINTER_CELL_TABLE(cblock_of_cblob_blob_ptr))
CBLOB_VECTOR_DEFINE(cstd_vector_cblock_of_cblob_xformLinear_ptr, cblock_of_cblob_xformLinear_ptr,
                    CBLOB_POINTER_CELL_TABLE(cblock_of_cblob_xformLinear_ptr))
