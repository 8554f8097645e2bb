#include "export_oracle.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

uint8_t resultByte(float x, float scale) {
    const float v = x * scale + 0.5f;
    if (!(v < 2147483648.0f) || !(v >= -2147483648.0f)) return 0;
    const int32_t t = static_cast<int32_t>(v);
    return static_cast<uint8_t>(t < 0 ? 0 : t > 255 ? 255 : t);
}

uint8_t truncatedByte(float x, float scale) {
    const float v = x * scale;
    if (!(v < 2147483648.0f) || !(v > -2147483648.0f)) return 0;
    const int32_t t = static_cast<int32_t>(v);
    return static_cast<uint8_t>(t < 0 ? 0 : t > 255 ? 255 : t);
}

int largestIndex(const float* values, int n) {
    int best = 0;
    for (int i = 1; i < n; ++i)
        if (values[i] > values[best]) best = i;
    return best;
}

std::string compareChannels(const float* source, int sourceChannels, const float* result, int resultChannels,
                            int64_t pixels, int channels, float tolerance) {
    for (int64_t p = 0; p < pixels; ++p) {
        for (int ch = 0; ch < channels; ++ch) {
            const float s = source[p * sourceChannels + ch];
            const float r = result[p * resultChannels + ch];
            bool same;
            if (tolerance == 0.0f) {
                same = std::memcmp(&s, &r, sizeof s) == 0;
            } else {
                if (!std::isfinite(s)) continue;
                same = std::fabs(r - s) <= tolerance * (1.0f + std::fabs(s));
            }
            if (!same)
                return "pixel " + std::to_string(p) + " channel " + std::to_string(ch) + ": " + std::to_string(r) +
                       " where " + std::to_string(s) + " was expected";
        }
    }
    return {};
}

std::string compareBytes(const uint8_t* expected, const uint8_t* result, int64_t count, int slack) {
    for (int64_t i = 0; i < count; ++i)
        if (std::abs(int{expected[i]} - int{result[i]}) > slack)
            return "byte " + std::to_string(i) + ": " + std::to_string(result[i]) + " where " +
                   std::to_string(expected[i]) + " was expected";
    return {};
}

Reentry expectedReentry(Api api, bool sameContext, bool outerIsTiledFloat) {
    if (!sameContext)
        return outerIsTiledFloat && (api == Api::TilesFloat || api == Api::TilesImageFloat) ? Reentry::Raises
                                                                                            : Reentry::Admitted;
    switch (api) {
        case Api::LoadModel:
        case Api::LoadModelEx:
        case Api::Predict:
        case Api::PredictFloat:
        case Api::Predict2Inputs:
        case Api::Predict3Inputs:
        case Api::TilesBytes:
        case Api::TilesFloat:
        case Api::TilesImageFloat:
        case Api::Plan:
        case Api::MeasureModel:
        case Api::PlannedPredict:
        case Api::SetProfile:
        case Api::LoadProfile: return Reentry::Refused;
        default: return Reentry::Admitted;
    }
}

namespace {
std::string refusalLine(const char* who) { return std::string(who) + ": the context is in another call"; }
}  // namespace

bool namesRefusal(const std::string& words, const char* who) {
    const std::string line = refusalLine(who);
    for (size_t at = 0; at < words.size(); at = words.find('\n', at) + 1) {
        if (words.compare(at, line.size(), line) == 0) return true;
        if (words.find('\n', at) == std::string::npos) break;
    }
    return false;
}

std::string withoutLines(const std::string& words, const std::string& prefix) {
    std::string kept;
    for (size_t at = 0; at < words.size();) {
        const size_t end = std::min(words.find('\n', at), words.size());
        if (words.compare(at, prefix.size(), prefix) != 0) kept.append(words, at, end + 1 - at);
        at = end + 1;
    }
    return kept;
}
