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
    std::vector<RecordedMessage> lines;
    CaptureStdout();
    {
        RecordedMessages sink(velmoraSetMessageSink, VELMORA_SEVERITY_WARNING);
        EXPECT_TRUE(context.load("open_dims.onnx"));
        lines = sink.from(kLibrary);
    }
    EXPECT_EQ(GetCapturedStdout(), "");
    // Where a GPU device is tried first, its messages come with their own
    // severities (an error when none can be made).
    std::vector<std::string> description;
    for (const RecordedMessage& m : lines)
        if (m.severity == VELMORA_SEVERITY_INFO) description.push_back(m.text);
    EXPECT_EQ(description,
              (std::vector<std::string>{
                  "Number of inputs = 1", "Input 0 : name =input", "Input 0 : type = 1", "Input 0 : num_dims = 4",
                  "Input 0 : dim[0] =1", "Input 0 : dim[1] =1", "Input 0 : dim[2] =1", "Input 0 : dim[3] =3",
                  "Output 0 : name =output", "Output 0 : num_dims = 4", "Output 0 : dim[0] =1", "Output 0 : dim[1] =1",
                  "Output 0 : dim[2] =1", "Output 0 : dim[3] =3", "Input Name: input", "Output Name: output"}));
    EXPECT_EQ(countBelow(lines, VELMORA_SEVERITY_INFO), 0u);

    CaptureStdout();
    EXPECT_TRUE(context.load("open_dims.onnx"));
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(out.rfind("Number of inputs = 1\nInput 0 : name =input\n", 0), 0u) << out;
}

TEST(MessageSink, TheRuntimeReportsFromTheHostsLevelUp) {
    std::vector<float> tile(64 * 64 * 3, 1.0f);
    {
        HostContext context;
        RecordedMessages sink(velmoraSetMessageSink, VELMORA_SEVERITY_WARNING);
        CaptureStderr();
        EXPECT_TRUE(context.load("identity_64x3.onnx"));
        EXPECT_NE(predictFloat(context, tile.data(), 64, 64, 3, false), nullptr);
        EXPECT_EQ(GetCapturedStderr(), "");
        EXPECT_EQ(countBelow(sink.from(kRuntime), VELMORA_SEVERITY_WARNING), 0u);
    }

    HostContext context;
    CaptureStderr();
    {
        RecordedMessages sink(velmoraSetMessageSink, VELMORA_SEVERITY_VERBOSE);
        EXPECT_TRUE(context.load("identity_64x3.onnx"));
        const std::vector<RecordedMessage> lines = sink.from(kRuntime);
        EXPECT_GT(countBelow(lines, VELMORA_SEVERITY_INFO), 0u);
        EXPECT_TRUE(std::none_of(lines.begin(), lines.end(),
                                 [](const RecordedMessage& m) { return m.text.find('\n') != std::string::npos; }));
    }
    EXPECT_EQ(GetCapturedStderr(), "");
}
