// The model as the command runs it: its file read whole, loaded into a
// library context with the names and layout codes the user gave, its
// profile set up, and described by the library, which reads the shapes.
// What the command decides from the description: whether it runs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "options.h"
#include "profile_choice.h"
#include "velmora.hpp"

struct LoadedModel {
    velmora::Context context;
    VelmoraModelInfo info{};
    uint64_t fileBytes = 0;
    ChosenProfile profile;

    // Whether the library has measured the model (its plans then need no picture).
    bool measured();
};

// Throws with the file's name for a missing or unreadable file, one over
// 4 GiB, one the runtime refuses, or a profile that cannot be read.
LoadedModel loadModel(const std::filesystem::path& path, const Options& options);

// Why tiled runs cannot take the model with these options, in the command's
// words (an unknown --input-name or --output-name, more than one input, an
// element type the library does not convert, a layout given by hand that
// the shape contradicts, a --tile that differs from the model's side, or the
// library's own reason); empty when they can.
std::string modelRefusal(const VelmoraModelInfo& model, const Options& options);

// "float16", "uint8", ... for an ONNX element type code.
std::string elementTypeName(int32_t code);

// "[1, 3, ?, ?]", with "?" for open dimensions.
std::string dimsText(const VelmoraTensorInfo& tensor);

const char* layoutName(int32_t libraryCode);
