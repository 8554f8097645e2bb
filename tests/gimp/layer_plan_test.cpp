// The plan the plug-in runs a layer by, from the library, for the settings'
// tile and step.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "layer_plan.h"
#include "support/model_files.h"

namespace {

struct Unload {
    void operator()(VgLoadedModel* model) const { vgUnloadModel(model); }
};
using LoadedModel = std::unique_ptr<VgLoadedModel, Unload>;

LoadedModel load(const std::string& name) {
    const std::vector<char> bytes = readModel(name);
    VgFailure failure{};
    LoadedModel model(vgLoadModel(bytes.data(), bytes.size(), &failure));
    EXPECT_TRUE(model) << failure.text;
    return model;
}

std::vector<float> ramp(size_t count) {
    std::vector<float> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = static_cast<float>((i * 37) % 101) / 100.0f;
    return v;
}

// The plan for a 300 x 190 RGB layer with the given tile and step.
VelmoraPlan planFor(VgLoadedModel* model, int32_t tile, int32_t step, int32_t downscale = 1) {
    std::vector<float> pixels = ramp(300 * 190 * 3);
    const VgPixels input{300, 190, 3, pixels.data()};
    VgModelFit fit{};
    VgFailure failure{};
    EXPECT_TRUE(vgFitLoadedModel(model, tile, &fit, &failure)) << failure.text;
    VgRunSettings settings;
    vgDefaultSettings(&settings);
    settings.tile = tile;
    settings.step = step;
    settings.downscale = downscale;
    VelmoraPlan plan{};
    EXPECT_TRUE(vgPlanLayer(model, &fit, &settings, &input, &plan, &failure)) << failure.text;
    return plan;
}

}  // namespace

TEST(LayerPlan, TheLibraryChoosesUnlessTileOrStepIsGiven) {
    // A model that reads the picture as a whole is run whole by its plan.
    const LoadedModel global = load("global_mix_t256.onnx");
    const VelmoraPlan whole = planFor(global.get(), 0, 0);
    EXPECT_EQ(whole.strategy, VELMORA_STRATEGY_WHOLE);
    EXPECT_EQ(whole.runs, 1);
    EXPECT_EQ(whole.width, 300);

    // Given both, tiles as asked; given a step alone, the model's own side.
    const VelmoraPlan asked = planFor(global.get(), 256, 200);
    EXPECT_EQ(asked.strategy, VELMORA_STRATEGY_TILES);
    EXPECT_EQ(asked.tileSize, 256);
    EXPECT_EQ(asked.step, 200);
    EXPECT_EQ(asked.margin, 28);
    EXPECT_EQ(asked.runs, 2);
    EXPECT_EQ(planFor(global.get(), 0, 180).tileSize, 256);

    // A model of any size: the plan's tile with the step given, or the
    // given tile less a sixteenth on each side.
    const LoadedModel open = load("conv5_open.onnx");
    const VelmoraPlan chosen = planFor(open.get(), 0, 0);
    EXPECT_EQ(chosen.strategy, VELMORA_STRATEGY_TILES);
    EXPECT_GE(chosen.margin, 5);  // the model sees 5 pixels each way
    const VelmoraPlan stepOnly = planFor(open.get(), 0, 40);
    EXPECT_EQ(stepOnly.tileSize, chosen.tileSize);
    EXPECT_EQ(stepOnly.step, 40);
    const VelmoraPlan tileOnly = planFor(open.get(), 64, 0, -2);
    EXPECT_EQ(tileOnly.step, 56);
    EXPECT_EQ(tileOnly.downscale, -2);
}

TEST(LayerPlan, APartKeepsTheLayersTilesAndItsContextIsTheMarginAtFullScale) {
    const LoadedModel open = load("conv5_open.onnx");
    const VelmoraPlan layer = planFor(open.get(), 64, 48, -3);
    VelmoraPlan part{};
    VgFailure failure{};
    ASSERT_TRUE(vgPlanPart(open.get(), &layer, 120, 90, &part, &failure)) << failure.text;
    EXPECT_EQ(part.width, 120);
    EXPECT_EQ(part.height, 90);
    EXPECT_EQ(part.tileSize, 64);
    EXPECT_EQ(part.step, 48);
    EXPECT_EQ(part.downscale, -3);
    EXPECT_EQ(part.blend, layer.blend);
    EXPECT_EQ(vgContextMargin(&layer), 8 * 3);
    const VelmoraPlan abutting = planFor(open.get(), 64, 64);
    EXPECT_EQ(vgContextMargin(&abutting), 0);
}
