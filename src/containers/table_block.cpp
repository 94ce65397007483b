// Table blocks of the run parameters: a count header followed by the entries.
#include "containers/table_block.hpp"

namespace cblob {
namespace table {

int32_t allocateBlock(int64_t count, int64_t entryBytes, void **block) {
    CBLOB_REQUIRE_ARG(block);
    // Entries are at most 2 bytes and counts 32-bit, so the product cannot
    // overflow; a negative count must not shrink into the header.
    if (count < 0 || entryBytes < 1) return csys_err_badSize;
    void *fresh = nullptr;
    const int32_t status = csys_memory_alloc_internal(kHeaderBytes + count * entryBytes, &fresh);
    if (CBLOB_FAILED(status)) return status;
    *static_cast<int64_t *>(fresh) = count;
    *block = fresh;
    return 0;
}

int64_t countOf(const void *entries) {
    return entries ? *static_cast<const int64_t *>(blockOf(entries)) : 0;
}

}  // namespace table
}  // namespace cblob
