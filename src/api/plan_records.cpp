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
    w.width = r.width;
    w.height = r.height;
    w.channels = r.channels;
    w.tileSize = r.tileSize;
    w.step = r.step;
    w.downscale = r.downscale;
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
    p.width = c.width;
    p.height = c.height;
    p.channels = c.channels;
    p.tileSize = c.tileSize;
    p.step = c.step;
    p.downscale = c.downscale;
    p.margin = c.margin;
    p.across = c.across;
    p.down = c.down;
    p.runs = c.runs;
    p.scale = c.scale;
    p.resultChannels = c.outputChannels;
    if (c.scale > 0) {
        p.resultWidth = clamped(int64_t{c.width} * c.scale);
        p.resultHeight = clamped(int64_t{c.height} * c.scale);
    }
    p.strategy = c.strategy == Strategy::WholePicture ? VELMORA_STRATEGY_WHOLE : VELMORA_STRATEGY_TILES;
    p.blend = c.blend;
    p.runWidth = c.runWidth;
    p.runHeight = c.runHeight;
    p.peakBytes = c.peakBytes;
    p.seconds = c.seconds;
    copyTextField(p.reason, c.reason);
    return p;
}

ChosenPlan chosenPlan(const VelmoraPlan& p) {
    ChosenPlan c;
    c.strategy = p.strategy == VELMORA_STRATEGY_WHOLE ? Strategy::WholePicture : Strategy::Tiles;
    c.width = p.width;
    c.height = p.height;
    c.channels = p.channels;
    c.tileSize = p.tileSize;
    c.step = p.step;
    c.downscale = p.downscale ? p.downscale : 1;
    c.margin = p.margin;
    c.across = p.across;
    c.down = p.down;
    c.blend = p.blend != 0;
    c.runWidth = p.runWidth;
    c.runHeight = p.runHeight;
    c.runs = p.runs;
    c.scale = p.scale;
    c.outputChannels = p.resultChannels;
    return c;
}
