#include <gtest/gtest.h>

#include "context/VelmoraClass.h"

TEST(Context, WithoutABackendEveryOperationFailsCleanly) {
    testing::internal::CaptureStdout();
    VelmoraClass context(0, "caller", 5);
    std::string text;
    ASSERT_TRUE(context.getErrorText(100, text));
    EXPECT_EQ(text, "\nVelmoraClass: modelLogic is null!");
    ASSERT_TRUE(context.getErrorText(100, text));
    EXPECT_EQ(text, "");

    const char bytes[] = "model";
    std::vector<float> data(16, 1.0f);
    ImageFloat image{4, 4, 1, data.data()};
    EXPECT_FALSE(context.loadModel(bytes, sizeof bytes, "a", "b"));
    EXPECT_EQ(context.predictFloat(data.data(), 4, 4, 1), nullptr);
    EXPECT_EQ(context.predict(data.data(), 4, 4, 1, false), nullptr);
    EXPECT_EQ(context.predict2InputsFloat(data.data(), data.data(), 4, 4, 1), nullptr);
    EXPECT_EQ(context.predict3InputsFloat(image, image, image), nullptr);
    context.deallocateModel();
    context.deallocateImage();
    ASSERT_TRUE(context.getErrorText(100, text));
    EXPECT_EQ(text, "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Context, BuildDateHasTheDateFormat) {
    VelmoraClass context(0, "caller", kBackendOnnx);
    std::string text;
    ASSERT_TRUE(context.getErrorText(-12, text));
    EXPECT_EQ(text, __DATE__);  // built the same day as this test
    EXPECT_FALSE(context.getErrorText(-256, text));
}
