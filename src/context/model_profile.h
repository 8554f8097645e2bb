// A model's profile: how the host's values become the model's and back
// (velmora.h, "The model's profile"), and where it was read from.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "diagnostics/expected.h"

// The most channels a profile gives a mean and a std for.
inline constexpr size_t kProfileChannels = 8;

enum class OutputRole { Image, Mask, Scores };
// In the order of precedence: a later source overrides an earlier one.
enum class ProfileSource { None, Metadata, Sidecar, Host };

struct ModelProfile {
    // Per channel of the model; mean and std always have the same length.
    // Empty: every channel 0 and 1. One value serves every channel; past a
    // longer list, channels take 0 and 1.
    std::vector<float> mean;
    std::vector<float> std;
    float inputLow = 0.0f, inputHigh = 1.0f;  // the model's values for the host's 0 and 1
    bool bgr = false;                         // the model takes blue first
    OutputRole output = OutputRole::Image;
    float outputLow = 0.0f, outputHigh = 1.0f;  // an image output's values for 0 and 1
    ProfileSource source = ProfileSource::None;

    // True when neither transform would change a value.
    bool identity() const;
};

// Names of a profile's parts in the words of a refusal, as the place the
// profile came from spells them.
struct ProfileKeys {
    const char* mean;
    const char* std;
    const char* inputRange;
    const char* outputRange;
};

// Whether the values can be applied: lists of at most kProfileChannels,
// mean and std of one length, finite numbers, no std of 0 and ranges whose
// ends differ. Words name the key.
Status checkProfile(const ModelProfile& profile, const ProfileKeys& keys);

// A sidecar text (MODEL.onnx.json): a JSON object with the keys "mean",
// "std", "input_range", "colors", "output" and "output_range", each
// optional; any other key is refused. The source is Sidecar.
Expected<ModelProfile> parseProfileText(const std::string& json);

// The model's metadata properties "velmora.*" (other keys are ignored): the
// source is Metadata, or None when the model has none of them.
Expected<ModelProfile> profileFromMetadata(const std::map<std::string, std::string>& properties);
