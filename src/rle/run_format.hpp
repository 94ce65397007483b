// The byte format of runs and rows in a run-length image.
//
// Narrow runs (the default):
//   grey run    value byte, then the length
//   binary run  the length alone
//   length      one byte when below 255, else 0xFF and a 4-byte signed
//               little-endian integer
//   terminator  a run of length 0: grey 0x00 0x00, binary 0x00
// Binary runs alternate between 0 and 1, starting from the row's start value.
//
// Wide runs (written for the connectivity scans, which store a label in each):
//   binary run  4-byte length, 4-byte label slot                (8 bytes)
//   grey run    value byte, 4-byte length, 4-byte label slot    (9 bytes)
//   terminator  a wide run of length 0
//
// Everything is unaligned and packed; rows follow each other with no gap.
#ifndef CBLOB_RLE_RUN_FORMAT_HPP
#define CBLOB_RLE_RUN_FORMAT_HPP

#include <cstdint>
#include <cstring>

namespace cblob::rle {

constexpr uint8_t kEscape = 0xFF;
constexpr int32_t kEscapedLengthBytes = 5;  // escape byte + 4-byte length
constexpr int32_t kWideBinaryRunBytes = 8;
constexpr int32_t kWideGreyRunBytes = 9;

inline void storeInt32(uint8_t *at, int32_t value) { std::memcpy(at, &value, 4); }
inline int32_t loadInt32(const uint8_t *at) {
    int32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

// Writes a narrow length at the cursor and advances it.
inline void writeLength(uint8_t *&cursor, int32_t length) {
    if (length < kEscape) {
        *cursor++ = static_cast<uint8_t>(length);
    } else {
        cursor[0] = kEscape;
        storeInt32(cursor + 1, length);
        cursor += kEscapedLengthBytes;
    }
}

// Reads a narrow length at the cursor and advances it.
inline int32_t readLength(const uint8_t *&cursor) {
    const uint8_t first = *cursor++;
    if (first != kEscape) return first;
    const int32_t length = loadInt32(cursor);
    cursor += 4;
    return length;
}

// Bytes a narrow length takes.
inline int32_t lengthBytes(int32_t length) { return length < kEscape ? 1 : kEscapedLengthBytes; }

inline void writeGreyRun(uint8_t *&cursor, uint8_t value, int32_t length) {
    *cursor++ = value;
    writeLength(cursor, length);
}
inline void writeGreyTerminator(uint8_t *&cursor) {
    cursor[0] = 0;
    cursor[1] = 0;
    cursor += 2;
}
inline void writeBinaryTerminator(uint8_t *&cursor) { *cursor++ = 0; }

// Bytes a narrow grey run takes (value byte and length).
inline int32_t greyRunBytes(int32_t length) { return 1 + lengthBytes(length); }
constexpr int32_t kGreyTerminatorBytes = 2;
constexpr int32_t kBinaryTerminatorBytes = 1;

// Reads a narrow grey run at the cursor, advancing it; returns the length
// (0 for the terminator).
inline int32_t readGreyRun(const uint8_t *&cursor, uint8_t &value) {
    value = *cursor++;
    return readLength(cursor);
}

inline void writeWideBinaryRun(uint8_t *&cursor, int32_t length) {
    storeInt32(cursor, length);
    cursor += kWideBinaryRunBytes;  // the label slot is left for the scan
}
inline void writeWideGreyRun(uint8_t *&cursor, uint8_t value, int32_t length) {
    cursor[0] = value;
    storeInt32(cursor + 1, length);
    cursor += kWideGreyRunBytes;
}

// Wide readers: return the length (0 for the terminator) and advance the
// cursor past the label slot.
inline int32_t readWideBinaryRun(const uint8_t *&cursor) {
    const int32_t length = loadInt32(cursor);
    cursor += kWideBinaryRunBytes;
    return length;
}
inline int32_t readWideGreyRun(const uint8_t *&cursor, uint8_t &value) {
    value = cursor[0];
    const int32_t length = loadInt32(cursor + 1);
    cursor += kWideGreyRunBytes;
    return length;
}

}  // namespace cblob::rle

#endif
