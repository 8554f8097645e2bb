// A picture's rows one at a time, turned upright, fitted to the model's
// channels and mapped as the whole picture would be: what a streamed run
// reads, without holding the picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "channels.h"
#include "image_files.h"
#include "velmora.h"

class UprightRows {
public:
    // Why this picture's rows cannot come upright one at a time (a quarter
    // turn needs every stored row for the first upright one; upside down
    // needs a reader that reads from the bottom); empty when they can.
    static std::string obstacle(const ImageReader& reader);

    // `keepColour` also gives the picture's own colours (alpha aside).
    UprightRows(ImageReader& reader, const ChannelFit& fit, const ChannelMap& values, bool keepColour);

    int32_t width() const { return head.width; }
    int32_t height() const { return head.height; }
    int32_t modelChannels() const { return fit.modelChannels(); }
    bool givesAlpha() const { return fit.setsAlphaAside(); }
    int32_t colourChannels() const { return keepColour ? colour : 0; }
    int32_t rowsRead() const { return read; }
    // What the reader holds for this order besides a row.
    uint64_t readerBytes() const;

    // The next upright row: width x modelChannels values into `model`, the
    // set-aside alpha (width values) into `alpha` and the colours into
    // `colourOut` where the picture gives them.
    void next(float* model, float* alpha, float* colourOut);
    // Reads what is left and lets the reader check the file's end.
    void finish();

private:
    ImageReader& reader;
    const ImageHeader& head;
    ChannelFit fit;
    ChannelMap values;
    bool keepColour, mirrored, mapped;
    int32_t colour, read = 0;
    std::vector<float> scratch;
};

// The top `rows` upright rows of `reader`'s picture, at most `width` wide
// around the centre: a sample to measure the model on without reading the
// whole picture.
struct TopSample {
    std::vector<float> pixels;
    ImageFloat view{0, 0, 0, nullptr};
};
TopSample topSample(ImageReader& reader, const ChannelFit& fit, const ChannelMap& values, int32_t rows, int32_t width);
