// The element types a model may take and give at its boundary, and their
// conversion from and to the library's single-precision floats: half and
// bfloat16 rounded to nearest with ties to even (subnormals, infinities and
// NaN kept), double exactly one way and rounded to nearest the other. Single
// precision needs no conversion; every other type is refused by name.
#pragma once

#include <onnxruntime_c_api.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Bytes per element of a type the library converts, 0 for any other.
size_t convertedElementBytes(ONNXTensorElementDataType type);

// The type as the ONNX format names it ("float16", "int64", ...).
std::string elementTypeName(ONNXTensorElementDataType type);

// Empty when the library converts values of `type`; else the words that refuse
// them, without a subject ("gives int64 values at its output "y", which the
// library does not convert"). `verb` is "takes" or "gives", `end` "input" or
// "output".
std::string refusedElementType(ONNXTensorElementDataType type, const char* verb, const char* end,
                               const std::string& name);

uint16_t floatToHalf(float value);
float halfToFloat(uint16_t bits);
uint16_t floatToBfloat16(float value);
float bfloat16ToFloat(uint16_t bits);

// `count` floats written as elements of `type` (one it converts) to `dest`.
void storeElements(const float* src, size_t count, ONNXTensorElementDataType type, void* dest);
// `count` elements of `type` read as floats into `dest`.
void loadElements(const void* src, ONNXTensorElementDataType type, size_t count, float* dest);

// An interleaved run of `pixels` pixels of `channels` floats written as one
// plane per channel of `type`, plane ch starting `planeStride` elements after
// plane ch - 1 (negative: the planes hold the run alone, stride `pixels`).
void storePlanar(const float* interleaved, int64_t pixels, int64_t channels, ONNXTensorElementDataType type,
                 void* planes, int64_t planeStride = -1);
// One plane per channel of `type` read into an interleaved float run.
void loadPlanar(const void* planes, ONNXTensorElementDataType type, int64_t pixels, int64_t channels,
                float* interleaved, int64_t planeStride = -1);
