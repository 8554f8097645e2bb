#include "api/plan_records.h"

#include <algorithm>
#include <limits>

#include "api/host_records.h"

namespace {
int32_t clamped(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, -1, std::numeric_limits<int32_t>::max()));
}
}  // namespace

PlanWishes wishesOf(const VelmoraPlanRequest& r) {
    PlanWishes w;
    copyPictureFields(w, r);
    w.strategy = r.strategy == VELMORA_STRATEGY_TILES   ? PlanWishes::Choice::Tiles
                 : r.strategy == VELMORA_STRATEGY_WHOLE ? PlanWishes::Choice::Whole
                                                        : PlanWishes::Choice::Auto;
    w.blend = r.blend == VELMORA_BLEND_ON    ? PlanWishes::Blend::On
              : r.blend == VELMORA_BLEND_OFF ? PlanWishes::Blend::Off
                                             : PlanWishes::Blend::Auto;
    w.memoryBudget = r.memoryBudget;
    return w;
}

VelmoraPlan planRecord(const ChosenPlan& c) {
    VelmoraPlan p{};
    copyPictureFields(p, c);
    copyGridFields(p, c);
    p.resultChannels = c.outputChannels;
    if (c.scale > 0) {
        p.resultWidth = clamped(int64_t{c.width} * c.scale);
        p.resultHeight = clamped(int64_t{c.height} * c.scale);
    }
    p.strategy = c.strategy == Strategy::WholePicture ? VELMORA_STRATEGY_WHOLE : VELMORA_STRATEGY_TILES;
    p.blend = c.blend;
    p.peakBytes = c.peakBytes;
    p.seconds = c.seconds;
    copyTextField(p.reason, c.reason);
    return p;
}

ChosenPlan chosenPlan(const VelmoraPlan& p) {
    ChosenPlan c;
    c.strategy = p.strategy == VELMORA_STRATEGY_WHOLE ? Strategy::WholePicture : Strategy::Tiles;
    copyPictureFields(c, p);
    copyGridFields(c, p);
    c.downscale = p.downscale ? p.downscale : 1;
    c.blend = p.blend != 0;
    c.outputChannels = p.resultChannels;
    return c;
}
