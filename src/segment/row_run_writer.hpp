// Run writers shared by every row kernel: they append one run, or a row's
// terminator, at a write cursor in the narrow or the wide byte format.
//
// Both writers take (value, length) so that one row encoder serves binary and
// grey output; the binary writer ignores the value, because binary runs
// alternate and the caller records the class of the first run.
#ifndef CBLOB_SEGMENT_ROW_RUN_WRITER_HPP
#define CBLOB_SEGMENT_ROW_RUN_WRITER_HPP

#include <cstdint>

#include "rle/run_format.hpp"

namespace cblob::row {

template <bool Wide>
struct BinaryRunWriter {
    static constexpr int32_t kBytesPerRun = Wide ? rle::kWideBinaryRunBytes : 1;

    static inline void put(uint8_t *&cursor, uint8_t /*value*/, int32_t length) {
        if constexpr (Wide) {
            rle::writeWideBinaryRun(cursor, length);
        } else {
            rle::writeLength(cursor, length);
        }
    }
    // A run known to be shorter than 255 pixels: never escaped.
    static inline void putShort(uint8_t *&cursor, int32_t length) {
        if constexpr (Wide) {
            rle::writeWideBinaryRun(cursor, length);
        } else {
            *cursor++ = static_cast<uint8_t>(length);
        }
    }
    static inline void end(uint8_t *&cursor) {
        if constexpr (Wide) {
            rle::writeWideBinaryRun(cursor, 0);
        } else {
            rle::writeBinaryTerminator(cursor);
        }
    }
};

template <bool Wide>
struct GreyRunWriter {
    static constexpr int32_t kBytesPerRun = Wide ? rle::kWideGreyRunBytes : 2;

    static inline void put(uint8_t *&cursor, uint8_t value, int32_t length) {
        if constexpr (Wide) {
            rle::writeWideGreyRun(cursor, value, length);
        } else {
            rle::writeGreyRun(cursor, value, length);
        }
    }
    static inline void end(uint8_t *&cursor) {
        if constexpr (Wide) {
            rle::writeWideGreyRun(cursor, 0, 0);
        } else {
            rle::writeGreyTerminator(cursor);
        }
    }
};

}  // namespace cblob::row

#endif
