#include <gtest/gtest.h>

#include <thread>

#include "api/host.h"
#include "api/process_threads.h"
#include "api/stored_settings.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(ModelLoading, DescribesTheModelOnStandardOutput) {
    HostContext context;
    CaptureStdout();
    ASSERT_TRUE(context.load("open_dims.onnx"));
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(out,
              "Number of inputs = 1\n"
              "Input 0 : name =input\n"
              "Input 0 : type = 1\n"
              "Input 0 : num_dims = 4\n"
              "Input 0 : dim[0] =1\n"
              "Input 0 : dim[1] =1\n"
              "Input 0 : dim[2] =1\n"
              "Input 0 : dim[3] =3\n"
              "Output 0 : name =output\n"
              "Output 0 : num_dims = 4\n"
              "Output 0 : dim[0] =1\n"
              "Output 0 : dim[1] =1\n"
              "Output 0 : dim[2] =1\n"
              "Output 0 : dim[3] =3\n"
              "Input Name: input\n"
              "Output Name: output\n");
}

TEST(ModelLoading, EmptyNamesArePrintedEmpty) {
    HostContext context;
    const auto model = readModel("identity_t16_c1.onnx");
    CaptureStdout();
    ASSERT_TRUE(loadModel(context, model.data(), static_cast<uint32_t>(model.size()), "", ""));
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("\nInput Name: \nOutput Name: \n"), std::string::npos) << out;
}

TEST(ModelLoading, LoadModelBehavesAsLoadModelExWithChannelsLast) {
    const auto model = readModel("channels_first_identity_32x3.onnx");
    std::vector<float> input(3 * 32 * 32);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<float>(i);
    HostContext plain, ex;
    ASSERT_TRUE(loadModel(plain, model.data(), static_cast<uint32_t>(model.size()), "input", "output"));
    ASSERT_TRUE(loadModelEx(ex, model.data(), static_cast<uint32_t>(model.size()), "input", "output", 1, 1));
    const float* a = predictFloat(plain, input.data(), 32, 32, 3, false);
    const float* b = predictFloat(ex, input.data(), 32, 32, 3, false);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(std::vector<float>(a, a + input.size()), input);
    EXPECT_EQ(std::vector<float>(b, b + input.size()), input);
}

TEST(ModelLoading, BytesThatAreNotAModelFailWithTheRuntimesWords) {
    HostContext context;
    const std::string before = context.errors();
    EXPECT_FALSE(context.load("not_a_model.onnx"));
    const std::string after = context.errors();
    EXPECT_EQ(after.compare(0, before.size(), before), 0);
    EXPECT_NE(after.find("protobuf parsing failed", before.size()), std::string::npos) << after;
    std::vector<float> tile(16 * 16, 1.0f);
    EXPECT_EQ(predictFloat(context, tile.data(), 16, 16, 1, false), nullptr);
}

TEST(ModelLoading, MissingBytesAreRefusedBeforeTheRuntime) {
    HostContext context;
    const std::string before = context.errors();
    EXPECT_FALSE(loadModel(context, nullptr, 100, "input", "output"));
    const char byte = 0;
    EXPECT_FALSE(loadModelEx(context, &byte, 0, "input", "output", 1, 1));
    const std::string added = context.errors().substr(before.size());
    EXPECT_NE(added.find("no model data"), std::string::npos) << added;
    EXPECT_EQ(added.find("Protobuf"), std::string::npos) << added;
}

TEST(ModelLoading, DeallocatedModelRefusesRunsAndLoadsAgain) {
    HostContext context;
    ASSERT_TRUE(context.load("scale2_64x3.onnx"));
    std::vector<float> tile(64 * 64 * 3, 1.5f);
    ASSERT_NE(predictFloat(context, tile.data(), 64, 64, 3, false), nullptr);

    deallocateModel(context);
    EXPECT_EQ(predictFloat(context, tile.data(), 64, 64, 3, false), nullptr);
    EXPECT_EQ(predict(context, tile.data(), 64, 64, 3, false), nullptr);
    deallocateModel(context);  // twice is harmless

    ASSERT_TRUE(context.load("scale2_64x3.onnx"));
    const float* out = predictFloat(context, tile.data(), 64, 64, 3, false);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out[0], 3.0f);
}

TEST(ModelLoading, ReloadingReplacesTheModel) {
    HostContext context;
    std::vector<float> tile(64 * 64 * 3, 2.0f);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(context.load("identity_64x3.onnx"));
        EXPECT_EQ(predictFloat(context, tile.data(), 64, 64, 3, false)[7], 2.0f);
        ASSERT_TRUE(context.load("scale2_64x3.onnx"));
        EXPECT_EQ(predictFloat(context, tile.data(), 64, 64, 3, false)[7], 4.0f);
    }
}

TEST(ModelLoading, DeletingAContextReportsTheBackendsEnd) {
    auto* context = new HostContext;
    ASSERT_TRUE(context->load("identity_t16_c1.onnx"));
    CaptureStdout();
    delete context;
    EXPECT_EQ(GetCapturedStdout(), "Dealloc ModelLogicONNX\n");
}

TEST(ModelLoading, NullHandlesGetFailureResults) {
    const auto model = readModel("identity_t16_c1.onnx");
    std::vector<float> tile(16 * 16 * 3, 1.0f);
    ImageFloat image{16, 16, 3, tile.data()};
    EXPECT_FALSE(loadModel(nullptr, model.data(), static_cast<uint32_t>(model.size()), "input", "output"));
    EXPECT_FALSE(loadModelEx(nullptr, model.data(), static_cast<uint32_t>(model.size()), "input", "output", 1, 1));
    deallocateModel(nullptr);
    deallocateImage(nullptr);
    deleteContext(nullptr);
    EXPECT_EQ(predict(nullptr, tile.data(), 16, 16, 1, true), nullptr);
    EXPECT_EQ(predictFloat(nullptr, tile.data(), 16, 16, 1, false), nullptr);
    EXPECT_EQ(predict2InputsFloat(nullptr, tile.data(), tile.data(), 16, 16, 3), nullptr);
    EXPECT_EQ(predict3InputsFloat(nullptr, image, image, image), nullptr);
}

TEST(ModelLoading, ContextsOnSeveralThreadsReportIntoOneText) {
    // Each thread owns its context; only the backend's shared text is common.
    constexpr int kThreads = 4, kFailures = 20;
    static const char kNotAModel[] = "not a model either";
    const std::string before = HostContext().errors();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([] {
            HostContext context;
            for (int i = 0; i < kFailures; ++i) {
                loadModel(context, kNotAModel, sizeof kNotAModel, "input", "output");
                context.errors();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    HostContext reader;
    const std::string added = reader.errors(1 << 20).substr(before.size());
    size_t count = 0;
    for (size_t at = added.find("protobuf parsing failed"); at != std::string::npos;
         at = added.find("protobuf parsing failed", at + 1))
        ++count;
    EXPECT_EQ(count, static_cast<size_t>(kThreads * kFailures));
}

TEST(ModelLoading, ReloadsAndDeallocationsReleaseTheirSessions) {
    // Each session runs its own thread pool, so a session that is never
    // released shows as threads that never end.
    // The runtime keeps threads of its own for the process; count from there.
    HostContext first;
    const size_t before = processThreads();
    {
        HostContext context;
        // Threads of its own on any machine, however few cores it has.
        storeSetting("threads", "3");
        char info[1000];
        initializeVelmora(context, "host", nullptr, info);
        ASSERT_TRUE(context.load("identity_t16_c1.onnx"));
        const size_t oneSession = processThreads();
        ASSERT_GT(oneSession, before);
        for (int i = 0; i < 10; ++i) ASSERT_TRUE(context.load("identity_t16_c1.onnx"));
        EXPECT_EQ(processThreads(), oneSession);
        deallocateModel(context);
        EXPECT_EQ(processThreads(), before);
        ASSERT_TRUE(context.load("identity_t16_c1.onnx"));
        EXPECT_EQ(processThreads(), oneSession);
    }
    EXPECT_EQ(processThreads(), before);
    storeSetting("threads", "0");
}
