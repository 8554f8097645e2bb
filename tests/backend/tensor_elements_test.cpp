// Element conversions at the model's boundary, checked against the runtime's
// own Cast (which rounds to nearest, ties to even) and, where the compiler
// has a half-precision type, against the compiler's conversion.
#include "backend/tensor_elements.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "backend/ModelLogicONNX.h"
#include "support/model_files.h"

namespace {

uint32_t bits(float v) { return std::bit_cast<uint32_t>(v); }
float fromBits(uint32_t b) { return std::bit_cast<float>(b); }

// Values where rounding is hard: zeros, the ends of the subnormal and normal
// ranges of both formats and the points halfway between neighbours, then
// random bit patterns over every exponent.
std::vector<float> hardValues() {
    std::vector<float> v = {
        0.0f,           -0.0f,           0x1p-25f,     -0x1p-25f,    0x1.000002p-25f, 0x1p-24f,
        0x1.8p-24f,     0x1p-14f,        0x1.ffcp-15f, 0x1.ffep-15f, 65504.0f,        65519.99f,
        65520.0f,       -65520.0f,       1e10f,        1.0f,         1.0009765625f,   1.00048828125f,
        1.00146484375f, 0x1.fffffep127f, 0x1p-149f,    -0x1p-149f,   0x1p-126f,       3.0f};
    v.push_back(std::numeric_limits<float>::infinity());
    v.push_back(-std::numeric_limits<float>::infinity());
    v.push_back(std::numeric_limits<float>::quiet_NaN());
    v.push_back(fromBits(0x7f800001u));  // signalling NaN
    v.push_back(fromBits(0xffc01234u));  // negative NaN with a payload
    // Every point halfway between two neighbouring halves, and its neighbours.
    for (uint32_t h = 0; h < 0x7c00u; h += 7) {
        const float low = halfToFloat(static_cast<uint16_t>(h)), high = halfToFloat(static_cast<uint16_t>(h + 1));
        const float mid = low + (high - low) / 2;
        v.insert(v.end(), {mid, -mid, std::nextafter(mid, 0.0f), std::nextafter(mid, 1e9f)});
    }
    // Bfloat16's halfway points.
    for (uint32_t b = 0; b < 0x7f80u; b += 13) {
        const uint32_t mid = (b << 16) | 0x8000u;
        v.insert(v.end(), {fromBits(mid), fromBits(mid - 1), fromBits(mid + 1), fromBits(mid | 0x80000000u)});
    }
    std::mt19937 rng(99);
    for (int i = 0; i < 200000; ++i) v.push_back(fromBits(static_cast<uint32_t>(rng())));
    return v;
}

// The runtime's Cast of `values` to the model's output type, as its raw
// 16-bit patterns.
std::vector<uint16_t> castByRuntime(const char* model, const std::vector<float>& values) {
    const std::vector<char> bytes = readModel(model);
    ModelLogicONNX backend;
    testing::internal::CaptureStdout();
    const bool loaded = backend.loadModel(bytes.data(), static_cast<uint32_t>(bytes.size()), "input", "output");
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(loaded);
    const InputDescriptor in{values.data(), static_cast<int32_t>(values.size()), 1, 1};
    EXPECT_TRUE(backend.runSession(&in, 1));
    const Expected<ModelLogicONNX::OutputTensor> out = backend.outputTensor(0);
    if (!out) {
        ADD_FAILURE() << out.message();
        return {};
    }
    EXPECT_EQ(out->elements, values.size());
    const auto* p = static_cast<const uint16_t*>(out->data);
    return std::vector<uint16_t>(p, p + out->elements);
}

bool isHalfNaN(uint16_t h) { return (h & 0x7c00u) == 0x7c00u && (h & 0x3ffu) != 0; }
bool isBfloatNaN(uint16_t b) { return (b & 0x7f80u) == 0x7f80u && (b & 0x7fu) != 0; }

}  // namespace

TEST(TensorElements, HalvesAreRoundedAsTheRuntimeRoundsThem) {
    const std::vector<float> values = hardValues();
    const std::vector<uint16_t> runtime = castByRuntime("cast_f16.onnx", values);
    ASSERT_EQ(runtime.size(), values.size());
    std::vector<uint16_t> stored(values.size());
    storeElements(values.data(), values.size(), ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16, stored.data());
    for (size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(testing::Message() << std::hexfloat << values[i] << " (0x" << std::hex << bits(values[i]) << ")");
        const uint16_t one = floatToHalf(values[i]);
        // The run's conversion and the value-by-value one agree bit for bit.
        ASSERT_EQ(stored[i], one);
        if (std::isnan(values[i])) {
            ASSERT_TRUE(isHalfNaN(one));
            ASSERT_TRUE(isHalfNaN(runtime[i]));
            ASSERT_EQ(one & 0x8000u, runtime[i] & 0x8000u);  // the sign stays
        } else {
            ASSERT_EQ(one, runtime[i]);
        }
    }
}

TEST(TensorElements, BfloatsAreRoundedAsTheRuntimeRoundsThem) {
    const std::vector<float> values = hardValues();
    const std::vector<uint16_t> runtime = castByRuntime("cast_bf16.onnx", values);
    ASSERT_EQ(runtime.size(), values.size());
    std::vector<uint16_t> stored(values.size());
    storeElements(values.data(), values.size(), ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16, stored.data());
    for (size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(testing::Message() << std::hexfloat << values[i]);
        ASSERT_EQ(stored[i], floatToBfloat16(values[i]));
        if (std::isnan(values[i]))
            ASSERT_TRUE(isBfloatNaN(stored[i]) && isBfloatNaN(runtime[i]));
        else
            ASSERT_EQ(stored[i], runtime[i]);
    }
}

TEST(TensorElements, EveryHalfAndBfloatReadsBackExactly) {
    std::vector<uint16_t> all(65536);
    for (uint32_t h = 0; h < 65536; ++h) all[h] = static_cast<uint16_t>(h);
    std::vector<float> halves(all.size()), bfloats(all.size());
    loadElements(all.data(), ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16, all.size(), halves.data());
    loadElements(all.data(), ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16, all.size(), bfloats.data());
    for (uint32_t h = 0; h < 65536; ++h) {
        SCOPED_TRACE(h);
        const auto b = static_cast<uint16_t>(h);
        ASSERT_EQ(bits(halves[h]), bits(halfToFloat(b)));
        ASSERT_EQ(bits(bfloats[h]), h << 16);
        if (isHalfNaN(b)) {
            ASSERT_TRUE(std::isnan(halves[h]));
            continue;
        }
        // Back again to the same pattern: the reading loses nothing.
        ASSERT_EQ(floatToHalf(halves[h]), b);
#if defined(__FLT16_MAX__)
        ASSERT_EQ(bits(halves[h]), bits(static_cast<float>(std::bit_cast<_Float16>(b))));
#endif
    }
    EXPECT_EQ(halfToFloat(0x0001u), 0x1p-24f);  // the smallest subnormal
    EXPECT_EQ(halfToFloat(0x7bffu), 65504.0f);
    EXPECT_EQ(halfToFloat(0xfc00u), -std::numeric_limits<float>::infinity());
}

TEST(TensorElements, DoublesAreExactOneWayAndRoundedTheOther) {
    const std::vector<float> values = {1.0f / 3, -0.0f, 0x1p-149f, 3e38f};
    std::vector<double> stored(values.size());
    storeElements(values.data(), values.size(), ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE, stored.data());
    for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(stored[i], static_cast<double>(values[i]));
    const std::vector<double> wide = {1.0 / 3, 1e300, -1e-300, 0.1};
    std::vector<float> read(wide.size());
    loadElements(wide.data(), ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE, wide.size(), read.data());
    for (size_t i = 0; i < wide.size(); ++i) EXPECT_EQ(bits(read[i]), bits(static_cast<float>(wide[i])));
}

TEST(TensorElements, PlanesHoldOneChannelEachInEveryType) {
    const ONNXTensorElementDataType types[] = {
        ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16,
        ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16, ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE};
    for (const auto type : types) {
        // More pixels than one run of the conversion, and channel counts
        // with and without their own code.
        for (int64_t channels : {1, 2, 3, 5}) {
            SCOPED_TRACE(testing::Message() << elementTypeName(type) << " with " << channels << " channels");
            const int64_t pixels = 1237;
            std::vector<float> interleaved(pixels * channels);
            // Whole numbers below 256: exact in every type.
            for (int64_t p = 0; p < pixels; ++p)
                for (int64_t ch = 0; ch < channels; ++ch) interleaved[p * channels + ch] = float((p % 31) * 8 + ch);
            std::vector<std::byte> planes(interleaved.size() * convertedElementBytes(type));
            storePlanar(interleaved.data(), pixels, channels, type, planes.data());
            std::vector<float> asFloats(interleaved.size());
            loadElements(planes.data(), type, asFloats.size(), asFloats.data());
            for (int64_t p = 0; p < pixels; ++p)
                for (int64_t ch = 0; ch < channels; ++ch)
                    ASSERT_EQ(asFloats[ch * pixels + p], interleaved[p * channels + ch]) << p << " " << ch;
            std::vector<float> back(interleaved.size(), -1.0f);
            loadPlanar(planes.data(), type, pixels, channels, back.data());
            ASSERT_EQ(back, interleaved);
        }
    }
}

TEST(TensorElements, TypesAreNamedAndOnlyFourConverted) {
    EXPECT_EQ(convertedElementBytes(ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT), 4u);
    EXPECT_EQ(convertedElementBytes(ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16), 2u);
    EXPECT_EQ(convertedElementBytes(ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16), 2u);
    EXPECT_EQ(convertedElementBytes(ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE), 8u);
    for (auto type : {ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT8, ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64,
                      ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E4M3FN, ONNX_TENSOR_ELEMENT_DATA_TYPE_INT4,
                      ONNX_TENSOR_ELEMENT_DATA_TYPE_STRING})
        EXPECT_EQ(convertedElementBytes(type), 0u) << elementTypeName(type);
    EXPECT_EQ(elementTypeName(ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E4M3FN), "float8e4m3fn");
    EXPECT_EQ(elementTypeName(static_cast<ONNXTensorElementDataType>(999)), "element type 999");
}

TEST(TensorElements, PlanarConversionsRoundAsOneValueAtATime) {
    const std::vector<float> values = hardValues();
    for (int64_t channels : {3, 4}) {
        const int64_t pixels = static_cast<int64_t>(values.size()) / channels;
        std::vector<uint16_t> halves(static_cast<size_t>(pixels * channels)), bfloats(halves.size());
        storePlanar(values.data(), pixels, channels, ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16, halves.data());
        storePlanar(values.data(), pixels, channels, ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16, bfloats.data());
        for (int64_t p = 0; p < pixels; ++p)
            for (int64_t ch = 0; ch < channels; ++ch) {
                const float v = values[p * channels + ch];
                if (std::isnan(v)) continue;
                ASSERT_EQ(halves[ch * pixels + p], floatToHalf(v)) << std::hexfloat << v;
                ASSERT_EQ(bfloats[ch * pixels + p], floatToBfloat16(v)) << std::hexfloat << v;
            }
    }
}
