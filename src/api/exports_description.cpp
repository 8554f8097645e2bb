// The typed model description and the run plan. These exports never let an
// exception reach the host: a failure is false, with words for getErrorText.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "api/boundary.h"
#include "api/host_records.h"
#include "backend/tensor_elements.h"
#include "context/VelmoraClass.h"
#include "tiling/tile_layout.h"

using boundary::withSafetyNet;

namespace {
VelmoraClass* live(VelmoraContext context) { return static_cast<VelmoraClass*>(context); }

int32_t clamped(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, -1, std::numeric_limits<int32_t>::max()));
}

void describeTensor(const TensorDescription& t, int32_t layoutCode, VelmoraTensorInfo& out) {
    copyTextField(out.name, t.name);
    out.elementType = t.elementType;
    out.converted = convertedElementBytes(static_cast<ONNXTensorElementDataType>(t.elementType)) != 0;
    out.dimCount = static_cast<int32_t>(std::min<size_t>(t.declared.size(), std::numeric_limits<int32_t>::max()));
    for (size_t i = 0; i < t.declared.size() && i < VELMORA_MAX_DIMS; ++i) out.dims[i] = t.declared[i];
    DeclaredImage image;
    if (readDeclaredImage(t.declared, layoutCode, image)) {
        out.layout = image.layout == Layout::ChannelsFirst ? VELMORA_CHANNELS_FIRST : VELMORA_CHANNELS_LAST;
        out.width = clamped(image.width);
        out.height = clamped(image.height);
        out.channels = clamped(image.channels);
    } else {
        out.layout = VELMORA_LAYOUT_NONE;
    }
}

template <typename List>
int32_t describeList(const List& tensors, int32_t layoutCode, VelmoraTensorInfo* out) {
    for (size_t i = 0; i < tensors.size() && i < VELMORA_MAX_TENSORS; ++i)
        describeTensor(tensors[i], layoutCode, out[i]);
    return static_cast<int32_t>(std::min<size_t>(tensors.size(), std::numeric_limits<int32_t>::max()));
}

constexpr const char* kDescribe = "velmoraDescribeModel";
constexpr const char* kPlan = "velmoraPlan";
}  // namespace

extern "C" {

VELMORA_API bool velmoraDescribeModel(VelmoraContext context, VelmoraModelInfo* info) {
    return withSafetyNet(
        [&] {
            if (!context) return false;
            VelmoraClass& c = *live(context);
            if (!hostRecordFits(info, sizeof(VelmoraModelInfo))) {
                c.report(kDescribe, recordSizeWords("VelmoraModelInfo", info ? info->size : 0));
                return false;
            }
            const ModelDescription model = c.modelDescription();
            if (!model.known) {
                c.report(kDescribe, "no model is loaded");
                return false;
            }
            VelmoraModelInfo d{};
            d.inputCount = describeList(model.inputs, model.inputLayout, d.inputs);
            d.outputCount = describeList(model.outputs, model.outputLayout, d.outputs);
            const TiledFacts facts = c.modelTiledFacts();
            d.tiled = facts.tiled;
            copyTextField(d.notTiled, facts.notTiled);
            d.tileSize = facts.tileSize;
            d.inputChannels = facts.inputChannels;
            d.outputChannels = facts.outputChannels;
            d.scale = facts.scale;
            giveRecord(d, info);
            return true;
        },
        []() noexcept { return false; });
}

VELMORA_API bool velmoraPlan(VelmoraContext context, const VelmoraPlanRequest* request, VelmoraPlan* plan) {
    return withSafetyNet(
        [&] {
            if (!context) return false;
            VelmoraClass& c = *live(context);
            if (!hostRecordFits(request, sizeof(VelmoraPlanRequest))) {
                c.report(kPlan, recordSizeWords("VelmoraPlanRequest", request ? request->size : 0));
                return false;
            }
            if (!hostRecordFits(plan, sizeof(VelmoraPlan))) {
                c.report(kPlan, recordSizeWords("VelmoraPlan", plan ? plan->size : 0));
                return false;
            }
            const VelmoraPlanRequest r = takeRecord(*request);
            const Expected<RunPlan> made =
                c.plan(PlanRequest{r.width, r.height, r.channels, r.tileSize, r.step, r.downscale}, kPlan);
            if (!made) return false;
            VelmoraPlan p{};
            p.width = made->width;
            p.height = made->height;
            p.channels = made->channels;
            p.tileSize = made->tileSize;
            p.step = made->step;
            p.downscale = made->downscale;
            p.margin = made->margin;
            p.across = made->across;
            p.down = made->down;
            p.runs = made->runs;
            p.scale = made->scale;
            p.resultWidth = made->resultWidth;
            p.resultHeight = made->resultHeight;
            p.resultChannels = made->resultChannels;
            giveRecord(p, plan);
            return true;
        },
        []() noexcept { return false; });
}

}  // extern "C"
