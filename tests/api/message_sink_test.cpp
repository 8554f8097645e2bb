// The host's message sink, as a host sets it.
#include <gtest/gtest.h>

#include <algorithm>

#include "api/host.h"
#include "support/recorded_messages.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

constexpr int32_t kLibrary = VELMORA_FROM_LIBRARY;
constexpr int32_t kRuntime = VELMORA_FROM_RUNTIME;

size_t countBelow(const std::vector<RecordedMessage>& messages, int32_t severity) {
    return static_cast<size_t>(std::count_if(messages.begin(), messages.end(),
                                             [&](const RecordedMessage& m) { return m.severity < severity; }));
}

}  // namespace

TEST(MessageSink, TakesTheModelDescriptionInsteadOfStandardOutputUntilRemoved) {
    HostContext context;
    CaptureStdout();
    {
        RecordedMessages sink(velmoraSetMessageSink, VELMORA_SEVERITY_WARNING);
        ASSERT_TRUE(context.load("open_dims.onnx"));
        const std::vector<RecordedMessage> lines = sink.from(kLibrary);
        ASSERT_EQ(lines.size(), 16u);
        EXPECT_EQ(lines.front(), (RecordedMessage{VELMORA_SEVERITY_INFO, kLibrary, "Number of inputs = 1"}));
        EXPECT_EQ(lines[1], (RecordedMessage{VELMORA_SEVERITY_INFO, kLibrary, "Input 0 : name =input"}));
        EXPECT_EQ(lines[4], (RecordedMessage{VELMORA_SEVERITY_INFO, kLibrary, "Input 0 : dim[0] =1"}));
        EXPECT_EQ(lines.back(), (RecordedMessage{VELMORA_SEVERITY_INFO, kLibrary, "Output Name: output"}));
        EXPECT_EQ(countBelow(lines, VELMORA_SEVERITY_INFO), 0u);
    }
    EXPECT_EQ(GetCapturedStdout(), "");

    CaptureStdout();
    ASSERT_TRUE(context.load("open_dims.onnx"));
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(out.rfind("Number of inputs = 1\nInput 0 : name =input\n", 0), 0u) << out;
}

TEST(MessageSink, TheRuntimeReportsFromTheHostsLevelUp) {
    std::vector<float> tile(64 * 64 * 3, 1.0f);
    {
        HostContext context;
        RecordedMessages sink(velmoraSetMessageSink, VELMORA_SEVERITY_WARNING);
        CaptureStderr();
        ASSERT_TRUE(context.load("identity_64x3.onnx"));
        ASSERT_NE(predictFloat(context, tile.data(), 64, 64, 3, false), nullptr);
        EXPECT_EQ(GetCapturedStderr(), "");
        EXPECT_EQ(countBelow(sink.from(kRuntime), VELMORA_SEVERITY_WARNING), 0u);
    }

    HostContext context;
    CaptureStderr();
    {
        RecordedMessages sink(velmoraSetMessageSink, VELMORA_SEVERITY_VERBOSE);
        ASSERT_TRUE(context.load("identity_64x3.onnx"));
        const std::vector<RecordedMessage> lines = sink.from(kRuntime);
        EXPECT_GT(countBelow(lines, VELMORA_SEVERITY_INFO), 0u);
        EXPECT_TRUE(std::none_of(lines.begin(), lines.end(),
                                 [](const RecordedMessage& m) { return m.text.find('\n') != std::string::npos; }));
    }
    EXPECT_EQ(GetCapturedStderr(), "");
}
