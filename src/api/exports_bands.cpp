// Streaming by bands: the layout of a band, and a band run. Neither lets an
// exception reach the host.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "api/host_records.h"
#include "api/plan_records.h"
#include "api/velmora_call.h"
#include "context/VelmoraClass.h"

namespace {
constexpr const char* kBand = "velmoraBand";
constexpr const char* kPredictBand = "velmoraPredictBand";
}  // namespace

extern "C" {

VELMORA_API bool velmoraBand(VelmoraContext context, const VelmoraPlan* plan, int32_t tileRows, int32_t index,
                             VelmoraBand* band) {
    return velmoraCall(context, ContextCalls::Kind::Shared, kBand, false, [&](VelmoraClass& c) {
        if (!recordFits(c, kBand, plan, "VelmoraPlan") || !recordFits(c, kBand, band, "VelmoraBand")) return false;
        const ChosenPlan p = chosenPlan(takeRecord(*plan));
        const Expected<BandLayout> b = c.band(p, tileRows, index, kBand);
        if (!b) return false;
        VelmoraBand filled{};
        filled.index = b->index;
        filled.count = b->count;
        filled.inputFirstRow = static_cast<int32_t>(b->inputFirstRow);
        filled.inputRows = static_cast<int32_t>(b->inputRows);
        // A plan made before the model's scale was known takes what its
        // runs have shown since.
        const int64_t scale = p.scale > 0 ? p.scale : c.learned().scale > 0 ? c.learned().scale : 1;
        filled.resultFirstRow = static_cast<int32_t>(b->resultFirstRow * scale);
        filled.resultRows = static_cast<int32_t>(b->resultRows * scale);
        // The band's result and one run of a tile; the host holds the rows.
        filled.peakBytes = runMemory(p.tileSize, p.tileSize, p.channels, static_cast<int32_t>(scale), p.outputChannels,
                                     int64_t{p.width} * scale, b->resultRows * scale);
        // Stitched rows held below the band's own for the next band, and
        // their copy kept for it.
        const int64_t k = std::max(1, std::abs(p.downscale));
        const int64_t extraRows = (b->heldRows - b->stitchedRows + b->keptRows) * scale;
        filled.peakBytes +=
            static_cast<uint64_t>(extraRows * (p.width / k) * scale * std::max(p.outputChannels, 1)) * sizeof(float);
        giveRecord(filled, band);
        return true;
    });
}

VELMORA_API ImageFloat velmoraPredictBand(VelmoraContext context, const VelmoraPlan* plan, int32_t tileRows,
                                          int32_t index, ImageFloat rows, ProgressCallback callback, void* userData) {
    const ImageFloat empty{0, 0, 0, nullptr};
    return velmoraCall(
        context, ContextCalls::Kind::Exclusive, kPredictBand, empty,
        [&](VelmoraClass& c) {
            if (!recordFits(c, kPredictBand, plan, "VelmoraPlan")) return empty;
            return c.predictBand(rows, chosenPlan(takeRecord(*plan)), tileRows, index, callback, userData);
        },
        true);
}

}  // extern "C"
