// Cutting patches out of a full image with edge replication, and pasting a
// rectangle of a patch back clipped to the full image.
#pragma once

#include <cstdint>

#include "image/image_records.h"
#include "image/parallel_for.h"

// Fills all of patchImage with the pixels of fullImage at (x + column, y + row),
// coordinates clamped into fullImage, so a patch reaching outside repeats the
// edge pixels. Leaves the patch untouched if fullImage has no buffer. Both
// images must have the same channel count.
void cropPatch(const ImageFloat& fullImage, ImageFloat patchImage, int32_t x, int32_t y);

// Float pastes of this many bytes or more are split over threads.
inline constexpr int64_t kPasteSplitBytes = int64_t{4} << 20;

// Copies the width x height rectangle at (patchX, patchY) of patchImage to
// (x, y) of fullImage, clipped to fullImage. A negative width or height means
// the patch's own. The rectangle must lie inside the patch. The float variant
// copies the rows of a large rectangle on threads from `threads` through
// parallelFor.
void pastePatch(ImageFloat fullImage, const ImageFloat& patchImage, int32_t x, int32_t y, int32_t patchX,
                int32_t patchY, int32_t width, int32_t height, const ThreadSource& threads = {});
void pastePatch(ImageByte fullImage, const ImageByte& patchImage, int32_t x, int32_t y, int32_t patchX, int32_t patchY,
                int32_t width, int32_t height);
