// The generated stand-ins for real networks, run whole through the direct
// path: how far each output pixel sees (what a tiling must overlap to hide
// the tiles) and the whole-picture mix's formula.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

#include "api/host.h"

namespace {

std::vector<float> randomPlanes(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(0.0f, 1.0f);
    std::vector<float> v(static_cast<size_t>(width) * height * 3);
    for (auto& x : v) x = dist(rng);
    return v;
}

// The farthest input pixel (Chebyshev distance) from which a change of one
// input pixel reaches the output of a channels-first model S times larger.
int reach(const char* model, int side, int scale, int outChannels) {
    HostContext context;
    if (!context.load(model, VELMORA_CHANNELS_FIRST, VELMORA_CHANNELS_FIRST)) {
        ADD_FAILURE() << model << ": " << context.errors();
        return -1;
    }
    std::vector<float> input = randomPlanes(side, side, 3);
    const size_t outCount = static_cast<size_t>(side) * side * scale * scale * outChannels;
    const float* result = predictFloat(context, input.data(), side, side, 3, false);
    if (!result) {
        ADD_FAILURE() << model << ": " << context.errors();
        return -1;
    }
    const std::vector<float> before(result, result + outCount);
    const int centre = side / 2;
    for (int c = 0; c < 3; ++c) input[(static_cast<size_t>(c) * side + centre) * side + centre] += 0.5f;
    result = predictFloat(context, input.data(), side, side, 3, false);
    if (!result) return -1;
    const int outSide = side * scale;
    int farthest = -1;
    for (int c = 0; c < outChannels; ++c)
        for (int y = 0; y < outSide; ++y)
            for (int x = 0; x < outSide; ++x) {
                const size_t i = (static_cast<size_t>(c) * outSide + y) * outSide + x;
                if (result[i] != before[i])
                    farthest = std::max({farthest, std::abs(x / scale - centre), std::abs(y / scale - centre)});
            }
    return farthest;
}

}  // namespace

TEST(StandInModels, ConvolutionsSeeAsFarAsTheyAreDeclaredTo) {
    EXPECT_EQ(reach("conv5_open.onnx", 24, 1, 3), 5);
    EXPECT_EQ(reach("up2_conv_open.onnx", 16, 2, 3), 2);
    EXPECT_EQ(reach("up4_conv_open.onnx", 16, 4, 3), 2);
}

TEST(StandInModels, TheGlobalMixReadsTheWholePicture) {
    struct Case {
        const char* model;
        int width, height;
    };
    for (const Case& c : {Case{"global_mix_t256.onnx", 256, 256}, Case{"global_mix_open.onnx", 40, 24}}) {
        HostContext context;
        ASSERT_TRUE(context.load(c.model, VELMORA_CHANNELS_FIRST, VELMORA_CHANNELS_FIRST)) << context.errors();
        const std::vector<float> input = randomPlanes(c.width, c.height, 5);
        const size_t pixels = static_cast<size_t>(c.width) * c.height;
        std::vector<double> luma(pixels);
        double mean = 0;
        for (size_t p = 0; p < pixels; ++p) {
            luma[p] = 0.25 * input[p] + 0.5 * input[pixels + p] + 0.25 * input[2 * pixels + p];
            mean += luma[p] / static_cast<double>(pixels);
        }
        const float* out = predictFloat(context, const_cast<float*>(input.data()), c.width, c.height, 3, false);
        ASSERT_NE(out, nullptr) << c.model << ": " << context.errors();
        for (size_t p = 0; p < pixels; ++p)
            ASSERT_NEAR(out[p], 1.0 / (1.0 + std::exp(-(2 * luma[p] + 8 * mean - 5))), 1e-5) << c.model << " " << p;
    }
}
