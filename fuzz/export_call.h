// One call of an exported function as the exports fuzzer makes it: which
// model, which export, and the arguments, decoded from the fuzzer's bytes,
// with what its progress callback does. An input is a sequence of such calls
// on the same contexts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_stream.h"

enum class Export : uint8_t {
    TilesImageFloat,  // predictByTilesImageFloat
    TilesFloat,       // predictByTilesFloat
    TilesBytes,       // predictByTiles
    Predict,          // predict (8-bit result)
    PredictFloat,
    Predict2Inputs,  // predict2InputsFloat
    Predict3Inputs,  // predict3InputsFloat
    ErrorText,       // getErrorText with the length in `extra`
    Information,     // getModelInformation (details), getNNEngineInformation, getVelmoraVersion,
                     // getDeviceNameByIndex (index): details and index are `extra`
    Initialize,      // initializeVelmora
    DeallocateImage,
    Reload,   // deallocateModel, loadModelEx with the layouts in `extra`, a run, and back
    Planned,  // velmoraPlan (strategy and blend in `extra`), then velmoraPredict
    Count
};

// Every export of velmora.h, as the progress callback calls it.
enum class Api : uint8_t {
    CreateContext,
    DeleteContext,
    ErrorText,
    LoadModel,
    LoadModelEx,
    DeallocateModel,
    DeallocateImage,
    Predict,
    PredictFloat,
    Predict2Inputs,
    Predict3Inputs,
    TilesBytes,
    TilesFloat,
    TilesImageFloat,
    Initialize,
    Version,
    EngineInformation,
    ModelInformation,
    DeviceName,
    SetMessageSink,
    DescribeModel,
    Plan,
    MeasureModel,
    PlannedPredict,
    GetProfile,
    SetProfile,
    LoadProfile,
    Count
};

// A call the progress callback makes at its `at`-th call, on the context of
// the running call or on a second context of the same model.
struct InnerCall {
    uint8_t at = 0;  // 0: none
    Api api = Api::CreateContext;
    bool other = false;       // on the second context
    bool fetchWords = false;  // getErrorText right after it, still inside the callback
    int32_t arg = 0;          // sizes, lengths, indexes, record sizes: read by each export its own way
};

// How the pixels of the call's images are filled.
enum class Pixels : uint8_t {
    Random,    // multiples of 1/256 in [0, 1)
    Ramp,      // x / width in every channel: tiles on the left see small values
    Tiny,      // below 1/1000
    Special,   // random, with NaN, infinities, huge values and -0 among them
    Constant,  // one value from the seed
    Count
};

struct ExportCall {
    uint8_t model = 0;  // index into the model table (taken modulo its size)
    Export op = Export::TilesImageFloat;
    int32_t width = 0, height = 0, channels = 0;
    int32_t tile = 0, step = 0, downscale = 1;
    bool argmax = false;
    float inputScale = 1.0f, outputScale = 1.0f;
    uint8_t stopAt = 0;             // the callback asks to stop at its n-th call; 0: never
    bool deleteInCallback = false;  // ... and deletes the context first
    bool noCallback = false;
    bool nullData = false;
    int32_t extra = 0;
    Pixels pixels = Pixels::Random;
    uint32_t seed = 0;
    InnerCall inner;
};

// Scales the mutator reaches in one byte.
inline constexpr float kCommonScales[] = {1.0f, 1.0f / 255.0f, 255.0f, 0.0f, -1.0f, 0.5f, 2.0f, 65535.0f};
inline constexpr size_t kCommonScaleCount = sizeof kCommonScales / sizeof kCommonScales[0];

// At most this many calls are made per input.
inline constexpr size_t kMaxCallsPerInput = 4;

ExportCall readCall(ByteReader& in);
void writeCall(ByteWriter& out, const ExportCall& call);

// The calls of one input, up to kMaxCallsPerInput.
std::vector<ExportCall> readCalls(const uint8_t* data, size_t size);
std::vector<uint8_t> writeCalls(const std::vector<ExportCall>& calls);

bool operator==(const ExportCall& a, const ExportCall& b);

const char* exportName(Export op);
// The export's name as velmora.h spells it.
const char* apiName(Api api);
// The call in words, for findings: "predictByTiles(model 3, 37 x 21 x 3, ...)".
std::string describe(const ExportCall& call, const char* modelFile);
