#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "api/host.h"

namespace {
std::vector<float> randomValues(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-4.0f, 4.0f);
    std::vector<float> v(n);
    for (auto& x : v) x = dist(rng);
    return v;
}
struct ArrayDelete {
    void operator()(unsigned char* p) const { delete[] p; }
};
using Bytes = std::unique_ptr<unsigned char[], ArrayDelete>;
}  // namespace

TEST(DirectPaths, PredictFloatRunsTheWholeInputAndReusesItsBuffer) {
    HostContext context;
    ASSERT_TRUE(context.load("scale2_64x3.onnx"));
    auto input = randomValues(64 * 64 * 3, 1);
    const float* first = predictFloat(context, input.data(), 64, 64, 3, false);
    ASSERT_NE(first, nullptr);
    for (size_t i = 0; i < input.size(); ++i) ASSERT_EQ(first[i], input[i] * 2) << i;

    auto other = randomValues(input.size(), 2);
    const float* second = predictFloat(context, other.data(), 64, 64, 3, true);
    EXPECT_EQ(second, first);
    EXPECT_EQ(second[100], other[100] * 2);
}

TEST(DirectPaths, AnInputShorterThanTheModelsIsRefused) {
    HostContext context;
    ASSERT_TRUE(context.load("identity_64x3.onnx"));
    const std::string before = context.errors();
    std::vector<float> small(32 * 32 * 3, 1.0f);
    EXPECT_EQ(predictFloat(context, small.data(), 32, 32, 3, false), nullptr);
    EXPECT_EQ(predict(context, small.data(), 32, 32, 3, false), nullptr);
    EXPECT_NE(context.errors().find("the model needs 12288", before.size()), std::string::npos);
    // Larger buffers are fine: the model's own shape decides what is read.
    std::vector<float> large(100 * 100 * 3, 1.0f);
    EXPECT_NE(predictFloat(context, large.data(), 100, 100, 3, false), nullptr);
}

TEST(DirectPaths, PredictConvertsWithoutRoundingAndHandsTheBufferOver) {
    HostContext context;
    ASSERT_TRUE(context.load("identity_t16_c3.onnx"));
    std::vector<float> input(16 * 16 * 3, 0.0f);
    const float samples[] = {254.9f, -3.0f, 300.0f, 0.99f, 127.5f, 3e10f};
    const unsigned char expected[] = {254, 0, 255, 0, 127, 0};
    for (size_t i = 0; i < std::size(samples); ++i) input[i] = samples[i];
    Bytes bytes(predict(context, input.data(), 16, 16, 3, false));
    ASSERT_NE(bytes, nullptr);
    for (size_t i = 0; i < std::size(samples); ++i) EXPECT_EQ(bytes[i], expected[i]) << samples[i];
    // Every element of the output is converted, not only a caller-given count.
    EXPECT_EQ(bytes[16 * 16 * 3 - 1], 0);
}

TEST(DirectPaths, PredictArgmaxGivesOneBytePerPixel) {
    HostContext context;
    ASSERT_TRUE(context.load("argmax_seg_t16.onnx"));  // output channels are the input's (2, 0, 1)
    std::vector<float> input(16 * 16 * 3, 0.0f);
    std::vector<unsigned char> expected(16 * 16);
    std::mt19937 rng(7);
    for (size_t p = 0; p < expected.size(); ++p) {
        const int hot = static_cast<int>(rng() % 3);
        input[p * 3 + hot] = 1.0f;
        expected[p] = static_cast<unsigned char>((hot + 1) % 3);
    }
    input[0] = input[1] = input[2] = 0.5f;  // a three-way tie goes to channel 0
    expected[0] = 0;
    Bytes bytes(predict(context, input.data(), 16, 16, 3, true));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(bytes.get(), bytes.get() + expected.size()), expected);
}

TEST(DirectPaths, TwoAndThreeInputs) {
    HostContext two, three;
    ASSERT_TRUE(two.load("add2_t16_c3.onnx"));
    ASSERT_TRUE(three.load("add3_t16_c3.onnx"));
    auto a = randomValues(16 * 16 * 3, 3), b = randomValues(16 * 16 * 3, 4), c = randomValues(16 * 16 * 3, 5);

    const float* sum2 = predict2InputsFloat(two, a.data(), b.data(), 16, 16, 3);
    ASSERT_NE(sum2, nullptr);
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(sum2[i], a[i] + b[i]);

    ImageFloat ia{16, 16, 3, a.data()}, ib{16, 16, 3, b.data()}, ic{16, 16, 3, c.data()};
    const float* sum3 = predict3InputsFloat(three, ia, ib, ic);
    ASSERT_NE(sum3, nullptr);
    for (size_t i = 0; i < a.size(); ++i) ASSERT_FLOAT_EQ(sum3[i], (a[i] + b[i]) + c[i]);

    // Input counts that do not match the model are refused without a run.
    EXPECT_EQ(predict2InputsFloat(three, a.data(), b.data(), 16, 16, 3), nullptr);
    EXPECT_EQ(predict3InputsFloat(two, ia, ib, ic), nullptr);
    EXPECT_EQ(predictFloat(two, a.data(), 16, 16, 3, false), nullptr);
}

TEST(DirectPaths, ManyInputsAndOutputs) {
    HostContext five, six;
    ASSERT_TRUE(five.load("five_inputs.onnx"));
    ASSERT_TRUE(six.load("six_outputs.onnx"));
    std::vector<float> input(8 * 8, 1.25f);
    const float* out = predictFloat(six, input.data(), 8, 8, 1, false);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out[63], 1.25f);  // output0 = input * 1
    // Five inputs cannot be given through the exports; the model still loads and refuses a one-input run.
    EXPECT_EQ(predictFloat(five, input.data(), 4, 4, 1, false), nullptr);
}

TEST(DirectPaths, ZeroSizeAndScalarOutputs) {
    HostContext zero, scalar;
    ASSERT_TRUE(zero.load("zero_size_out.onnx"));
    ASSERT_TRUE(scalar.load("scalar_out.onnx"));
    std::vector<float> input(16, 0.5f);
    EXPECT_EQ(predictFloat(zero, input.data(), 4, 4, 1, false), nullptr);  // 0 channels
    EXPECT_EQ(predict(zero, input.data(), 4, 4, 1, false), nullptr);
    const float* sum = predictFloat(scalar, input.data(), 4, 4, 1, false);
    ASSERT_NE(sum, nullptr);
    EXPECT_EQ(sum[0], 8.0f);
}
