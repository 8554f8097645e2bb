// What the library adds around the model's own run for each tile of a
// published model: the text detector PP-OCRv4 (channels-first, open sizes,
// one-channel output), tiles of 256 and 512 pixels.
//
// Each iteration, on the same tile, times in turn:
// - model: the bare run of the session on a tile already in the model's
//   layout (the input value made once, as a hand-written loop would);
// - transpose: the tile from the pipelines' interleaved layout into the
//   model's planes, what the library does for this model;
// - convert: what a half-precision model of the same shapes would add: the
//   planes written as float16 and a one-channel float16 result read back;
// - tile: the library's whole tiled step (runTile: layout, run, result read).
// Counters: each share in percent of the model's run time, and the medians.
// The target is transpose_pct and convert_pct at most 1.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "backend/ModelLogicONNX.h"
#include "backend/tensor_elements.h"
#include "bench_support.h"
#include "tiling/float_tiles.h"
#include "tiling/model_tiles.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::vector<char> readPublishedModel() {
    const std::string path = std::string(VELMORA_BENCH_PUBLISHED_MODELS) + "/ch_PP-OCRv4_det_infer.onnx";
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("missing " + path + ": run scripts/setup.sh");
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A page-like tile: light, with dark strokes.
std::vector<float> pageTile(int side) {
    std::vector<float> tile(static_cast<size_t>(side) * side * 3, 0.94f);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            if ((y % 28 < 14) && (x % 11 < 2 || y % 28 == 0))
                for (int ch = 0; ch < 3; ++ch) tile[(static_cast<size_t>(y) * side + x) * 3 + ch] = 0.1f;
    return tile;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

void TextDetectorTile(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const std::vector<char> bytes = readPublishedModel();
    bench::Redirect quiet(1, "/dev/null");  // the backend prints two lines per tile
    ModelLogicONNX backend;
    if (!backend.loadModel(bytes.data(), static_cast<uint32_t>(bytes.size()), "x", "sigmoid_0.tmp_0"))
        throw std::runtime_error("cannot load the text detector: " + backend.getErrorText());

    // The pipelines cut each tile from the image just before it runs: the
    // tile is fresh in the caches when it is converted, as here.
    const std::vector<float> source = pageTile(side);
    std::vector<float> tile = source;
    const ImageFloat record{side, side, 3, tile.data()};
    const int64_t pixels = int64_t{side} * side;
    std::vector<float> planes(tile.size());
    std::vector<uint16_t> halfPlanes(tile.size());
    std::vector<uint16_t> halfResult(static_cast<size_t>(pixels));
    std::vector<float> result(static_cast<size_t>(pixels));
    const InputDescriptor planar{planes.data(), side, side, 3};
    storePlanar(tile.data(), pixels, 3, ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, planes.data());
    const Expected<ModelTiles> tiles = modelTiles(backend.description(), side, 3);
    if (!tiles) throw std::runtime_error("the text detector takes no such tiles: " + tiles.message());
    const TileInputSpec& form = tiles->input;
    const TensorFrame input{backend.tileInput(form), form.elementType, form.layout, side, side, 3};
    // A tile as the pipelines run it: cut into the model's input, then run.
    auto runTile = [&] {
        cutTile(record, 0, 0, input);
        return backend.runTile();
    };
    for (int i = 0; i < 2; ++i) {  // warm the session up
        if (!backend.runSession(&planar, 1) || !runTile()) throw std::runtime_error("the text detector did not run");
    }

    std::vector<double> model, transpose, convert, whole;
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (!backend.runSession(&planar, 1)) throw std::runtime_error("the run was refused");
        std::copy(source.begin(), source.end(), tile.begin());
        auto t1 = Clock::now();
        storePlanar(tile.data(), pixels, 3, ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, planes.data());
        auto t2 = Clock::now();
        std::copy(source.begin(), source.end(), tile.begin());
        const auto t2b = Clock::now();
        storePlanar(tile.data(), pixels, 3, ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16, halfPlanes.data());
        loadElements(halfResult.data(), ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16, halfResult.size(), result.data());
        auto t3 = Clock::now();
        std::copy(source.begin(), source.end(), tile.begin());
        const auto t3b = Clock::now();
        const Expected<TileTensor> r = runTile();
        auto t4 = Clock::now();
        if (!r || r->dims.size() != 4 || r->dims[3] != side) throw std::runtime_error("the tile gave no result");
        benchmark::DoNotOptimize(planes.data());
        benchmark::DoNotOptimize(halfPlanes.data());
        benchmark::DoNotOptimize(result.data());
        model.push_back(seconds(t1 - t0));
        transpose.push_back(seconds(t2 - t1));
        convert.push_back(seconds(t3 - t2b));
        whole.push_back(seconds(t4 - t3b));
    }
    const double m = median(model);
    state.counters["model_ms"] = m * 1e3;
    state.counters["tile_ms"] = median(whole) * 1e3;
    state.counters["transpose_ms"] = median(transpose) * 1e3;
    state.counters["convert_ms"] = median(convert) * 1e3;
    state.counters["transpose_pct"] = median(transpose) / m * 100.0;
    state.counters["convert_pct"] = median(convert) / m * 100.0;
}

}  // namespace

BENCHMARK(TextDetectorTile)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond)->Iterations(40)->UseRealTime();

BENCHMARK_MAIN();
