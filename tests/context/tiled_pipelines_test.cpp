// Both tiled pipelines driven through a backend whose model the test writes:
// what each reports when the model's result or a buffer fails them.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "context/VelmoraClass.h"
#include "context/scripted_backend.h"

namespace {

// A context on a scripted backend, with the text a host would fetch.
struct Scripted {
    ScriptedBackend* backend = nullptr;
    std::unique_ptr<VelmoraClass> context;
    Scripted() {
        auto owned = std::make_unique<ScriptedBackend>();
        backend = owned.get();
        context = std::make_unique<VelmoraClass>(std::move(owned));
    }
    std::string errors() {
        std::string text;
        context->getErrorText(1000, text);
        return text;
    }
};

struct Heard {
    std::vector<float> percents;
    static bool record(void* self, float percent) {
        static_cast<Heard*>(self)->percents.push_back(percent);
        return false;
    }
};

// A size whose tile buffer can be addressed but never allocated.
constexpr int32_t kUnallocatableTile = int32_t{1} << 29;

}  // namespace

TEST(TiledPipelines, AnEmptyModelResultIsReportedByBothPipelines) {
    Scripted s;
    int answered = 0;
    // The second tile's result is empty.
    s.backend->model = [&](const ImageFloat& tile) {
        return ++answered == 2 ? ImageFloat{0, 0, 0, nullptr}
                               : s.backend->answer(tile.width, tile.height, tile.numChannels, tile.data);
    };
    std::vector<float> image(40 * 20 * 3, 0.5f);
    EXPECT_EQ(
        s.context->predictByTilesImageFloat(ImageFloat{40, 20, 3, image.data()}, 16, 16, 1, nullptr, nullptr).data,
        nullptr);
    EXPECT_EQ(s.errors(), "\n\nModel returned 0 channels\n");

    answered = 0;
    std::vector<uint8_t> rgb(40 * 20 * 3, 7);
    EXPECT_EQ(s.context->predictByTiles(rgb.data(), 40, 20, 3, 16, 16, false, 1.0f, 1.0f, 1, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(s.errors(), "\nVelmora error: predictByTiles: the model returned 0 channels\n");
    EXPECT_EQ(answered, 2);
}

TEST(TiledPipelines, AResultOfAnotherSizeIsNamedInEachPipelinesWords) {
    Scripted s;
    s.backend->model = [&](const ImageFloat& tile) { return s.backend->answer(8, 8, tile.numChannels, nullptr); };
    std::vector<float> image(20 * 20 * 3, 0.5f);
    EXPECT_EQ(
        s.context->predictByTilesImageFloat(ImageFloat{20, 20, 3, image.data()}, 16, 16, 1, nullptr, nullptr).data,
        nullptr);
    EXPECT_EQ(s.errors(), "\n\nModel returned a 8 x 8 result for a 16 x 16 tile\n");

    std::vector<uint8_t> rgb(20 * 20 * 3, 7);
    EXPECT_EQ(s.context->predictByTiles(rgb.data(), 20, 20, 3, 16, 16, false, 1.0f, 1.0f, 1, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(s.errors(), "\nVelmora error: predictByTiles: the model returned a 8 x 8 result for a 16 x 16 tile\n");
}

TEST(TiledPipelines, ATileBufferThatCannotBeHadIsReported) {
    Scripted s;
    std::vector<float> image(4 * 4, 0.5f);
    Heard heard;
    // The float pipeline allocates before the first tile: the host hears nothing.
    EXPECT_EQ(s.context
                  ->predictByTilesImageFloat(ImageFloat{4, 4, 1, image.data()}, kUnallocatableTile, kUnallocatableTile,
                                             1, Heard::record, &heard)
                  .data,
              nullptr);
    EXPECT_EQ(s.errors(), "\nNot enough RAM to process the image. Please try to downscale the image or add more RAM\n");
    EXPECT_TRUE(heard.percents.empty());

    // The 8-bit pipeline allocates at the first tile, after its progress call.
    std::vector<uint8_t> rgb(4 * 4 * 3, 7);
    EXPECT_EQ(s.context->predictByTiles(rgb.data(), 4, 4, 3, kUnallocatableTile, kUnallocatableTile, false, 1.0f, 1.0f,
                                        1, Heard::record, &heard),
              nullptr);
    EXPECT_EQ(s.errors(), "\nVelmora error: failed to allocate RAM buffer for the tile");
    EXPECT_EQ(heard.percents, std::vector<float>{0.0f});
    EXPECT_EQ(s.backend->runs, 0);
}

TEST(TiledPipelines, AStitchedImageThatCannotBeHadEndsTheFloatRunWithoutAResult) {
    Scripted s;
    // A first run leaves a result behind.
    std::vector<float> small(8 * 8, 0.5f);
    ASSERT_NE(s.context->predictByTilesFloat(small.data(), 8, 8, 1, 8, 8, 1, nullptr, nullptr), nullptr);

    // 2^14 x (2^31 - 1) pixels are declared, but only the rows the first tile
    // reads exist: the stitched image (128 TiB) is refused after that tile.
    constexpr int32_t kWide = 1 << 14, kTile = 256;
    std::vector<float> rows(static_cast<size_t>(kWide) * kTile, 0.25f);
    EXPECT_EQ(s.context->predictByTilesFloat(rows.data(), kWide, INT32_MAX, 1, kTile, kTile, 1, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(s.errors(), "\nNot enough RAM during AI inference");
    EXPECT_EQ(s.backend->runs, 2);
}

TEST(TiledPipelines, AFailureAfterSomeTilesLeavesNoFloatResult) {
    Scripted s;
    std::vector<float> image(48 * 16 * 2);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<float>(i);
    const ImageFloat record{48, 16, 2, image.data()};
    const ImageFloat first = s.context->predictByTilesImageFloat(record, 16, 16, 1, nullptr, nullptr);
    ASSERT_NE(first.data, nullptr);
    EXPECT_EQ(std::vector<float>(first.data, first.data + image.size()), image);

    int answered = 0;
    s.backend->model = [&](const ImageFloat& tile) {
        if (++answered == 3) throw std::runtime_error("the device went away");
        return s.backend->answer(tile.width, tile.height, tile.numChannels, tile.data);
    };
    // The host's pointer to the context's result comes back empty.
    EXPECT_EQ(s.context->predictByTilesFloat(image.data(), 48, 16, 2, 16, 16, 1, nullptr, nullptr), nullptr);
    EXPECT_EQ(s.errors(), "\nException in runModel the device went away");
    EXPECT_EQ(answered, 3);
}

TEST(TiledPipelines, UnshrunkTheFloatResultIsTheModelsOutputBitForBit) {
    Scripted s;  // the identity
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Signs of zero and values that no weighting leaves alone, beside ordinary ones.
    std::vector<float> image = {-0.0f, 1.0f, inf, 2.0f, -inf, 3.0f, nan, -0.0f, 4.0f, -5.0f, 0.0f, 6.0f};
    const ImageFloat result =
        s.context->predictByTilesImageFloat(ImageFloat{4, 3, 1, image.data()}, 2, 2, 1, nullptr, nullptr);
    ASSERT_NE(result.data, nullptr);
    EXPECT_EQ(std::memcmp(result.data, image.data(), image.size() * sizeof(float)), 0);
}

TEST(TiledPipelines, AModelWhoseChannelCountChangesBetweenTilesFailsBothPipelines) {
    // The first tile comes back with `first` channels, every later one with `later`.
    for (auto [first, later] : {std::pair{3, 1}, std::pair{1, 3}}) {
        SCOPED_TRACE(testing::Message() << first << " then " << later << " channels");
        Scripted s;
        s.backend->model = [&, first = first, later = later](const ImageFloat& tile) {
            const int32_t channels = s.backend->runs == 1 ? first : later;
            std::vector<float> values(static_cast<size_t>(tile.width) * tile.height * channels, 0.5f);
            return s.backend->answer(tile.width, tile.height, channels, values.data());
        };
        std::vector<float> image(40 * 20 * 3, 0.5f);
        EXPECT_EQ(
            s.context->predictByTilesImageFloat(ImageFloat{40, 20, 3, image.data()}, 16, 16, 1, nullptr, nullptr).data,
            nullptr);
        EXPECT_EQ(s.errors(), "\n\nModel changed its channel count between tiles\n");
        EXPECT_EQ(s.backend->runs, 2);

        // The 8-bit pipeline, scaled or by arg-max, stops at the same tile
        // rather than handing back a result whose earlier tiles were lost.
        std::vector<uint8_t> rgb(40 * 20 * 3, 7);
        for (bool argmax : {false, true}) {
            SCOPED_TRACE(argmax ? "arg-max" : "scaled");
            s.backend->runs = 0;
            EXPECT_EQ(
                s.context->predictByTiles(rgb.data(), 40, 20, 3, 16, 16, argmax, 1.0f, 255.0f, 1, nullptr, nullptr),
                nullptr);
            EXPECT_EQ(s.errors(),
                      "\nVelmora error: predictByTiles: the model changed its channel count between tiles\n");
            EXPECT_EQ(s.backend->runs, 2);
        }
    }
}

TEST(TiledPipelines, TheEightBitResultKeepsItsChannelsAcrossCallsOfOneModel) {
    // A model of 2 output channels after one of 3: each call is consistent
    // within itself, so each succeeds, with its own channel count.
    Scripted s;
    int32_t channels = 3;
    s.backend->model = [&](const ImageFloat& tile) {
        std::vector<float> values(static_cast<size_t>(tile.width) * tile.height * channels);
        for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i % channels) / 255.0f;
        return s.backend->answer(tile.width, tile.height, channels, values.data());
    };
    std::vector<uint8_t> rgb(40 * 20 * 3, 7);
    for (int32_t c : {3, 2}) {
        channels = c;
        const uint8_t* out =
            s.context->predictByTiles(rgb.data(), 40, 20, 3, 16, 16, false, 1.0f, 255.0f, 1, nullptr, nullptr);
        ASSERT_NE(out, nullptr) << s.errors();
        for (int32_t i = 0; i < 40 * 20 * c; ++i) ASSERT_EQ(out[i], i % c) << i;
    }
}
