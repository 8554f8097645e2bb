// Fitting a picture's channels to what a model takes, and shaping the
// model's result into what is written: output scale, alpha put back, and a
// gray picture kept gray.
#pragma once

#include <cstdint>
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

// Rec. 709 luminance of an RGB value.
inline float luminance(float r, float g, float b) { return 0.2126f * r + 0.7152f * g + 0.0722f * b; }

// How a result row becomes the row that is written.
class ResultShape {
public:
    // `resultChannels`: what the library gave; `alphaAside`: whether an alpha
    // waits to be put back behind a gray or RGB result; `grayPicture`: the
    // input was gray and its colour result is to be written as luminance;
    // `dropAlpha`: the format has no alpha (JPEG).
    ResultShape(int32_t resultChannels, float outputScale, bool alphaAside, bool grayPicture, bool dropAlpha);
    int32_t writtenChannels() const { return written; }
    // One pixel of the result (resultChannels values, before the output
    // scale) and its set-aside alpha, to writtenChannels values.
    void apply(const float* result, float alpha, float* out) const;

private:
    int32_t in, written;
    float scale;
    bool toGray, addAlpha, keepResultAlpha;
};
