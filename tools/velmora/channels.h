// Fitting a picture's channels to what a model takes, and shaping the
// model's result into what is written: output scale, alpha put back, and a
// gray picture kept gray.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// Gray becomes RGB by repetition for a 3-channel model; an alpha channel the
// model does not take is set aside; a 4-channel model gets an opaque alpha
// when the picture has none. Model channels 0 (unknown) take the picture as
// it is. The constructor throws when the picture cannot be fitted (for
// instance RGB for a gray model).
class ChannelFit {
public:
    ChannelFit(int32_t pictureChannels, int32_t modelChannels);
    int32_t pictureChannels() const { return have; }
    int32_t modelChannels() const { return give; }
    bool setsAlphaAside() const { return alphaAside; }
    // One pixel: `in` has pictureChannels values, `out` gets modelChannels,
    // and `alpha` the set-aside alpha when setsAlphaAside().
    void apply(const float* in, float* out, float* alpha) const;

private:
    int32_t have, give;
    int32_t pictureColor, modelColor;
    bool pictureAlpha, alphaAside;
};

// Values mapped channel by channel: v * gain[c] + offset[c]. A list of one
// value stands for every channel.
class ChannelMap {
public:
    ChannelMap() = default;
    // v * scale
    static ChannelMap scaling(float scale);
    // (v * scale - mean[c]) / deviation[c], as a model trained on normalised
    // pictures takes them; empty lists leave that part out.
    static ChannelMap normalizing(float scale, const std::vector<float>& mean, const std::vector<float>& deviation);
    // (v * deviation[c] + mean[c]) * scale: the inverse, for a result in the
    // same units, then the output scale.
    static ChannelMap denormalizing(float scale, const std::vector<float>& mean, const std::vector<float>& deviation);

    float operator()(int32_t channel, float v) const { return v * pick(gain, channel) + pick(offset, channel); }
    bool isIdentity() const;
    // How many channels the map names one by one: 1 when one value serves all.
    size_t channelsNamed() const { return std::max(gain.size(), offset.size()); }

private:
    // One gain and offset for each channel that the mean or the deviation
    // names (at least one), made from that channel's mean and deviation.
    template <typename GainAndOffset>
    static ChannelMap perChannel(const std::vector<float>& mean, const std::vector<float>& deviation,
                                 GainAndOffset make);
    static float pick(const std::vector<float>& list, int32_t c) {
        return list.size() == 1 ? list[0] : list[static_cast<size_t>(c)];
    }
    std::vector<float> gain{1.0f};
    std::vector<float> offset{0.0f};
};

// Empty when the map fits `channels` channels (0: not known yet); else the
// sentence that says so, naming the options that gave the values ("--mean
// gives 3 values per pixel; the model takes 4 channels").
std::string mapProblem(const ChannelMap& map, int32_t channels, const std::string& options, bool onOutput);

// Rec. 709 luminance of an RGB value.
inline float luminance(float r, float g, float b) { return 0.2126f * r + 0.7152f * g + 0.0722f * b; }

// How a result row becomes the row that is written.
class ResultShape {
public:
    // `resultChannels`: what the library gave; `values`: what becomes of
    // each channel's values (the output scale, and the inverse
    // normalisation); `alphaAside`: whether an alpha waits to be put back
    // behind a gray or RGB result; `grayPicture`: the input was gray and its
    // colour result is to be written as luminance; `dropAlpha`: the format
    // has no alpha (JPEG).
    ResultShape(int32_t resultChannels, const ChannelMap& values, bool alphaAside, bool grayPicture, bool dropAlpha);
    int32_t writtenChannels() const { return written; }
    // One pixel of the result (resultChannels values, as the library gave
    // them) and its set-aside alpha, to writtenChannels values.
    void apply(const float* result, float alpha, float* out) const;

private:
    int32_t in, written;
    ChannelMap values;
    bool toGray, addAlpha, keepResultAlpha;
};
