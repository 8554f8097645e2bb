#include "image/utils_image_resize_float.h"

#include <algorithm>
#include <cassert>

namespace {

// floor(v) as an integer without a library call; exact for every float whose
// floor fits in 64 bits.
inline int64_t floorToInt(float v) {
    const int64_t i = static_cast<int64_t>(v);
    return static_cast<float>(i) > v ? i - 1 : i;
}

// ---- Box averages -------------------------------------------------------

// Blocks of at most this many rows keep their row offsets on the stack.
constexpr int64_t kMaxStackK = 64;

// kC > 0: that many channels, unrolled; kC == 0: src.numChannels.
template <int kC>
void boxAverage(const ImageFloat& src, const ImageFloat& dest, int64_t K) {
    const int64_t C = kC > 0 ? kC : src.numChannels;
    const int64_t srcWidth = src.width, srcHeight = src.height;
    const int64_t destWidth = dest.width, destHeight = dest.height;
    const float weight = (1.0f / static_cast<float>(K)) / static_cast<float>(K);
    // Columns whose whole block lies inside the source need no clamping.
    const int64_t inside = std::min(destWidth, srcWidth / K);

    int64_t rowOffset[kMaxStackK];
    for (int64_t y = 0; y < destHeight; ++y) {
        for (int64_t j = 0; j < K; ++j)
            rowOffset[j] = std::min(K * y + j, srcHeight - 1) * srcWidth * C;
        float* out = dest.data + y * destWidth * C;

        for (int64_t x = 0; x < inside; ++x, out += C) {
            const float* block = src.data + K * x * C;
            if constexpr (kC > 0) {
                float acc[kC] = {};
                for (int64_t j = 0; j < K; ++j) {
                    const float* p = block + rowOffset[j];
                    for (int64_t i = 0; i < K; ++i, p += kC)
                        for (int ch = 0; ch < kC; ++ch) acc[ch] += p[ch];
                }
                for (int ch = 0; ch < kC; ++ch) out[ch] = acc[ch] * weight;
            } else {
                for (int64_t ch = 0; ch < C; ++ch) {
                    float acc = 0.0f;
                    for (int64_t j = 0; j < K; ++j) {
                        const float* p = block + rowOffset[j] + ch;
                        for (int64_t i = 0; i < K; ++i) acc += p[i * C];
                    }
                    out[ch] = acc * weight;
                }
            }
        }
        for (int64_t x = inside; x < destWidth; ++x, out += C) {
            for (int64_t ch = 0; ch < C; ++ch) {
                float acc = 0.0f;
                for (int64_t j = 0; j < K; ++j)
                    for (int64_t i = 0; i < K; ++i)
                        acc += src.data[rowOffset[j] + std::min(K * x + i, srcWidth - 1) * C + ch];
                out[ch] = acc * weight;
            }
        }
    }
}

// Any K: every index computed where it is used.
void boxAverageLargeK(const ImageFloat& src, const ImageFloat& dest, int64_t K) {
    const int64_t C = src.numChannels;
    const float weight = (1.0f / static_cast<float>(K)) / static_cast<float>(K);
    float* out = dest.data;
    for (int64_t y = 0; y < dest.height; ++y) {
        for (int64_t x = 0; x < dest.width; ++x, out += C) {
            for (int64_t ch = 0; ch < C; ++ch) {
                float acc = 0.0f;
                for (int64_t j = 0; j < K; ++j) {
                    const int64_t sy = std::min<int64_t>(K * y + j, src.height - 1);
                    for (int64_t i = 0; i < K; ++i) {
                        const int64_t sx = std::min<int64_t>(K * x + i, src.width - 1);
                        acc += src.data[(sy * src.width + sx) * C + ch];
                    }
                }
                out[ch] = acc * weight;
            }
        }
    }
}

void boxAverageAnyChannels(const ImageFloat& src, const ImageFloat& dest, int64_t K) {
    if (dest.width <= 0 || dest.height <= 0 || src.numChannels <= 0 || K <= 0) return;
    if (K > kMaxStackK) return boxAverageLargeK(src, dest, K);
    switch (src.numChannels) {
        case 1: return boxAverage<1>(src, dest, K);
        case 2: return boxAverage<2>(src, dest, K);
        case 3: return boxAverage<3>(src, dest, K);
        case 4: return boxAverage<4>(src, dest, K);
        default: return boxAverage<0>(src, dest, K);
    }
}

// ---- Bilinear sampling ----------------------------------------------------

// One destination row's source rows and row fraction.
struct SampleRows {
    const float* row0;
    const float* row1;
    float ty;
};

// sy = y * scale - shift: the floor raised to 0 gives both rows (each lowered
// to the last row) and, unlowered, the fraction.
inline SampleRows sampleRows(const ImageFloat& src, int64_t y, float scale, float shift,
                             bool shifted) {
    const float sy = shifted ? static_cast<float>(y) * scale - shift
                             : static_cast<float>(y) * scale;
    const int64_t fy0 = std::max<int64_t>(floorToInt(sy), 0);
    const int64_t last = src.height - 1;
    const int64_t stride = static_cast<int64_t>(src.width) * src.numChannels;
    return SampleRows{src.data + std::min(fy0, last) * stride,
                      src.data + std::min(fy0 + 1, last) * stride,
                      sy - static_cast<float>(fy0)};
}

// Column neighbours and weights of one sample: the fraction is measured from
// the unclamped floor.
struct SampleColumn {
    int64_t x0, x1;
    float w00, w01, w10, w11;
};

inline SampleColumn sampleColumn(int64_t x, float scale, float shift, bool shifted,
                                 int64_t srcWidth, float ty, float oneMinusTy) {
    const float sx = shifted ? static_cast<float>(x) * scale - shift
                             : static_cast<float>(x) * scale;
    const int64_t fx0 = floorToInt(sx);
    const int64_t last = srcWidth - 1;
    const float tx = sx - static_cast<float>(fx0);
    const float oneMinusTx = 1.0f - tx;
    return SampleColumn{std::clamp<int64_t>(fx0, 0, last), std::clamp<int64_t>(fx0 + 1, 0, last),
                        oneMinusTx * oneMinusTy, oneMinusTx * ty, tx * oneMinusTy, tx * ty};
}

// Calls sink(x, ch, value) for every destination pixel of `row` and every
// channel below `channels`, the value being the bilinear sample of src.
template <int kC, typename Sink>
inline void sampleRow(const ImageFloat& src, const SampleRows& rows, int64_t destWidth,
                      int64_t channels, float scaleX, float shift, bool shifted, Sink&& sink) {
    const int64_t C = kC > 0 ? kC : src.numChannels;
    const float oneMinusTy = 1.0f - rows.ty;
    for (int64_t x = 0; x < destWidth; ++x) {
        const SampleColumn c =
            sampleColumn(x, scaleX, shift, shifted, src.width, rows.ty, oneMinusTy);
        const float* a = rows.row0 + c.x0 * C;
        const float* b = rows.row1 + c.x0 * C;
        const float* d = rows.row0 + c.x1 * C;
        const float* e = rows.row1 + c.x1 * C;
        const int64_t n = kC > 0 ? kC : channels;
        for (int64_t ch = 0; ch < n; ++ch)
            sink(x, ch, c.w00 * a[ch] + c.w01 * b[ch] + c.w10 * d[ch] + c.w11 * e[ch]);
    }
}

template <int kC>
void resizeImage(const ImageFloat& src, const ImageFloat& dest, float scaleX, float scaleY,
                 bool shifted) {
    const int64_t C = kC > 0 ? kC : src.numChannels;
    constexpr float kShift = 0.25f;
    for (int64_t y = 0; y < dest.height; ++y) {
        const SampleRows rows = sampleRows(src, y, scaleY, kShift, shifted);
        float* out = dest.data + y * dest.width * C;
        sampleRow<kC>(src, rows, dest.width, C, scaleX, kShift, shifted,
                      [out, C](int64_t x, int64_t ch, float v) { out[x * C + ch] = v; });
    }
}

void resizeAnyChannels(const ImageFloat& src, const ImageFloat& dest, float scaleX,
                       float scaleY, bool shifted) {
    if (dest.width <= 0 || dest.height <= 0 || src.width <= 0 || src.height <= 0 ||
        src.numChannels <= 0)
        return;
    switch (src.numChannels) {
        case 1: return resizeImage<1>(src, dest, scaleX, scaleY, shifted);
        case 2: return resizeImage<2>(src, dest, scaleX, scaleY, shifted);
        case 3: return resizeImage<3>(src, dest, scaleX, scaleY, shifted);
        case 4: return resizeImage<4>(src, dest, scaleX, scaleY, shifted);
        default: return resizeImage<0>(src, dest, scaleX, scaleY, shifted);
    }
}

}  // namespace

void downsampleBox(const ImageFloat& src, ImageFloat dest, int32_t downsamplingK) {
    assert(dest.width * downsamplingK == src.width);
    assert(dest.height * downsamplingK == src.height);
    assert(dest.data != nullptr);
    boxAverageAnyChannels(src, dest, downsamplingK);
}

void downsampleBoxClamped(const ImageFloat& src, ImageFloat dest, int32_t downsamplingK) {
    boxAverageAnyChannels(src, dest, downsamplingK);
}

void resizeBilinear(const ImageFloat& src, ImageFloat dest, float scaleX, float scaleY) {
    assert(src.numChannels == dest.numChannels);
    resizeAnyChannels(src, dest, scaleX, scaleY, false);
}

void upsampleBilinearShifted(const ImageFloat& src, ImageFloat dest, float scaleX, float scaleY) {
    resizeAnyChannels(src, dest, scaleX, scaleY, true);
}

void transferDetail(const ImageFloat& src_full_scale, ImageFloat target_full_scale,
                    const ImageFloat& reference, const ImageFloat& low, int32_t downsamplingK) {
    assert(src_full_scale.width == target_full_scale.width);
    assert(src_full_scale.height == target_full_scale.height);
    assert(src_full_scale.numChannels == target_full_scale.numChannels);
    const int64_t channels = std::min(src_full_scale.numChannels, low.numChannels);
    if (channels <= 0 || low.width <= 0 || low.height <= 0) return;
    const float invK = 1.0f / static_cast<float>(downsamplingK);
    const int64_t width = target_full_scale.width;
    const int64_t cs = src_full_scale.numChannels;
    const int64_t ct = target_full_scale.numChannels;
    const int64_t cr = reference.numChannels;
    for (int64_t y = 0; y < target_full_scale.height; ++y) {
        const SampleRows rows = sampleRows(low, y, invK, 0.0f, false);
        const float* s = src_full_scale.data + y * src_full_scale.width * cs;
        const float* r = reference.data + y * reference.width * cr;
        float* t = target_full_scale.data + y * width * ct;
        sampleRow<0>(low, rows, width, channels, invK, 0.0f, false,
                     [=](int64_t x, int64_t ch, float v) {
                         t[x * ct + ch] = r[x * cr + ch] - v + s[x * cs + ch];
                     });
    }
}
