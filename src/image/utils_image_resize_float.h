// Float resampling for working at a reduced scale: box averages to shrink by
// an integer factor K, bilinear sampling to enlarge, and the step that puts
// back the detail the shrinking removed. Destinations are allocated by the
// caller and only written here; nothing allocates. Sample coordinates are
// single-precision floats, pixel centres at integers.
#pragma once

#include <cstdint>

#include "image/image_records.h"

// dest(x, y) = (sum of the K x K block at (K x, K y), rows outer) * ((1/K)/K).
// dest must be src shrunk exactly by K, with src's channel count.
void downsampleBox(const ImageFloat& src, ImageFloat dest, int32_t downsamplingK);

// As downsampleBox for any dest size (normally src / K rounded down, at most
// rounded up), with src's channel count; blocks reaching past the right or
// bottom edge read the last column or row.
void downsampleBoxClamped(const ImageFloat& src, ImageFloat dest, int32_t downsamplingK);

// dest(x, y) = bilinear sample of src at (x * scaleX, y * scaleY), edges
// replicated. Enlarging by K takes scales 1.0f / K.
void resizeBilinear(const ImageFloat& src, ImageFloat dest, float scaleX, float scaleY);

// Rows of a resize done a band at a time: `src` holds source rows from
// srcFirst on of a source srcHeight rows high (negative: src is the whole
// source), `dest` destination rows from destFirst on.
struct ResizeRows {
    int64_t srcFirst = 0;
    int64_t srcHeight = -1;
    int64_t destFirst = 0;
};
// resizeBilinear's values for those rows, bit for bit, at scales other than 1.
void resizeBilinearRows(const ImageFloat& src, ImageFloat dest, float scaleX, float scaleY, const ResizeRows& window);

// resizeBilinear's form for scale 1 between images of equal sizes, without
// the per-pixel coordinate work: what the general form writes, bit for bit
// except for which NaN a NaN sample holds (zero weights still carry the
// neighbours' infinities and NaNs into a sample, and signs of zero follow
// the same sums). False, writing nothing, when the images differ in sizes or
// channels or are too large for every coordinate to be exact in single
// precision.
bool copyAtUnitScale(const ImageFloat& src, const ImageFloat& dest);

// As resizeBilinear, sampling at (x * scaleX - 0.25, y * scaleY - 0.25). The
// first row extrapolates (weights 1.25 and -0.25 on rows 0 and 1) while the
// first column copies column 0, because the row fraction is measured from the
// row clamped to 0 and the column fraction from the unclamped column.
void upsampleBilinearShifted(const ImageFloat& src, ImageFloat dest, float scaleX, float scaleY);

// dest(x, y, ch) += bilinear sample of src at (x * scaleX, y * scaleY), edges
// replicated, for the channels below min(src.numChannels, dest.numChannels);
// dest's other channels are left as they are. Enlarging by S takes scales
// 1.0f / S.
void addBilinear(const ImageFloat& src, ImageFloat dest, float scaleX, float scaleY);

// target_full_scale(x, y, ch) = reference(x, y, ch)
//     - (bilinear sample of low at (x / K, y / K), channel ch) + src_full_scale(x, y, ch)
// for the channels below min(src_full_scale.numChannels, low.numChannels);
// the target's other channels are left as they are. Each image is indexed
// with its own width and channel count. src_full_scale and target_full_scale
// may be the same image.
void transferDetail(const ImageFloat& src_full_scale, ImageFloat target_full_scale, const ImageFloat& reference,
                    const ImageFloat& low, int32_t downsamplingK);
