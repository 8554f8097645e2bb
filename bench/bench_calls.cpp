// What one call of a tiled export costs a host, through the public header
// alone (so that it can be built against another build of the library): a
// small picture of one tile, where the call's own work (checks, plan,
// settings, result) weighs most, and a 2048 x 2048 picture of many tiles.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "velmora.h"

namespace {

#ifndef VELMORA_BENCH_MODELS
#define VELMORA_BENCH_MODELS "build/models"
#endif

// The run count goes to the per-user settings: a scratch folder for them.
struct Scratch {
    std::filesystem::path root;
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-calls-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
        root = pattern;
        setenv("XDG_CONFIG_HOME", root.c_str(), 1);
        setenv("TEMP", root.c_str(), 1);
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

// The library's per-tile console lines go nowhere while measuring.
struct Quiet {
    int saved = dup(1);
    Quiet() {
        std::fflush(stdout);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~Quiet() {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

struct Loaded {
    std::vector<char> bytes;
    VelmoraContext context = nullptr;
    explicit Loaded(const char* name) {
        std::ifstream in(std::string(VELMORA_BENCH_MODELS) + "/" + name, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        Quiet quiet;
        context = createContext(0, "bench");
        char text[1000];
        initializeVelmora(context, "bench", nullptr, text);
        if (!loadModel(context, bytes.data(), static_cast<uint32_t>(bytes.size()), "", ""))
            throw std::runtime_error(std::string("cannot load ") + name);
    }
    ~Loaded() {
        Quiet quiet;
        deallocateModel(context);
        deleteContext(context);
    }
};

std::vector<float> picture(int side) {
    std::vector<float> v(static_cast<size_t>(side) * side * 3);
    uint32_t s = 12345;
    for (float& x : v) {
        s = s * 1664525u + 1013904223u;
        x = static_cast<float>(s >> 8) / 16777216.0f;
    }
    return v;
}

// Arguments: picture side, tile, step.
void FloatCall(benchmark::State& state, const char* model) {
    static Scratch scratch;
    Loaded loaded(model);
    const int side = static_cast<int>(state.range(0));
    std::vector<float> image = picture(side);
    for (auto _ : state) {
        Quiet quiet;
        const ImageFloat out = predictByTilesImageFloat(loaded.context, ImageFloat{side, side, 3, image.data()},
                                                        static_cast<int32_t>(state.range(1)),
                                                        static_cast<int32_t>(state.range(2)), 1, nullptr, nullptr);
        if (!out.data) throw std::runtime_error("the run failed");
        benchmark::DoNotOptimize(out.data);
    }
    state.counters["MPix_per_s"] =
        benchmark::Counter(static_cast<double>(side) * side / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void ByteCall(benchmark::State& state, const char* model) {
    static Scratch scratch;
    Loaded loaded(model);
    const int side = static_cast<int>(state.range(0));
    std::vector<unsigned char> rgb(static_cast<size_t>(side) * side * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
    for (auto _ : state) {
        Quiet quiet;
        const unsigned char* out =
            predictByTiles(loaded.context, rgb.data(), side, side, 3, static_cast<int32_t>(state.range(1)),
                           static_cast<int32_t>(state.range(2)), false, 1.0f / 255, 255.0f, 1, nullptr, nullptr);
        if (!out) throw std::runtime_error("the run failed");
        benchmark::DoNotOptimize(out);
    }
    state.counters["MPix_per_s"] =
        benchmark::Counter(static_cast<double>(side) * side / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK_CAPTURE(FloatCall, identity_t256, "identity_t256_c3.onnx")
    ->ArgNames({"side", "tile", "step"})
    ->Args({256, 256, 256})
    ->Args({2048, 256, 224})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ByteCall, identity_t256, "identity_t256_c3.onnx")
    ->ArgNames({"side", "tile", "step"})
    ->Args({256, 256, 256})
    ->Args({2048, 256, 224})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FloatCall, conv6x32_t256, "conv6x32_t256.onnx")
    ->ArgNames({"side", "tile", "step"})
    ->Args({256, 256, 256})
    ->Args({2048, 256, 224})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
