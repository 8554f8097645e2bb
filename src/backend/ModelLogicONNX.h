// The ONNX Runtime backend: one environment and at most one session per
// object, all runtime calls through the process-wide API table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "backend/ModelLogic.h"
#include "backend/ort_owners.h"
#include "diagnostics/expected.h"

// The most threads a processor session is given, whatever a host asks for.
inline constexpr int32_t kMostProcessorThreads = 256;

// One input of a run: the caller's buffer, wrapped without copying. The sizes
// describe the buffer so that a short one is refused before the runtime reads it.
struct InputDescriptor {
    const float* data;
    int32_t width;
    int32_t height;
    int32_t numChannels;
};

class ModelLogicONNX : public ModelLogic {
public:
    // Throws Ort::Exception when the runtime refuses the environment or options.
    ModelLogicONNX();
    ~ModelLogicONNX() override;  // says goodbye on the console
    ModelLogicONNX(const ModelLogicONNX&) = delete;
    ModelLogicONNX& operator=(const ModelLogicONNX&) = delete;

    bool loadModel(const void* modelData, uint32_t modelSize, std::string inputName, std::string outputName) override;
    bool loadModelEx(const void* modelData, uint32_t modelSize, std::string inputName, std::string outputName,
                     int32_t inputLayout, int32_t outputLayout) override;
    void deallocateModel() override;
    uint8_t* runModelToBytes(const float* data, int32_t width, int32_t height, int32_t numChannels,
                             int32_t* channelCount, bool argmax, float scale) override;
    ImageFloat runModel(const float* data, int32_t width, int32_t height, int32_t numChannels) override;
    float* runModel2Inputs(const float* data1, const float* data2, int32_t width, int32_t height, int32_t numChannels,
                           int32_t* outputCount) override;
    float* runModel3Inputs(const ImageFloat* input1, const ImageFloat* input2, const ImageFloat* input3,
                           int32_t* outputCount) override;
    int32_t reservedQuery() override { return 0; }
    std::string getEngineInfo(int32_t* gpuCount) override;
    char* getDeviceNameByIndex(uint32_t index) override;
    std::string getErrorText() override;
    int32_t getErrorCount() override { return errorCount; }
    bool isModelLoaded() override { return modelLoaded; }
    int32_t getModelVersion() override { return -1; }
    int32_t reservedCode() override { return -1; }
    int64_t getGpuMemory() override { return -1; }
    void preparePrediction() override {}
    bool fetchModelOutput(ImageFloat* record, int32_t index) override;

    virtual bool reloadOnCpu();

    // Whether the idle threads of a processor session spin before they sleep,
    // from the next load on; for internal hosts such as benchmarks. On, as
    // the runtime has it: without spinning its threads fall asleep between
    // the model's many small operations, and the text-detection network took
    // 1.3 times as long on an otherwise idle machine.
    void setSpinning(bool on) { spinning = on; }

    bool createSession(const void* modelData, uint32_t modelSize, std::string inputName, std::string outputName,
                       bool useGpu);
    bool runSession(const InputDescriptor* inputs, int32_t count);
    // Copies output `index` into `record`; returns the number of floats copied.
    int32_t getModelOutput(ImageFloat* record, int32_t index);

    const std::vector<std::vector<int64_t>>& getInputShapes() const { return inputShapes; }
    const std::vector<std::vector<int64_t>>& getOutputShapes() const { return outputShapes; }
    const std::vector<std::string>& getOutputNames() const { return outputNames; }
    size_t outputTensorCount() const { return outputTensors.size(); }

private:
    static OwnedEnv createEnvironment();
    void appendErrorText(std::string message);  // also counts the error
    void describeModel();
    // Output `index` of the last run as the record its layout describes, over
    // the tensor's own data (valid until the next run), or why it cannot be read.
    Expected<ImageFloat> readOutput(int32_t index);
    // Runs the session and copies output 0 into outputImage; false when either
    // fails (a failed copy is reported, a refused run as runSession says).
    bool runAndFetch(const InputDescriptor* inputs, int32_t count);

    bool modelLoaded = false;
    bool spinning = true;
    int32_t errorCount = 0;
    ImageBuffer<ImageFloat> outputImage;
    std::vector<std::vector<int64_t>> inputShapes;
    std::vector<std::vector<int64_t>> outputShapes;
    std::vector<std::string> inputNames;
    std::vector<std::string> outputNames;
    // Released in the reverse of this order: the last run's outputs, then the
    // session, then the options and the environment it was made with.
    OwnedEnv env;
    OwnedSessionOptions sessionOptions;
    OwnedSession session;
    std::vector<OwnedValue> outputTensors;
};
