// Peak resident memory of the velmora command on a 20000 x 20000 RGB picture.
//
// Each case runs the built command as a child process (as a user runs it) on
// an 8-bit RGB TIFF, with the identity model of tile 256, and reads the
// child's peak resident set from wait4. The figures, in GB of 10^9 bytes:
//   peak_GB        the child's peak resident memory
//   float_GB       one float image of the picture (20000 x 20000 x 3 x 4 bytes)
//   baseline_GB    the same command on a 256 x 256 picture: the process, the
//                  runtime and the model's working memory
//   ratio          (peak - baseline) / float image: 2 means the input and the
//                  result and nothing else
//   estimate_GB    what the command estimates before it runs (and refuses
//                  beyond what is available): its own share and the
//                  library's plan for the picture
// The float path and the 8-bit path are measured. The picture (1.2 GB) is
// written to the temporary folder first; the runs take minutes and need
// about 10 GB of memory, so run this benchmark alone:
//   build/bin/bench_command_memory --benchmark_filter=Picture
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "loaded_model.h"
#include "run_plan.h"

namespace fs = std::filesystem;

namespace {

constexpr double kGB = 1e9;

const fs::path& scratch() {
    static const fs::path folder = [] {
        fs::path f = fs::temp_directory_path() / ("velmora-bench-" + std::to_string(getpid()));
        fs::create_directories(f);
        return f;
    }();
    return folder;
}

// An uncompressed RGB TIFF with a gradient, written strip by strip.
void writePicture(const fs::path& path, int side) {
    TIFF* tiff = TIFFOpen(path.string().c_str(), "w");
    if (!tiff) throw std::runtime_error("cannot write " + path.string());
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(side));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(side));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<unsigned char> row(static_cast<size_t>(side) * 3);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            row[x * 3 + 0] = static_cast<unsigned char>(x * 255 / side);
            row[x * 3 + 1] = static_cast<unsigned char>(y * 255 / side);
            row[x * 3 + 2] = static_cast<unsigned char>((x + y) % 256);
        }
        TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(tiff);
}

const fs::path& picture(int side) {
    static std::map<int, fs::path> made;
    auto it = made.find(side);
    if (it == made.end()) {
        const fs::path path = scratch() / ("picture-" + std::to_string(side) + ".tif");
        writePicture(path, side);
        it = made.emplace(side, path).first;
    }
    return it->second;
}

// Runs the command and returns its peak resident memory in bytes.
uint64_t peakOfRun(std::vector<std::string> args) {
    args.insert(args.begin(), VELMORA_BENCH_COMMAND);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the command failed");
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
}

// The command's estimate: its own share with the library's plan for the picture.
uint64_t estimatedPeak(const std::string& model, int side, bool eightBit) {
    LoadedModel loaded = loadModel(model, Options{});
    VelmoraPlanRequest request{};
    request.width = request.height = side;
    request.channels = 3;
    if (eightBit) request.strategy = VELMORA_STRATEGY_TILES;
    const velmora::Result<VelmoraPlan> plan = loaded.context.plan(request);
    if (!plan) throw std::runtime_error(plan.error().words);
    CommandShare share;
    share.width = share.height = side;
    share.modelChannels = 3;
    share.eightBit = eightBit;
    return estimateMemory(share, libraryBytes(*plan, eightBit)).peak;
}

void runCase(benchmark::State& state, bool eightBit) {
    const int side = static_cast<int>(state.range(0));
    const std::string model = std::string(VELMORA_BENCH_MODELS) + "/identity_t256_c3.onnx";
    const fs::path result = scratch() / "result.tif";
    auto command = [&](const fs::path& in) {
        std::vector<std::string> args{in.string(), result.string(), "-m", model, "--quiet", "--force"};
        if (eightBit) args.push_back("--8bit");
        return args;
    };
    const fs::path& input = picture(side);
    const uint64_t baseline = peakOfRun(command(picture(256)));
    uint64_t peak = 0;
    for (auto _ : state) {
        try {
            peak = peakOfRun(command(input));
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
    }
    fs::remove(result);
    const double floatImage = static_cast<double>(side) * side * 3 * 4;
    state.counters["peak_GB"] = static_cast<double>(peak) / kGB;
    state.counters["float_GB"] = floatImage / kGB;
    state.counters["baseline_GB"] = static_cast<double>(baseline) / kGB;
    state.counters["ratio"] = (static_cast<double>(peak) - static_cast<double>(baseline)) / floatImage;
    state.counters["estimate_GB"] = static_cast<double>(estimatedPeak(model, side, eightBit)) / kGB;
}

void PictureFloatPath(benchmark::State& state) { runCase(state, false); }
void PictureEightBitPath(benchmark::State& state) { runCase(state, true); }

struct Cleanup {
    ~Cleanup() {
        std::error_code ec;
        fs::remove_all(scratch(), ec);
    }
} cleanup;

}  // namespace

BENCHMARK(PictureFloatPath)->Arg(4000)->Arg(20000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(PictureEightBitPath)->Arg(4000)->Arg(20000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_MAIN();
