// The inference backend as the context sees it. The order of the virtual
// operations is part of the design: keep it.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/expected.h"
#include "image/image_records.h"

// What a model's shapes say of its result for square tiles before any run:
// how many times the tile's side it is, and its channel count; 0 where the
// model leaves them open (or says nothing, as a backend without shapes).
struct TilePlan {
    int32_t scale = 0;
    int32_t outputChannels = 0;
};

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

    // Tiled runs. Whether the model takes square tiles of side x side pixels
    // with `channels` interleaved channels, and what its shapes say of the
    // result; the failure names what does not fit, without a subject ("takes
    // 16 x 16 tiles, not 32 x 32"). Asked before anything is allocated.
    virtual Expected<TilePlan> describeTiles(int32_t /*side*/, int32_t /*channels*/) { return TilePlan{}; }
    // Runs the model on one interleaved tile and gives its result
    // interleaved, whatever layout and element types the model has: a view
    // of a buffer the backend owns, valid until its next run. An empty
    // record when the run was refused (the reason is in the error text); a
    // failure, without a subject, when the result cannot be read as an image.
    virtual Expected<ImageFloat> runTile(const ImageFloat& tile) {
        return runModel(tile.data, tile.width, tile.height, tile.numChannels);
    }
    // The loaded model's inputs and outputs, a line each: name, element
    // type, shape ("?" where open) and layout. Empty without a model.
    virtual std::string modelDescription() { return {}; }

protected:
    const void* modelData = nullptr;  // borrowed from the host; reloads read it again
    uint32_t modelSize = 0;
    std::string inputName;
    std::string outputName;
    int32_t inputLayout = 1;   // stored only
    int32_t outputLayout = 1;  // 0 channels-first, 1 channels-last, else neither
};
