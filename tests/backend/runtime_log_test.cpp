// The runtime's log lines on their way to the host.
#include "backend/runtime_log.h"

#include <gtest/gtest.h>

#include "diagnostics/host_sink.h"
#include "support/recorded_messages.h"

TEST(RuntimeLog, LinesGoToTheHostsSinkAndOnceItIsGoneToStandardError) {
    const OrtLoggingFunction log = runtimeLogFunction();
    {
        RecordedMessages sink(setHostSink, VELMORA_SEVERITY_VERBOSE);
        log(nullptr, ORT_LOGGING_LEVEL_WARNING, "onnxruntime", "", "a.cc:1 F", "first\nsecond\n");
        log(nullptr, ORT_LOGGING_LEVEL_VERBOSE, "onnxruntime", "session", "a.cc:2 G", "named");
        const int32_t runtime = VELMORA_FROM_RUNTIME;
        EXPECT_EQ(sink.from(runtime),
                  (std::vector<RecordedMessage>{{VELMORA_SEVERITY_WARNING, runtime, "first second"},
                                                {VELMORA_SEVERITY_VERBOSE, runtime, "session: named"}}));
        EXPECT_TRUE(sink.from(VELMORA_FROM_LIBRARY).empty());
    }
    // Sessions made while the sink was set keep this function.
    testing::internal::CaptureStderr();
    log(nullptr, ORT_LOGGING_LEVEL_ERROR, "onnxruntime", "", "a.cc:3 H", "after");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[E:onnxruntime:, a.cc:3 H] after\n");
}
