#include <gtest/gtest.h>

#include "backend/ModelLogicONNX.h"
#include "backend/backend_error_text.h"
#include "context/VelmoraClass.h"
#include "support/model_files.h"

namespace {
// A backend that fills in only what it must.
class MinimalBackend : public ModelLogic {
public:
    bool loadModel(const void*, uint32_t, std::string, std::string) override { return false; }
    bool loadModelEx(const void*, uint32_t, std::string, std::string, int32_t, int32_t) override { return false; }
    void deallocateModel() override {}
    uint8_t* runModelToBytes(const float*, int32_t, int32_t, int32_t, int32_t*, bool, float) override {
        return nullptr;
    }
    ImageFloat runModel(const float*, int32_t, int32_t, int32_t) override { return {0, 0, 0, nullptr}; }
    float* runModel2Inputs(const float*, const float*, int32_t, int32_t, int32_t, int32_t*) override { return nullptr; }
    float* runModel3Inputs(const ImageFloat*, const ImageFloat*, const ImageFloat*, int32_t*) override {
        return nullptr;
    }
    int32_t reservedQuery() override { return 0; }
    std::string getEngineInfo(int32_t*) override { return {}; }
    char* getDeviceNameByIndex(uint32_t) override { return nullptr; }
    std::string getErrorText() override { return {}; }
    int32_t getErrorCount() override { return 0; }
    bool isModelLoaded() override { return false; }
};
}  // namespace

TEST(BackendObject, ModelInformationShowsWhatEachBackendAnswers) {
    // A backend with only what it must have gets the interface's answers.
    VelmoraClass minimal(std::make_unique<MinimalBackend>());
    EXPECT_EQ(minimal.modelInformation(), "Version: 0   GPURAM: 0 Mb");
    EXPECT_EQ(VelmoraClass(nullptr).backend(), nullptr);

    auto context = std::make_unique<VelmoraClass>(std::make_unique<ModelLogicONNX>());
    EXPECT_EQ(context->modelInformation(), "Version: -1   GPURAM: 17592186044415 Mb");
    ModelLogic& onnx = *context->backend();
    EXPECT_FALSE(onnx.isModelLoaded());
    EXPECT_EQ(onnx.getErrorCount(), 0);
    int32_t gpus = -5;
    testing::internal::CaptureStdout();
    EXPECT_EQ(onnx.getEngineInfo(&gpus), "ONNX");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(gpus, 0);
    EXPECT_EQ(onnx.getDeviceNameByIndex(0), nullptr);
    // The backend says goodbye once, when its context goes.
    testing::internal::CaptureStdout();
    context.reset();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Dealloc ModelLogicONNX\n");
}

TEST(BackendObject, ErrorTextKeepsALineFeedRule) {
    const std::string before = backendErrorTextCopy();
    appendBackendErrorText("plain");
    appendBackendErrorText("ends\n");
    appendBackendErrorText("");
    EXPECT_EQ(backendErrorTextCopy().substr(before.size()), "plainends\n\n");
}

TEST(BackendObject, FailedLoadCountsOneErrorAndSuccessResetsTheCount) {
    ModelLogicONNX backend;
    const auto junk = readModel("not_a_model.onnx");
    const auto good = readModel("identity_t16_c1.onnx");
    EXPECT_FALSE(backend.loadModel(junk.data(), static_cast<uint32_t>(junk.size()), "a", "b"));
    EXPECT_FALSE(backend.isModelLoaded());
    EXPECT_EQ(backend.getErrorCount(), 1);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(backend.loadModel(good.data(), static_cast<uint32_t>(good.size()), "a", "b"));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(backend.getErrorCount(), 0);
    EXPECT_EQ(backend.getInputShapes(), (std::vector<std::vector<int64_t>>{{1, 16, 16, 1}}));
    EXPECT_EQ(backend.getOutputNames(), std::vector<std::string>{"output"});
}

TEST(BackendObject, ReloadOnCpuKeepsTheStoredNamesAndDescribesAgain) {
    ModelLogicONNX backend;
    const auto model = readModel("six_outputs.onnx");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(backend.loadModel(model.data(), static_cast<uint32_t>(model.size()), "in", "out"));
    testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    ASSERT_TRUE(backend.reloadOnCpu());
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Output 5 : name =output5\n"), std::string::npos);
    EXPECT_NE(printed.find("Input Name: in\nOutput Name: out\n"), std::string::npos);
    EXPECT_EQ(backend.getOutputShapes().size(), 6u);
    std::vector<float> input(64, 1.0f);
    const InputDescriptor in{input.data(), 8, 8, 1};
    ASSERT_TRUE(backend.runSession(&in, 1));
    EXPECT_EQ(backend.outputTensorCount(), 6u);
    ImageFloat last{0, 0, 0, nullptr};
    ASSERT_EQ(backend.getModelOutput(&last, 5), 64);
    EXPECT_EQ(last.data[0], 6.0f);
    releaseImage(last);
}
