// The inference backend as the context sees it. The order of the virtual
// operations is part of the design: keep it.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "backend/model_description.h"
#include "diagnostics/expected.h"
#include "image/image_records.h"
#include "tiling/tile_tensor.h"

class ModelLogic {
public:
    virtual ~ModelLogic() = default;

    virtual bool loadModel(const void* modelData, uint32_t modelSize, std::string inputName,
                           std::string outputName) = 0;
    virtual bool loadModelEx(const void* modelData, uint32_t modelSize, std::string inputName, std::string outputName,
                             int32_t inputLayout, int32_t outputLayout) = 0;
    virtual void deallocateModel() = 0;
    // Returns a byte buffer from array new that the caller owns, or null.
    virtual uint8_t* runModelToBytes(const float* data, int32_t width, int32_t height, int32_t numChannels,
                                     int32_t* channelCount, bool argmax, float scale) = 0;
    // A view of the backend's own output buffer, reused by the next run.
    virtual ImageFloat runModel(const float* data, int32_t width, int32_t height, int32_t numChannels) = 0;
    virtual float* runModel2Inputs(const float* data1, const float* data2, int32_t width, int32_t height,
                                   int32_t numChannels, int32_t* outputCount) = 0;
    virtual float* runModel3Inputs(const ImageFloat* input1, const ImageFloat* input2, const ImageFloat* input3,
                                   int32_t* outputCount) = 0;
    virtual int32_t reservedQuery() = 0;
    virtual std::string getEngineInfo(int32_t* gpuCount) = 0;
    // UTF-8 text from array new that the caller owns, or null.
    virtual char* getDeviceNameByIndex(uint32_t index) = 0;
    virtual std::string getErrorText() = 0;
    virtual int32_t getErrorCount() = 0;
    virtual bool isModelLoaded() = 0;
    virtual int32_t getModelVersion() { return 0; }
    virtual int32_t reservedCode() { return 3; }
    virtual int64_t getGpuMemory() { return 0; }
    virtual void preparePrediction() {}
    virtual bool fetchModelOutput(ImageFloat* /*record*/, int32_t /*index*/) { return false; }

    // The loaded model's inputs and outputs as it declares them; not `known`
    // for a backend that cannot tell.
    virtual ModelDescription description() { return {}; }

    // Tiled runs. Room for one tile's input as `form` lays it out, which the
    // tiled runs fill before each runTile; it stays valid until the next
    // tileInput or the backend's end, whatever else the backend is asked
    // meanwhile. Throws std::bad_alloc when it cannot be had. Here: the
    // interleaved floats that runModel takes.
    virtual void* tileInput(const TileInputSpec& form);
    // Runs the model on the room's contents and gives its output 0 as it
    // lies, valid until the next run; a failure in words without a subject
    // ("returned 0 channels"). Here: runModel's result, interleaved floats.
    virtual Expected<TileTensor> runTile();
    // What the last tile's result was read as, for a backend that traces it.
    virtual void tileResultRead(int32_t /*width*/, int32_t /*height*/, int32_t /*channels*/) {}

    // The loaded model's metadata properties (its own key-value pairs); empty
    // for a backend that cannot tell or a model that has none.
    virtual std::map<std::string, std::string> modelMetadata() { return {}; }
    // The runtime's name of the execution provider the loaded model runs on
    // ("CPUExecutionProvider"); empty without a model.
    virtual std::string executionProvider() { return {}; }

    // Threads a processor session runs each operation on, from the next model
    // load on; 0 or less lets the runtime choose for the machine.
    void setProcessorThreads(int32_t count) { processorThreads = count; }
    int32_t getProcessorThreads() const { return processorThreads; }

protected:
    const void* modelData = nullptr;  // borrowed from the host; reloads read it again
    uint32_t modelSize = 0;
    std::string inputName;
    std::string outputName;
    int32_t inputLayout = 1;   // stored only
    int32_t outputLayout = 1;  // 0 channels-first, 1 channels-last, else neither
    int32_t processorThreads = 0;

private:
    ImageBuffer<ImageFloat> tileRoom;  // the default tile input
};
