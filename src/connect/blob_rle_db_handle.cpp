// The counted handle on a blob run-length database.
#include <cstdint>

#include "cblob/blob.h"
#include "core/require.hpp"

extern "C" {

int32_t cblob_blobRleDb_Ptrh_construct(cblob_blobRleDb_Ptrh *h) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_construct(&h->ptrh);
}

int32_t cblob_blobRleDb_Ptrh_constructCopy(cblob_blobRleDb_Ptrh *h, const cblob_blobRleDb_Ptrh *src) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(src);
    return cstd_ptrh_constructCopy(&h->ptrh, &src->ptrh);
}

int32_t cblob_blobRleDb_Ptrh_attach(cblob_blobRleDb_Ptrh *h, cblob_blobRleDb_ *db) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(db);
    return cstd_ptrh_assignShared(&h->ptrh, &db->shared);
}

int32_t cblob_blobRleDb_Ptrh_detach(cblob_blobRleDb_Ptrh *h) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_detach(&h->ptrh);
}

int32_t cblob_blobRleDb_Ptrh_assign(cblob_blobRleDb_Ptrh *h, const cblob_blobRleDb_Ptrh *src) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(src);
    return cstd_ptrh_assign(&h->ptrh, &src->ptrh);
}

int32_t cblob_blobRleDb_Ptrh_assignNull(cblob_blobRleDb_Ptrh *h) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_detach(&h->ptrh);
}

int32_t cblob_blobRleDb_Ptrh_destruct(cblob_blobRleDb_Ptrh *h) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_destruct(&h->ptrh);
}

int32_t cblob_blobRleDb_Ptrh_getIsNull(const cblob_blobRleDb_Ptrh *h, int32_t *isNull) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_getIsNull(&h->ptrh, isNull);
}

int32_t cblob_blobRleDb_Ptrh_getRefCount(const cblob_blobRleDb_Ptrh *h, int64_t *count) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_getRefCount(&h->ptrh, count);
}

}  // extern "C"
