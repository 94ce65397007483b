// The typed vectors of the run-length image types and the type-check hooks
// of its records. One line per type: see containers/typed_vector.hpp.
#include "cblob/rle_image.h"
#include "containers/typed_vector.hpp"

CBLOB_VECTOR_DEFINE(cstd_vector_cblob_rleRow, cblob_rleRow, nullptr)
CBLOB_VECTOR_DEFINE(cstd_vector_cblob_rleData_Ptr, cblob_rleData_Ptr, nullptr)
CBLOB_VECTOR_DEFINE(cstd_vector_vector_cblob_rleData_Ptr, cstd_vector_cblob_rleData_Ptr,
                    CBLOB_VECTOR_ELEMENT_TABLE(cstd_vector_cblob_rleData_Ptr))
CBLOB_VECTOR_DEFINE(cstd_vector_cblob_imageRle, cblob_imageRle,
                    CBLOB_ELEMENT_TABLE(cblob_imageRle, cblob_imageRle_construct, cblob_imageRle_constructCopy,
                                        cblob_imageRle_assign, cblob_imageRle_destruct))
CBLOB_TYPE_CHECK_DEFINE(cblob_imageRle)
CBLOB_TYPE_CHECK_DEFINE(cblob_imageRlePtrh)
CBLOB_TYPE_CHECK_DEFINE(cblob_imageRleData_)
