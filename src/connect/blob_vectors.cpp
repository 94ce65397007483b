// The typed vectors of the blob records' element types and the type-check
// hooks of the blob records. One line per type: see
// containers/typed_vector.hpp.
#include "cblob/blob.h"
#include "containers/typed_vector.hpp"

CBLOB_VECTOR_DEFINE(cstd_vector_cblob_blob_internal__ptr, cblob_blob_internal__ptr, nullptr)
CBLOB_VECTOR_DEFINE(cstd_vector_cblob_blob_rleRowBlock_, cblob_blob_rleRowBlock_, nullptr)
CBLOB_VECTOR_DEFINE(cstd_vector_cblob_blob_rleDataBlock_, cblob_blob_rleDataBlock_, nullptr)
CBLOB_VECTOR_DEFINE(cstd_vector_vector_cblob_blob_rleRowBlock_, cstd_vector_cblob_blob_rleRowBlock_,
                    CBLOB_VECTOR_ELEMENT_TABLE(cstd_vector_cblob_blob_rleRowBlock_))
CBLOB_VECTOR_DEFINE(cstd_vector_vector_cblob_blob_rleDataBlock_, cstd_vector_cblob_blob_rleDataBlock_,
                    CBLOB_VECTOR_ELEMENT_TABLE(cstd_vector_cblob_blob_rleDataBlock_))
CBLOB_VECTOR_DEFINE(cstd_vector_cblob_filter, cblob_filter, nullptr)
CBLOB_VECTOR_DEFINE(cstd_vector_vector_cblob_filter, cstd_vector_cblob_filter,
                    CBLOB_VECTOR_ELEMENT_TABLE(cstd_vector_cblob_filter))
CBLOB_TYPE_CHECK_DEFINE(cblob_filter)
CBLOB_TYPE_CHECK_DEFINE(cblob_blob)
CBLOB_TYPE_CHECK_DEFINE(cblob_blobRleDb_)
CBLOB_TYPE_CHECK_DEFINE(cblob_blobRleDb_Ptrh)
