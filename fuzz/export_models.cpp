#include "export_models.h"

namespace {
constexpr bool kTest = false, kFuzz = true;
constexpr auto I = Computes::Identity, U = Computes::Unknown;
}  // namespace

// file, made by, input, output, layout, tile, in, out, inputs, elements, computes, identity channels,
// same size, other output type, cast tolerance
const ExportModel kExportModels[] = {
    {"identity_t16_c3.onnx", kTest, "input", "output", -1, 16, 3, 3, 1, 16 * 16 * 3, I, 3, true, false, 0},
    {"identity_t16_c1.onnx", kTest, "input", "output", -1, 16, 1, 1, 1, 16 * 16, I, 1, true, false, 0},
    {"identity_t16_c4.onnx", kTest, "input", "output", -1, 16, 4, 4, 1, 16 * 16 * 4, I, 4, true, false, 0},
    {"identity_t32_c3.onnx", kTest, "input", "output", -1, 32, 3, 3, 1, 32 * 32 * 3, I, 3, true, false, 0},
    {"channels_first_identity_32x3.onnx", kTest, "input", "output", 0, 32, 3, 3, 1, 32 * 32 * 3, I, 3, true, false, 0},
    {"open_dims.onnx", kTest, "input", "output", -1, 0, 3, 3, 1, 0, I, 3, true, false, 0},
    {"argmax_seg_t16.onnx", kTest, "input", "output", -1, 16, 3, 3, 1, 16 * 16 * 3, Computes::Rotated, 0, true, false,
     0},
    {"claims_c4_t16.onnx", kTest, "input", "output", -1, 16, 3, 3, 1, 16 * 16 * 3, I, 3, true, false, 0},
    {"lookup_fails_t16.onnx", kTest, "input", "output", -1, 16, 3, 3, 1, 16 * 16 * 3, U, 0, true, false, 0},
    {"scale2_64x3.onnx", kTest, "input", "output", -1, 64, 3, 3, 1, 64 * 64 * 3, Computes::Doubled, 0, true, false, 0},
    {"rgb_to_gray_64.onnx", kTest, "input", "output", -1, 64, 3, 1, 1, 64 * 64 * 3, U, 0, true, false, 0},
    {"add2_t16_c3.onnx", kTest, "input1", "output", -1, 16, 3, 3, 2, 16 * 16 * 3, Computes::Sum, 0, true, false, 0},
    {"add3_t16_c3.onnx", kTest, "input1", "output1", -1, 16, 3, 3, 3, 16 * 16 * 3, Computes::Sum, 0, true, false, 0},
    {"six_outputs.onnx", kTest, "input", "output0", -1, 8, 1, 1, 1, 8 * 8, I, 1, true, false, 0},
    {"five_inputs.onnx", kTest, "input1", "output", -1, 4, 1, 1, 5, 4 * 4, U, 0, true, false, 0},
    {"out1d.onnx", kTest, "input", "output", -1, 4, 1, 1, 1, 4 * 4, U, 0, false, false, 0},
    {"out2d.onnx", kTest, "input", "output", -1, 4, 1, 1, 1, 4 * 4, U, 0, false, false, 0},
    {"scalar_out.onnx", kTest, "input", "output", -1, 4, 1, 1, 1, 4 * 4, U, 0, false, false, 0},
    {"zero_size_out.onnx", kTest, "input", "output", -1, 4, 1, 0, 1, 4 * 4, U, 0, true, false, 0},
    {"lookup8_4x4.onnx", kTest, "input", "output", -1, 4, 1, 1, 1, 4 * 4, U, 0, true, false, 0},
    {"channels_vary_t16.onnx", kFuzz, "input", "output", -1, 16, 3, -1, 1, 16 * 16 * 3, I, 3, true, false, 0},
    {"crop_t16.onnx", kFuzz, "input", "output", -1, 16, 3, 3, 1, 16 * 16 * 3, U, 0, false, false, 0},
    {"up2_t16.onnx", kFuzz, "input", "output", -1, 16, 3, 3, 1, 16 * 16 * 3, U, 0, false, false, 0},
    {"cast_u8_t16.onnx", kFuzz, "input", "output", -1, 16, 3, 3, 1, 16 * 16 * 3, Computes::Cast, 0, true, true, -1.0f},
    {"cast_f16_t16.onnx", kFuzz, "input", "output", -1, 16, 3, 3, 1, 16 * 16 * 3, Computes::Cast, 0, true, true, 1e-3f},
    {"cast_f64_t16.onnx", kFuzz, "input", "output", -1, 16, 3, 3, 1, 16 * 16 * 3, Computes::Cast, 0, true, true, 0.0f},
    {"cast_f8_t16.onnx", kFuzz, "input", "output", -1, 16, 3, 3, 1, 16 * 16 * 3, Computes::Cast, 0, true, true, 0.07f},
    {"cast_i4_t16.onnx", kFuzz, "input", "output", -1, 16, 3, 3, 1, 16 * 16 * 3, Computes::Cast, 0, true, true, -1.0f},
    {"cast_f8_t1024.onnx", kFuzz, "input", "output", -1, 1024, 3, 3, 1, 1024 * 1024 * 3, Computes::Cast, 0, true, true,
     0.07f},
    {"cast_i4_t1024.onnx", kFuzz, "input", "output", -1, 1024, 3, 3, 1, 1024 * 1024 * 3, Computes::Cast, 0, true, true,
     -1.0f},
};
const size_t kExportModelCount = sizeof kExportModels / sizeof kExportModels[0];
