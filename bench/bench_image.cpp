// Image utilities on a 4096 x 4096 x 3 float image (192 MiB), against a plain
// memcpy of the same bytes and, when available, single-threaded OpenCV. After
// the runs a table gives each operation's time relative to its baseline.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image/image_records.h"
#include "image/utils_image_cropping.h"
#include "image/utils_image_resize_float.h"

#ifdef VELMORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kSide = 4096;
constexpr int32_t kChannels = 3;
constexpr int32_t kTile = 512;

// An image record that frees its buffer, filled with touched pages.
struct BenchImage {
    ImageFloat image{0, 0, 0, nullptr};
    BenchImage(int32_t w, int32_t h, int32_t c) {
        if (!ensureImage(image, w, h, c)) throw std::bad_alloc();
        std::memset(image.data, 0, static_cast<size_t>(elementCount(image)) * sizeof(float));
    }
    ~BenchImage() { releaseImage(image); }
    size_t bytes() const { return static_cast<size_t>(elementCount(image)) * sizeof(float); }
};

const ImageFloat& sourceImage() {
    static BenchImage src = [] {
        BenchImage img(kSide, kSide, kChannels);
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> dist(0.0f, 1.0f);
        for (int64_t i = 0; i < elementCount(img.image); ++i) img.image.data[i] = dist(rng);
        return img;
    }();
    return src.image;
}

void BM_Memcpy(benchmark::State& state) {
    const ImageFloat& src = sourceImage();
    BenchImage dest(kSide, kSide, kChannels);
    for (auto _ : state) {
        std::memcpy(dest.image.data, src.data, dest.bytes());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dest.bytes()));
}

void BM_CropTiles(benchmark::State& state) {
    const ImageFloat& src = sourceImage();
    BenchImage patch(kTile, kTile, kChannels);
    for (auto _ : state) {
        for (int32_t y = 0; y < kSide; y += kTile)
            for (int32_t x = 0; x < kSide; x += kTile) {
                cropPatch(src, patch.image, x, y);
                benchmark::ClobberMemory();
            }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSide * kSide * kChannels * sizeof(float)));
}

void pasteTiles(benchmark::State& state, const ThreadSource& threads) {
    BenchImage full(kSide, kSide, kChannels);
    BenchImage patch(kTile, kTile, kChannels);
    for (auto _ : state) {
        for (int32_t y = 0; y < kSide; y += kTile)
            for (int32_t x = 0; x < kSide; x += kTile)
                pastePatch(full.image, patch.image, x, y, 0, 0, kTile, kTile, threads);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * full.bytes()));
}

void BM_PasteTiles(benchmark::State& state) { pasteTiles(state, ThreadSource{}); }

// The same with the row split reduced to the calling thread: what starting
// threads per paste costs here.
void BM_PasteTilesOnCaller(benchmark::State& state) {
    pasteTiles(state, ThreadSource{[]() -> unsigned { return 1; }, ThreadSource::startStdThread});
}

void BM_DownsampleBoxClamped(benchmark::State& state) {
    const int32_t K = static_cast<int32_t>(state.range(0));
    const ImageFloat& src = sourceImage();
    BenchImage dest(kSide / K, kSide / K, kChannels);
    for (auto _ : state) {
        downsampleBoxClamped(src, dest.image, K);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (dest.bytes() * (1 + K * K))));
}

void BM_ResizeBilinear(benchmark::State& state) {
    const int32_t K = static_cast<int32_t>(state.range(0));
    const ImageFloat& src = sourceImage();
    BenchImage dest(kSide * K, kSide * K, kChannels);
    const float scale = 1.0f / static_cast<float>(K);
    for (auto _ : state) {
        resizeBilinear(src, dest.image, scale, scale);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dest.bytes()));
}

void BM_TransferDetail(benchmark::State& state) {
    const int32_t K = static_cast<int32_t>(state.range(0));
    const ImageFloat& reference = sourceImage();
    BenchImage low(kSide / K, kSide / K, kChannels), full(kSide, kSide, kChannels);
    for (auto _ : state) {
        transferDetail(full.image, full.image, reference, low.image, K);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * full.bytes()));
}

#ifdef VELMORA_HAVE_OPENCV
cv::Mat sourceMat() {
    const ImageFloat& src = sourceImage();
    return cv::Mat(src.height, src.width, CV_32FC3, src.data);
}

void BM_OpenCV_ResizeArea(benchmark::State& state) {
    cv::setNumThreads(1);
    const int32_t K = static_cast<int32_t>(state.range(0));
    const cv::Mat src = sourceMat();
    cv::Mat dest(kSide / K, kSide / K, CV_32FC3, cv::Scalar::all(0));
    for (auto _ : state) {
        cv::resize(src, dest, dest.size(), 0, 0, cv::INTER_AREA);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dest.total() * dest.elemSize() * (1 + K * K)));
}

void BM_OpenCV_ResizeLinear(benchmark::State& state) {
    cv::setNumThreads(1);
    const int32_t K = static_cast<int32_t>(state.range(0));
    const cv::Mat src = sourceMat();
    cv::Mat dest(kSide * K, kSide * K, CV_32FC3, cv::Scalar::all(0));
    for (auto _ : state) {
        cv::resize(src, dest, dest.size(), 0, 0, cv::INTER_LINEAR);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dest.total() * dest.elemSize()));
}
#endif

constexpr auto kMs = benchmark::kMillisecond;
BENCHMARK(BM_Memcpy)->Unit(kMs)->UseRealTime();
BENCHMARK(BM_CropTiles)->Unit(kMs)->UseRealTime();
BENCHMARK(BM_PasteTiles)->Unit(kMs)->UseRealTime();
BENCHMARK(BM_PasteTilesOnCaller)->Unit(kMs)->UseRealTime();
BENCHMARK(BM_DownsampleBoxClamped)->Arg(2)->Arg(4)->Unit(kMs)->UseRealTime();
BENCHMARK(BM_ResizeBilinear)->Arg(2)->Arg(4)->Unit(kMs)->UseRealTime();
BENCHMARK(BM_TransferDetail)->Arg(2)->Unit(kMs)->UseRealTime();
#ifdef VELMORA_HAVE_OPENCV
BENCHMARK(BM_OpenCV_ResizeArea)->Arg(2)->Arg(4)->Unit(kMs)->UseRealTime();
BENCHMARK(BM_OpenCV_ResizeLinear)->Arg(2)->Arg(4)->Unit(kMs)->UseRealTime();
#endif

// Prints the runs as usual and keeps each one's real and CPU time per
// iteration (the best over repetitions) for the table of ratios. On a busy
// machine the CPU time of single-threaded work is the steadier figure; the
// paste starts threads, so only its real time tells.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}
    std::map<std::string, std::pair<double, double>> best;  // real, CPU

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string name = run.benchmark_name();
            const double real = run.GetAdjustedRealTime(), cpu = run.GetAdjustedCPUTime();
            auto it = best.find(name);
            if (it == best.end()) {
                best[name] = {real, cpu};
            } else {
                it->second.first = std::min(it->second.first, real);
                it->second.second = std::min(it->second.second, cpu);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// Bandwidth: the baseline's time over ours (share of memcpy's bandwidth).
// Time: ours over the baseline's.
void printRatio(const RatioReporter& r, const std::string& ours, const std::string& baseline, bool bandwidth) {
    const auto a = r.best.find(ours + "/real_time"), b = r.best.find(baseline + "/real_time");
    if (a == r.best.end() || b == r.best.end()) return;
    auto ratio = [&](double x, double y) { return bandwidth ? y / x : x / y; };
    std::printf("  %-28s vs %-24s %-9s real %.2f  cpu %.2f\n", ours.c_str(), baseline.c_str(),
                bandwidth ? "bandwidth" : "time", ratio(a->second.first, b->second.first),
                ratio(a->second.second, b->second.second));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nRatios, best of the repetitions\n");
    printRatio(reporter, "BM_CropTiles", "BM_Memcpy", true);
    printRatio(reporter, "BM_PasteTiles", "BM_Memcpy", true);
    printRatio(reporter, "BM_PasteTilesOnCaller", "BM_Memcpy", true);
    for (const char* k : {"/2", "/4"}) {
        printRatio(reporter, std::string("BM_DownsampleBoxClamped") + k, std::string("BM_OpenCV_ResizeArea") + k,
                   false);
        printRatio(reporter, std::string("BM_ResizeBilinear") + k, std::string("BM_OpenCV_ResizeLinear") + k, false);
    }
    return 0;
}
