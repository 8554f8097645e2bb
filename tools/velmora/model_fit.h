// Matching the user's options to a model's input and output.
#pragma once

#include <string>

#include "model_file.h"
#include "options.h"

struct ModelFit {
    std::string inputName;  // as handed to the library
    std::string outputName;
    int inputLayout = 1;  // library codes: 1 channels-last, 0 channels-first
    int outputLayout = 1;
    int tile = 0;            // the side of the square tiles the model takes
    int inputChannels = 0;   // 0: unknown
    int outputChannels = 0;  // 0: unknown
};

// `description` may be null when the file could not be described; the tile
// size must then come from the options. Throws with one clear reason when
// the model cannot run with these options: an input that is not a square
// image of fixed size, a --tile that differs from it, an unknown name.
ModelFit fitModel(const ModelDescription* description, const Options& options);

const char* layoutName(int libraryCode);
