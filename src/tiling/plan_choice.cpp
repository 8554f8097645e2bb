#include "tiling/plan_choice.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
// Above this a tile's result costs more memory than it saves in margins.
constexpr int32_t kLargestTile = 2048;
// The runtime and its session, before any run.
constexpr uint64_t kRuntimeBytes = uint64_t{96} << 20;
// What a run holds per input pixel inside the runtime: a few hundred values
// of intermediate layers.
constexpr uint64_t kWorkingBytesPerPixel = 1024;

int64_t roundUp(int64_t v, int64_t multiple) { return (v + multiple - 1) / multiple * multiple; }
int64_t ceilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

std::string sizeWords(uint64_t bytes) {
    if (bytes >= (uint64_t{1} << 30)) return std::to_string((bytes + (uint64_t{1} << 29)) >> 30) + " GiB";
    return std::to_string((bytes + (uint64_t{1} << 19)) >> 20) + " MiB";
}

// The nearest side the model takes: a multiple of its multiple, at least
// its smallest.
int64_t takenSide(const ModelNeeds& needs, int64_t side) {
    return std::max<int64_t>(roundUp(std::max<int64_t>(side, 1), needs.multiple), needs.smallestSide);
}

Expected<ChosenPlan> tilesAsWished(const ModelNeeds& needs, const PlanWishes& w, ChosenPlan plan) {
    const int32_t tile = w.tileSize ? w.tileSize : needs.fixedSide ? needs.multiple : 0;
    if (tile <= 0) return failure("give a tile size, or none and let the library choose the step too");
    if (needs.fixedSide && tile != needs.multiple)
        return failure("the model takes tiles of " + std::to_string(needs.multiple) + " x " +
                       std::to_string(needs.multiple) + " pixels; " + std::to_string(tile) + " is not; try " +
                       std::to_string(needs.multiple));
    if (!needs.fixedSide && tile % needs.multiple != 0)
        return failure("the model takes tiles that are multiples of " + std::to_string(needs.multiple) + "; " +
                       std::to_string(tile) + " is not; try " + std::to_string(takenSide(needs, tile)));
    if (tile < needs.smallestSide)
        return failure("the model takes tiles of " + std::to_string(needs.smallestSide) + " pixels or more; " +
                       std::to_string(tile) + " is smaller");
    int32_t step = w.step;
    if (step <= 0) {
        // The margin that covers the reach, as far as the tile affords it.
        const int64_t margin = std::min<int64_t>(roundUp(needs.reach, std::min(needs.multiple, tile)), tile / 4);
        step = static_cast<int32_t>(std::max<int64_t>(1, tile - 2 * margin));
    }
    if (step > tile)
        return failure("the step (" + std::to_string(step) + ") must not exceed the tile (" + std::to_string(tile) +
                       ")");
    plan.tileSize = tile;
    plan.step = step;
    plan.margin = (tile - step) / 2;
    return plan;
}

// The side with the least time per picture: each candidate's runs times a
// run's measured time.
void chooseTile(const ModelNeeds& needs, const PlanWishes& w, ChosenPlan& plan) {
    const int64_t margin = roundUp(needs.reach, needs.multiple);
    // A tile that covers the whole picture in one run is the largest worth trying.
    const int64_t whole = takenSide(needs, std::max(w.width, w.height) + 2 * margin);
    const int64_t smallest = takenSide(needs, std::max<int64_t>(2 * margin + needs.multiple, 4 * margin));
    const int64_t largest = std::max(smallest, std::min<int64_t>(whole, kLargestTile));
    double best = std::numeric_limits<double>::infinity();
    for (int64_t tile = smallest; tile <= largest; tile += needs.multiple) {
        const int64_t step = tile - 2 * margin;
        const int64_t runs = ceilDiv(w.width, step) * ceilDiv(w.height, step);
        const double seconds = static_cast<double>(runs) * needs.secondsPerRun(static_cast<int32_t>(tile));
        const uint64_t bytes = runMemory(tile, tile, w.channels, needs.scale, needs.outputChannels,
                                         int64_t{w.width} * needs.scale, int64_t{w.height} * needs.scale);
        if (w.memoryBudget && bytes > w.memoryBudget && tile > smallest) break;
        // A little cheaper is not worth a larger tile's memory.
        if (seconds < best * 0.98) {
            best = seconds;
            plan.tileSize = static_cast<int32_t>(tile);
            plan.step = static_cast<int32_t>(step);
        }
        if (needs.multiple == 1 && tile >= 64) tile += 15;  // sides of any size: every sixteenth is enough
    }
    plan.margin = static_cast<int32_t>(margin);
}

}  // namespace

uint64_t runMemory(int64_t runWidth, int64_t runHeight, int32_t channels, int32_t scale, int32_t outputChannels,
                   int64_t resultWidth, int64_t resultHeight) {
    const auto pixels = static_cast<uint64_t>(runWidth) * static_cast<uint64_t>(runHeight);
    const uint64_t s = static_cast<uint64_t>(std::max(scale, 1));
    const uint64_t out = static_cast<uint64_t>(std::max(outputChannels, 1));
    const uint64_t result = static_cast<uint64_t>(resultWidth) * static_cast<uint64_t>(resultHeight) * out * 4;
    const uint64_t input = pixels * static_cast<uint64_t>(channels) * 4;
    const uint64_t output = pixels * s * s * out * 4;
    return result + input + output + kRuntimeBytes + pixels * kWorkingBytesPerPixel;
}

Expected<ChosenPlan> choosePlan(const ModelNeeds& needs, const PlanWishes& w) {
    if (w.width <= 0 || w.height <= 0 || w.channels <= 0)
        return failure("the picture must have a width, a height and channels of 1 or more");
    if (w.downscale == std::numeric_limits<int32_t>::min()) return failure("the downscale factor is too large");
    ChosenPlan plan;
    plan.width = w.width;
    plan.height = w.height;
    plan.channels = w.channels;
    plan.scale = needs.scale;
    plan.outputChannels = needs.outputChannels;
    plan.downscale = w.downscale ? w.downscale : 1;
    const int64_t k = std::llabs(plan.downscale);
    const bool asked = w.tileSize || w.step || w.strategy == PlanWishes::Choice::Tiles;
    const bool whole = w.strategy == PlanWishes::Choice::Whole || (!asked && needs.wholePicture);

    if (whole) {
        plan.strategy = Strategy::WholePicture;
        if (needs.fixedSide) {
            plan.runWidth = plan.runHeight = needs.multiple;
            plan.reason = "the model reads the picture as a whole: the picture is resized to the " +
                          std::to_string(needs.multiple) + " x " + std::to_string(needs.multiple) +
                          " the model takes, run once, and its result resized back";
        } else {
            // The smallest shrink whose run fits the budget.
            int64_t rw = takenSide(needs, w.width), rh = takenSide(needs, w.height);
            for (double f = 1.0; w.memoryBudget; f *= 1.25) {
                rw = takenSide(needs, static_cast<int64_t>(std::ceil(w.width / f)));
                rh = takenSide(needs, static_cast<int64_t>(std::ceil(w.height / f)));
                if (runMemory(rw, rh, w.channels, needs.scale, needs.outputChannels, int64_t{w.width} * needs.scale,
                              int64_t{w.height} * needs.scale) <= w.memoryBudget ||
                    rw <= needs.smallestSide)
                    break;
            }
            if (rw > kMax || rh > kMax) return failure("the picture is too large to run whole");
            plan.runWidth = static_cast<int32_t>(rw);
            plan.runHeight = static_cast<int32_t>(rh);
            plan.reason = "the model reads the picture as a whole: it runs once on the picture" +
                          std::string(rw < w.width || rh < w.height ? ", shrunk to fit the memory budget," : "") +
                          " and its result is resized back";
        }
        plan.runs = 1;
        plan.seconds = needs.secondsPerRun(std::max(plan.runWidth, plan.runHeight));
        plan.peakBytes = runMemory(plan.runWidth, plan.runHeight, w.channels, needs.scale, needs.outputChannels,
                                   int64_t{w.width} * needs.scale, int64_t{w.height} * needs.scale);
        return plan;
    }

    plan.strategy = Strategy::Tiles;
    if (asked || needs.fixedSide) {
        Expected<ChosenPlan> given = tilesAsWished(needs, w, plan);
        if (!given) return given;
        plan = *given;
    } else {
        chooseTile(needs, w, plan);
    }
    // Margins narrower than the reach leave seams: blend them away.
    const bool short_ = plan.margin < needs.reach;
    plan.blend = w.blend == PlanWishes::Blend::On || (w.blend == PlanWishes::Blend::Auto && short_ && !asked);
    const int64_t gridStep = k * plan.step;
    if (gridStep > kMax) return failure("the step is too large");
    plan.across = static_cast<int32_t>(ceilDiv(w.width, gridStep));
    plan.down = static_cast<int32_t>(ceilDiv(w.height, gridStep));
    plan.runs = int64_t{plan.across} * plan.down;
    plan.seconds = static_cast<double>(plan.runs) * needs.secondsPerRun(plan.tileSize);
    plan.peakBytes = runMemory(plan.tileSize, plan.tileSize, w.channels, needs.scale, needs.outputChannels,
                               int64_t{w.width} * needs.scale, int64_t{w.height} * needs.scale);
    if (asked) {
        plan.reason = "tiles as asked";
    } else {
        plan.reason = "tiles of " + std::to_string(plan.tileSize) + " every " + std::to_string(plan.step) +
                      ": margins of " + std::to_string(plan.margin) + " cover the model's reach of " +
                      std::to_string(needs.reach);
        if (short_)
            plan.reason = "tiles of " + std::to_string(plan.tileSize) + ": the model's reach of " +
                          std::to_string(needs.reach) + " exceeds the margins it affords, so overlaps are blended";
    }
    if (w.memoryBudget && plan.peakBytes > w.memoryBudget)
        plan.reason +=
            " (needs about " + sizeWords(plan.peakBytes) + ", over the budget of " + sizeWords(w.memoryBudget) + ")";
    return plan;
}
