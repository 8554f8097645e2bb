// A published, third-party model as a user gets it: the PP-OCRv4 text
// detector (input "x" of shape [?, 3, ?, ?], channels-first, open sizes;
// output a one-channel probability map of the input's size), run by tiles
// through the public header on a page-like picture and compared with a
// plain tile loop over the runtime's C API.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "api/host.h"
#include "api/tile_reference.h"

namespace {

const std::string kModel = std::string(VELMORA_TEST_PUBLISHED_MODELS) + "/ch_PP-OCRv4_det_infer.onnx";

// Dark strokes in lines of words on a light page.
Picture page(int width, int height) {
    Picture p = makePicture(width, height, 3);
    std::fill(p.values.begin(), p.values.end(), 0.94f);
    for (int line = 0; line * 28 + 40 < height; ++line) {
        const int top = 20 + line * 28;
        int x = 24 + (line * 37) % 50;
        for (int word = 0; x < width - 30; ++word) {
            const int letters = 2 + (word * 7 + line) % 6;
            for (int l = 0; l < letters && x < width - 20; ++l, x += 11)
                for (int y = top; y < top + 14; ++y)
                    for (int dx = 0; dx < 8; ++dx) {
                        // A letter: a box with a bar through it, in one of a few shapes.
                        const bool stroke =
                            dx < 2 || dx > 5 || y == top || y == top + 13 || (((l + word) % 3 == 0) && y == top + 7);
                        if (!stroke) continue;
                        for (int ch = 0; ch < 3; ++ch) p(x + dx, y, ch) = 0.08f + 0.05f * ch;
                    }
            x += 14;
        }
    }
    return p;
}

struct TextDetector : testing::Test {
    void SetUp() override {
        std::ifstream in(kModel, std::ios::binary);
        ASSERT_TRUE(in) << kModel << " is missing: run scripts/setup.sh";
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        // The layout codes say channels-last: the model's shape must overrule them.
        ASSERT_TRUE(
            loadModelEx(context, bytes.data(), static_cast<uint32_t>(bytes.size()), "x", "sigmoid_0.tmp_0", 1, 1))
            << context.errors();
    }
    HostContext context;
    std::vector<char> bytes;
};

}  // namespace

TEST_F(TextDetector, TheFloatPipelineGivesWhatATileLoopGives) {
    DirectRuntime reference(kModel);
    // 2 x 2 tiles at downscale 1 (stitched across both seams), one at 2.
    const Picture image = page(440, 400);
    for (int downscale : {1, 2}) {
        SCOPED_TRACE(downscale);
        const Picture want = referenceFloat(reference, {true, true}, image, 256, 224, downscale);
        ImageFloat in{440, 400, 3, const_cast<float*>(image.values.data())};
        const ImageFloat got = predictByTilesImageFloat(context, in, 256, 224, downscale, nullptr, nullptr);
        ASSERT_NE(got.data, nullptr) << context.errors();
        ASSERT_EQ(got.width, 440);
        ASSERT_EQ(got.height, 400);
        ASSERT_EQ(got.numChannels, 1);
        double worst = 0, sum = 0;
        for (size_t i = 0; i < want.values.size(); ++i) {
            worst = std::max(worst, std::fabs(double(got.data[i]) - want.values[i]));
            sum += want.values[i];
        }
        EXPECT_LE(worst, 1e-4);
        // A probability map that found the text: neither empty nor full.
        const double mean = sum / want.values.size();
        EXPECT_GT(mean, 0.05);
        EXPECT_LT(mean, 0.9);
    }
}

TEST_F(TextDetector, TheBytePipelineGivesWhatATileLoopGives) {
    DirectRuntime reference(kModel);
    const Picture image = page(440, 300);
    std::vector<uint8_t> rgb(image.values.size());
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(std::lround(image.values[i] * 255));
    int w = 0, h = 0, c = 0;
    const std::vector<uint8_t> want =
        referenceBytes(reference, {true, true}, rgb, 440, 300, 256, 224, 1, 1.0f / 255, 255.0f, &w, &h, &c);
    const unsigned char* got =
        predictByTiles(context, rgb.data(), 440, 300, 3, 256, 224, false, 1.0f / 255, 255.0f, 1, nullptr, nullptr);
    ASSERT_NE(got, nullptr) << context.errors();
    ASSERT_EQ(c, 1);
    int worst = 0;
    for (size_t i = 0; i < want.size(); ++i) worst = std::max(worst, std::abs(int(got[i]) - int(want[i])));
    // Values within 1e-4 of each other may still round to either side of a half.
    EXPECT_LE(worst, 1);
}
