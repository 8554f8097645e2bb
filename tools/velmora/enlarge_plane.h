// A plane of one value per pixel (a picture's alpha) enlarged by a whole
// factor to match an enlarging model's result, row by row so that no
// full-size copy is held.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// Bilinear, with pixel centres aligned ((x + 0.5) / factor - 0.5 in the
// plane) and the edge values repeated past the border.
class PlaneEnlarger {
public:
    // The plane must outlive the enlarger; factor is 1 or more.
    PlaneEnlarger(const float* plane, int32_t width, int32_t height, int32_t factor);
    // A plane whose rows come one at a time: `rowOf(y)` gives row y, which
    // stays valid while the next row is fetched.
    using PlaneRow = std::function<const float*(int32_t y)>;
    PlaneEnlarger(PlaneRow rowOf, int32_t width, int32_t height, int32_t factor);
    int32_t width() const { return static_cast<int32_t>(from0.size()); }
    // Row y of the enlarged plane: width() values.
    void row(int32_t y, float* out) const;

private:
    PlaneRow rowOf;
    int32_t planeWidth, planeHeight, factor;
    std::vector<int32_t> from0, from1;  // the two columns each enlarged column reads
    std::vector<float> weight1;         // the second one's share
};
