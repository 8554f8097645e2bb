// The model's profile as the command sets it up: the sidecar beside the
// model (MODEL.onnx.json) or --profile's file, else the model's metadata;
// --mean, --std and --output-role laid over it as the host's profile, so
// that the library applies the normalisation, once.
#pragma once

#include <filesystem>
#include <string>

#include "options.h"
#include "velmora.hpp"

struct ChosenProfile {
    VelmoraProfile profile{};  // in effect
    std::string origin;        // where it came from, in words
};

// The sidecar the command reads for `model`: --profile's file, else
// MODEL.onnx.json beside the model when there is one; empty when none.
std::filesystem::path sidecarFor(const std::filesystem::path& model, const Options& options);

// `base` with the options' values laid over it: --mean and --std replace its
// lists (a list of one value serves every channel, a list left out keeps the
// profile's), --output-role its output. Throws std::runtime_error when the
// lists cannot go together.
VelmoraProfile withOverrides(VelmoraProfile base, const Options& options);

// Reads the sidecar into the context, lays the options over it and returns
// the profile in effect. Throws, naming the file, for a sidecar that cannot
// be read or is not a profile.
ChosenProfile setUpProfile(velmora::Context& context, const std::filesystem::path& model, const Options& options);

// "mean 0.485, 0.456, 0.406; std 0.229, 0.224, 0.225; output mask", the
// parts that differ from no profile at all ("values as they are" when none).
std::string profileText(const VelmoraProfile& profile);

// "an image", "a mask", "class scores" for VELMORA_OUTPUT_*.
const char* outputRoleName(int32_t code);

// Whether the profile says the output is a mask.
inline bool givesMask(const VelmoraProfile& p) { return p.output == VELMORA_OUTPUT_MASK; }
