// Pictures of 32-bit float samples as TIFF files, the format through which
// GIMP takes the test's pictures in and gives its results back unrounded.
#pragma once

#include <cstddef>
#include <filesystem>
#include <vector>

struct FloatPicture {
    int width = 0;
    int height = 0;
    int channels = 0;  // 1 gray, 2 gray and alpha, 3 RGB, 4 RGB and alpha
    std::vector<float> values;

    float& at(int x, int y, int c) { return values[(static_cast<size_t>(y) * width + x) * channels + c]; }
    float at(int x, int y, int c) const { return values[(static_cast<size_t>(y) * width + x) * channels + c]; }
};

// Throws with the file's name when it cannot be written or read, or when it
// does not hold 32-bit float samples.
void writeFloatTiff(const std::filesystem::path& path, const FloatPicture& picture);
FloatPicture readFloatTiff(const std::filesystem::path& path);
