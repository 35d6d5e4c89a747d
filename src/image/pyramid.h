// Box-reduced copies of a picture, each half the one above, and the box resampler
// the viewer draws from them. Free of Windows headers (builds natively too).
#pragma once
#include <cstddef>
#include "image/image.h"

constexpr int kPyramidLevelsMax = 12;
constexpr uint32_t kPyramidFloor = 64;  // smallest level side worth keeping

struct ImagePyramid {
    Image *level[kPyramidLevelsMax];  // level[k]: the picture reduced by 2^(k+1) on each side
    int32_t levels;
    uint8_t *fit_px;  // the whole picture box-filtered to fit_w x fit_h (straight BGRA), when made
    int32_t fit_w, fit_h;
};

// Display length of n picture pixels at zoom, rounded, kept within int range.
int image_disp_len(uint32_t n, double zoom);
// The zoom that fits a w x h picture into a box_w x box_h box, never above 1.
double image_fit_zoom(uint32_t w, uint32_t h, int box_w, int box_h);

// Halves src again and again (2 x 2 boxes, the odd edge kept) while its longer side is
// above kPyramidFloor; each level is an exact box filter of the one above. Adds to the
// levels p already has (none for a new pyramid); stops early when memory runs out.
void image_pyramid_build(const Image *src, ImagePyramid *p, void **scratch, size_t *scratch_cap);
// The levels as above, then, for an opaque picture larger than the box, the whole picture
// at the size that fits it into box_w x box_h, resampled from the levels as a viewer would.
void image_pyramid_build_fit(const Image *src, ImagePyramid *p, int box_w, int box_h, void **scratch,
                             size_t *scratch_cap);
void image_pyramid_free(ImagePyramid *p);
size_t image_pyramid_bytes(const ImagePyramid *p);
// The smallest of src and its levels that still has at least w x h pixels.
const Image *image_pyramid_source(const Image *src, const ImagePyramid *p, int w, int h);

// Box-filters src to full_w x full_h and writes the part at (x, y) of size w x h
// into dst (straight BGRA, w * 4 bytes a row); the scratch buffer grows as
// needed and is kept by the caller. Returns 1 on success.
int image_box_resample(const Image *src, int full_w, int full_h, int x, int y, int w, int h, uint8_t *dst,
                       void **scratch, size_t *scratch_cap);
