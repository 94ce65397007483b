// The hard-threshold row loop shared by the packed-compare variants.
//
// An instruction-set adapter answers questions about a block of 64 pixels
// and about 64-bit masks. Adapters that classify with a saturating add come
// in two forms, one per direction in which they move pixel values (see
// hardRowShifted at the end):
//
//   struct Isa {
//       using Pixel = uint8_t or uint16_t;
//       using Thresh = ...;                          // threshold constants
//       // 1 <= thresh <= kMiddle<Pixel> for the raising form, above it
//       // for the lowering form
//       static Thresh prepare(int32_t thresh);
//       // bit i set when pixel i is at or above the threshold
//       static uint64_t classify64(const Pixel *pixels, const Thresh &thresh);
//       // every pixel at or above / below the threshold
//       static bool allAtOrAbove(const Pixel *pixels, const Thresh &thresh);
//       static bool allBelow(const Pixel *pixels, const Thresh &thresh);
//       // true when the two below are single instructions (BMI1, POPCNT)
//       static constexpr bool kBitCounts;
//       // trailing zero bits; any value from 63 to 64 for 0
//       static int32_t trailingZeros(uint64_t bits);
//       static int32_t popCount(uint64_t bits);
//   };
//
// The loop classifies a block into a bit mask and finds the run boundaries
// in it as the set bits of
//   classes XOR (classes << 1 | class of the previous pixel),
// and writes the runs that end in the block, with count-trailing-zeros. A
// block without a boundary switches the loop to its fast path: while the
// open run goes on, whole blocks are skipped with the uniform test of the
// run's class, a packed minimum (object run) or maximum (background run)
// compared once with the threshold. That test builds no mask and does no
// scalar work, so long runs cost little more than reading their pixels. The
// first block that fails it is classified as usual. Rows with a boundary in
// every block never take the fast path and pay nothing for it.
//
// Two outputs share the scheme: run lengths in the run-length formats
// (encodeHardRow, its block loop written out for the usual block with one
// boundary and a short run) and run end positions (scanBoundaries with
// EndsEmitter). With bit counts, the run-end emitter writes the boundaries
// of a block without a branch that depends on their number as long as there
// are at most four: four positions found with count-trailing-zeros are
// stored at once and the write cursor moves on by the number of boundaries
// (a population count); the entries past that are overwritten later or lie
// in the output's slack. Only blocks with more boundaries loop. (Storing
// four narrow lengths the same way in the run-length kernel measured slower
// on photographs and not reliably faster on sparse rows, so that kernel
// keeps its loop.)
//
// The tail of the row (fewer than 64 pixels) is classified from the last
// whole block of the row, which overlaps the block before, its classes
// shifted down to the tail and padded with the last pixel's class, so nothing
// is read past the row and the padding adds no boundary. Only rows narrower
// than a block copy their pixels into a padded block instead. (Most image
// widths are not a multiple of 64, so nearly every row has a tail; the copy
// made such rows up to a fifth slower. An AVX-512 masked load of the tail,
// tried too, was faster on some images and a third slower on others, which
// fits loads that wait for earlier stores of runs.)
//
// This header is included only by the variant sources, inside their
// instruction-set target region and after every other include, so that the
// loop is compiled for that instruction set. Its templates are instantiated
// only with adapters from anonymous namespaces, which gives every
// instantiation internal linkage: code compiled for one instruction set is
// never shared with another translation unit.
#ifndef CBLOB_SEGMENT_ROW_KERNELS_SIMD_HPP
#define CBLOB_SEGMENT_ROW_KERNELS_SIMD_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "rle/run_format.hpp"
#include "segment/row_run_writer.hpp"

namespace cblob::row::simd {

constexpr int32_t kBlock = 64;

// The run boundaries of a block: bit i set when pixel i's class differs from
// pixel i - 1's; `previous` holds the classes of the block before (only its
// top bit, the class of the pixel before the block, counts).
inline uint64_t boundaries(uint64_t classes, uint64_t previous) {
    return classes ^ ((classes << 1) | (previous >> 63));
}

// From block x on, skips every whole block whose pixels all have the open
// run's class Above (1: at or above the threshold, 0: below). Returns the
// first block that may hold a boundary, or the first that does not fit the
// row.
template <class Isa, bool Above>
inline ptrdiff_t skipUniform(const typename Isa::Pixel *pixels, ptrdiff_t x, ptrdiff_t width,
                             const typename Isa::Thresh &thresh) {
    const ptrdiff_t lastBlock = width - kBlock;
    while (x <= lastBlock) {
        const bool uniform = Above ? Isa::allAtOrAbove(pixels + x, thresh) : Isa::allBelow(pixels + x, thresh);
        if (!uniform) break;
        x += kBlock;
    }
    return x;
}

// Classes of `left` pixels (1..63) from `pixels`, padded to a block with
// the last pixel's class, from a copy. Kept out of line, with its own
// threshold constants: the padded copy needs an aligned stack block, and the
// row loop would otherwise set one up, and keep its constants there, for
// every row.
template <class Isa>
__attribute__((noinline)) uint64_t classifyCopy(const typename Isa::Pixel *pixels, int32_t left, int32_t thresh) {
    using Pixel = typename Isa::Pixel;
    alignas(64) Pixel tail[kBlock];
    std::memcpy(tail, pixels, static_cast<size_t>(left) * sizeof(Pixel));
    for (int32_t i = left; i < kBlock; ++i) tail[i] = pixels[left - 1];
    return Isa::classify64(tail, Isa::prepare(thresh));
}

// Classes of the row's last `left` pixels (1..63), which start at x, padded
// to a block with the last pixel's class: from the row's last whole block
// when there is one, else from a copy.
template <class Isa>
__attribute__((noinline)) uint64_t classifyTail(const typename Isa::Pixel *pixels, ptrdiff_t x, int32_t left,
                                                int32_t thresh) {
    if (x < kBlock - left) return classifyCopy<Isa>(pixels + x, left, thresh);
    const uint64_t whole = Isa::classify64(pixels + x + left - kBlock, Isa::prepare(thresh));
    const uint64_t lastClass = whole >> 63;
    return (whole >> (kBlock - left)) | ((uint64_t{0} - lastClass) << left);
}

// Finds the boundaries of a row (width >= 1, 1 <= thresh <= the pixel
// maximum) and hands each block that has one to emit.block(changes,
// blockStart): a run ends before every set bit of `changes` (never 0).
template <class Isa, class Emitter>
inline void scanBoundaries(const typename Isa::Pixel *pixels, int32_t width, int32_t thresh, Emitter &emit) {
    const typename Isa::Thresh broadcast = Isa::prepare(thresh);
    // The classes of the block before; only the top bit, the class of the
    // pixel before the block, is used. The first pixel starts the first run.
    uint64_t previous = pixels[0] >= thresh ? ~uint64_t{0} : 0;
    // Pixel positions are pointer-sized in the loop, which saves a sign
    // extension per block; they fit int32_t again where runs are written.
    ptrdiff_t x = 0;
    const ptrdiff_t lastBlock = width - kBlock;
    while (x <= lastBlock) {
        const uint64_t classes = Isa::classify64(pixels + x, broadcast);
        const uint64_t changes = boundaries(classes, previous);
        previous = classes;
        if (__builtin_expect(changes == 0, 0)) {
            // No boundary here: the run is likely long, go on with the fast path.
            x = (classes & 1) ? skipUniform<Isa, true>(pixels, x + kBlock, width, broadcast)
                              : skipUniform<Isa, false>(pixels, x + kBlock, width, broadcast);
            continue;
        }
        emit.block(changes, static_cast<int32_t>(x));
        x += kBlock;
    }
    if (x < width) {
        const uint64_t classes = classifyTail<Isa>(pixels, x, static_cast<int32_t>(width - x), thresh);
        const uint64_t changes = boundaries(classes, previous);
        if (changes != 0) emit.block(changes, static_cast<int32_t>(x));
    }
}

// ------------------------------------------------------------ run lengths

// Appends one run that may be long; narrow lengths of 255 or more take the
// escape, counted in `escapes`. (No branch hint: runs that reach the fast
// path are often long.)
template <class Writer>
inline void putRun(uint8_t *&out, int32_t length, int32_t &escapes) {
    if constexpr (Writer::kBytesPerRun != 1) {
        Writer::put(out, 0, length);
    } else if (length < rle::kEscape) {
        *out++ = static_cast<uint8_t>(length);
    } else {
        rle::writeLength(out, length);
        ++escapes;
    }
}

template <class Isa, class Writer>
inline int32_t encodeHardRow(uint8_t *&out, const typename Isa::Pixel *pixels, int32_t width, int32_t thresh) {
    using Pixel = typename Isa::Pixel;
    constexpr int32_t kMaxPixel = static_cast<Pixel>(~Pixel{0});
    if (width <= 0) {
        Writer::end(out);
        return 0;
    }
    if (thresh <= 0 || thresh > kMaxPixel) {  // the whole row is one class
        Writer::put(out, 0, width);
        Writer::end(out);
        return 1;
    }
    const typename Isa::Thresh broadcast = Isa::prepare(thresh);
    // The classes of the block before; its top bit is the class of the pixel
    // before the block, the first pixel's class at the start.
    uint64_t previous = pixels[0] >= thresh ? ~uint64_t{0} : 0;
    uint8_t *const begin = out;
    int32_t runStart = 0;
    int32_t escapes = 0;
    // Pixel positions are pointer-sized in the loop, which saves a sign
    // extension per block; they fit int32_t again where runs are written.
    ptrdiff_t x = 0;
    const ptrdiff_t lastBlock = width - kBlock;
    while (x <= lastBlock) {
        uint64_t classes = Isa::classify64(pixels + x, broadcast);
        uint64_t changes = boundaries(classes, previous);
        int32_t at;
        if (__builtin_expect(changes == 0, 0)) {
            // No boundary here: the run is likely long, go on with the fast
            // path. The block that stops it holds a pixel of the other class,
            // hence the run's end; the run may be long, so its length is
            // written with the escape test.
            x = (classes & 1) ? skipUniform<Isa, true>(pixels, x + kBlock, width, broadcast)
                              : skipUniform<Isa, false>(pixels, x + kBlock, width, broadcast);
            if (x > lastBlock) break;
            classes = Isa::classify64(pixels + x, broadcast);
            changes = boundaries(classes, previous);
            at = static_cast<int32_t>(x) + Isa::trailingZeros(changes);
            putRun<Writer>(out, at - runStart, escapes);
        } else {
            // Here the run began at most one block earlier: a run of 255
            // pixels or more spans at least two whole blocks without a
            // boundary, and the first of those sends the loop down the fast
            // path. No escape test, then, for the usual block.
            at = static_cast<int32_t>(x) + Isa::trailingZeros(changes);
            Writer::putShort(out, at - runStart);
        }
        // A block with one boundary, the usual case, leaves by the straight
        // path (`continue`): as a call, the compiler's layout made sparse
        // rows 5-10 % slower.
        previous = classes;
        uint64_t more = changes & (changes - 1);
        if (more == 0) {
            runStart = at;
            x += kBlock;
            continue;
        }
        do {
            const int32_t next = static_cast<int32_t>(x) + Isa::trailingZeros(more);
            Writer::putShort(out, next - at);
            at = next;
            more &= more - 1;
        } while (more != 0);
        runStart = at;
        x += kBlock;
    }
    if (x < width) {
        const uint64_t classes = classifyTail<Isa>(pixels, x, static_cast<int32_t>(width - x), thresh);
        uint64_t changes = boundaries(classes, previous);
        if (changes != 0) {
            const int32_t blockStart = static_cast<int32_t>(x);
            int32_t at = blockStart + Isa::trailingZeros(changes);
            putRun<Writer>(out, at - runStart, escapes);
            for (changes &= changes - 1; changes != 0; changes &= changes - 1) {
                const int32_t next = blockStart + Isa::trailingZeros(changes);
                Writer::putShort(out, next - at);
                at = next;
            }
            runStart = at;
        }
    }
    putRun<Writer>(out, width - runStart, escapes);
    const int32_t bytes = static_cast<int32_t>(out - begin);
    Writer::end(out);
    // Every run took kBytesPerRun bytes, escaped narrow lengths 4 more.
    return Writer::kBytesPerRun == 1 ? bytes - (rle::kEscapedLengthBytes - 1) * escapes
                                     : bytes / Writer::kBytesPerRun;
}

// A HardRowKernel<Isa::Pixel>.
template <class Isa>
int32_t hardRow(uint8_t **cursor, const typename Isa::Pixel *pixels, int32_t width, int32_t thresh, int32_t wide,
                int32_t *numRuns) {
    uint8_t *out = *cursor;
    *numRuns = wide ? encodeHardRow<Isa, BinaryRunWriter<true>>(out, pixels, width, thresh)
                    : encodeHardRow<Isa, BinaryRunWriter<false>>(out, pixels, width, thresh);
    *cursor = out;
    return 0;
}

// --------------------------------------------------------------- run ends

// Writes run end positions. With bit counts, four ends are stored per block
// whatever its boundaries: with k boundaries found before the block and n
// in it, the stores reach index k + 3 <= width + 1, because the k + n
// boundaries lie at distinct positions 1 .. width - 1 and n >= 1; hence the
// kRowEndsSlack of two entries.
template <class Isa>
struct EndsEmitter {
    int32_t *out;

    inline void block(uint64_t changes, int32_t blockStart) {
        if constexpr (Isa::kBitCounts) {
            int32_t *o = out;
            uint64_t rest = changes;
            o[0] = blockStart + Isa::trailingZeros(rest);
            rest &= rest - 1;
            o[1] = blockStart + Isa::trailingZeros(rest);
            rest &= rest - 1;
            o[2] = blockStart + Isa::trailingZeros(rest);
            rest &= rest - 1;
            o[3] = blockStart + Isa::trailingZeros(rest);
            const int32_t count = Isa::popCount(changes);
            if (__builtin_expect(count > 4, 0)) {
                o += 4;
                for (rest &= rest - 1; rest != 0; rest &= rest - 1) *o++ = blockStart + Isa::trailingZeros(rest);
            }
            out += count;
        } else {
            for (; changes != 0; changes &= changes - 1) *out++ = blockStart + Isa::trailingZeros(changes);
        }
    }
};

// A HardRowEndsKernel<Isa::Pixel>.
template <class Isa>
int32_t hardRowEnds(int32_t *ends, const typename Isa::Pixel *pixels, int32_t width, int32_t thresh,
                    int32_t *numRuns) {
    using Pixel = typename Isa::Pixel;
    constexpr int32_t kMaxPixel = static_cast<Pixel>(~Pixel{0});
    int32_t runs = 0;
    if (width > 0) {
        EndsEmitter<Isa> emit{ends};
        if (thresh > 0 && thresh <= kMaxPixel) scanBoundaries<Isa>(pixels, width, thresh, emit);
        *emit.out++ = width;
        runs = static_cast<int32_t>(emit.out - ends);
    }
    *numRuns = runs;
    return 0;
}

// Adapters that classify with one saturating add or subtract per vector
// move the threshold to the middle of the pixel range, kMiddle = 128
// (8-bit) or 32768 (16-bit), so that a pixel's class is the top bit of its
// moved value:
//   thresh <= kMiddle: v + (kMiddle - thresh), saturating at the maximum,
//   thresh >  kMiddle: v - (thresh - kMiddle), saturating at 0.
// Such an adapter therefore comes in two forms, Raise for the first and
// Lower for the second; the *Shifted kernels choose one per row. (Both are
// plain class arguments: a template template argument would give the
// instantiations external linkage with GCC.) Adapters that compare directly
// are used with hardRow and hardRowEnds themselves.
template <class Pixel>
constexpr int32_t kMiddle = (static_cast<int32_t>(static_cast<Pixel>(~0u)) + 1) / 2;

template <class Raise, class Lower>
int32_t hardRowShifted(uint8_t **cursor, const typename Raise::Pixel *pixels, int32_t width, int32_t thresh,
                       int32_t wide, int32_t *numRuns) {
    static_assert(sizeof(typename Raise::Pixel) == sizeof(typename Lower::Pixel), "two forms of one adapter");
    return thresh <= kMiddle<typename Raise::Pixel> ? hardRow<Raise>(cursor, pixels, width, thresh, wide, numRuns)
                                                    : hardRow<Lower>(cursor, pixels, width, thresh, wide, numRuns);
}

template <class Raise, class Lower>
int32_t hardRowEndsShifted(int32_t *ends, const typename Raise::Pixel *pixels, int32_t width, int32_t thresh,
                           int32_t *numRuns) {
    static_assert(sizeof(typename Raise::Pixel) == sizeof(typename Lower::Pixel), "two forms of one adapter");
    return thresh <= kMiddle<typename Raise::Pixel> ? hardRowEnds<Raise>(ends, pixels, width, thresh, numRuns)
                                                    : hardRowEnds<Lower>(ends, pixels, width, thresh, numRuns);
}

}  // namespace cblob::row::simd

#endif
