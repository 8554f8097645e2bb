// Runs on one whole input of the model's size, without tiling.
#include "context/VelmoraClass.h"

uint8_t* VelmoraClass::predict(const float* data, int32_t width, int32_t height, int32_t numChannels, bool argmax) {
    if (!modelLogic) return nullptr;
    modelLogic->preparePrediction();
    int32_t channelCount = 0;
    return modelLogic->runModelToBytes(data, width, height, numChannels, &channelCount, argmax, 1.0f);
}

float* VelmoraClass::predictFloat(const float* data, int32_t width, int32_t height, int32_t numChannels) {
    if (!modelLogic || !modelLogic->isModelLoaded()) return nullptr;
    modelLogic->preparePrediction();
    const ImageFloat output = modelLogic->runModel(data, width, height, numChannels);
    return output.data && output.numChannels != 0 ? output.data : nullptr;
}

float* VelmoraClass::predict2InputsFloat(const float* data1, const float* data2, int32_t width, int32_t height,
                                         int32_t numChannels) {
    if (!modelLogic) return nullptr;
    modelLogic->preparePrediction();
    int32_t outputCount = 0;
    float* result = modelLogic->runModel2Inputs(data1, data2, width, height, numChannels, &outputCount);
    return outputCount != 0 ? result : nullptr;
}

float* VelmoraClass::predict3InputsFloat(ImageFloat input1, ImageFloat input2, ImageFloat input3) {
    if (!modelLogic) return nullptr;
    modelLogic->preparePrediction();
    int32_t outputCount = 0;
    float* result = modelLogic->runModel3Inputs(&input1, &input2, &input3, &outputCount);
    return outputCount != 0 ? result : nullptr;
}
