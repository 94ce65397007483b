// The threshold image objects a run-parameters object owns: image objects
// allocated from the memory service, constructed in place and sharing the
// pixels of the image they copy.
//
// As with tables, replacing one is split into prepare() (the only step that
// can allocate) and commit():
//
//   cblob::ThreshImageReplacement image8(&p->threshImage8, source, 8, true);
//   CBLOB_FRAME_TRY(f, image8.prepare(f));
//   ...
//   CBLOB_FRAME_TRY(f, image8.commit());
#ifndef CBLOB_RUN_RUN_PARAMS_IMAGE_HPP
#define CBLOB_RUN_RUN_PARAMS_IMAGE_HPP

#include <cstdint>

#include "cblob/image.h"
#include "core/frame.hpp"

namespace cblob {

// Allocates an image object and constructs it unbound with the given depth
// (8 or 16); *image is written only on success.
int32_t newThreshImage(int32_t bitsPerPel, cimg_imageConst **image);

// Destructs and frees an object from newThreshImage and sets *image to null;
// null is a no-op. Returns the destruct status (the block is freed anyway).
int32_t deleteThreshImage(cimg_imageConst **image);

// Makes *slot share the pixels of `source`; a null source leaves *slot as it
// is. A missing object (null *slot) is allocated with `bitsPerPel`; an
// existing one is assigned, after being destructed and constructed again in
// place when `reconstruct` is set.
class ThreshImageReplacement {
public:
    ThreshImageReplacement(cimg_imageConst **slot, const cimg_imageConst *source, int32_t bitsPerPel,
                           bool reconstruct)
        : slot_(slot), source_(source), bitsPerPel_(bitsPerPel), reconstruct_(reconstruct) {}
    ThreshImageReplacement(const ThreshImageReplacement &) = delete;
    ThreshImageReplacement &operator=(const ThreshImageReplacement &) = delete;

    // Builds the new object when the slot is empty; a failing call destroys it.
    template <int N>
    int32_t prepare(Frame<N> &f) {
        if (!source_ || *slot_) return 0;
        if (f.fails(newThreshImage(bitsPerPel_, &fresh_))) return f.status;
        f.template addObject<&deleteThreshImage>(&fresh_, csys_cleanup_resultObject);
        return cimg_imageConst_assign(fresh_, source_);
    }

    // Installs the new object, or shares the source's pixels into the
    // existing one. Never allocates. A new object leaves the frame's keeping
    // here, so a later failure of the same call cannot destroy it.
    int32_t commit();

private:
    cimg_imageConst **slot_;
    const cimg_imageConst *source_;
    int32_t bitsPerPel_;
    bool reconstruct_;
    cimg_imageConst *fresh_ = nullptr;
};

}  // namespace cblob

#endif
