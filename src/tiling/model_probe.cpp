#include "tiling/model_probe.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <new>
#include <string>

#include "image/utils_image_cropping.h"
#include "tiling/model_tiles.h"
#include "tiling/rect_run.h"
#include "tiling/stock_picture.h"
#include "tiling/tile_layout.h"

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The probe's picture: the part of the host's sample with the most detail,
// or the stock picture; normalised as the model will see it.
struct ProbePicture {
    ImageBuffer<ImageFloat> pixels;
    bool make(int32_t width, int32_t height, int32_t channels, const ImageFloat* sample, const ValueTransform& t) {
        if (!pixels.resize(width, height, channels)) return false;
        const ImageFloat p = pixels.view();
        // A sample smaller than the probe's picture would be padded with
        // repeated edges, which no model responds to as to a picture.
        if (sample && sample->data && sample->numChannels == channels && sample->width >= width &&
            sample->height >= height) {
            cropPatch(*sample, p, bestCorner(*sample, width, height, true), bestCorner(*sample, width, height, false));
        } else {
            drawStockPicture(p);
        }
        t.apply(p.data, pixelCount(p), channels);
        return true;
    }

    // Of a few places along one axis, the one whose rectangle varies most.
    static int32_t bestCorner(const ImageFloat& s, int32_t width, int32_t height, bool alongX) {
        const int32_t room = alongX ? s.width - width : s.height - height;
        if (room <= 0) return room / 2;
        int32_t best = room / 2;
        double bestDetail = -1;
        for (int32_t k = 0; k <= 4; ++k) {
            const int32_t at = room * k / 4;
            double detail = 0;
            const int32_t x0 = alongX ? at : std::max(0, (s.width - width) / 2);
            const int32_t y0 = alongX ? std::max(0, (s.height - height) / 2) : at;
            const int32_t w = std::min(width, s.width - x0), h = std::min(height, s.height - y0);
            for (int32_t y = y0; y < y0 + h; y += 4)
                for (int32_t x = x0 + 1; x < x0 + w; x += 4) {
                    const float* px = s.data + (int64_t{y} * s.width + x) * s.numChannels;
                    detail += std::fabs(px[0] - px[-s.numChannels]);
                }
            if (detail > bestDetail) {
                bestDetail = detail;
                best = at;
            }
        }
        return best;
    }
};

int32_t roundUp(int64_t side, int32_t multiple) {
    return static_cast<int32_t>((side + multiple - 1) / multiple * multiple);
}

// Disagreement by distance from a tile's edge: for each distance, the mean
// of |tile - reference| over the column's values (the worst of the columns
// measured at that distance) and their largest.
struct Disagreement {
    std::vector<float> mean, largest;
    explicit Disagreement(size_t distances) : mean(distances, 0.0f), largest(distances, 0.0f) {}
    void note(size_t distance, float meanOfColumn, float largestOfColumn) {
        if (distance >= mean.size()) return;
        mean[distance] = std::max(mean[distance], meanOfColumn);
        largest[distance] = std::max(largest[distance], largestOfColumn);
    }
    void resize(size_t distances) {
        mean.resize(distances);
        largest.resize(distances);
    }
};

// Compares the columns of `tile` (cut at `offset` across the reference's
// width) with the reference, each at its distance from the nearest edge of
// the tile that is not an edge of the picture.
void disagreeByDistance(const ImageFloat& tile, const ImageFloat& reference, int64_t offset, Disagreement& found) {
    const int64_t c = tile.numChannels;
    const bool leftInside = offset > 0, rightInside = offset + tile.width < reference.width;
    for (int64_t x = 0; x < tile.width; ++x) {
        int64_t distance = std::numeric_limits<int64_t>::max();
        if (leftInside) distance = x;
        if (rightInside) distance = std::min(distance, tile.width - 1 - x);
        if (distance >= static_cast<int64_t>(found.mean.size())) continue;
        float worst = 0;
        double sum = 0;
        for (int64_t y = 0; y < tile.height; ++y) {
            const float* a = tile.data + (y * tile.width + x) * c;
            const float* b = reference.data + (y * reference.width + offset + x) * c;
            for (int64_t ch = 0; ch < c; ++ch) {
                float diff = std::fabs(a[ch] - b[ch]);
                if (std::isnan(diff)) diff = std::numeric_limits<float>::infinity();
                worst = std::max(worst, diff);
                sum += diff;
            }
        }
        found.note(static_cast<size_t>(distance), static_cast<float>(sum / static_cast<double>(tile.height * c)),
                   worst);
    }
}

// The mean disagreement of two tiles cut half a tile apart, over the middle
// eighth of their overlap (a quarter of a tile from either's edge).
float middleDisagreement(const ImageFloat& a, const ImageFloat& b) {
    const int64_t c = a.numChannels, half = a.width / 2, band = std::max<int64_t>(1, a.width / 16);
    double sum = 0;
    int64_t count = 0;
    for (int64_t y = 0; y < a.height; ++y)
        for (int64_t x = half + half / 2 - band / 2; x < half + half / 2 + (band + 1) / 2; ++x)
            for (int64_t ch = 0; ch < c; ++ch, ++count)
                sum += std::fabs(a.data[(y * a.width + x) * c + ch] - b.data[(y * b.width + x - half) * c + ch]);
    return count ? static_cast<float>(sum / static_cast<double>(count)) : 0.0f;
}

// The smallest distance from which on every value of `curve` is within
// `tolerance`; -1 when none is.
int32_t agreeingFrom(const std::vector<float>& curve, float tolerance) {
    int32_t from = -1;
    for (int32_t e = static_cast<int32_t>(curve.size()) - 1; e >= 0; --e) {
        if (!(curve[e] <= tolerance)) break;
        from = e;
    }
    return from;
}

// Reads the disagreement: how far a tile's edge is felt, and whether tiles
// disagree whatever their margin.
//
// The typical (mean) disagreement falls from the edge to a floor: what the
// model varies by whatever its view, as networks that pool over the whole
// tile do. A floor above two levels of 255 that the edge hardly adds to means
// the model reads the picture as a whole. Otherwise the reach is where the
// fall ends: where the (slightly smoothed) mean falls by less than a level
// over the next few pixels. A model that looks a fixed distance agrees
// exactly with its larger view from there: its reach is where even the
// largest disagreement is gone, when that is near.
void decideReach(const Disagreement& d, float pairFloor, ModelNeeds& needs) {
    const size_t n = d.mean.size();
    std::vector<float> smooth(n, 0.0f);
    for (size_t e = 0; e < n; ++e) {
        double sum = 0;
        size_t count = 0;
        for (size_t k = e >= 2 ? e - 2 : 0; k <= std::min(n - 1, e + 2); ++k, ++count) sum += d.mean[k];
        smooth[e] = static_cast<float>(sum / static_cast<double>(count));
    }
    std::vector<float> far(smooth.begin() + static_cast<std::ptrdiff_t>(n - n / 3), smooth.end());
    std::sort(far.begin(), far.end());
    needs.floor = std::max(far.empty() ? 0.0f : far[far.size() / 2], pairFloor);
    needs.disagreement = smooth;
    const float level = needs.outputRange / 255.0f;
    needs.tolerance = level;
    int32_t reach = -1;
    const bool flat = !smooth.empty() && smooth[0] <= 6.0f * needs.floor;
    if (!(needs.floor > 2.0f * level && flat)) {
        const size_t window = static_cast<size_t>(8 * needs.scale);
        for (size_t e = 0; e < n && reach < 0; ++e) {
            const auto last = smooth.begin() + static_cast<std::ptrdiff_t>(std::min(n, e + window + 1));
            if (smooth[e] - *std::min_element(smooth.begin() + static_cast<std::ptrdiff_t>(e), last) < level)
                reach = static_cast<int32_t>(e);
        }
        const int32_t exactly = agreeingFrom(d.largest, needs.outputRange * 1e-5f);
        if (exactly >= 0 && reach >= 0 && exactly <= 2 * reach + 8) {
            reach = exactly;
            needs.exact = true;
        }
    }
    if (reach < 0) {
        needs.wholePicture = true;
        needs.reach = needs.probeSide / 2;
    } else {
        needs.reach = (reach + needs.scale - 1) / needs.scale;
    }
}

}  // namespace

double ModelNeeds::secondsPerRun(int32_t side) const {
    if (costs.empty()) return static_cast<double>(side) * side;
    // Per pixel, linear between the measured sides and flat beyond them.
    auto perPixel = [](const Cost& c) { return c.seconds / (static_cast<double>(c.side) * c.side); };
    double rate = perPixel(costs.front());
    if (side >= costs.back().side) {
        rate = perPixel(costs.back());
    } else {
        for (size_t i = 1; i < costs.size(); ++i)
            if (side <= costs[i].side) {
                const double f = static_cast<double>(side - costs[i - 1].side) / (costs[i].side - costs[i - 1].side);
                rate = perPixel(costs[i - 1]) * (1 - std::max(0.0, f)) + perPixel(costs[i]) * std::max(0.0, f);
                break;
            }
    }
    return rate * side * side;
}

Expected<ModelNeeds> probeModel(ModelLogic& backend, const ModelDescription& model, int32_t channels,
                                const ImageFloat* sample, const ValueTransform& transform) {
    const auto start = Clock::now();
    ModelNeeds needs;
    DeclaredImage declared;
    if (model.known && !model.inputs.empty() &&
        readDeclaredImage(model.inputs[0].declared, model.inputLayout, declared)) {
        if (declared.channels > 0) channels = static_cast<int32_t>(declared.channels);
        if (declared.width > 0 && declared.width == declared.height) {
            needs.fixedSide = true;
            needs.multiple = needs.smallestSide = static_cast<int32_t>(declared.width);
        }
    }
    RectRunner runner(backend, model, channels);
    ProbePicture picture;
    // A square run of `side`; its time joins the costs.
    std::string lastFailure;
    auto runSquare = [&](int32_t side) -> bool {
        if (!picture.make(side, side, channels, sample, transform)) return false;
        const auto t0 = Clock::now();
        const Expected<ImageFloat> r = runner.run(picture.pixels.view());
        if (!r) {
            lastFailure = r.message();
            return false;
        }
        const double seconds = since(t0);
        needs.scale = r->width / side;
        needs.outputChannels = r->numChannels;
        auto at = std::find_if(needs.costs.begin(), needs.costs.end(),
                               [&](const ModelNeeds::Cost& c) { return c.side == side; });
        if (at == needs.costs.end())
            needs.costs.push_back({side, seconds});
        else
            at->seconds = std::min(at->seconds, seconds);  // the first run of a size pays for its set-up
        return true;
    };

    if (needs.fixedSide) {
        if (!runSquare(needs.multiple)) return failure("ran on no tile of its own size: " + lastFailure);
        runSquare(needs.multiple);
    } else {
        for (int32_t side : {64, 128, 256, 512})
            if (runSquare(side)) {
                needs.smallestSide = side;
                break;
            }
        if (needs.smallestSide == 0) return failure("ran on no tile from 64 to 512 pixels: " + lastFailure);
        // The smallest step of sides it takes above the one that ran.
        needs.multiple = needs.smallestSide;
        for (int32_t m : {1, 2, 4, 8, 16, 32})
            if (m < needs.smallestSide && runSquare(needs.smallestSide + m)) {
                needs.multiple = m;
                break;
            }
        // What a run costs at the sides the plans choose from.
        // Results past 2048 pixels a side cost more to measure than they tell.
        for (int32_t side : {256, 512, 1024}) {
            const int32_t s = roundUp(side, needs.multiple);
            if (side > 256 && int64_t{s} * needs.scale > 2048) break;
            runSquare(s);
            runSquare(s);
        }
        std::erase_if(needs.costs, [&](const ModelNeeds::Cost& c) { return c.side % needs.multiple != 0; });
        std::sort(needs.costs.begin(), needs.costs.end(),
                  [](const ModelNeeds::Cost& a, const ModelNeeds::Cost& b) { return a.side < b.side; });
    }

    // The reach: tiles cut across a wider picture, against a larger view.
    const int32_t side = needs.fixedSide ? needs.multiple : roundUp(std::max(256, 512 / needs.scale), needs.multiple);
    needs.probeSide = side;
    const int32_t shift = std::max(1, side / 8);
    const int32_t width = needs.fixedSide ? side + 7 * shift : roundUp(side + side / 2, needs.multiple);
    ImageBuffer<ImageFloat> wide, referenceCopy;
    if (!picture.make(width, side, channels, sample, transform) || !wide.resize(width, side, channels))
        return failure("no memory for the probe's picture");
    std::copy_n(picture.pixels.view().data, elementCount(wide.view()), wide.view().data);
    ImageBuffer<ImageFloat> cut;
    if (!cut.resize(side, side, channels)) return failure("no memory for the probe's tiles");
    auto tileAt = [&](int32_t offset) -> Expected<ImageFloat> {
        cropPatch(wide.view(), cut.view(), offset, 0);
        return runner.run(cut.view());
    };
    Disagreement largest(static_cast<size_t>(side * needs.scale / 2));
    float pairFloor = 0;
    if (!needs.fixedSide) {
        // The larger view: the whole wide picture in one run.
        const Expected<ImageFloat> whole = runner.run(wide.view());
        if (!whole)
            return failure("ran on no " + std::to_string(width) + " x " + std::to_string(side) +
                           " picture: " + whole.message());
        if (!referenceCopy.resize(whole->width, whole->height, whole->numChannels))
            return failure("no memory for the probe's reference");
        std::copy_n(whole->data, elementCount(*whole), referenceCopy.view().data);
        for (int32_t offset : {side / 8, side / 4}) {
            const Expected<ImageFloat> t = tileAt(offset);
            if (!t) return failure(t.message());
            disagreeByDistance(*t, referenceCopy.view(), int64_t{offset} * needs.scale, largest);
        }
    } else {
        // Tiles every eighth of a tile: each column's reference is the tile
        // it is most central in.
        std::vector<ImageBuffer<ImageFloat>> tiles(8);
        for (int32_t k = 0; k < 8; ++k) {
            const Expected<ImageFloat> t = tileAt(k * shift);
            if (!t) return failure(t.message());
            if (!tiles[k].resize(t->width, t->height, t->numChannels)) return failure("no memory for the probe");
            std::copy_n(t->data, elementCount(*t), tiles[k].view().data);
        }
        const ImageFloat& first = tiles[0].view();
        if (!referenceCopy.resize(width * needs.scale, first.height, first.numChannels))
            return failure("no memory for the probe's reference");
        const ImageFloat ref = referenceCopy.view();
        const int64_t c = ref.numChannels, s = needs.scale;
        for (int64_t x = 0; x < ref.width; ++x) {
            int64_t bestTile = 0, bestDistance = -1;
            for (int64_t k = 0; k < 8; ++k) {
                const int64_t left = k * shift * s, right = left + int64_t{side} * s - 1;
                if (x < left || x > right) continue;
                const int64_t d = std::min(k == 0 ? x + ref.width : x - left, k == 7 ? ref.width : right - x);
                if (d > bestDistance) {
                    bestDistance = d;
                    bestTile = k;
                }
            }
            const ImageFloat& t = tiles[bestTile].view();
            for (int64_t y = 0; y < ref.height; ++y)
                std::copy_n(t.data + (y * t.width + x - bestTile * shift * s) * c, c,
                            ref.data + (y * ref.width + x) * c);
        }
        for (int32_t k = 1; k < 7; ++k) disagreeByDistance(tiles[k].view(), ref, int64_t{k} * shift * s, largest);
        // Distances no column could be measured from carry nothing.
        largest.resize(static_cast<size_t>(side * needs.scale / 2 - shift * needs.scale / 2));
        // Tiles this close see nearly the same picture; tiles half a tile
        // apart, as a plan would cut them, show what no margin of a tile of
        // this size removes: their disagreement in the middle of their overlap.
        for (int32_t k = 0; k + 4 < 8; ++k)
            pairFloor = std::max(pairFloor, middleDisagreement(tiles[k].view(), tiles[k + 4].view()));
    }

    const ImageFloat ref = referenceCopy.view();
    float lo = std::numeric_limits<float>::infinity(), hi = -lo;
    for (int64_t i = 0; i < elementCount(ref); ++i)
        if (std::isfinite(ref.data[i])) {
            lo = std::min(lo, ref.data[i]);
            hi = std::max(hi, ref.data[i]);
        }
    needs.outputRange = hi > lo ? hi - lo : 1.0f;
    decideReach(largest, pairFloor, needs);
    needs.probeSeconds = since(start);
    return needs;
}
