#include <gtest/gtest.h>

#include <ctime>
#include <iomanip>
#include <sstream>

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

TEST(Context, BuildDateIsARealDayNoLaterThanTheRunAndLeavesMessagesPending) {
    VelmoraClass context(nullptr);  // its pending message must outlive the date
    std::string text;
    ASSERT_TRUE(context.getErrorText(-12, text));
    ASSERT_EQ(text.size(), 11u) << text;
    std::tm built{};
    std::istringstream in(text);
    in >> std::get_time(&built, "%b %d %Y");
    ASSERT_FALSE(in.fail()) << text;
    // mktime moves an impossible day (Feb 30) into the next month; a real one stays.
    std::tm noon = built;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    const std::time_t when = std::mktime(&noon);
    EXPECT_EQ(noon.tm_mday, built.tm_mday) << text;
    EXPECT_EQ(noon.tm_mon, built.tm_mon) << text;
    EXPECT_GE(built.tm_year + 1900, 2024) << text;
    // The library was built before this test ran (a day's slack for time zones).
    EXPECT_LE(when, std::time(nullptr) + 24 * 60 * 60) << text;

    EXPECT_FALSE(context.getErrorText(-256, text));
    ASSERT_TRUE(context.getErrorText(100, text));
    EXPECT_EQ(text, "\nVelmoraClass: modelLogic is null!");
}
