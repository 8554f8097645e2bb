#include "diagnostics/console_sink.h"

#include <gtest/gtest.h>

TEST(ConsoleSink, WritesEachMessageFollowedByAnEmptyLine) {
    ::testing::internal::CaptureStdout();
    messageSink("first message");
    messageSink("");
    messageSink("third");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "first message\n\n\n\nthird\n\n");
}

TEST(ConsoleSink, LinesGoToTheStreamTheyAreMeantFor) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    consoleLine("runModel 16 16 3");
    consoleLine("Failed to create DXGI Factory!", ConsoleStream::error);
    consoleLine("");
    consoleLine(std::string("a\0b", 3));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Failed to create DXGI Factory!\n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), std::string("runModel 16 16 3\n\na\0b\n", 22));
}
