// Images for the command's tests, with values every format holds exactly.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>

#include "raster.h"

// Random samples that the sample type represents exactly: k / 255, k / 65535,
// or any float in [-0.5, 1.5] (float TIFF keeps values outside [0, 1]).
inline Raster randomRaster(int32_t width, int32_t height, int32_t channels, SampleType type, unsigned seed) {
    Raster r = makeRaster(width, height, channels, type);
    std::mt19937 rng(seed);
    for (float& v : r.pixels) {
        switch (type) {
            case SampleType::UInt8: v = static_cast<float>(rng() % 256) / 255.0f; break;
            case SampleType::UInt16: v = static_cast<float>(rng() % 65536) / 65535.0f; break;
            case SampleType::Float32: v = std::uniform_real_distribution<float>(-0.5f, 1.5f)(rng); break;
        }
    }
    return r;
}

// Smooth content, as photographs have, where lossy coding stays close.
inline Raster smoothRaster(int32_t width, int32_t height, int32_t channels) {
    Raster r = makeRaster(width, height, channels, SampleType::UInt8);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int32_t c = 0; c < channels; ++c)
                r.pixels[(static_cast<size_t>(y) * width + x) * channels + c] =
                    std::round(64.0f + 128.0f * (x + y * (c + 1)) / (width + height * 4)) / 255.0f;
    return r;
}

inline float maxDifference(const Raster& a, const Raster& b) {
    float worst = 0;
    for (size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        worst = std::max(worst, std::abs(a.pixels[i] - b.pixels[i]));
    return worst;
}

// A page of text as a scanner gives it: dark letter-like strokes in lines of
// words on light paper, 8-bit RGB.
inline Raster pageRaster(int32_t width, int32_t height) {
    Raster r = makeRaster(width, height, 3, SampleType::UInt8);
    std::fill(r.pixels.begin(), r.pixels.end(), 240.0f / 255.0f);
    auto ink = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        for (int c = 0; c < 3; ++c) r.pixels[(static_cast<size_t>(y) * width + x) * 3 + c] = (20.0f + 12 * c) / 255.0f;
    };
    for (int line = 0; 20 + line * 28 + 14 < height - 20; ++line) {
        const int top = 20 + line * 28;
        int x = 24 + (line * 37) % 50;
        for (int word = 0; x < width - 30; ++word) {
            const int letters = 2 + (word * 7 + line) % 6;
            for (int l = 0; l < letters && x < width - 20; ++l, x += 11)
                for (int y = top; y < top + 14; ++y)
                    for (int dx = 0; dx < 8; ++dx)
                        if (dx < 2 || dx > 5 || y == top || y == top + 13 || ((l + word) % 3 == 0 && y == top + 7))
                            ink(x + dx, y);
            x += 14;
        }
    }
    return r;
}
