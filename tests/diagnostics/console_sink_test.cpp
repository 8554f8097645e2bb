#include "diagnostics/console_sink.h"

#include <gtest/gtest.h>

#include "support/recorded_messages.h"

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
    consoleLine("Failed to create DXGI Factory!", Severity::error, ConsoleStream::error);
    consoleLine("");
    consoleLine(std::string("a\0b", 3));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Failed to create DXGI Factory!\n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), std::string("runModel 16 16 3\n\na\0b\n", 22));
}

TEST(ConsoleSink, AHostsSinkGetsEachLineOnceWithItsSeverityAndTheConsoleNothing) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    {
        RecordedMessages sink(setHostSink, VELMORA_SEVERITY_WARNING);
        consoleLine("Input Name: input");
        consoleLine("runModel 16 16 3", Severity::verbose);
        consoleLine("Failed to create DXGI Factory!", Severity::error, ConsoleStream::error);
        messageSink("Failed to create folder in registry, error 20");
        consoleLine("two\nlines\r\n");
        consoleWideLine(L"GPU 0: Caf\u00e9 \U0001F600");
        const int32_t library = VELMORA_FROM_LIBRARY;
        EXPECT_EQ(sink.from(library),
                  (std::vector<RecordedMessage>{
                      {VELMORA_SEVERITY_INFO, library, "Input Name: input"},
                      {VELMORA_SEVERITY_VERBOSE, library, "runModel 16 16 3"},
                      {VELMORA_SEVERITY_ERROR, library, "Failed to create DXGI Factory!"},
                      {VELMORA_SEVERITY_WARNING, library, "Failed to create folder in registry, error 20"},
                      {VELMORA_SEVERITY_INFO, library, "two lines"},
                      {VELMORA_SEVERITY_INFO, library, "GPU 0: Caf\xC3\xA9 \xF0\x9F\x98\x80"},
                  }));
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

    // Without it, the console again.
    ::testing::internal::CaptureStdout();
    messageSink("back");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "back\n\n");
}
