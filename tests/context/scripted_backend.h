// A backend whose model is a function the test writes, for driving the
// pipelines without the runtime: each run hands the tile to `model`, which
// returns the result record (a view of `output`, an empty record, ...).
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "backend/ModelLogic.h"

class ScriptedBackend : public ModelLogic {
public:
    // The identity: the tile comes back as it went in.
    ScriptedBackend() {
        model = [this](const ImageFloat& tile) { return answer(tile.width, tile.height, tile.numChannels, tile.data); };
    }

    // A result of the given sizes in `output`, filled from `values` (or left
    // as it is when null).
    ImageFloat answer(int32_t width, int32_t height, int32_t channels, const float* values) {
        output.resize(static_cast<size_t>(width) * height * channels + channels);
        if (values) std::copy(values, values + static_cast<size_t>(width) * height * channels, output.begin());
        return ImageFloat{width, height, channels, output.data()};
    }

    std::function<ImageFloat(const ImageFloat& tile)> model;
    std::vector<float> output;
    int runs = 0;

    ImageFloat runModel(const float* data, int32_t width, int32_t height, int32_t numChannels) override {
        ++runs;
        return model(ImageFloat{width, height, numChannels, const_cast<float*>(data)});
    }
    bool isModelLoaded() override { return true; }
    std::string getErrorText() override { return {}; }

    bool loadModel(const void*, uint32_t, std::string, std::string) override { return false; }
    bool loadModelEx(const void*, uint32_t, std::string, std::string, int32_t, int32_t) override { return false; }
    void deallocateModel() override {}
    uint8_t* runModelToBytes(const float*, int32_t, int32_t, int32_t, int32_t*, bool, float) override {
        return nullptr;
    }
    float* runModel2Inputs(const float*, const float*, int32_t, int32_t, int32_t, int32_t*) override { return nullptr; }
    float* runModel3Inputs(const ImageFloat*, const ImageFloat*, const ImageFloat*, int32_t*) override {
        return nullptr;
    }
    int32_t reservedQuery() override { return 0; }
    std::string getEngineInfo(int32_t*) override { return {}; }
    char* getDeviceNameByIndex(uint32_t) override { return nullptr; }
    int32_t getErrorCount() override { return 0; }
};
