// Tiles and whole inputs through one backend: input values are kept from run
// to run, so a run whose buffer, size or contents changed must still see
// exactly its own input, and a tile's result its own output.
#include <gtest/gtest.h>

#include <numeric>

#include "backend/ModelLogicONNX.h"
#include "support/model_files.h"

namespace {

struct Loaded {
    std::vector<char> bytes;
    ModelLogicONNX backend;
    explicit Loaded(const std::string& name, int32_t layout = 1) : bytes(readModel(name)) {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(
            backend.loadModelEx(bytes.data(), static_cast<uint32_t>(bytes.size()), "input", "output", layout, layout));
        testing::internal::GetCapturedStdout();
    }
};

// The call's result, with what the backend prints meanwhile kept off the console.
template <typename Call>
auto quietly(Call&& call) {
    testing::internal::CaptureStdout();
    auto result = call();
    testing::internal::GetCapturedStdout();
    return result;
}

std::vector<float> counting(size_t n, float from) {
    std::vector<float> v(n);
    std::iota(v.begin(), v.end(), from);
    return v;
}

}  // namespace

TEST(TileRuns, RunsOfChangingSizesAndContentsEachSeeTheirOwnInput) {
    Loaded open("open_dims.onnx");  // [1, h, w, 3], the identity
    std::vector<float> buffer = counting(30 * 20 * 3, 0.0f);
    for (auto [w, h] : {std::pair{30, 20}, {5, 4}, {30, 20}, {20, 30}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        for (float& v : buffer) v += 1.0f;  // the same buffer, new contents
        const ImageFloat out = quietly([&] { return open.backend.runModel(buffer.data(), w, h, 3); });
        ASSERT_NE(out.data, nullptr);
        ASSERT_EQ(elementCount(out), int64_t{w} * h * 3);
        EXPECT_EQ(std::vector<float>(out.data, out.data + elementCount(out)),
                  std::vector<float>(buffer.begin(), buffer.begin() + elementCount(out)));
    }
    // A tile between whole runs: the model's layout and the caller's agree here.
    std::vector<float> tile = counting(8 * 8 * 3, 100.0f);
    const Expected<ImageFloat> result = quietly([&] { return open.backend.runTile(ImageFloat{8, 8, 3, tile.data()}); });
    ASSERT_TRUE(result);
    EXPECT_EQ(std::vector<float>(result->data, result->data + tile.size()), tile);
}

TEST(TileRuns, ATilesResultIsItsOwnWhateverTheLayoutAndType) {
    // Channels-first float16 in, channels-last float out, four times larger:
    // the result of each of two different tiles is the right one.
    Loaded up("up4_d2s_cf_cl_f16f32_open.onnx");
    std::vector<float> first(8 * 8 * 3, 0.5f), second(8 * 8 * 3, 0.25f);
    testing::internal::CaptureStdout();
    const Expected<ImageFloat> a = up.backend.runTile(ImageFloat{8, 8, 3, first.data()});
    ASSERT_TRUE(a) << a.message();
    const float cornerA = a->data[0];
    const Expected<ImageFloat> b = up.backend.runTile(ImageFloat{8, 8, 3, second.data()});
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(b) << b.message();
    EXPECT_EQ(b->width, 32);
    EXPECT_EQ(b->numChannels, 3);
    // Channel 0 of the top-left pixel: (0.5 x + 0.25 x + 0.125) x 1/16.
    EXPECT_EQ(cornerA, (0.375f + 0.125f) / 16);
    EXPECT_EQ(b->data[0], (0.1875f + 0.125f) / 16);
    EXPECT_EQ(printed, "runModel 8 8 3\ngetModelOutput 32 32 3\nrunModel 8 8 3\ngetModelOutput 32 32 3\n");
}

TEST(TileRuns, PlansSayWhatTheShapesFix) {
    Loaded fixed("up2_d2s_cf_cf_f32_t16.onnx");
    const Expected<TilePlan> plan = fixed.backend.describeTiles(16, 3);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->scale, 2);
    EXPECT_EQ(plan->outputChannels, 3);
    const Expected<TilePlan> wrong = fixed.backend.describeTiles(32, 3);
    ASSERT_FALSE(wrong);
    EXPECT_EQ(wrong.message(), "takes 16 x 16 tiles, not 32 x 32");

    Loaded open("mix_cf_cf_f32_open.onnx");
    const Expected<TilePlan> any = open.backend.describeTiles(320, 3);
    ASSERT_TRUE(any);
    EXPECT_EQ(any->scale, 0);
    EXPECT_EQ(any->outputChannels, 3);

    Loaded two("add2_t16_c3.onnx");
    EXPECT_EQ(two.backend.describeTiles(16, 3).message(), "takes 2 inputs; a tile is one");
    Loaded narrow("float8_out_t16.onnx");
    EXPECT_EQ(narrow.backend.describeTiles(16, 3).message(),
              "gives float8e4m3fn values at its output \"output\", which the library does not convert");
}
