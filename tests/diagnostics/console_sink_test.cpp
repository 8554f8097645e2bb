#include "diagnostics/console_sink.h"

#include <gtest/gtest.h>

TEST(ConsoleSink, WritesEachMessageFollowedByAnEmptyLine) {
    ::testing::internal::CaptureStdout();
    messageSink("first message");
    messageSink("");
    messageSink("third");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "first message\n\n\n\nthird\n\n");
}
