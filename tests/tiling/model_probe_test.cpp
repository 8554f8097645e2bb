// Measuring what a model needs by running it: how far it looks, the sides it
// takes, and whether it reads the picture as a whole.
#include "tiling/model_probe.h"

#include <gtest/gtest.h>

#include "backend/ModelLogicONNX.h"
#include "support/model_files.h"

namespace {

Expected<ModelNeeds> measure(const std::string& name, ModelLogicONNX& backend, std::vector<char>& bytes) {
    bytes = readModel(name);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(backend.loadModel(bytes.data(), static_cast<uint32_t>(bytes.size()), "", ""));
    Expected<ModelNeeds> needs = probeModel(backend, backend.description(), 3, nullptr, {});
    testing::internal::GetCapturedStdout();
    return needs;
}

}  // namespace

TEST(ModelProbe, ModelsThatLookAFixedDistanceAreMeasuredExactly) {
    struct Case {
        const char* model;
        int32_t reach, scale;
    };
    for (const Case& c :
         {Case{"conv5_open.onnx", 5, 1}, Case{"up2_conv_open.onnx", 2, 2}, Case{"mix_cf_cf_f32_open.onnx", 0, 1}}) {
        SCOPED_TRACE(c.model);
        ModelLogicONNX backend;
        std::vector<char> bytes;
        const Expected<ModelNeeds> needs = measure(c.model, backend, bytes);
        ASSERT_TRUE(needs) << needs.message();
        EXPECT_EQ(needs->reach, c.reach);
        EXPECT_EQ(needs->scale, c.scale);
        EXPECT_TRUE(needs->exact);
        EXPECT_FALSE(needs->wholePicture);
        EXPECT_FALSE(needs->fixedSide);
        EXPECT_EQ(needs->multiple, 1);
        EXPECT_FALSE(needs->costs.empty());
    }
}

TEST(ModelProbe, AModelThatMixesInTheWholePictureIsToldApart) {
    ModelLogicONNX backend;
    std::vector<char> bytes;
    const Expected<ModelNeeds> needs = measure("global_mix_t256.onnx", backend, bytes);
    ASSERT_TRUE(needs) << needs.message();
    EXPECT_TRUE(needs->fixedSide);
    EXPECT_EQ(needs->multiple, 256);
    EXPECT_TRUE(needs->wholePicture);
    // A fixed size alone does not make a model read the whole picture.
    ModelLogicONNX other;
    std::vector<char> otherBytes;
    const Expected<ModelNeeds> conv = measure("conv6x32_t256.onnx", other, otherBytes);
    ASSERT_TRUE(conv) << conv.message();
    EXPECT_FALSE(conv->wholePicture);
    EXPECT_EQ(conv->reach, 6);
}
