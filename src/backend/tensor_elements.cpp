#include "backend/tensor_elements.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <immintrin.h>
#define VELMORA_HAVE_F16C_PATH 1
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// ---- Half precision -----------------------------------------------------

uint16_t halfFromBits(uint32_t x) {
    const uint16_t sign = static_cast<uint16_t>((x >> 16) & 0x8000u);
    const uint32_t magnitude = x & 0x7fffffffu;
    const uint32_t exponent = magnitude >> 23;
    if (exponent == 0xff) {
        if (magnitude == 0x7f800000u) return sign | 0x7c00u;
        // A NaN stays a NaN: the quiet bit keeps the payload from becoming 0.
        return static_cast<uint16_t>(sign | 0x7e00u | ((magnitude >> 13) & 0x3ffu));
    }
    if (exponent >= 143) return sign | 0x7c00u;  // 2^16 and beyond: past the largest half
    if (exponent >= 113) {
        // Normal: the exponent rebiased, the mantissa rounded to 10 bits. A
        // carry out of the mantissa raises the exponent, up to infinity.
        uint32_t half = ((exponent - 112) << 10) | ((magnitude >> 13) & 0x3ffu);
        const uint32_t rest = magnitude & 0x1fffu;
        if (rest > 0x1000u || (rest == 0x1000u && (half & 1u))) ++half;
        return static_cast<uint16_t>(sign | half);
    }
    // Subnormal or zero: the value in units of 2^-24, rounded.
    if (exponent < 102) return sign;  // below 2^-25: rounds to zero
    const uint32_t mantissa = (magnitude & 0x7fffffu) | 0x800000u;
    const uint32_t shift = 126 - exponent;  // 14 to 24
    uint32_t half = mantissa >> shift;
    const uint32_t rest = mantissa & ((1u << shift) - 1);
    const uint32_t halfway = 1u << (shift - 1);
    if (rest > halfway || (rest == halfway && (half & 1u))) ++half;
    return static_cast<uint16_t>(sign | half);
}

float floatFromHalf(uint16_t h) {
    const uint32_t sign = static_cast<uint32_t>(h & 0x8000u) << 16;
    const uint32_t exponent = (h >> 10) & 0x1fu;
    const uint32_t mantissa = h & 0x3ffu;
    if (exponent == 0) {
        // Zero or subnormal: mantissa x 2^-24, exact in single precision.
        const float magnitude = static_cast<float>(mantissa) * 0x1p-24f;
        return sign ? -magnitude : magnitude;
    }
    if (exponent == 0x1f) {
        // Infinity; a NaN comes back quiet, as the processor's conversion gives it.
        const uint32_t quiet = mantissa ? 0x400000u : 0u;
        return std::bit_cast<float>(sign | 0x7f800000u | quiet | (mantissa << 13));
    }
    return std::bit_cast<float>(sign | ((exponent + 112) << 23) | (mantissa << 13));
}

uint16_t bfloatFromBits(uint32_t x) {
    if ((x & 0x7fffffffu) > 0x7f800000u) return static_cast<uint16_t>((x >> 16) | 0x40u);  // quiet NaN
    const uint32_t roundingBias = 0x7fffu + ((x >> 16) & 1u);
    return static_cast<uint16_t>((x + roundingBias) >> 16);
}

// ---- Contiguous runs ----------------------------------------------------

#ifdef VELMORA_HAVE_F16C_PATH
// The processor's own conversion rounds to nearest even and keeps
// subnormals, infinities and NaN (quietened) as the scalar form does.
__attribute__((target("avx,f16c"))) void floatsToHalvesF16c(const float* src, size_t count, uint16_t* dest) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i h = _mm256_cvtps_ph(_mm256_loadu_ps(src + i), _MM_FROUND_TO_NEAREST_INT);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), h);
    }
    for (; i < count; ++i) dest[i] = halfFromBits(std::bit_cast<uint32_t>(src[i]));
}

__attribute__((target("avx,f16c"))) void halvesToFloatsF16c(const uint16_t* src, size_t count, float* dest) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8)
        _mm256_storeu_ps(dest + i, _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i))));
    for (; i < count; ++i) dest[i] = floatFromHalf(src[i]);
}

bool processorConvertsHalves() {
    // F16C is read from the processor's own feature bits: clang before 15 knows
    // no "f16c" for __builtin_cpu_supports, which checks AVX's OS support.
    static const bool supported = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __builtin_cpu_supports("avx") && __get_cpuid(1, &a, &b, &c, &d) && (c & bit_F16C) != 0;
    }();
    return supported;
}
#endif

void floatsToHalves(const float* src, size_t count, uint16_t* dest) {
#ifdef VELMORA_HAVE_F16C_PATH
    if (processorConvertsHalves()) return floatsToHalvesF16c(src, count, dest);
#endif
    for (size_t i = 0; i < count; ++i) dest[i] = halfFromBits(std::bit_cast<uint32_t>(src[i]));
}

void halvesToFloats(const uint16_t* src, size_t count, float* dest) {
#ifdef VELMORA_HAVE_F16C_PATH
    if (processorConvertsHalves()) return halvesToFloatsF16c(src, count, dest);
#endif
    for (size_t i = 0; i < count; ++i) dest[i] = floatFromHalf(src[i]);
}

// Planar layouts go through a short run per channel, gathered or scattered
// with the image's stride, so that every conversion works on contiguous data.
constexpr int64_t kRun = 512;

template <typename Store>
void storePlanesInRuns(const float* interleaved, int64_t pixels, int64_t channels, int64_t planeStride, Store&& store) {
    float run[kRun];
    for (int64_t first = 0; first < pixels; first += kRun) {
        const int64_t n = std::min(kRun, pixels - first);
        for (int64_t ch = 0; ch < channels; ++ch) {
            const float* s = interleaved + first * channels + ch;
            for (int64_t i = 0; i < n; ++i) run[i] = s[i * channels];
            store(run, static_cast<size_t>(n), ch * planeStride + first);
        }
    }
}

template <typename Load>
void loadPlanesInRuns(int64_t pixels, int64_t channels, int64_t planeStride, float* interleaved, Load&& load) {
    float run[kRun];
    for (int64_t first = 0; first < pixels; first += kRun) {
        const int64_t n = std::min(kRun, pixels - first);
        for (int64_t ch = 0; ch < channels; ++ch) {
            load(ch * planeStride + first, static_cast<size_t>(n), run);
            float* d = interleaved + first * channels + ch;
            for (int64_t i = 0; i < n; ++i) d[i * channels] = run[i];
        }
    }
}

#if defined(__SSE2__)
// Four pixels of three channels, (r0 g0 b0 r1) (g1 b1 r2 g2) (b2 r3 g3 b3),
// to one register per channel, and back.
inline void splitFour(const float* in, float* r, float* g, float* b) {
    const __m128 x = _mm_loadu_ps(in), y = _mm_loadu_ps(in + 4), z = _mm_loadu_ps(in + 8);
    const __m128 yz02 = _mm_shuffle_ps(y, z, _MM_SHUFFLE(1, 1, 2, 2));  // r2 r2 r3 r3
    _mm_storeu_ps(r, _mm_shuffle_ps(x, yz02, _MM_SHUFFLE(2, 0, 3, 0)));
    const __m128 xy1 = _mm_shuffle_ps(x, y, _MM_SHUFFLE(0, 0, 1, 1));  // g0 g0 g1 g1
    const __m128 yz3 = _mm_shuffle_ps(y, z, _MM_SHUFFLE(2, 2, 3, 3));  // g2 g2 g3 g3
    _mm_storeu_ps(g, _mm_shuffle_ps(xy1, yz3, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128 xy2 = _mm_shuffle_ps(x, y, _MM_SHUFFLE(1, 1, 2, 2));  // b0 b0 b1 b1
    const __m128 zz = _mm_shuffle_ps(z, z, _MM_SHUFFLE(3, 3, 0, 0));   // b2 b2 b3 b3
    _mm_storeu_ps(b, _mm_shuffle_ps(xy2, zz, _MM_SHUFFLE(2, 0, 2, 0)));
}

inline void joinFour(const float* r, const float* g, const float* b, float* out) {
    const __m128 R = _mm_loadu_ps(r), G = _mm_loadu_ps(g), B = _mm_loadu_ps(b);
    const __m128 rg0 = _mm_shuffle_ps(R, G, _MM_SHUFFLE(0, 0, 0, 0));  // r0 r0 g0 g0
    const __m128 br0 = _mm_shuffle_ps(B, R, _MM_SHUFFLE(1, 1, 0, 0));  // b0 b0 r1 r1
    _mm_storeu_ps(out, _mm_shuffle_ps(rg0, br0, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128 gb1 = _mm_shuffle_ps(G, B, _MM_SHUFFLE(1, 1, 1, 1));  // g1 g1 b1 b1
    const __m128 rg2 = _mm_shuffle_ps(R, G, _MM_SHUFFLE(2, 2, 2, 2));  // r2 r2 g2 g2
    _mm_storeu_ps(out + 4, _mm_shuffle_ps(gb1, rg2, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128 br2 = _mm_shuffle_ps(B, R, _MM_SHUFFLE(3, 3, 2, 2));  // b2 b2 r3 r3
    const __m128 gb3 = _mm_shuffle_ps(G, B, _MM_SHUFFLE(3, 3, 3, 3));  // g3 g3 b3 b3
    _mm_storeu_ps(out + 8, _mm_shuffle_ps(br2, gb3, _MM_SHUFFLE(2, 0, 2, 0)));
}
#endif

#ifdef VELMORA_HAVE_F16C_PATH
// Three channels into half-precision planes in one pass: four pixels split
// into a register per channel, each converted by the processor.
__attribute__((target("avx,f16c"))) int64_t storeThreeHalfPlanesF16c(const float* interleaved, int64_t pixels,
                                                                     int64_t planeStride, uint16_t* planes) {
    uint16_t* r = planes;
    uint16_t* g = planes + planeStride;
    uint16_t* b = planes + 2 * planeStride;
    alignas(16) float split[3][4];
    int64_t p = 0;
    for (; p + 4 <= pixels; p += 4, interleaved += 12) {
        splitFour(interleaved, split[0], split[1], split[2]);
        uint16_t* outs[3] = {r + p, g + p, b + p};
        for (int ch = 0; ch < 3; ++ch)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(outs[ch]),
                             _mm_cvtps_ph(_mm_load_ps(split[ch]), _MM_FROUND_TO_NEAREST_INT));
    }
    return p;  // the pixels done
}
#endif

// Single precision: a transposition and nothing else, three channels (the
// common image) four pixels at a time where the processor allows.
void transposeToPlanes(const float* interleaved, int64_t pixels, int64_t channels, int64_t planeStride, float* planes) {
    if (channels == 3) {
        float* r = planes;
        float* g = planes + planeStride;
        float* b = planes + 2 * planeStride;
        int64_t p = 0;
#if defined(__SSE2__)
        for (; p + 4 <= pixels; p += 4, interleaved += 12) splitFour(interleaved, r + p, g + p, b + p);
#endif
        for (; p < pixels; ++p, interleaved += 3) {
            r[p] = interleaved[0];
            g[p] = interleaved[1];
            b[p] = interleaved[2];
        }
        return;
    }
    for (int64_t p = 0; p < pixels; ++p)
        for (int64_t ch = 0; ch < channels; ++ch) planes[ch * planeStride + p] = interleaved[p * channels + ch];
}

void transposeFromPlanes(const float* planes, int64_t pixels, int64_t channels, int64_t planeStride,
                         float* interleaved) {
    if (channels == 3) {
        const float* r = planes;
        const float* g = planes + planeStride;
        const float* b = planes + 2 * planeStride;
        int64_t p = 0;
#if defined(__SSE2__)
        for (; p + 4 <= pixels; p += 4, interleaved += 12) joinFour(r + p, g + p, b + p, interleaved);
#endif
        for (; p < pixels; ++p, interleaved += 3) {
            interleaved[0] = r[p];
            interleaved[1] = g[p];
            interleaved[2] = b[p];
        }
        return;
    }
    for (int64_t p = 0; p < pixels; ++p)
        for (int64_t ch = 0; ch < channels; ++ch) interleaved[p * channels + ch] = planes[ch * planeStride + p];
}

}  // namespace

size_t convertedElementBytes(ONNXTensorElementDataType type) {
    switch (type) {
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT: return 4;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE: return 8;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16: return 2;
        default: return 0;
    }
}

std::string elementTypeName(ONNXTensorElementDataType type) {
    switch (type) {
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT: return "float";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT8: return "uint8";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT8: return "int8";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT16: return "uint16";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT16: return "int16";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT32: return "int32";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64: return "int64";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_STRING: return "string";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BOOL: return "bool";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16: return "float16";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE: return "double";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT32: return "uint32";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT64: return "uint64";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_COMPLEX64: return "complex64";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_COMPLEX128: return "complex128";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16: return "bfloat16";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E4M3FN: return "float8e4m3fn";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E4M3FNUZ: return "float8e4m3fnuz";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E5M2: return "float8e5m2";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E5M2FNUZ: return "float8e5m2fnuz";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT4: return "uint4";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT4: return "int4";
        default: return "element type " + std::to_string(static_cast<int>(type));
    }
}

std::string refusedElementType(ONNXTensorElementDataType type, const char* verb, const char* end,
                               const std::string& name) {
    if (convertedElementBytes(type) != 0) return {};
    return std::string(verb) + " " + elementTypeName(type) + " values at its " + end + " \"" + name +
           "\", which the library does not convert";
}

uint16_t floatToHalf(float value) { return halfFromBits(std::bit_cast<uint32_t>(value)); }
float halfToFloat(uint16_t bits) { return floatFromHalf(bits); }
uint16_t floatToBfloat16(float value) { return bfloatFromBits(std::bit_cast<uint32_t>(value)); }
float bfloat16ToFloat(uint16_t bits) { return std::bit_cast<float>(static_cast<uint32_t>(bits) << 16); }

void storeElements(const float* src, size_t count, ONNXTensorElementDataType type, void* dest) {
    switch (type) {
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT: std::memcpy(dest, src, count * sizeof(float)); return;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16: return floatsToHalves(src, count, static_cast<uint16_t*>(dest));
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16: {
            auto* d = static_cast<uint16_t*>(dest);
            for (size_t i = 0; i < count; ++i) d[i] = floatToBfloat16(src[i]);
            return;
        }
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE: {
            auto* d = static_cast<double*>(dest);
            for (size_t i = 0; i < count; ++i) d[i] = src[i];
            return;
        }
        default: return;
    }
}

void loadElements(const void* src, ONNXTensorElementDataType type, size_t count, float* dest) {
    switch (type) {
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT: std::memcpy(dest, src, count * sizeof(float)); return;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16:
            return halvesToFloats(static_cast<const uint16_t*>(src), count, dest);
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16: {
            const auto* s = static_cast<const uint16_t*>(src);
            for (size_t i = 0; i < count; ++i) dest[i] = bfloat16ToFloat(s[i]);
            return;
        }
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE: {
            const auto* s = static_cast<const double*>(src);
            for (size_t i = 0; i < count; ++i) dest[i] = static_cast<float>(s[i]);
            return;
        }
        default: return;
    }
}

void storePlanar(const float* interleaved, int64_t pixels, int64_t channels, ONNXTensorElementDataType type,
                 void* planes, int64_t planeStride) {
    if (planeStride < 0) planeStride = pixels;
    if (channels == 1) return storeElements(interleaved, static_cast<size_t>(pixels), type, planes);
    if (type == ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT)
        return transposeToPlanes(interleaved, pixels, channels, planeStride, static_cast<float*>(planes));
#ifdef VELMORA_HAVE_F16C_PATH
    if (type == ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16 && channels == 3 && processorConvertsHalves()) {
        auto* halves = static_cast<uint16_t*>(planes);
        const int64_t done = storeThreeHalfPlanesF16c(interleaved, pixels, planeStride, halves);
        for (int64_t p = done; p < pixels; ++p)
            for (int64_t ch = 0; ch < 3; ++ch) halves[ch * planeStride + p] = floatToHalf(interleaved[p * 3 + ch]);
        return;
    }
#endif
    const size_t bytes = convertedElementBytes(type);
    storePlanesInRuns(interleaved, pixels, channels, planeStride, [&](const float* run, size_t n, int64_t at) {
        storeElements(run, n, type, static_cast<char*>(planes) + static_cast<size_t>(at) * bytes);
    });
}

void loadPlanar(const void* planes, ONNXTensorElementDataType type, int64_t pixels, int64_t channels,
                float* interleaved, int64_t planeStride) {
    if (planeStride < 0) planeStride = pixels;
    if (channels == 1) return loadElements(planes, type, static_cast<size_t>(pixels), interleaved);
    if (type == ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT)
        return transposeFromPlanes(static_cast<const float*>(planes), pixels, channels, planeStride, interleaved);
    const size_t bytes = convertedElementBytes(type);
    loadPlanesInRuns(pixels, channels, planeStride, interleaved, [&](int64_t at, size_t n, float* run) {
        loadElements(static_cast<const char*>(planes) + static_cast<size_t>(at) * bytes, type, n, run);
    });
}
