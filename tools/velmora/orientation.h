// How the stored rows of a picture are turned to be upright (the EXIF and
// TIFF orientation values 1 to 8), and reading that value from an EXIF block.
#pragma once

#include <cstddef>
#include <cstdint>

enum class Orientation : uint8_t {
    Upright = 1,  // as stored
    MirrorX = 2,  // mirrored left to right
    Rotate180 = 3,
    MirrorY = 4,    // mirrored top to bottom
    Transpose = 5,  // stored rows are the upright columns
    Rotate90 = 6,   // turned a quarter clockwise to be upright
    Transverse = 7,
    Rotate270 = 8,  // turned a quarter counter-clockwise to be upright
};

// True when the upright picture's width is the stored height.
bool swapsSides(Orientation o);

// Where the stored pixel (x, y) lands in the upright picture, as a pixel
// index origin + x * stepX + y * stepY (rows of the upright width).
struct Placement {
    int64_t origin = 0;
    int64_t stepX = 1;
    int64_t stepY = 0;
    int64_t at(int64_t x, int64_t y) const { return origin + x * stepX + y * stepY; }
};
Placement placement(Orientation o, int32_t storedWidth, int32_t storedHeight);

// The orientation an EXIF block (an APP1 payload starting with "Exif") asks
// for, through libexif; Upright when it has none or it cannot be read.
Orientation orientationFromExif(const unsigned char* data, size_t size);

// Values outside 1 to 8 are Upright.
Orientation orientationFromValue(int value);
