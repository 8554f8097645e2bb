#include "fidelity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using fidelity::Box;

namespace {
bool operator==(const Box& a, const Box& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}
}  // namespace

TEST(Fidelity, TextLinesJoinDiagonalNeighboursAndSkipTheThreshold) {
    const int w = 8, h = 5;
    std::vector<float> map(w * h, 0.0f);
    auto at = [&](int x, int y) -> float& { return map[y * w + x]; };
    at(1, 1) = at(2, 1) = at(3, 2) = 0.9f;  // (3, 2) touches (2, 1) only at a corner
    at(6, 3) = at(7, 4) = 0.31f;
    at(5, 0) = 0.3f;  // not above the threshold
    const auto lines = fidelity::textLines(map.data(), w, h, 0.3f);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0] == (Box{1, 1, 3, 2}));
    EXPECT_TRUE(lines[1] == (Box{6, 3, 2, 2}));
}

TEST(Fidelity, BoxF1MatchesEachReferenceOnce) {
    const std::vector<Box> reference{{0, 0, 100, 20}, {0, 40, 100, 20}, {200, 0, 50, 50}};
    // Two found boxes over the first reference: the closer one matches it, the
    // other counts as a false detection; the last misses (IoU 0.4).
    const std::vector<Box> found{{10, 0, 100, 20}, {0, 0, 100, 20}, {0, 40, 100, 20}, {200, 0, 50, 20}};
    EXPECT_NEAR(fidelity::boxIoU(found[0], reference[0]), 90.0 / 110.0, 1e-12);
    const double precision = 2.0 / 4, recall = 2.0 / 3;
    EXPECT_NEAR(fidelity::boxF1(found, reference), 2 * precision * recall / (precision + recall), 1e-12);
    EXPECT_NEAR(fidelity::boxF1(found, reference, 0.3), 2 * 0.75 * 1.0 / 1.75, 1e-12);
    EXPECT_EQ(fidelity::boxF1({}, reference), 0.0);
    EXPECT_EQ(fidelity::boxF1(reference, reference), 1.0);
}

TEST(Fidelity, PixelMeasures) {
    const float a[] = {0.1f, 0.5f, 0.9f, 0.2f, 0.8f};
    const float b[] = {0.4f, 0.5f, 0.2f, 0.7f, 0.9f};
    EXPECT_NEAR(fidelity::maxAbsDifference(a, b, 5), 0.7, 1e-6);
    EXPECT_NEAR(fidelity::maskIoU(a, b, 5, 0.3f), 2.0 / 5, 1e-12);  // both: 1, 4; either: all five
    const float c[] = {0.1f, std::numeric_limits<float>::quiet_NaN()};
    EXPECT_TRUE(std::isnan(fidelity::maxAbsDifference(a, c, 2)));
}
