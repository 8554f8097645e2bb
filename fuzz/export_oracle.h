// What the exports must give where the answer is known: the byte
// conversions of the 8-bit paths and comparisons of a result with the image
// it came from. Each comparison returns an empty text when the result is
// right, else the first difference in words.
#pragma once

#include <cstdint>
#include <string>

#include "export_call.h"

// A byte of the 8-bit input as the model sees it.
inline float byteValue(uint8_t b, float scale) { return static_cast<float>(b) * scale; }

// A model value as a result byte: x * scale + 0.5 truncated toward zero and
// clamped to [0, 255]; a value whose truncation leaves the 32-bit range (NaN
// and the infinities too) gives the processor's conversion, INT32_MIN, so 0.
uint8_t resultByte(float x, float scale);

// A model value as a byte of the direct 8-bit run: x * scale truncated toward
// zero and clamped to [0, 255], with no half added; what a 32-bit integer
// cannot hold becomes 0.
uint8_t truncatedByte(float x, float scale);

// The index of the largest of n values; ties and NaN keep the lower index.
int largestIndex(const float* values, int n);

// Interleaved float images of `pixels` pixels. For each of the first
// `channels` channels of every pixel, `result` (resultChannels per pixel)
// must equal `source` (sourceChannels per pixel) bit for bit (NaN and the
// sign of zero included) when tolerance is 0, else within
// tolerance x (1 + |source|), where values that are not finite are skipped.
std::string compareChannels(const float* source, int sourceChannels, const float* result, int resultChannels,
                            int64_t pixels, int channels, float tolerance);

// Bytes against expected bytes, `channels` per pixel in both, within `slack`.
std::string compareBytes(const uint8_t* expected, const uint8_t* result, int64_t count, int slack);

// What a call made from a running call's progress callback meets.
enum class Reentry {
    Refused,   // fails, with words naming it
    Admitted,  // runs as it would outside
    Raises,    // VelmoraException: a second tiled float prediction in the process
};

// On the running call's context whatever would disturb it is refused; on
// another context every call runs, but the tiled float calls admit one caller
// per process.
Reentry expectedReentry(Api api, bool sameContext, bool outerIsTiledFloat);

inline constexpr const char* kReleasedWords = "the result was released (deallocateImage) during the run";
inline constexpr const char* kProcessBusyText = "Velmora exception: No multithreading allowed!!!";

// Whether `words` holds a line "<who>: the context is in another call ...".
bool namesRefusal(const std::string& words, const char* who);
// `words` less its lines that start with `prefix`.
std::string withoutLines(const std::string& words, const std::string& prefix);
