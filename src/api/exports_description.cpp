// The typed model description and the run plan. These exports never let an
// exception reach the host: a failure is false, with words for getErrorText.
#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "api/host_records.h"
#include "api/plan_records.h"
#include "api/velmora_call.h"
#include "backend/tensor_elements.h"
#include "context/VelmoraClass.h"
#include "context/call_guard.h"
#include "tiling/tile_layout.h"

namespace {
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

void describeNeeds(const std::optional<ModelNeeds>& needs, VelmoraModelNeeds& out) {
    out = VelmoraModelNeeds{};
    out.size = sizeof out;
    if (!needs) return;
    out.measured = 1;
    out.multiple = needs->multiple;
    out.smallestSide = needs->smallestSide;
    out.reach = needs->reach;
    out.wholePicture = needs->wholePicture;
    out.exact = needs->exact;
    out.scale = needs->scale;
    out.outputChannels = needs->outputChannels;
    out.disagreementFloor = needs->floor;
    out.probeSeconds = needs->probeSeconds;
}

constexpr const char* kDescribe = "velmoraDescribeModel";
constexpr const char* kMeasure = "velmoraMeasureModel";
constexpr const char* kPlan = "velmoraPlan";
constexpr const char* kPredict = "velmoraPredict";
}  // namespace

extern "C" {

VELMORA_API bool velmoraDescribeModel(VelmoraContext context, VelmoraModelInfo* info) {
    return velmoraCall(context, ContextCalls::Kind::Shared, kDescribe, false, [&](VelmoraClass& c) {
        if (!recordFits(c, kDescribe, info, "VelmoraModelInfo")) return false;
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
        describeNeeds(c.measuredNeeds(), d.needs);
        copyTextField(d.executionProvider, c.backend()->executionProvider());
        giveRecord(d, info);
        return true;
    });
}

VELMORA_API bool velmoraPlan(VelmoraContext context, const VelmoraPlanRequest* request, VelmoraPlan* plan) {
    return velmoraCall(context, ContextCalls::Kind::Exclusive, kPlan, false, [&](VelmoraClass& c) {
        if (!recordFits(c, kPlan, request, "VelmoraPlanRequest") || !recordFits(c, kPlan, plan, "VelmoraPlan"))
            return false;
        const VelmoraPlanRequest r = takeRecord(*request);
        const Expected<ChosenPlan> made = c.plan(wishesOf(r), r.sample, kPlan);
        if (!made) return false;
        giveRecord(planRecord(*made), plan);
        return true;
    });
}

VELMORA_API bool velmoraMeasureModel(VelmoraContext context, const ImageFloat* sample, VelmoraModelNeeds* needs) {
    return velmoraCall(context, ContextCalls::Kind::Exclusive, kMeasure, false, [&](VelmoraClass& c) {
        if (needs && !recordFits(c, kMeasure, needs, "VelmoraModelNeeds")) return false;
        const bool given = sample && sample->data;
        if (!c.modelNeeds(given ? sample : nullptr, given ? sample->numChannels : 3, true, kMeasure)) return false;
        if (needs) {
            VelmoraModelNeeds filled;
            describeNeeds(c.measuredNeeds(), filled);
            giveRecord(filled, needs);
        }
        return true;
    });
}

VELMORA_API ImageFloat velmoraPredict(VelmoraContext context, ImageFloat image, const VelmoraPlan* plan,
                                      ProgressCallback callback, void* userData) {
    const ImageFloat empty{0, 0, 0, nullptr};
    return velmoraCall(
        context, ContextCalls::Kind::Exclusive, kPredict, empty,
        [&](VelmoraClass& c) {
            if (!recordFits(c, kPredict, plan, "VelmoraPlan")) return empty;
            return c.predictByPlan(image, chosenPlan(takeRecord(*plan)), callback, userData);
        },
        true);
}

}  // extern "C"
