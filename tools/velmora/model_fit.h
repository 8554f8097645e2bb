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
    bool openSize = false;   // the model leaves its sides open: the tile is the command's choice
    int inputChannels = 0;   // 0: open (the picture's own)
    int outputChannels = 0;  // 0: open, known after a run
    int scale = 0;           // result side / tile side; 0: open, known after a run
};

// `description` may be null when the file could not be described; the tile
// size must then come from the options. Throws with one clear reason when
// the model cannot run with these options: an input that is not a square
// image, a --tile that differs from a fixed size, an element type the
// library does not convert, a result that is no whole multiple of the tile,
// an unknown name.
//
// With layout Auto the shapes decide as the library reads them: the layout
// whose two sides are open or equal; where both or neither are, channels-last.
// A layout given by hand reads the shape that way.
ModelFit fitModel(const ModelDescription* description, const Options& options);

const char* layoutName(int libraryCode);

// "float16", "uint8", ... for an ONNX element type code.
std::string elementTypeName(int32_t code);
