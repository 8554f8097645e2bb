// How output tensors become image records, exercised on the backend itself.
#include <gtest/gtest.h>

#include <numeric>

#include "backend/ModelLogicONNX.h"
#include "backend/backend_error_text.h"
#include "support/model_files.h"

namespace {

struct LoadedBackend {
    std::vector<char> bytes;
    ModelLogicONNX backend;
    LoadedBackend(const std::string& name, int32_t outputLayout) : bytes(readModel(name)) {
        testing::internal::CaptureStdout();
        loaded =
            backend.loadModelEx(bytes.data(), static_cast<uint32_t>(bytes.size()), "input", "output", 1, outputLayout);
        testing::internal::GetCapturedStdout();
    }
    bool loaded = false;
};

struct Sizes {
    int32_t width, height, numChannels, copied;
};

Sizes runAndFetch(const std::string& model, int32_t layout, size_t inputElements) {
    LoadedBackend b(model, layout);
    EXPECT_TRUE(b.loaded) << model;
    std::vector<float> input(inputElements);
    std::iota(input.begin(), input.end(), 0.0f);
    const InputDescriptor in{input.data(), static_cast<int32_t>(inputElements), 1, 1};
    EXPECT_TRUE(b.backend.runSession(&in, 1));
    ImageFloat record{0, 0, 0, nullptr};
    const int32_t copied = b.backend.getModelOutput(&record, 0);
    Sizes s{record.width, record.height, record.numChannels, copied};
    releaseImage(record);
    return s;
}

void expectSizes(const Sizes& s, int32_t w, int32_t h, int32_t c, int32_t copied) {
    EXPECT_EQ(s.width, w);
    EXPECT_EQ(s.height, h);
    EXPECT_EQ(s.numChannels, c);
    EXPECT_EQ(s.copied, copied);
}

}  // namespace

TEST(OutputTable, FourDimensionsByLayout) {
    // [1, 256, 256, 3] read channels-last and channels-first.
    expectSizes(runAndFetch("nchw_to_nhwc_t256.onnx", 1, 3 * 256 * 256), 256, 256, 3, 196608);
    expectSizes(runAndFetch("nchw_to_nhwc_t256.onnx", 0, 3 * 256 * 256), 256, 3, 256, 196608);
    // Neither layout: d0 x 1 x 4.
    expectSizes(runAndFetch("nchw_to_nhwc_t256.onnx", 7, 3 * 256 * 256), 1, 1, 4, 4);
}

TEST(OutputTable, OtherRanks) {
    expectSizes(runAndFetch("out1d.onnx", 1, 16), 1, 10, 1, 10);
    expectSizes(runAndFetch("out2d.onnx", 1, 16), 2, 1, 2, 4);
    expectSizes(runAndFetch("scalar_out.onnx", 1, 16), 1, 1, 1, 1);
    expectSizes(runAndFetch("zero_size_out.onnx", 1, 16), 4, 4, 0, 0);
}

TEST(OutputTable, CopiesTheTensorInItsOwnOrder) {
    LoadedBackend b("channels_first_identity_32x3.onnx", 0);
    ASSERT_TRUE(b.loaded);
    std::vector<float> input(3 * 32 * 32);
    std::iota(input.begin(), input.end(), 0.0f);
    testing::internal::CaptureStdout();
    const ImageFloat out = b.backend.runModel(input.data(), 32, 32, 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "runModel 32 32 3\ngetModelOutput 32 32 3\n");
    ASSERT_NE(out.data, nullptr);
    EXPECT_EQ(std::vector<float>(out.data, out.data + input.size()), input);  // plane by plane
}

TEST(OutputTable, NeverReadsBeyondTheTensor) {
    // Neither layout on an empty [1, 4, 4, 0] tensor asks for 1 x 1 x 4 values.
    LoadedBackend b("zero_size_out.onnx", 5);
    ASSERT_TRUE(b.loaded);
    std::vector<float> input(16, 1.0f);
    const InputDescriptor in{input.data(), 4, 4, 1};
    ASSERT_TRUE(b.backend.runSession(&in, 1));
    ImageFloat record{0, 0, 0, nullptr};
    const std::string before = backendErrorTextCopy();
    EXPECT_EQ(b.backend.getModelOutput(&record, 0), 0);
    EXPECT_EQ(record.data, nullptr);
    EXPECT_NE(backendErrorTextCopy().find("fewer than the 1 x 1 x 4", before.size()), std::string::npos);
    EXPECT_EQ(b.backend.getErrorCount(), 1);
}

TEST(OutputTable, IndexOutOfRangeIsReported) {
    LoadedBackend b("identity_t16_c1.onnx", 1);
    ASSERT_TRUE(b.loaded);
    std::vector<float> input(256, 1.0f);
    const InputDescriptor in{input.data(), 16, 16, 1};
    ASSERT_TRUE(b.backend.runSession(&in, 1));
    ImageFloat record{0, 0, 0, nullptr};
    const std::string before = backendErrorTextCopy();
    EXPECT_FALSE(b.backend.fetchModelOutput(&record, 1));
    EXPECT_FALSE(b.backend.fetchModelOutput(&record, -1));
    EXPECT_EQ(backendErrorTextCopy().substr(before.size()),
              "Error: output tensors < output index!Error: output tensors < output index!");
    EXPECT_EQ(b.backend.getErrorCount(), 2);
    b.backend.getErrorText();
    EXPECT_EQ(b.backend.getErrorCount(), 0);
    EXPECT_TRUE(b.backend.fetchModelOutput(&record, 0));
    releaseImage(record);
}

TEST(OutputTable, RunsReuseTheOutputBuffer) {
    LoadedBackend b("identity_t16_c3.onnx", 1);
    ASSERT_TRUE(b.loaded);
    std::vector<float> input(16 * 16 * 3, 2.0f);
    testing::internal::CaptureStdout();
    const ImageFloat first = b.backend.runModel(input.data(), 16, 16, 3);
    const ImageFloat second = b.backend.runModel(input.data(), 3, 256, 1);  // any sizes that cover the input
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(first.data, second.data);
    EXPECT_EQ(second.width, 16);
}

TEST(OutputTable, AnOutputThatCannotBeReadFailsTheRunsInWords) {
    // Read with neither layout, the empty [1, 4, 4, 0] tensor is too short.
    LoadedBackend b("zero_size_out.onnx", 5);
    ASSERT_TRUE(b.loaded);
    std::vector<float> input(16, 1.0f);
    const std::string before = backendErrorTextCopy();
    testing::internal::CaptureStdout();
    const ImageFloat out = b.backend.runModel(input.data(), 4, 4, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "runModel 4 4 1\n");  // no output to describe
    EXPECT_EQ(out.data, nullptr);
    EXPECT_EQ(out.numChannels, 0);
    int32_t channels = -1;
    EXPECT_EQ(b.backend.runModelToBytes(input.data(), 4, 4, 1, &channels, false, 1.0f), nullptr);
    EXPECT_EQ(channels, -1);
    int32_t outputs = -1;
    EXPECT_EQ(b.backend.runModel2Inputs(input.data(), input.data(), 4, 4, 1, &outputs), nullptr);  // one input only
    EXPECT_EQ(outputs, -1);
    const std::string added = backendErrorTextCopy().substr(before.size());
    const std::string message = "Error: output 0 holds 0 values, fewer than the 1 x 1 x 4 its layout asks for\n\n";
    EXPECT_EQ(added, message + message);
    EXPECT_EQ(b.backend.getErrorCount(), 2);
}
