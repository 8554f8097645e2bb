// How far a tiled result strays from the whole-picture result of the same
// model: the text lines a detector finds, matched box to box, and the
// probability maps compared pixel by pixel.
#pragma once

#include <cstddef>
#include <vector>

namespace fidelity {

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
};

// Bounding boxes of the 8-connected regions of map > threshold; `map` is
// width x height, row-major.
std::vector<Box> textLines(const float* map, int width, int height, float threshold = 0.3f);

double boxIoU(const Box& a, const Box& b);

// F1 of a one-to-one matching of `found` to `reference` boxes at IoU >= `iou`,
// pairs taken greedily by descending IoU. Two empty lists agree (1).
double boxF1(const std::vector<Box>& found, const std::vector<Box>& reference, double iou = 0.5);

double maxAbsDifference(const float* a, const float* b, size_t n);

// IoU of the masks a > threshold and b > threshold; two empty masks agree (1).
double maskIoU(const float* a, const float* b, size_t n, float threshold);

}  // namespace fidelity
