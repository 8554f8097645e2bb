#include "fidelity.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <tuple>

namespace fidelity {

std::vector<Box> textLines(const float* map, int width, int height, float threshold) {
    const cv::Mat probabilities(height, width, CV_32F, const_cast<float*>(map));
    const cv::Mat mask = probabilities > threshold;
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    std::vector<Box> boxes;
    for (int i = 1; i < count; ++i)  // label 0 is the background
        boxes.push_back({stats.at<int>(i, cv::CC_STAT_LEFT), stats.at<int>(i, cv::CC_STAT_TOP),
                         stats.at<int>(i, cv::CC_STAT_WIDTH), stats.at<int>(i, cv::CC_STAT_HEIGHT)});
    return boxes;
}

double boxIoU(const Box& a, const Box& b) {
    const long w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const long h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    if (w <= 0 || h <= 0) return 0.0;
    const double common = static_cast<double>(w) * h;
    return common / (static_cast<double>(a.width) * a.height + static_cast<double>(b.width) * b.height - common);
}

double boxF1(const std::vector<Box>& found, const std::vector<Box>& reference, double iou) {
    if (found.empty() && reference.empty()) return 1.0;
    // Boxes sorted by left edge: a pair can only overlap while the reference
    // starts before the found box ends.
    std::vector<size_t> order(reference.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return reference[a].x < reference[b].x; });
    std::vector<std::tuple<double, size_t, size_t>> pairs;
    for (size_t f = 0; f < found.size(); ++f) {
        const Box& a = found[f];
        for (size_t r : order) {
            if (reference[r].x >= a.x + a.width) break;
            const double v = boxIoU(a, reference[r]);
            if (v >= iou) pairs.emplace_back(v, f, r);
        }
    }
    std::sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return std::get<0>(a) > std::get<0>(b); });
    std::vector<bool> usedFound(found.size()), usedReference(reference.size());
    size_t matches = 0;
    for (const auto& [v, f, r] : pairs) {
        if (usedFound[f] || usedReference[r]) continue;
        usedFound[f] = usedReference[r] = true;
        ++matches;
    }
    if (matches == 0) return 0.0;
    const double precision = static_cast<double>(matches) / found.size();
    const double recall = static_cast<double>(matches) / reference.size();
    return 2 * precision * recall / (precision + recall);
}

double maxAbsDifference(const float* a, const float* b, size_t n) {
    double most = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double d = std::fabs(static_cast<double>(a[i]) - b[i]);
        if (std::isnan(d)) return d;  // std::max would pass over it
        most = std::max(most, d);
    }
    return most;
}

double maskIoU(const float* a, const float* b, size_t n, float threshold) {
    size_t both = 0, either = 0;
    for (size_t i = 0; i < n; ++i) {
        const bool inA = a[i] > threshold, inB = b[i] > threshold;
        both += inA && inB;
        either += inA || inB;
    }
    return either == 0 ? 1.0 : static_cast<double>(both) / either;
}

}  // namespace fidelity
