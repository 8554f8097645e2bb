// A picture read straight into what the library takes: upright, its
// channels fitted to the model, in the library's floats (or RGB bytes for the
// 8-bit path), with no other full-size copy on the way.
#pragma once

#include <cstdint>
#include <vector>

#include "channels.h"
#include "image_files.h"

struct ModelInputImage {
    int32_t width = 0;  // upright
    int32_t height = 0;
    int32_t channels = 0;              // what the model gets
    std::vector<float> pixels;         // the float path's input
    std::vector<unsigned char> bytes;  // the 8-bit path's RGB input
    std::vector<float> alpha;          // set aside, one value per pixel, or empty
};

enum class InputKind { Floats, Bytes };

// Reads every row of `reader` once. Floats are mapped by `values` (the input
// scale and normalisation), channel by channel after fitting; the 8-bit
// path's bytes are not mapped (the library scales them). Throws what the
// reader throws, or std::bad_alloc.
ModelInputImage readModelInput(ImageReader& reader, const ChannelFit& fit, InputKind kind, const ChannelMap& values);
