// Digests of the tiled exports' results over many models, sizes and
// downscale factors, through the public header alone, so that one build can
// be compared with another bit for bit (scripts/compare_tiled_results.sh).
// One line per case: the case, the result's sizes and a 64-bit FNV-1a hash
// of its bytes, or of the error text when the call failed.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "velmora.h"

namespace {

uint64_t fnv(const void* data, size_t size, uint64_t h = 1469598103934665603ull) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

uint32_t next(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

std::string errorText(VelmoraContext c) {
    std::vector<char> text(1 << 16, 0);
    getErrorText(c, text.data(), static_cast<int32_t>(text.size()));
    text.back() = 0;
    return text.data();
}

struct ModelCase {
    const char* file;
    int tile;
    int channels;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s MODELS_DIR PUBLISHED_MODELS_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1], published = argv[2];
    // Six channels-last models of fixed size, then every layout, element type
    // and scale the library reads, fixed and open.
    const ModelCase models[] = {
        {"identity_t16_c3.onnx", 16, 3},
        {"scale2_64x3.onnx", 64, 3},
        {"rgb_to_gray_64.onnx", 64, 3},
        {"argmax_seg_t16.onnx", 16, 3},
        {"conv6x32_t256.onnx", 256, 3},
        {"demo_sharpen_t128.onnx", 128, 3},
        {"identity_t32_c4.onnx", 32, 4},
        {"mix_cf_cf_f32_t16.onnx", 16, 3},
        {"mix_cf_cf_f32_open.onnx", 24, 3},
        {"mix_cl_cl_f16_open.onnx", 20, 3},
        {"mix_cf_cl_f64_t16.onnx", 16, 3},
        {"mix_cl_cf_f16f64_open.onnx", 16, 3},
        {"mix_cl_cl_bf16f32_t16.onnx", 16, 3},
        {"up2_d2s_cf_cf_f32_t16.onnx", 16, 3},
        {"up3_near_cl_cl_f64f16_open.onnx", 12, 3},
        {"up4_d2s_cf_cl_f16f32_open.onnx", 8, 3},
        {"up2_near_cf_cf_f32_open.onnx", 16, 3},
        // Models the tiled runs refuse, or that fail in the middle: their words.
        {"claims_c4_t16.onnx", 16, 3},
        {"zero_size_out.onnx", 4, 1},
        {"float8_out_t16.onnx", 16, 3},
        {"add2_t16_c3.onnx", 16, 3},
        {"lookup_fails_t16.onnx", 16, 3},
        {"up1.5_near_cf_cf_f32_t16.onnx", 16, 3},
        {"out2d.onnx", 4, 1},
        // The published text detector, channels-first with open sizes.
        {"published:ch_PP-OCRv4_det_infer.onnx", 64, 3},
    };
    const int downscales[] = {1, -1, 2, -2, 3, -3};
    const int sizes[][2] = {{97, 61}, {40, 130}};

    for (const ModelCase& m : models) {
        const std::string file = m.file;
        const std::string path =
            file.rfind("published:", 0) == 0 ? published + "/" + file.substr(10) : dir + "/" + file;
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "missing %s\n", m.file);
            return 1;
        }
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        VelmoraContext c = createContext(0, "digest");
        if (!loadModel(c, bytes.data(), static_cast<uint32_t>(bytes.size()), "", "")) {
            std::fprintf(stderr, "%s: %s\n", m.file, errorText(c).c_str());
            return 1;
        }
        const int step = m.tile - 2 * (m.tile / 8 > 0 ? m.tile / 8 : 1);
        for (const auto& size : sizes) {
            const int w = size[0], h = size[1];
            uint32_t seed = 2463534242u ^ static_cast<uint32_t>(w * 131 + h);
            std::vector<float> image(static_cast<size_t>(w) * h * m.channels);
            for (float& v : image) v = static_cast<float>(next(seed) % 4096) / 4095.0f;
            std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
            for (unsigned char& v : rgb) v = static_cast<unsigned char>(next(seed));
            for (int k : downscales) {
                char name[256];
                std::snprintf(name, sizeof name, "%s %dx%d K=%d", m.file, w, h, k);
                // The float record export.
                const ImageFloat r = predictByTilesImageFloat(c, ImageFloat{w, h, m.channels, image.data()}, m.tile,
                                                              step, k, nullptr, nullptr);
                if (r.data)
                    std::printf("%s image %dx%dx%d %016" PRIx64 "\n", name, r.width, r.height, r.numChannels,
                                fnv(r.data, sizeof(float) * r.width * r.height * r.numChannels));
                else
                    std::printf("%s image failed %s\n", name, errorText(c).c_str());
                // The float pointer export: the same pipeline, its pointer.
                const float* p =
                    predictByTilesFloat(c, image.data(), w, h, m.channels, m.tile, step, k, nullptr, nullptr);
                if (p && r.data)
                    std::printf("%s floats %016" PRIx64 "\n", name,
                                fnv(p, sizeof(float) * r.width * r.height * r.numChannels));
                else
                    std::printf("%s floats %s %s\n", name, p ? "given" : "none", errorText(c).c_str());
                deallocateImage(c);
                // The 8-bit export, scaled and by arg-max; the result's size
                // is the float run's, with one channel for arg-max.
                for (bool argmax : {false, true}) {
                    if (m.channels != 3) break;
                    const unsigned char* b = predictByTiles(c, rgb.data(), w, h, m.channels, m.tile, step, argmax,
                                                            1.0f / 255, 255.0f, k, nullptr, nullptr);
                    if (b && r.data) {
                        const size_t n = static_cast<size_t>(r.width) * r.height * (argmax ? 1 : r.numChannels);
                        std::printf("%s bytes%s %016" PRIx64 "\n", name, argmax ? " argmax" : "", fnv(b, n));
                    } else {
                        std::printf("%s bytes%s %s %s\n", name, argmax ? " argmax" : "", b ? "given" : "none",
                                    errorText(c).c_str());
                    }
                }
            }
        }
        deallocateModel(c);
        deleteContext(c);
    }
    return 0;
}
