// A picture read straight into what the library takes: upright, its
// channels fitted to the model, in the library's floats (or RGB bytes for the
// 8-bit path), with no other full-size copy on the way.
#pragma once

#include <cstdint>
#include <vector>

#include "channels.h"
#include "image_files.h"
#include "velmora.h"

struct ModelInputImage {
    int32_t width = 0;  // upright
    int32_t height = 0;
    int32_t channels = 0;              // what the model gets
    std::vector<float> pixels;         // the float path's input
    std::vector<unsigned char> bytes;  // the 8-bit path's RGB input
    std::vector<float> alpha;          // set aside, one value per pixel, or empty
    std::vector<float> colour;         // the picture's colours as read (no alpha), when kept, or empty
    int32_t colourChannels = 0;        // 1 or 3, when kept
};

enum class InputKind { Floats, Bytes };

// Reads every row of `reader` once. Floats are mapped by `values` (the input
// scale), channel by channel after fitting; the 8-bit path's bytes are not
// mapped (the library scales them). `keepColour` also keeps the picture's
// own colours, upright, for a cut-out. Throws what the reader throws, or
// std::bad_alloc.
ModelInputImage readModelInput(ImageReader& reader, const ChannelFit& fit, InputKind kind, const ChannelMap& values,
                               bool keepColour = false);

// A piece of the 8-bit input as the library's floats (each byte times
// `scale`), at most `side` pixels each way around the centre: a sample to
// measure the model on without a float copy of the whole picture.
struct FloatSample {
    std::vector<float> pixels;
    ImageFloat view{0, 0, 0, nullptr};
};
FloatSample bytesSample(const ModelInputImage& input, float scale, int32_t side);
