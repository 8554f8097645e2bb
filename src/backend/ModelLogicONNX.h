// The ONNX Runtime backend: one environment and at most one session per
// object, all runtime calls through the process-wide API table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
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

    ModelDescription description() override;
    void* tileInput(const TileInputSpec& form) override;
    Expected<TileTensor> runTile() override;
    void tileResultRead(int32_t width, int32_t height, int32_t channels) override;
    std::map<std::string, std::string> modelMetadata() override { return metadata; }
    std::string executionProvider() override { return modelLoaded && session ? provider : std::string(); }

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

    // One output tensor of the last run, as the runtime keeps it.
    struct OutputTensor {
        const void* data = nullptr;
        int32_t type = 0;  // the runtime's element type code
        std::vector<int64_t> dims;
        size_t elements = 0;
    };
    // Output `index` of the last run, or why it cannot be read (an index out
    // of range, or an element type the library does not convert).
    Expected<OutputTensor> outputTensor(int32_t index);

private:
    static OwnedEnv createEnvironment();
    void appendErrorText(std::string message);  // also counts the error
    void describeModel();
    // The session's metadata properties; empty, with a line on the console,
    // when the runtime cannot give them: the model loads all the same.
    void readMetadata();
    // Input k's element type and the words for it when the library cannot give it.
    std::string unconvertedInput(size_t k) const;
    std::string unconvertedOutput(size_t j) const;
    // The record output `index` of the last run gives by the layout code's
    // table, with the tensor it reads (at most its elements), or why it
    // cannot be read.
    struct OutputRecord {
        ImageFloat sizes;  // data: the tensor's own when it holds floats, else null
        OutputTensor tensor;
    };
    Expected<OutputRecord> readOutput(int32_t index);
    // Input k of the next run: `elements` floats from `data` as the model's
    // element type, wrapped without a copy when they need no conversion. A
    // value made for the same buffer, type and dimensions is used again.
    void bindInput(size_t k, const float* data, size_t elements, const std::vector<int64_t>& dims);
    // Room for input k's converted elements; null when it cannot be had.
    void* stagingFor(size_t k, size_t bytes);
    void bindBuffer(size_t k, const void* data, size_t bytes, const std::vector<int64_t>& dims);
    // Runs the session on the bound inputs and keeps its outputs.
    void runBound(int32_t count);
    void forgetInputs();
    // Runs the session and copies output 0 into outputImage; false when either
    // fails (a failed copy is reported, a refused run as runSession says).
    bool runAndFetch(const InputDescriptor* inputs, int32_t count);

    bool modelLoaded = false;
    std::string provider;  // the runtime's name of what runs the session
    bool spinning = true;
    int32_t errorCount = 0;
    ImageBuffer<ImageFloat> outputImage;
    std::vector<std::vector<int64_t>> inputShapes;
    std::vector<std::vector<int64_t>> outputShapes;
    // As the model declares them: -1 where it leaves a dimension open.
    std::vector<std::vector<int64_t>> inputDeclared;
    std::vector<std::vector<int64_t>> outputDeclared;
    std::vector<int32_t> inputTypes;  // the runtime's element type codes
    std::vector<int32_t> outputTypes;
    std::vector<std::string> inputNames;
    std::vector<std::string> outputNames;
    std::map<std::string, std::string> metadata;  // the model's own properties
    // Released in the reverse of this order: the last run's outputs, then the
    // session, then the options and the environment it was made with.
    OwnedEnv env;
    OwnedSessionOptions sessionOptions;
    OwnedSession session;
    std::vector<OwnedValue> outputTensors;
    // Made once: every input of every run lives in the processor's memory.
    OwnedMemoryInfo memoryInfo;
    // The input values of the last run, kept for the next one over the same
    // buffers (a tiled run's every tile), and the converted inputs' buffers.
    struct BoundInput {
        const void* data = nullptr;
        size_t bytes = 0;
        std::vector<int64_t> dims;
        OwnedValue value;
    };
    std::vector<BoundInput> boundInputs;
    struct Staging {
        std::unique_ptr<std::byte[]> bytes;
        size_t size = 0;
    };
    std::vector<Staging> staging;
    // The tiled runs' input, as the last tileInput laid it out.
    Staging tileRoom;
    TileInputSpec tileSpec;
    size_t tileBytes = 0;
};
