// The small generated models the exports fuzzer runs, and what each one is
// known to compute, so that results can be checked where the answer is known.
#pragma once

#include <cstddef>
#include <cstdint>

// What the model's (first) output is, as a function of its input.
enum class Computes : uint8_t {
    Identity,  // the input's leading `identityChannels` channels, bit for bit
    Rotated,   // channels (2, 0, 1) of the input
    Doubled,   // input x 2
    Sum,       // the sum of its inputs
    Cast,      // the input cast to another element type and back: truncated to a whole
               // number (castTolerance < 0), or within castTolerance x (1 + |input|)
    Unknown,   // nothing checked but the sizes
};

struct ExportModel {
    const char* file;
    bool fuzzModel;  // made by make_fuzz_models.py, else by make_models.py
    const char* input;
    const char* output;
    int32_t inputLayout;  // -1: loadModel; 0 or 1: loadModelEx with these layouts
    int32_t tile;         // input side; 0 when the model leaves it open
    int32_t inChannels;
    int32_t outChannels;    // -1 when it changes with the input
    int32_t inputs;         // 1 to 5
    int64_t inputElements;  // per input, as the model's shape asks
    Computes computes;
    int32_t identityChannels;  // for Identity
    bool sameSize;             // output side = input side (tiled results keep the image's size)
    bool otherOutputType;      // the output is not float
    float castTolerance;       // for Cast, see there
};

extern const ExportModel kExportModels[];
extern const size_t kExportModelCount;
