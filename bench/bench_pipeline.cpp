// The tiled float pipeline, measured in two ways:
//
// PipelineVsBareLoop: a realistic model (six 3 x 3 convolutions of 32
// channels, channels-last, tile 256, step 224) over a square RGB float image.
// Each repetition runs the same number of tiles twice: once as a bare loop of
// backend runTile calls on one tile buffer (no crop, paste or resize) and once
// through the pipeline; `ratio` is pipeline / bare loop. The order of the two
// alternates between repetitions so that drift on a shared machine favours
// neither. A timing backend also splits the pipeline call into the model's
// share and the pipeline's own (`own_pct` of the model's time), a figure the
// load of other processes disturbs far less than two separate runs.
//
// IdentityThroughput: an identity model (tile 512, step 448) over an
// 8192 x 8192 RGB float image, where the pipeline's own work dominates. It
// reports megapixels per second and, in MiB, the peak resident memory of the
// call: what is resident before it (the process, the warm runtime, the input)
// may grow by the result (into which the tiles are stitched at downscale 1),
// one tile and what the runtime takes during runs (the growth of the peak
// over a bare loop of the same runs). Library code paged in during the call
// is counted apart.
//
// The conv6x32 cases run for minutes (100 tiles at 2048, 361 at 4096); pick
// cases with --benchmark_filter and repeat them with --benchmark_repetitions.
// The backend prints two lines per tile on standard output; the `stdout`
// argument sends them to /dev/null (0) or to a scratch file (1) while a case
// runs, so their cost can be compared. `paste1` 1 is a what-if: the paste
// copies on the calling thread only instead of starting worker threads.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "backend/ModelLogicONNX.h"
#include "bench_support.h"
#include "context/VelmoraClass.h"
#include "image/image_records.h"
#include "image/utils_image_cropping.h"
#include "tiling/model_tiles.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// ---- Process environment ------------------------------------------------------

std::string stdoutTarget(int64_t kind) { return kind == 0 ? "/dev/null" : bench::scratch().file("stdout.txt"); }

// ---- Resident memory ----------------------------------------------------------

// A "Vm...:" line of /proc/self/status, in bytes; -1 if absent.
double statusBytes(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t keyLength = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, keyLength, key) == 0) return std::atof(line.c_str() + keyLength) * 1024.0;
    return -1.0;
}
double residentBytes() { return statusBytes("VmRSS:"); }
double peakResidentBytes() { return statusBytes("VmHWM:"); }
// Mapped file pages (code and data of the executable and libraries): part of
// the resident size, but not memory the pipeline allocates.
double residentFileBytes() { return statusBytes("RssFile:"); }

// Lowers the peak (VmHWM) to the current resident size, so that the next
// reading is the peak of what ran since. False where the kernel refuses.
bool resetPeak() {
    const int fd = open("/proc/self/clear_refs", O_WRONLY);
    if (fd < 0) return false;
    const bool ok = write(fd, "5", 1) == 1;
    close(fd);
    return ok;
}

// ---- Images and models --------------------------------------------------------

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A float image record that frees its buffer; every page touched.
struct OwnedImage {
    ImageFloat image{0, 0, 0, nullptr};
    OwnedImage(int32_t w, int32_t h, int32_t c) {
        if (!ensureImage(image, w, h, c)) throw std::bad_alloc();
        std::memset(image.data, 0, bytes());
    }
    ~OwnedImage() { releaseImage(image); }
    OwnedImage(const OwnedImage&) = delete;
    OwnedImage& operator=(const OwnedImage&) = delete;
    size_t bytes() const { return static_cast<size_t>(elementCount(image)) * sizeof(float); }
};

// The context's backend times the model runs, so that a pipeline call can be
// split into the model's share and the pipeline's own.
class TimedBackend : public ModelLogicONNX {
public:
    Expected<TileTensor> runTile() override {
        const auto start = std::chrono::steady_clock::now();
        Expected<TileTensor> result = ModelLogicONNX::runTile();
        inModel += std::chrono::steady_clock::now() - start;
        return result;
    }
    std::chrono::steady_clock::duration inModel{};
};

// A context with the model loaded and its session warmed up by a few runs on a
// tile buffer, which is kept for the bare loop. Its pastes take their threads
// from `pasteThreads`.
struct LoadedModel {
    std::vector<char> bytes;  // must outlive the session
    std::unique_ptr<VelmoraClass> context;
    TimedBackend* backend = nullptr;
    std::unique_ptr<OwnedImage> tile;

    LoadedModel(const std::string& name, int32_t tileSize, int32_t channels, ThreadSource pasteThreads = {})
        : bytes(bench::readModel(name)) {
        bench::Redirect quiet(1, "/dev/null");
        auto timed = std::make_unique<TimedBackend>();
        backend = timed.get();
        context = std::make_unique<VelmoraClass>(std::move(timed), pasteThreads);
        if (!context->loadModel(bytes.data(), static_cast<uint32_t>(bytes.size()), "input", "output"))
            throw std::runtime_error("cannot load " + name);
        tile = std::make_unique<OwnedImage>(tileSize, tileSize, channels);
        bench::fillRandom(tile->image.data, elementCount(tile->image));
        const Expected<ModelTiles> tiles = modelTiles(backend->description(), tileSize, channels);
        if (!tiles) throw std::runtime_error(name + " takes no such tiles: " + tiles.message());
        const TileInputSpec& form = tiles->input;
        input = TensorFrame{backend->tileInput(form), form.elementType, form.layout, tileSize, tileSize, channels};
        for (int i = 0; i < 3; ++i) runTile();
    }

    // The model's run alone: the tile is already in the model's input.
    void runTile() {
        const Expected<TileTensor> r = backend->runTile();
        if (!r || !r->data) throw std::runtime_error("the model returned nothing");
    }
    TensorFrame input;
};

// Tiles the pipeline runs over a side x side image with downscale 1.
int64_t tileCount(int32_t side, int32_t step) {
    const int64_t across = (side + step - 1) / step;
    return across * across;
}

struct PairTimes {
    double bare = 0.0;      // the bare loop
    double pipeline = 0.0;  // the pipeline call
    double inModel = 0.0;   // the model runs within the pipeline call
    PairTimes& operator+=(const PairTimes& t) {
        bare += t.bare;
        pipeline += t.pipeline;
        inModel += t.inModel;
        return *this;
    }
};

double timeBareLoop(LoadedModel& model, int64_t tiles) {
    const auto start = std::chrono::steady_clock::now();
    for (int64_t i = 0; i < tiles; ++i) model.runTile();
    return seconds(std::chrono::steady_clock::now() - start);
}

void timePipeline(LoadedModel& model, const ImageFloat& image, int32_t tileSize, int32_t step, PairTimes& t) {
    model.backend->inModel = {};
    const auto start = std::chrono::steady_clock::now();
    const ImageFloat out = model.context->predictByTilesImageFloat(image, tileSize, step, 1, nullptr, nullptr);
    t.pipeline = seconds(std::chrono::steady_clock::now() - start);
    t.inModel = seconds(model.backend->inModel);
    if (!out.data) throw std::runtime_error("the pipeline failed");
}

// Averages over the iterations. `ratio` compares the pipeline with the bare
// loop; `own_pct` is the pipeline's time outside the model against the
// model's time within the same call, which the load of a shared machine
// disturbs far less than two separate runs.
void reportPair(benchmark::State& state, const PairTimes& sum, int64_t tiles, int32_t side) {
    const double n = static_cast<double>(state.iterations());
    const PairTimes t{sum.bare / n, sum.pipeline / n, sum.inModel / n};
    state.counters["tiles"] = static_cast<double>(tiles);
    state.counters["bare_s"] = t.bare;
    state.counters["pipeline_s"] = t.pipeline;
    state.counters["ratio"] = t.pipeline / t.bare;
    state.counters["overhead_pct"] = (t.pipeline / t.bare - 1.0) * 100.0;
    state.counters["in_model_s"] = t.inModel;
    state.counters["own_s"] = t.pipeline - t.inModel;
    state.counters["own_pct"] = (t.pipeline - t.inModel) / t.inModel * 100.0;
    state.counters["MPix_per_s"] = static_cast<double>(side) * side / 1e6 / t.pipeline;
}

// ---- Benchmarks ---------------------------------------------------------------

// Contexts kept between repetitions; the backend says goodbye on standard
// output when it goes, so they are released with it redirected.
std::unique_ptr<LoadedModel> pairModel;
struct IdentitySession;
std::unique_ptr<IdentitySession> identitySession;

template <typename T>
void releaseQuietly(std::unique_ptr<T>& owner) {
    bench::Redirect quiet(1, "/dev/null");
    owner.reset();
}

// One paste thread instead of one per hardware thread, for the what-if cases
// below.
ThreadSource pasteThreadsFor(bool single) {
    if (!single) return ThreadSource{};
    return ThreadSource{[]() -> unsigned { return 1; }, ThreadSource::startStdThread};
}

// Arguments: image side, tile size, step, stdout target, and 1 to paste on
// the calling thread only (a what-if: the pipeline pastes on worker threads).
void BM_PipelineVsBareLoop(benchmark::State& state, const char* modelName) {
    const int32_t side = static_cast<int32_t>(state.range(0));
    const int32_t tileSize = static_cast<int32_t>(state.range(1));
    const int32_t step = static_cast<int32_t>(state.range(2));
    constexpr int32_t kChannels = 3;
    const bool singlePasteThread = state.range(4) == 1;
    static std::string loadedName;
    static bool loadedSingle = false;
    std::unique_ptr<LoadedModel>& model = pairModel;
    if (!model || loadedName != modelName || loadedSingle != singlePasteThread) {
        releaseQuietly(model);
        model = std::make_unique<LoadedModel>(modelName, tileSize, kChannels, pasteThreadsFor(singlePasteThread));
        loadedName = modelName;
        loadedSingle = singlePasteThread;
    }
    OwnedImage image(side, side, kChannels);
    bench::fillRandom(image.image.data, elementCount(image.image));
    // The bare loop runs on real image content: the first tile of the grid.
    cropPatch(image.image, model->tile->image, -(tileSize - step) / 2, -(tileSize - step) / 2);
    const int64_t tiles = tileCount(side, step);
    static int64_t round = 0;

    PairTimes sum;
    for (auto _ : state) {
        bench::Redirect sink(1, stdoutTarget(state.range(3)));
        PairTimes t;
        if (round++ % 2 == 0) {
            t.bare = timeBareLoop(*model, tiles);
            timePipeline(*model, image.image, tileSize, step, t);
        } else {
            timePipeline(*model, image.image, tileSize, step, t);
            t.bare = timeBareLoop(*model, tiles);
        }
        state.SetIterationTime(t.pipeline);
        sum += t;
    }
    reportPair(state, sum, tiles, side);
    model->context->deallocateImage();
}

// The identity model's context, made once per process: the runtime's working
// memory is what the session and its warm-up runs added to the resident size
// at their peak, beyond their tile buffer.
struct IdentitySession {
    double processBytes = 0.0;  // resident before the session
    double runtimeBytes = 0.0;
    bool peakResets = false;
    std::unique_ptr<LoadedModel> model;

    IdentitySession(int32_t tileSize, int32_t channels) {
        peakResets = resetPeak();
        processBytes = residentBytes();
        model = std::make_unique<LoadedModel>("identity_t" + std::to_string(tileSize) + "_c3.onnx", tileSize, channels);
        runtimeBytes = peakResidentBytes() - processBytes - static_cast<double>(model->tile->bytes());
    }
};

// Arguments: image side, tile size, step, stdout target.
void BM_IdentityThroughput(benchmark::State& state) {
    const int32_t side = static_cast<int32_t>(state.range(0));
    const int32_t tileSize = static_cast<int32_t>(state.range(1));
    const int32_t step = static_cast<int32_t>(state.range(2));
    constexpr int32_t kChannels = 3;
    if (!identitySession) identitySession = std::make_unique<IdentitySession>(tileSize, kChannels);
    IdentitySession& session = *identitySession;
    LoadedModel& model = *session.model;
    if (model.tile->image.width != tileSize) {
        state.SkipWithError("one tile size per process");
        return;
    }

    OwnedImage image(side, side, kChannels);
    bench::fillRandom(image.image.data, elementCount(image.image));
    cropPatch(image.image, model.tile->image, -(tileSize - step) / 2, -(tileSize - step) / 2);
    const double inputBytes = static_cast<double>(image.bytes());
    const double tileBytes = static_cast<double>(model.tile->bytes());
    const int64_t tiles = tileCount(side, step);

    PairTimes sum;
    // The worst call: its peak growth, the file pages mapped during it, and
    // the growth of its own allocations (the peak less those pages).
    double peak = 0.0, filePages = 0.0, allocated = 0.0, before = 0.0, runs = 0.0;
    for (auto _ : state) {
        bench::Redirect sink(1, stdoutTarget(state.range(3)));
        PairTimes t;
        // Every call makes its result anew, as a host's first call does.
        model.context->deallocateImage();
        before = residentBytes();
        resetPeak();
        t.bare = timeBareLoop(model, tiles);
        runs = std::max(runs, peakResidentBytes() - before);
        before = residentBytes();
        const double filesBefore = residentFileBytes();
        resetPeak();
        timePipeline(model, image.image, tileSize, step, t);
        const double grown = peakResidentBytes() - before;
        const double files = residentFileBytes() - filesBefore;
        if (grown - files >= allocated) {
            allocated = grown - files;
            peak = grown;
            filePages = files;
        }
        state.SetIterationTime(t.pipeline);
        sum += t;
    }
    model.context->deallocateImage();
    reportPair(state, sum, tiles, side);
    // The identity's result has the input's sizes and channels.
    const double callBytes = inputBytes + tileBytes + runs;
    state.counters["process_MiB"] = session.processBytes / kMiB;
    state.counters["runtime_MiB"] = session.runtimeBytes / kMiB;
    state.counters["input_MiB"] = inputBytes / kMiB;
    state.counters["tile_MiB"] = tileBytes / kMiB;
    state.counters["runs_MiB"] = runs / kMiB;
    state.counters["before_call_MiB"] = before / kMiB;
    state.counters["budget_MiB"] = (before + callBytes) / kMiB;
    state.counters["peak_MiB"] = (before + peak) / kMiB;
    state.counters["call_budget_MiB"] = callBytes / kMiB;
    state.counters["call_peak_MiB"] = peak / kMiB;
    state.counters["file_pages_MiB"] = filePages / kMiB;
    state.counters["headroom_MiB"] = (callBytes - allocated) / kMiB;
    state.counters["peak_reset_ok"] = session.peakResets ? 1.0 : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    bench::scratch();
    benchmark::RegisterBenchmark("PipelineVsBareLoop/conv6x32_t256", BM_PipelineVsBareLoop, "conv6x32_t256.onnx")
        ->ArgNames({"side", "tile", "step", "stdout", "paste1"})
        ->Args({2048, 256, 224, 0, 0})
        ->Args({2048, 256, 224, 1, 0})
        ->Args({2048, 256, 224, 0, 1})
        ->Args({4096, 256, 224, 0, 0})
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("PipelineVsBareLoop/identity_t256_c3", BM_PipelineVsBareLoop, "identity_t256_c3.onnx")
        ->ArgNames({"side", "tile", "step", "stdout", "paste1"})
        ->Args({4096, 256, 224, 0, 0})
        ->Args({4096, 256, 224, 0, 1})
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("IdentityThroughput", BM_IdentityThroughput)
        ->ArgNames({"side", "tile", "step", "stdout"})
        ->Args({8192, 512, 448, 0})
        ->Args({8192, 512, 448, 1})
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    releaseQuietly(pairModel);
    releaseQuietly(identitySession);
    benchmark::Shutdown();
    return 0;
}
