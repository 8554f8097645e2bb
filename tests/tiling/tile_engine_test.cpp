// The tile loop on the runtime's backend: each tile goes into the model in
// the model's layout and element type and each result comes back its own,
// at one write in and one read out per tile.
#include "tiling/tile_engine.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <numeric>

#include "backend/ModelLogicONNX.h"
#include "context/VelmoraClass.h"
#include "support/model_files.h"

namespace {

struct Loaded {
    std::vector<char> bytes;
    std::unique_ptr<ModelLogicONNX> backend = std::make_unique<ModelLogicONNX>();
    explicit Loaded(const std::string& name) : bytes(readModel(name)) {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(backend->loadModel(bytes.data(), static_cast<uint32_t>(bytes.size()), "input", "output"));
        testing::internal::GetCapturedStdout();
    }
};

// Fills each tile with what `fill` says and keeps each result's pixels.
struct Recorder : TileAdapter {
    std::function<void(const Tile&, const TensorFrame&)> filling;
    std::function<void(const Tile&)> before = [](const Tile&) {};
    std::vector<std::vector<float>> results;
    Status fill(const Tile& tile, const TensorFrame& input) override {
        filling(tile, input);
        return Ok{};
    }
    Status beforeRun(const Tile& tile) override {
        before(tile);
        return Ok{};
    }
    Status begin(int32_t, int32_t) override { return Ok{}; }
    Status store(const Tile&, const TensorFrame& result) override {
        std::vector<float> pixels(static_cast<size_t>(result.width * result.height * result.channels));
        readPixels(result, 0, result.width * result.height, pixels.data());
        results.push_back(std::move(pixels));
        return Ok{};
    }
};

Expected<TileRunStats> runGrid(ModelLogic& backend, int32_t side, int32_t channels, int32_t tiles,
                               TileAdapter& adapter) {
    Expected<ModelTiles> model = modelTiles(backend.description(), side, channels);
    EXPECT_TRUE(model) << model.message();
    ModelTiles tilesOfModel = *model;
    const TileGrid grid = *planTiles({int64_t{side} * tiles, side, side, side, side, channels});
    TileWalk walk(grid, nullptr, nullptr);
    return runTileEngine(backend, tilesOfModel, walk, adapter);
}

}  // namespace

TEST(TileEngine, EachTilesResultIsItsOwnWhateverTheLayoutAndType) {
    // Channels-first float16 in, channels-last float out, four times larger.
    Loaded up("up4_d2s_cf_cl_f16f32_open.onnx");
    Recorder recorder;
    recorder.filling = [](const Tile& tile, const TensorFrame& input) {
        const float value[3] = {tile.column == 0 ? 0.5f : 0.25f, tile.column == 0 ? 0.5f : 0.25f,
                                tile.column == 0 ? 0.5f : 0.25f};
        repeatPixel(input, 0, value, input.width * input.height);
    };
    testing::internal::CaptureStdout();
    const Expected<TileRunStats> run = runGrid(*up.backend, 8, 3, 2, recorder);
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(run) << run.message();
    ASSERT_EQ(recorder.results.size(), 2u);
    ASSERT_EQ(recorder.results[1].size(), 32u * 32 * 3);
    // Channel 0 of the top-left pixel: (0.5 x + 0.25 x + 0.125) x 1/16.
    EXPECT_EQ(recorder.results[0][0], (0.375f + 0.125f) / 16);
    EXPECT_EQ(recorder.results[1][0], (0.1875f + 0.125f) / 16);
    EXPECT_EQ(printed, "runModel 8 8 3\ngetModelOutput 32 32 3\nrunModel 8 8 3\ngetModelOutput 32 32 3\n");
}

TEST(TileEngine, ADirectRunBetweenTilesLeavesTheTilesInputItsOwn) {
    Loaded open("open_dims.onnx");  // [1, h, w, 3], the identity
    std::vector<float> other(5 * 4 * 3, -1.0f);
    Recorder recorder;
    recorder.filling = [](const Tile& tile, const TensorFrame& input) {
        std::vector<float> values(static_cast<size_t>(input.width * input.height * 3));
        std::iota(values.begin(), values.end(), 100.0f * static_cast<float>(tile.column + 1));
        writePixels(input, 0, values.data(), input.width * input.height);
    };
    // What a host's progress callback may do between two tiles.
    recorder.before = [&](const Tile&) { open.backend->runModel(other.data(), 5, 4, 3); };
    testing::internal::CaptureStdout();
    const Expected<TileRunStats> run = runGrid(*open.backend, 8, 3, 2, recorder);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(run) << run.message();
    ASSERT_EQ(recorder.results.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        std::vector<float> expected(8 * 8 * 3);
        std::iota(expected.begin(), expected.end(), 100.0f * static_cast<float>(i + 1));
        EXPECT_EQ(recorder.results[i], expected) << "tile " << i;
    }
}

TEST(TileEngine, EveryModelCostsOneCopyInAndOneOutPerTile) {
    // Channels-first and other element types are converted on the way in and
    // out, not in copies of their own.
    for (const char* name : {"mix_cf_cf_f32_t16.onnx", "mix_cl_cf_f16f64_open.onnx", "identity_t16_c3.onnx"}) {
        SCOPED_TRACE(name);
        Loaded loaded(name);
        VelmoraClass context(std::move(loaded.backend));
        std::vector<float> image(40 * 30 * 3, 0.5f);
        std::vector<uint8_t> rgb(40 * 30 * 3, 7);
        testing::internal::CaptureStdout();
        const ImageFloat out =
            context.predictByTilesImageFloat(ImageFloat{40, 30, 3, image.data()}, 16, 12, 1, nullptr, nullptr);
        const TileRunStats floats = context.tileStats();
        const uint8_t* bytes =
            context.predictByTiles(rgb.data(), 40, 30, 3, 16, 12, false, 1.0f / 255, 255.0f, 1, nullptr, nullptr);
        const TileRunStats eightBit = context.tileStats();
        testing::internal::GetCapturedStdout();
        ASSERT_NE(out.data, nullptr);
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(floats.tiles, 12);
        EXPECT_EQ(floats.copies, 2 * floats.tiles);
        EXPECT_EQ(eightBit.tiles, 12);
        EXPECT_EQ(eightBit.copies, 2 * eightBit.tiles);
    }
}
