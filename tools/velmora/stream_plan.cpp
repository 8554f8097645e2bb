#include "stream_plan.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "upright_rows.h"

MemoryBudget memoryBudget(const Options& o, const AvailableMemory& available) {
    // Half leaves room for the files' caches and whatever else runs.
    if (o.memoryBudget) return {o.memoryBudget, true};
    return {available.bytes / 2, false};
}

std::string budgetWords(const MemoryBudget& budget, const AvailableMemory& available) {
    return "the memory budget of " + sizeText(budget.bytes) +
           (budget.given ? " (--memory-budget)" : " (half of the " + sizeText(available.bytes) + " available)");
}

std::string streamObstacle(const VelmoraPlan& plan, const ImageReader& reader, const Options& o) {
    if (o.eightBit) return "the 8-bit path (--8bit) runs whole pictures only";
    if (plan.strategy != VELMORA_STRATEGY_TILES)
        return "the model reads the picture as a whole, which is resized for it as a whole";
    if (plan.downscale < -1)
        return "restoring the detail that shrinking removes (a negative --downscale, --detail) needs the whole "
               "picture";
    return UprightRows::obstacle(reader);
}

namespace {

struct BandSizes {
    int64_t inputRows = 0, resultRows = 0;
    uint64_t peakBytes = 0;
    int32_t count = 0;
};

// The largest of the bands of `tileRows`: the first lacks the margin above,
// the last may be short, and the others are alike.
BandSizes largestBand(velmora::Context& context, const VelmoraPlan& plan, int32_t tileRows) {
    const velmora::Result<VelmoraBand> first = context.band(plan, tileRows, 0);
    if (!first) throw std::runtime_error(first.error().words);
    BandSizes largest;
    largest.count = first->count;
    for (const int32_t index : {0, 1, first->count - 2, first->count - 1}) {
        if (index < 0 || index >= first->count) continue;
        const velmora::Result<VelmoraBand> b = context.band(plan, tileRows, index);
        if (!b) throw std::runtime_error(b.error().words);
        largest.inputRows = std::max<int64_t>(largest.inputRows, b->inputRows);
        largest.resultRows = std::max<int64_t>(largest.resultRows, b->resultRows);
        largest.peakBytes = std::max(largest.peakBytes, b->peakBytes);
    }
    return largest;
}

MemoryEstimate estimateFor(const VelmoraPlan& plan, const StreamShare& share, const BandSizes& band) {
    const uint64_t width = static_cast<uint64_t>(plan.width);
    // A row or two read ahead for the alpha of the rows being written.
    const uint64_t rows = static_cast<uint64_t>(band.inputRows) + 2;
    const uint64_t perRow = static_cast<uint64_t>(share.modelChannels) + (share.alphaAside ? 1 : 0) +
                            static_cast<uint64_t>(share.keptColourChannels);
    const uint64_t scale = static_cast<uint64_t>(std::max(plan.scale, 1));
    const uint64_t outChannels = static_cast<uint64_t>(std::max(plan.resultChannels, 1));
    // The writer's rows: the result's, shaped and packed.
    const uint64_t writer = width * scale * outChannels * 4 * 3;
    MemoryEstimate e;
    e.command = rows * width * perRow * 4 + share.readerBytes + writer;
    // A shrunk band is also held shrunk, and its result before it is enlarged.
    const uint64_t k = static_cast<uint64_t>(std::abs(plan.downscale));
    uint64_t shrunk = 0;
    if (k > 1) {
        shrunk = (static_cast<uint64_t>(band.inputRows) / k) * (width / k) * static_cast<uint64_t>(plan.channels) * 4 +
                 (static_cast<uint64_t>(band.resultRows) / k + 1) * (width / k) * scale * scale * outChannels * 4;
    }
    e.library = band.peakBytes + shrunk;
    e.peak = e.command + e.library;
    return e;
}

}  // namespace

BandChoice chooseBands(velmora::Context& context, const VelmoraPlan& plan, const StreamShare& share, uint64_t budget) {
    const int32_t tileRowsInAll = largestBand(context, plan, 1).count;
    const int32_t libraryBands = largestBand(context, plan, 0).count;
    int32_t rows = (tileRowsInAll + libraryBands - 1) / std::max(libraryBands, 1);
    rows = std::clamp(rows, 1, std::max(tileRowsInAll, 1));
    BandSizes band = largestBand(context, plan, rows);
    MemoryEstimate estimate = estimateFor(plan, share, band);
    while (estimate.peak > budget && rows > 1) {
        rows = std::min(rows - 1, rows * 3 / 4);
        rows = std::max(rows, 1);
        band = largestBand(context, plan, rows);
        estimate = estimateFor(plan, share, band);
    }
    return {rows, band.count, estimate};
}
