// The library's tiled float call against the loop a user would write by hand
// over the runtime's C API, with the runtime's default session options.
//
// Both run the same tiles over the same 2048 x 2048 RGB float page (tile 256,
// step 224: 10 x 10 = 100 tiles), cut with edge replication and stitched from
// the central 224 x 224 square of each tile, in the same process and the same
// iteration; the order of the two alternates between iterations so that drift
// on a shared machine favours neither. `ratio` is library / hand loop (the
// target is at most 1.03).
//
// Models: the published text-detection network as scripts/setup.sh fetches it
// (input "x" [?, 3, ?, ?], channels-first with open sizes; a one-channel
// probability map out), and the generated six-convolution model
// (conv6x32_t256.onnx, channels-last). The hand loop cuts each tile straight
// into the model's layout and stitches from the output's, as its user would.
//
// Arguments of the library's session: `threads` as the "threads" setting
// gives it (0: the runtime's choice for the machine; 5: the sessions of
// earlier versions, 5 intra- and 5 inter-operation threads) and `spin` 1 or
// 0, whether idle runtime threads spin before they sleep. `paste1` 1 is a
// what-if: the library pastes each tile on the calling thread only instead
// of on short-lived worker threads.
//
// `library_own_ms_tile` and `loop_own_ms_tile` are each side's time per tile
// outside its model runs: the library's crop, paste and grid, the loop's cut
// and copy. The library's tiled step (layout, the runtime's Run, the result's
// reading and the console line) counts as model time there.
//
// Each case also compares the two pages it made: `max_rel_diff` is the
// largest |library - loop| / max(|library|, |loop|) over all values and
// `equal_pct` the share of values with identical bits. The loop's session has
// the runtime's default options, so with `threads` 5 this compares earlier
// versions' results with the runtime's own choice.
//
// HandLoopSetupCost times two hand loops on the default session: one that
// makes the memory information and the input value once and reads the output
// in place, and a less careful one that makes both for every tile and copies
// every output out; `setup_us_tile` is what that setup costs per tile.
//
// The library prints two lines per tile on standard output; they go to
// /dev/null while a case runs. Run on a quiet machine, for instance
//   build/bin/bench_hand_loop --benchmark_repetitions=3
// and look at `ratio`.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backend/ModelLogicONNX.h"
#include "backend/ort_call.h"
#include "bench_support.h"
#include "context/VelmoraClass.h"

namespace {

constexpr int32_t kSide = 2048;
constexpr int32_t kTile = 256;
constexpr int32_t kStep = 224;
constexpr int32_t kMargin = (kTile - kStep) / 2;
constexpr int32_t kChannels = 3;
constexpr int kWarmUpRuns = 3;

// A model of the benchmark and how to feed it.
struct ModelCase {
    const char* label;
    std::string path;
    const char* inputName;
    const char* outputName;
    bool channelsFirst;  // [1, C, H, W] in and out; else [1, H, W, C]
};

const ModelCase& textDetection() {
    static const ModelCase m{"text_detection",
                             std::string(VELMORA_BENCH_PUBLISHED_MODELS) + "/ch_PP-OCRv4_det_infer.onnx", "x",
                             "sigmoid_0.tmp_0", true};
    return m;
}

const ModelCase& sixConvolutions() {
    static const ModelCase m{"conv6x32_t256", bench::modelPath("conv6x32_t256.onnx"), "input", "output", false};
    return m;
}

std::vector<char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("missing model " + path);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using Clock = std::chrono::steady_clock;
double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The page every case runs on.
const ImageFloat& page() {
    static std::vector<float> data = [] {
        std::vector<float> values(static_cast<size_t>(kSide) * kSide * kChannels);
        bench::fillRandom(values.data(), static_cast<int64_t>(values.size()));
        return values;
    }();
    static const ImageFloat image{kSide, kSide, kChannels, data.data()};
    return image;
}

// ---- The hand-written loop -----------------------------------------------------

std::string sessionName(OrtSession* session, bool input) {
    OrtAllocator* allocator = nullptr;
    throwOnError(ortApi->GetAllocatorWithDefaultOptions(&allocator));
    char* name = nullptr;
    throwOnError(input ? ortApi->SessionGetInputName(session, 0, allocator, &name)
                       : ortApi->SessionGetOutputName(session, 0, allocator, &name));
    std::string copy(name);
    ignoreError(ortApi->AllocatorFree(allocator, name));
    return copy;
}

// What a user writes: a session with the runtime's default options, one tile
// buffer in the model's layout wrapped once as the input value, each tile cut
// into it with edge replication, run, and its central square copied straight
// from the output tensor into the page.
class HandLoop {
public:
    HandLoop(const std::vector<char>& model, bool channelsFirst) : channelsFirst_(channelsFirst) {
        throwOnError(ortApi->CreateEnv(ORT_LOGGING_LEVEL_WARNING, "hand-loop", out(env_)));
        OwnedSessionOptions options;
        throwOnError(ortApi->CreateSessionOptions(out(options)));
        throwOnError(
            ortApi->CreateSessionFromArray(env_.get(), model.data(), model.size(), options.get(), out(session_)));
        inputName_ = sessionName(session_.get(), true);
        outputName_ = sessionName(session_.get(), false);
        tile_.resize(static_cast<size_t>(kTile) * kTile * kChannels);
        throwOnError(ortApi->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, out(memory_)));
        input_ = wrapTile();
        bench::fillRandom(tile_.data(), static_cast<int64_t>(tile_.size()));
        for (int i = 0; i < kWarmUpRuns; ++i) runTile(input_.get());
    }

    // Fills `result` with the stitched page. `setupPerTile`: make the memory
    // information and the input value anew for every tile and copy each
    // output out before stitching.
    void run(const ImageFloat& image, std::vector<float>& result, int32_t& resultChannels, bool setupPerTile) {
        const int32_t across = (image.width + kStep - 1) / kStep;
        const int32_t down = (image.height + kStep - 1) / kStep;
        std::vector<float> copied;
        for (int32_t row = 0; row < down; ++row) {
            for (int32_t column = 0; column < across; ++column) {
                const int32_t originX = column * kStep;
                const int32_t originY = row * kStep;
                cut(image, originX - kMargin, originY - kMargin);
                OwnedMemoryInfo memory;
                OwnedValue input;
                if (setupPerTile) {
                    throwOnError(ortApi->CreateCpuMemoryInfo(OrtDeviceAllocator, OrtMemTypeCPU, out(memory)));
                    input = wrapTile(memory.get());
                }
                const auto start = Clock::now();
                OwnedValue output = runTile(setupPerTile ? input.get() : input_.get());
                inRun += Clock::now() - start;
                float* values = nullptr;
                throwOnError(ortApi->GetTensorMutableData(output.get(), reinterpret_cast<void**>(&values)));
                if (resultChannels == 0 || setupPerTile) {
                    resultChannels = outputChannels(output.get());
                    result.resize(static_cast<size_t>(image.width) * image.height * resultChannels);
                }
                if (setupPerTile) {
                    copied.assign(values, values + static_cast<size_t>(kTile) * kTile * resultChannels);
                    values = copied.data();
                }
                paste(values, resultChannels, image, originX, originY, result.data());
            }
        }
    }

private:
    OwnedValue wrapTile(OrtMemoryInfo* memory = nullptr) {
        const int64_t shape[4] = {1, channelsFirst_ ? kChannels : kTile, kTile, channelsFirst_ ? kTile : kChannels};
        OwnedValue value;
        throwOnError(ortApi->CreateTensorWithDataAsOrtValue(memory ? memory : memory_.get(), tile_.data(),
                                                            tile_.size() * sizeof(float), shape, 4,
                                                            ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, out(value)));
        return value;
    }

    OwnedValue runTile(const OrtValue* input) {
        const char* in = inputName_.c_str();
        const char* outName = outputName_.c_str();
        OrtValue* output = nullptr;
        throwOnError(ortApi->Run(session_.get(), nullptr, &in, &input, 1, &outName, 1, &output));
        return OwnedValue(output);
    }

    int32_t outputChannels(const OrtValue* output) const {
        OwnedTensorTypeAndShapeInfo info;
        throwOnError(ortApi->GetTensorTypeAndShape(output, out(info)));
        int64_t dims[4] = {};
        size_t count = 0;
        throwOnError(ortApi->GetDimensionsCount(info.get(), &count));
        if (count != 4) throw std::runtime_error("the model's output is not an image");
        throwOnError(ortApi->GetDimensions(info.get(), dims, 4));
        const int64_t channels = channelsFirst_ ? dims[1] : dims[3];
        const int64_t height = channelsFirst_ ? dims[2] : dims[1];
        const int64_t width = channelsFirst_ ? dims[3] : dims[2];
        if (width != kTile || height != kTile) throw std::runtime_error("the model's output is not a tile");
        return static_cast<int32_t>(channels);
    }

    // The tile whose top left corner is (left, top), in the model's layout,
    // pixels beyond the image taken from its nearest edge.
    void cut(const ImageFloat& image, int32_t left, int32_t top) {
        const int32_t c = image.numChannels;
        const size_t plane = static_cast<size_t>(kTile) * kTile;
        for (int32_t y = 0; y < kTile; ++y) {
            const int32_t sy = std::clamp(top + y, 0, image.height - 1);
            const float* source = image.data + static_cast<int64_t>(sy) * image.width * c;
            for (int32_t x = 0; x < kTile; ++x) {
                const float* pixel = source + static_cast<size_t>(std::clamp(left + x, 0, image.width - 1)) * c;
                const size_t at = static_cast<size_t>(y) * kTile + x;
                if (channelsFirst_) {
                    for (int32_t ch = 0; ch < c; ++ch) tile_[ch * plane + at] = pixel[ch];
                } else {
                    std::memcpy(&tile_[at * c], pixel, c * sizeof(float));
                }
            }
        }
    }

    // The tile's central step x step square, clipped to the page, which
    // holds `c` interleaved channels.
    void paste(const float* values, int32_t c, const ImageFloat& image, int32_t originX, int32_t originY,
               float* result) const {
        const int32_t width = std::min(kStep, image.width - originX);
        const int32_t height = std::min(kStep, image.height - originY);
        const size_t plane = static_cast<size_t>(kTile) * kTile;
        for (int32_t y = 0; y < height; ++y) {
            const size_t from = static_cast<size_t>(kMargin + y) * kTile + kMargin;
            float* to = result + (static_cast<size_t>(originY + y) * image.width + originX) * c;
            if (!channelsFirst_ || c == 1) {
                std::memcpy(to, values + from * c, static_cast<size_t>(width) * c * sizeof(float));
                continue;
            }
            for (int32_t x = 0; x < width; ++x)
                for (int32_t ch = 0; ch < c; ++ch) to[static_cast<size_t>(x) * c + ch] = values[ch * plane + from + x];
        }
    }

public:
    Clock::duration inRun{};  // within the runtime's Run, summed over tiles

private:
    bool channelsFirst_;
    OwnedEnv env_;
    OwnedSession session_;
    OwnedMemoryInfo memory_;
    std::string inputName_, outputName_;
    std::vector<float> tile_;
    OwnedValue input_;
};

// One hand loop per model for the whole process.
HandLoop& handLoop(const ModelCase& model) {
    static std::map<std::string, std::vector<char>> files;
    static std::map<std::string, std::unique_ptr<HandLoop>> loops;
    auto& loop = loops[model.path];
    if (!loop) {
        bench::Redirect quiet(2, "/dev/null");
        files[model.path] = readFile(model.path);
        loop = std::make_unique<HandLoop>(files[model.path], model.channelsFirst);
    }
    return *loop;
}

// ---- The library ---------------------------------------------------------------

// The library's backend, timing its tiled steps (the tile into the model's
// layout, the runtime's Run, the result's reading and the console line).
class TimedBackend : public ModelLogicONNX {
public:
    Expected<TileTensor> runTile() override {
        const auto start = Clock::now();
        Expected<TileTensor> result = ModelLogicONNX::runTile();
        inRun += Clock::now() - start;
        return result;
    }
    Clock::duration inRun{};
};

// A context whose backend has the asked-for session, warmed up.
struct Library {
    std::vector<char> bytes;  // must outlive the session
    std::unique_ptr<VelmoraClass> context;
    TimedBackend* timed = nullptr;

    Library(const ModelCase& model, int32_t threads, bool spinning, bool pasteOnCaller) : bytes(readFile(model.path)) {
        bench::Redirect quietOut(1, "/dev/null");
        bench::Redirect quietErr(2, "/dev/null");
        auto backend = std::make_unique<TimedBackend>();
        timed = backend.get();
        backend->setProcessorThreads(threads);
        backend->setSpinning(spinning);
        ThreadSource pasteThreads;
        if (pasteOnCaller) pasteThreads.hardwareThreads = [] { return 1u; };
        context = std::make_unique<VelmoraClass>(std::move(backend), pasteThreads);
        // Layout codes channels-last: a channels-first model's shapes overrule them.
        if (!context->loadModelEx(bytes.data(), static_cast<uint32_t>(bytes.size()), model.inputName, model.outputName,
                                  1, 1))
            throw std::runtime_error(std::string("cannot load ") + model.path);
        std::vector<float> image(static_cast<size_t>(kTile) * kTile * kChannels);
        bench::fillRandom(image.data(), static_cast<int64_t>(image.size()));
        for (int i = 0; i < kWarmUpRuns; ++i) {
            const ImageFloat result = context->predictByTilesImageFloat(
                ImageFloat{kTile, kTile, kChannels, image.data()}, kTile, kTile, 1, nullptr, nullptr);
            if (!result.data) throw std::runtime_error("the model returned nothing");
        }
    }
    ~Library() {
        bench::Redirect quiet(1, "/dev/null");  // the backend says goodbye
        context.reset();
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

struct Comparison {
    double maxRelative = 0.0;
    double equalShare = 0.0;
};

Comparison compare(const ImageFloat& library, const std::vector<float>& loop, int32_t loopChannels) {
    if (library.numChannels != loopChannels || static_cast<size_t>(elementCount(library)) != loop.size())
        throw std::runtime_error("the library and the loop made pages of different sizes");
    Comparison c;
    size_t equal = 0;
    for (size_t i = 0; i < loop.size(); ++i) {
        const float a = library.data[i], b = loop[i];
        if (std::memcmp(&a, &b, sizeof a) == 0) {
            ++equal;
            continue;
        }
        const double scale = std::max(std::fabs(a), std::fabs(b));
        c.maxRelative = std::max(c.maxRelative, std::fabs(static_cast<double>(a) - b) / scale);
    }
    c.equalShare = static_cast<double>(equal) / static_cast<double>(loop.size());
    return c;
}

int64_t tileCount() {
    const int64_t across = (kSide + kStep - 1) / kStep;
    return across * across;
}

// Arguments: threads, spin, paste1.
void BM_LibraryVsHandLoop(benchmark::State& state, const ModelCase* model) {
    if (!std::filesystem::exists(model->path)) {
        state.SkipWithError((model->path + " is missing: run scripts/setup.sh and build again").c_str());
        return;
    }
    const int32_t threads = static_cast<int32_t>(state.range(0));
    const bool spinning = state.range(1) != 0;
    const bool pasteOnCaller = state.range(2) != 0;
    HandLoop& loop = handLoop(*model);
    Library library(*model, threads, spinning, pasteOnCaller);
    const ImageFloat& image = page();
    std::vector<float> loopPage;
    int32_t loopChannels = 0;
    ImageFloat libraryPage{0, 0, 0, nullptr};
    static int64_t round = 0;

    double librarySum = 0.0, loopSum = 0.0;
    library.timed->inRun = {};
    loop.inRun = {};
    for (auto _ : state) {
        bench::Redirect quiet(1, "/dev/null");
        double libraryTime = 0.0, loopTime = 0.0;
        auto timeLibrary = [&] {
            const auto start = Clock::now();
            libraryPage = library.context->predictByTilesImageFloat(image, kTile, kStep, 1, nullptr, nullptr);
            libraryTime = seconds(Clock::now() - start);
            if (!libraryPage.data) throw std::runtime_error("the library's call failed");
        };
        auto timeLoop = [&] {
            const auto start = Clock::now();
            loop.run(image, loopPage, loopChannels, false);
            loopTime = seconds(Clock::now() - start);
        };
        if (round++ % 2 == 0) {
            timeLibrary();
            timeLoop();
        } else {
            timeLoop();
            timeLibrary();
        }
        state.SetIterationTime(libraryTime);
        librarySum += libraryTime;
        loopSum += loopTime;
    }
    const Comparison same = compare(libraryPage, loopPage, loopChannels);
    const double n = static_cast<double>(state.iterations());
    const double tiles = static_cast<double>(tileCount());
    state.counters["tiles"] = tiles;
    state.counters["library_s"] = librarySum / n;
    state.counters["loop_s"] = loopSum / n;
    state.counters["library_ms_tile"] = librarySum / n / tiles * 1e3;
    state.counters["loop_ms_tile"] = loopSum / n / tiles * 1e3;
    state.counters["ratio"] = librarySum / loopSum;
    // Each side's time outside its model runs (cutting, stitching, the grid),
    // which the load of other processes disturbs far less.
    state.counters["library_own_ms_tile"] = (librarySum - seconds(library.timed->inRun)) / n / tiles * 1e3;
    state.counters["loop_own_ms_tile"] = (loopSum - seconds(loop.inRun)) / n / tiles * 1e3;
    state.counters["max_rel_diff"] = same.maxRelative;
    state.counters["equal_pct"] = same.equalShare * 100.0;
}

// Two hand loops on the same session: setup once against setup per tile.
void BM_HandLoopSetupCost(benchmark::State& state, const ModelCase* model) {
    if (!std::filesystem::exists(model->path)) {
        state.SkipWithError((model->path + " is missing: run scripts/setup.sh and build again").c_str());
        return;
    }
    HandLoop& loop = handLoop(*model);
    const ImageFloat& image = page();
    std::vector<float> once, perTile;
    int32_t onceChannels = 0, perTileChannels = 0;
    static int64_t round = 0;
    double onceSum = 0.0, perTileSum = 0.0;
    for (auto _ : state) {
        auto time = [&](bool setupPerTile) {
            const auto start = Clock::now();
            loop.run(image, setupPerTile ? perTile : once, setupPerTile ? perTileChannels : onceChannels, setupPerTile);
            return seconds(Clock::now() - start);
        };
        double onceTime = 0.0, perTileTime = 0.0;
        if (round++ % 2 == 0) {
            onceTime = time(false);
            perTileTime = time(true);
        } else {
            perTileTime = time(true);
            onceTime = time(false);
        }
        state.SetIterationTime(perTileTime);
        onceSum += onceTime;
        perTileSum += perTileTime;
    }
    if (once != perTile) state.SkipWithError("the two loops made different pages");
    const double n = static_cast<double>(state.iterations());
    const double tiles = static_cast<double>(tileCount());
    state.counters["once_s"] = onceSum / n;
    state.counters["per_tile_s"] = perTileSum / n;
    state.counters["setup_us_tile"] = (perTileSum - onceSum) / n / tiles * 1e6;
    state.counters["setup_ratio"] = perTileSum / onceSum;
}

}  // namespace

int main(int argc, char** argv) {
    bench::scratch();
    if (!ortApi) {
        std::fprintf(stderr, "%s\n", runtimeLoadFailure().c_str());
        return 1;
    }
    for (const ModelCase* model : {&textDetection(), &sixConvolutions()}) {
        benchmark::RegisterBenchmark((std::string("LibraryVsHandLoop/") + model->label).c_str(), BM_LibraryVsHandLoop,
                                     model)
            ->ArgNames({"threads", "spin", "paste1"})
            ->Args({0, 1, 0})
            ->Args({0, 0, 0})
            ->Args({5, 1, 0})
            ->Args({5, 0, 0})
            ->Args({1, 0, 0})
            ->Args({0, 1, 1})
            ->Iterations(2)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
        benchmark::RegisterBenchmark((std::string("HandLoopSetupCost/") + model->label).c_str(), BM_HandLoopSetupCost,
                                     model)
            ->Iterations(2)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
