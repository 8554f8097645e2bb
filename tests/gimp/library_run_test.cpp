// One model run through the library's exported functions, as the plug-in
// makes it.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "library_run.h"
#include "support/model_files.h"
#include "velmora.h"

namespace {

struct Unload {
    void operator()(VgLoadedModel* model) const { vgUnloadModel(model); }
};
using LoadedModel = std::unique_ptr<VgLoadedModel, Unload>;

struct ModelRun {
    VgRunOutcome outcome = VG_RUN_FAILED;
    std::vector<float> values;
    int32_t width = 0, height = 0, channels = 0;
    std::string failure;
    std::vector<double> progress;
};

struct ProgressLog {
    std::vector<double>* seen;
    int stopAt;  // -1: never
};

bool logProgress(void* userData, double fraction) {
    auto* log = static_cast<ProgressLog*>(userData);
    log->seen->push_back(fraction);
    return log->stopAt >= 0 && static_cast<int>(log->seen->size()) > log->stopAt;
}

// Tiles as asked: the tile, the step and the downscale.
struct Tiles {
    int32_t tile, step, downscale;
};

// A plan of |tiles| for a picture of w x h x c.
bool planTiles(VgLoadedModel* model, int32_t w, int32_t h, int32_t c, Tiles tiles, VelmoraPlan& plan,
               VgFailure& failure) {
    VelmoraPlanRequest request{};
    request.width = w;
    request.height = h;
    request.channels = c;
    request.tileSize = tiles.tile;
    request.step = tiles.step;
    request.downscale = tiles.downscale;
    return vgPlanModelRun(model, &request, &plan, &failure);
}

ModelRun runModel(const std::string& name, std::vector<float> pixels, int32_t w, int32_t h, int32_t c, Tiles tiles,
                  int stopAt = -1) {
    const std::vector<char> bytes = readModel(name);
    VgFailure failure{};
    ModelRun run;
    const LoadedModel model(vgLoadModel(bytes.data(), bytes.size(), &failure));
    VelmoraPlan plan;
    if (!model || !planTiles(model.get(), w, h, c, tiles, plan, failure)) {
        run.failure = failure.text;
        return run;
    }
    ProgressLog log{&run.progress, stopAt};
    const VgPixels input{w, h, c, pixels.data()};
    VgPixels result;
    run.outcome = vgRunPlan(model.get(), &plan, &input, logProgress, &log, &result, &failure);
    run.failure = failure.text;
    if (result.data) {
        run.values.assign(result.data, result.data + vgPixelCount(&result) * result.channels);
        run.width = result.width;
        run.height = result.height;
        run.channels = result.channels;
    }
    vgFreePixels(&result);
    return run;
}

std::vector<float> ramp(size_t count) {
    std::vector<float> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = static_cast<float>((i * 37) % 101) / 100.0f;
    return v;
}

}  // namespace

TEST(LibraryRun, GivesTheLibrarysResultAndReportsProgressUpToTheEnd) {
    const std::vector<float> pixels = ramp(40 * 30 * 3);
    const ModelRun run = runModel("identity_t16_c3.onnx", pixels, 40, 30, 3, {16, 14, 1});
    ASSERT_EQ(run.outcome, VG_RUN_DONE) << run.failure;
    EXPECT_EQ(run.width, 40);
    EXPECT_EQ(run.height, 30);
    EXPECT_EQ(run.channels, 3);
    EXPECT_EQ(run.values, pixels);
    // 3 x 3 tiles: one report before each, and the end.
    ASSERT_EQ(run.progress.size(), 10u);
    EXPECT_EQ(run.progress.front(), 0.0);
    EXPECT_NEAR(run.progress[1], 1.0 / 9.0, 1e-6);
    EXPECT_EQ(run.progress.back(), 1.0);
    for (size_t i = 1; i < run.progress.size(); ++i) EXPECT_GT(run.progress[i], run.progress[i - 1]);
}

TEST(LibraryRun, PassesTheTilingAsGiven) {
    // The sharpening model's result depends on the shrinking and the detail.
    const std::vector<float> pixels = ramp(200 * 150 * 3);
    const std::vector<char> bytes = readModel("demo_sharpen_t128.onnx");
    VelmoraContext context = createContext(0, "tests");
    ASSERT_TRUE(loadModel(context, bytes.data(), static_cast<uint32_t>(bytes.size()), "input", "output"));
    std::vector<float> copy = pixels;
    const ImageFloat direct =
        predictByTilesImageFloat(context, ImageFloat{200, 150, 3, copy.data()}, 128, 100, -2, nullptr, nullptr);
    ASSERT_NE(direct.data, nullptr);
    const std::vector<float> expected(direct.data, direct.data + 200 * 150 * 3);
    deleteContext(context);

    const ModelRun run = runModel("demo_sharpen_t128.onnx", pixels, 200, 150, 3, {128, 100, -2});
    ASSERT_EQ(run.outcome, VG_RUN_DONE) << run.failure;
    EXPECT_EQ(run.values, expected);
    const ModelRun plain = runModel("demo_sharpen_t128.onnx", pixels, 200, 150, 3, {128, 100, 1});
    EXPECT_NE(plain.values, expected);
}

TEST(LibraryRun, AStopFromTheProgressCallbackEndsTheRun) {
    const ModelRun run = runModel("identity_t16_c3.onnx", ramp(40 * 30 * 3), 40, 30, 3, {16, 14, 1}, 2);
    EXPECT_EQ(run.outcome, VG_RUN_STOPPED);
    EXPECT_EQ(run.failure, "the run was stopped");
    EXPECT_TRUE(run.values.empty());
    EXPECT_EQ(run.progress.size(), 3u);
}

TEST(LibraryRun, FailuresCarryTheLibrarysWords) {
    const ModelRun refused = runModel("not_a_model.onnx", ramp(16 * 16 * 3), 16, 16, 3, {16, 16, 1});
    EXPECT_EQ(refused.outcome, VG_RUN_FAILED);
    EXPECT_EQ(refused.failure.rfind("the runtime refused the model: ", 0), 0u) << refused.failure;
    EXPECT_GT(refused.failure.size(), std::string("the runtime refused the model: ").size() + 10);
    EXPECT_EQ(refused.failure.find('\n'), std::string::npos);

    const ModelRun empty = runModel("zero_size_out.onnx", ramp(8 * 8), 8, 8, 1, {4, 4, 1});
    EXPECT_EQ(empty.outcome, VG_RUN_FAILED);
    EXPECT_FALSE(empty.failure.empty());
    EXPECT_TRUE(empty.values.empty());

    // The next run on a fresh context is not troubled by the earlier words.
    const ModelRun after = runModel("identity_t16_c1.onnx", ramp(8 * 8), 8, 8, 1, {16, 14, 1});
    EXPECT_EQ(after.outcome, VG_RUN_DONE) << after.failure;
}

TEST(LibraryRun, ModelsOfFourGibibytesOrMoreAreRefusedBeforeTheLibrary) {
    const char byte = 0;
    VgFailure failure{};
    EXPECT_EQ(vgLoadModel(&byte, size_t{1} << 32, &failure), nullptr);
    EXPECT_NE(std::string(failure.text).find("smaller than 4 GiB"), std::string::npos);
}

TEST(LibraryRun, AnUpscalersResultIsLargerAndALoadedModelRunsAgain) {
    const std::vector<char> bytes = readModel("up2_near_cf_cf_f32_open.onnx");
    VgFailure failure{};
    const LoadedModel model(vgLoadModel(bytes.data(), bytes.size(), &failure));
    ASSERT_TRUE(model) << failure.text;
    VgModelFit fit;
    ASSERT_TRUE(vgFitLoadedModel(model.get(), 16, &fit, &failure)) << failure.text;
    EXPECT_TRUE(fit.openSize);
    for (int32_t side : {9, 21}) {
        std::vector<float> pixels = ramp(static_cast<size_t>(side) * 7 * 3);
        const VgPixels input{side, 7, 3, pixels.data()};
        VelmoraPlan plan;
        ASSERT_TRUE(planTiles(model.get(), side, 7, 3, {16, 12, 1}, plan, failure)) << failure.text;
        VgPixels result;
        ASSERT_EQ(vgRunPlan(model.get(), &plan, &input, nullptr, nullptr, &result, &failure), VG_RUN_DONE)
            << failure.text;
        EXPECT_EQ(result.width, 2 * side);
        EXPECT_EQ(result.height, 14);
        EXPECT_EQ(result.channels, 3);
        // Nearest neighbour: each 2 x 2 block repeats one value.
        EXPECT_EQ(result.data[0], result.data[3 * (2 * side + 1)]);
        vgFreePixels(&result);
    }
}
