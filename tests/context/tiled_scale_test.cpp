// Both tiled pipelines with models that enlarge their tiles, and with
// backends that refuse a tile before it is cut, driven through a scripted
// backend: geometry, progress, stop and the words of each refusal.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "context/VelmoraClass.h"
#include "context/scripted_backend.h"

namespace {

// Nearest-neighbour enlargement by `scale`, with what its shapes would say.
class Enlarging : public ScriptedBackend {
public:
    explicit Enlarging(int32_t s) : scale(s) {
        model = [this](const ImageFloat& tile) { return enlarge(tile, scale); };
    }
    ImageFloat enlarge(const ImageFloat& tile, int32_t by) {
        const ImageFloat out = answer(tile.width * by, tile.height * by, tile.numChannels, nullptr);
        for (int32_t y = 0; y < out.height; ++y)
            for (int32_t x = 0; x < out.width; ++x)
                for (int32_t ch = 0; ch < out.numChannels; ++ch)
                    out.data[(static_cast<int64_t>(y) * out.width + x) * out.numChannels + ch] =
                        tile.data[(static_cast<int64_t>(y / by) * tile.width + x / by) * tile.numChannels + ch];
        return out;
    }
    // Declared shapes, when the test gives them.
    ModelDescription description() override {
        ++described;
        ModelDescription model;
        if (declaredInput.empty()) return model;
        model.known = true;
        model.inputs = {{"input", 1, declaredInput}};
        model.outputs = {{"output", 1, declaredOutput}};
        return model;
    }
    int32_t scale;
    std::vector<int64_t> declaredInput, declaredOutput;
    int described = 0;
};

struct Context {
    Enlarging* backend;
    std::unique_ptr<VelmoraClass> context;
    explicit Context(int32_t scale) {
        auto owned = std::make_unique<Enlarging>(scale);
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
    int stopAt = -1;
    static bool record(void* self, float percent) {
        auto* h = static_cast<Heard*>(self);
        h->percents.push_back(percent);
        return static_cast<int>(h->percents.size()) - 1 == h->stopAt;
    }
};

std::vector<float> ramp(int width, int height, int channels) {
    std::vector<float> v(static_cast<size_t>(width) * height * channels);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i % 251);
    return v;
}

}  // namespace

TEST(TiledScale, AnEnlargingModelGivesAResultThatManyTimesTheImage) {
    for (int32_t scale : {2, 3, 16}) {
        SCOPED_TRACE(scale);
        Context s(scale);
        const int w = 23, h = 17, c = 2;
        const std::vector<float> image = ramp(w, h, c);
        Heard heard;
        const ImageFloat out = s.context->predictByTilesImageFloat(
            ImageFloat{w, h, c, const_cast<float*>(image.data())}, 8, 6, 1, Heard::record, &heard);
        ASSERT_NE(out.data, nullptr) << s.errors();
        ASSERT_EQ(out.width, w * scale);
        ASSERT_EQ(out.height, h * scale);
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x)
                for (int ch = 0; ch < c; ++ch)
                    ASSERT_EQ(out.data[(y * out.width + x) * c + ch], image[((y / scale) * w + x / scale) * c + ch])
                        << x << "," << y;
        // The tiles and the host's progress are those of the image, not of the result.
        EXPECT_EQ(s.backend->runs, 4 * 3);
        EXPECT_EQ(heard.percents.size(), 13u);
        EXPECT_EQ(heard.percents.back(), 100.0f);
    }
}

TEST(TiledScale, TheBytePipelineEnlargesLikewise) {
    Context s(3);
    const int w = 19, h = 11;
    std::vector<uint8_t> rgb(w * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7);
    const uint8_t* out = s.context->predictByTiles(rgb.data(), w, h, 3, 8, 4, false, 1.0f, 1.0f, 1, nullptr, nullptr);
    ASSERT_NE(out, nullptr) << s.errors();
    for (int y = 0; y < h * 3; ++y)
        for (int x = 0; x < w * 3; ++x)
            for (int ch = 0; ch < 3; ++ch)
                ASSERT_EQ(out[(y * w * 3 + x) * 3 + ch], rgb[((y / 3) * w + x / 3) * 3 + ch]) << x << "," << y;
    std::string info = s.context->modelInformation(true);
    EXPECT_NE(info.find("\nLast tiled result: 57 x 33 x 3 (scale 3)\n"), std::string::npos) << info;
}

TEST(TiledScale, AScaleThatChangesBetweenTilesIsNamed) {
    Context s(2);
    int runs = 0;
    s.backend->model = [&](const ImageFloat& tile) { return s.backend->enlarge(tile, ++runs == 3 ? 3 : 2); };
    std::vector<float> image(40 * 10, 1.0f);
    EXPECT_EQ(s.context->predictByTilesFloat(image.data(), 40, 10, 1, 10, 10, 1, nullptr, nullptr), nullptr);
    EXPECT_EQ(s.errors(),
              "\n\nModel returned a 30 x 30 result for a 10 x 10 tile where the model's results are 2 "
              "times the tile\n");
    runs = 0;
    std::vector<uint8_t> rgb(40 * 10 * 3, 1);
    EXPECT_EQ(s.context->predictByTiles(rgb.data(), 40, 10, 3, 10, 10, false, 1.0f, 1.0f, 1, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(s.errors(),
              "\nVelmora error: predictByTiles: the model returned a 30 x 30 result for a 10 x 10 tile "
              "where the model's results are 2 times the tile\n");
}

TEST(TiledScale, ARefusedTileEndsTheCallBeforeAnyTileOrAllocation) {
    Context s(1);
    s.backend->declaredInput = {1, 16, 16, 3};
    s.backend->declaredOutput = {1, -1, -1, -1};
    // Tiles this large cannot be had: a refusal that came after the
    // allocation would be an allocation failure instead.
    constexpr int32_t kHuge = 1 << 29;
    std::vector<float> image(4 * 4 * 3, 0.5f);
    Heard heard;
    EXPECT_EQ(
        s.context->predictByTilesImageFloat(ImageFloat{4, 4, 3, image.data()}, kHuge, kHuge, -2, Heard::record, &heard)
            .data,
        nullptr);
    EXPECT_EQ(s.errors(), "\npredictByTilesImageFloat: the model takes 16 x 16 tiles, not 536870912 x 536870912\n");
    std::vector<uint8_t> rgb(4 * 4 * 3, 1);
    EXPECT_EQ(s.context->predictByTiles(rgb.data(), 4, 4, 3, kHuge, kHuge, false, 1.0f, 1.0f, 1, Heard::record, &heard),
              nullptr);
    EXPECT_EQ(s.errors(),
              "\nVelmora error: predictByTiles: the model takes 16 x 16 tiles, not 536870912 x 536870912\n");
    EXPECT_TRUE(heard.percents.empty());
    EXPECT_EQ(s.backend->runs, 0);
    EXPECT_EQ(s.backend->described, 2);
}

TEST(TiledScale, AResultTooLargeToAddressIsRefusedBeforeAnyTile) {
    Context s(16);
    s.backend->declaredInput = {1, -1, -1, -1};
    s.backend->declaredOutput = {1, 256, 256, 3};
    // Only the sizes are looked at before the refusal; no pixel is read.
    std::vector<float> image(16, 0.5f);
    Heard heard;
    EXPECT_EQ(s.context->predictByTilesFloat(image.data(), 1 << 28, 1, 3, 16, 16, 1, Heard::record, &heard), nullptr);
    EXPECT_EQ(s.errors(), "\npredictByTilesImageFloat: the 4294967296 x 16 result is too large to address\n");
    std::vector<uint8_t> rgb(16, 1);
    EXPECT_EQ(s.context->predictByTiles(rgb.data(), 1 << 28, 1, 3, 16, 16, false, 1.0f, 1.0f, 1, Heard::record, &heard),
              nullptr);
    EXPECT_EQ(s.errors(), "\nVelmora error: predictByTiles: the 4294967296 x 16 result is too large to address\n");
    EXPECT_TRUE(heard.percents.empty());
    EXPECT_EQ(s.backend->runs, 0);
}

TEST(TiledScale, StoppingAnEnlargingRunLeavesNoResult) {
    Context s(4);
    std::vector<float> image(30 * 30, 0.5f);
    Heard heard;
    heard.stopAt = 2;
    EXPECT_EQ(s.context->predictByTilesFloat(image.data(), 30, 30, 1, 10, 10, -2, Heard::record, &heard), nullptr);
    EXPECT_EQ(s.errors(), "");
    EXPECT_EQ(heard.percents.size(), 3u);
    EXPECT_NE(s.context->modelInformation(true).find("Last tiled result: none"), std::string::npos);
}
