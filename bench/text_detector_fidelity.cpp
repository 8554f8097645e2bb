// What tiling does to a text detector (PP-OCRv4, channels-first, open sizes,
// sides multiples of 32) on a page: the whole page run once through the
// direct path is the reference; each tiling through predictByTilesImageFloat
// is compared with it by the text lines found (box F1 at IoU 0.5), the text
// mask (IoU at 0.3) and the largest difference of probability. The runs
// alternate, round after round, and each reports its median wall time.
//
// Usage: text_detector_fidelity PAGE.png [--tile T --step S]... [--rounds N] [--model FILE] [--maps DIR]
// Without --tile, the tiling is 256 / 224. --maps writes each probability
// map as an 8-bit picture into DIR, to see where the tilings stray.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fidelity.h"
#include "velmora.h"

namespace {

#ifndef VELMORA_BENCH_PUBLISHED_MODELS
#define VELMORA_BENCH_PUBLISHED_MODELS "third_party/models"
#endif

constexpr float kMean[3] = {0.485f, 0.456f, 0.406f};
constexpr float kStd[3] = {0.229f, 0.224f, 0.225f};
constexpr float kThreshold = 0.3f;

struct Tiling {
    int tile, step;
};

struct Options {
    std::string page;
    std::string model = std::string(VELMORA_BENCH_PUBLISHED_MODELS) + "/ch_PP-OCRv4_det_infer.onnx";
    std::vector<Tiling> tilings;
    int rounds = 2;
    std::string maps;  // a folder for the probability maps as pictures, or none
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
            return argv[++i];
        };
        if (a == "--tile")
            o.tilings.push_back({std::stoi(value()), 0});
        else if (a == "--step") {
            if (o.tilings.empty() || o.tilings.back().step) throw std::runtime_error("--step follows its --tile");
            o.tilings.back().step = std::stoi(value());
        } else if (a == "--rounds")
            o.rounds = std::max(1, std::stoi(value()));
        else if (a == "--model")
            o.model = value();
        else if (a == "--maps")
            o.maps = value();
        else if (o.page.empty() && !a.starts_with("--"))
            o.page = a;
        else
            throw std::runtime_error("unknown argument " + a);
    }
    if (o.page.empty())
        throw std::runtime_error(
            "usage: text_detector_fidelity PAGE.png [--tile T --step S]... [--rounds N] [--model FILE] [--maps DIR]");
    if (o.tilings.empty()) o.tilings.push_back({256, 224});
    for (Tiling& t : o.tilings)
        if (!t.step) t.step = t.tile;
    return o;
}

// The library stores a run count among the per-user settings: a scratch
// folder for them, so that measuring leaves the user's alone.
struct ScratchSettings {
    std::filesystem::path root;
    ScratchSettings() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-fidelity-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
        root = pattern;
        setenv("XDG_CONFIG_HOME", root.c_str(), 1);
        setenv("TEMP", root.c_str(), 1);
    }
    ~ScratchSettings() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

// While alive, standard output and error go nowhere: the library's per-tile
// lines and the runtime's log (verbose for the library's sessions) would bury
// the figures. Failures are reported after it, from the error text.
struct Quiet {
    int saved[2];
    Quiet() {
        std::fflush(nullptr);
        const int null = open("/dev/null", O_WRONLY);
        for (int fd : {1, 2}) {
            saved[fd - 1] = dup(fd);
            dup2(null, fd);
        }
        close(null);
    }
    ~Quiet() {
        std::fflush(nullptr);
        for (int fd : {1, 2}) {
            dup2(saved[fd - 1], fd);
            close(saved[fd - 1]);
        }
    }
};

std::string errorText(VelmoraContext context) {
    std::vector<char> buffer(4096, 0);
    getErrorText(context, buffer.data(), static_cast<int32_t>(buffer.size()));
    return buffer.data();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The process's peak resident memory so far, in MB (Linux).
double peakMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:")) return std::stod(line.substr(6)) / 1024.0;
    return 0.0;
}

using Clock = std::chrono::steady_clock;

struct Detector {
    std::vector<char> bytes;
    VelmoraContext context;
    explicit Detector(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw std::runtime_error("missing " + path + ": run scripts/setup.sh");
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        context = createContext(0, "text_detector_fidelity");
        char text[1000];
        initializeVelmora(context, "text_detector_fidelity", nullptr, text);
        if (!loadModelEx(context, bytes.data(), static_cast<uint32_t>(bytes.size()), "x", "sigmoid_0.tmp_0",
                         VELMORA_CHANNELS_FIRST, VELMORA_CHANNELS_FIRST))
            throw std::runtime_error("cannot load " + path + ": " + errorText(context));
    }
    ~Detector() {
        deallocateModel(context);
        deleteContext(context);
    }
};

}  // namespace

int main(int argc, char** argv) try {
    const Options options = parse(argc, argv);
    ScratchSettings scratch;

    const cv::Mat bgr = cv::imread(options.page, cv::IMREAD_COLOR);
    if (bgr.empty()) throw std::runtime_error("cannot read " + options.page);
    const int width = bgr.cols, height = bgr.rows;
    const size_t pixels = static_cast<size_t>(width) * height;

    // The normalised page, interleaved RGB, as the tiled calls take it.
    std::vector<float> interleaved(pixels * 3);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = bgr.ptr<uint8_t>(y);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                interleaved[(static_cast<size_t>(y) * width + x) * 3 + c] =
                    (row[x * 3 + (2 - c)] / 255.0f - kMean[c]) / kStd[c];
    }
    // The model's own layout for the direct run: planes, sides padded up to
    // multiples of 32 by repeating the last row and column.
    const int paddedWidth = (width + 31) / 32 * 32, paddedHeight = (height + 31) / 32 * 32;
    const size_t paddedPixels = static_cast<size_t>(paddedWidth) * paddedHeight;
    std::vector<float> planes(paddedPixels * 3);
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < paddedHeight; ++y)
            for (int x = 0; x < paddedWidth; ++x)
                planes[(static_cast<size_t>(c) * paddedHeight + y) * paddedWidth + x] =
                    interleaved[(static_cast<size_t>(std::min(y, height - 1)) * width + std::min(x, width - 1)) * 3 +
                                c];

    std::optional<Quiet> quiet(std::in_place);
    std::optional<Detector> detector(std::in_place, options.model);
    std::vector<float> whole(pixels);
    std::vector<double> wholeTimes;
    double wholePeak = 0.0;
    std::vector<std::vector<float>> tiled(options.tilings.size());
    std::vector<std::vector<double>> tiledTimes(options.tilings.size());

    for (int round = 0; round < options.rounds; ++round) {
        auto t0 = Clock::now();
        const float* out = predictFloat(detector->context, planes.data(), paddedWidth, paddedHeight, 3, false);
        wholeTimes.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        if (!out) throw std::runtime_error("the whole page did not run: " + errorText(detector->context));
        if (round == 0) {
            wholePeak = peakMegabytes();
            for (int y = 0; y < height; ++y)  // cropped back to the page
                std::copy_n(out + static_cast<size_t>(y) * paddedWidth, width,
                            whole.begin() + static_cast<size_t>(y) * width);
        }
        for (size_t k = 0; k < options.tilings.size(); ++k) {
            const Tiling& t = options.tilings[k];
            t0 = Clock::now();
            const ImageFloat result =
                predictByTilesImageFloat(detector->context, ImageFloat{width, height, 3, interleaved.data()}, t.tile,
                                         t.step, 1, nullptr, nullptr);
            tiledTimes[k].push_back(std::chrono::duration<double>(Clock::now() - t0).count());
            if (!result.data)
                throw std::runtime_error("tiles of " + std::to_string(t.tile) +
                                         " did not run: " + errorText(detector->context));
            if (result.width != width || result.height != height || result.numChannels != 1)
                throw std::runtime_error("the tiled result is not one plane of the page's size");
            if (round == 0) tiled[k].assign(result.data, result.data + pixels);
        }
    }

    detector.reset();  // its farewell lines too go nowhere
    quiet.reset();
    const std::vector<fidelity::Box> reference = fidelity::textLines(whole.data(), width, height, kThreshold);
    std::printf("page %s: %d x %d (run whole at %d x %d)\n", options.page.c_str(), width, height, paddedWidth,
                paddedHeight);
    std::printf("whole page: %zu text lines, %.2f s (median of %d), peak memory %.0f MB after it\n", reference.size(),
                median(wholeTimes), options.rounds, wholePeak);
    for (size_t k = 0; k < options.tilings.size(); ++k) {
        const Tiling& t = options.tilings[k];
        const std::vector<fidelity::Box> found = fidelity::textLines(tiled[k].data(), width, height, kThreshold);
        std::printf(
            "tile %4d step %4d: %5zu text lines (whole %zu), box F1 %.3f, mask IoU %.3f, max |diff| %.3f, "
            "%.2f s (whole %.2f s)\n",
            t.tile, t.step, found.size(), reference.size(), fidelity::boxF1(found, reference),
            fidelity::maskIoU(tiled[k].data(), whole.data(), pixels, kThreshold),
            fidelity::maxAbsDifference(tiled[k].data(), whole.data(), pixels), median(tiledTimes[k]),
            median(wholeTimes));
    }
    if (!options.maps.empty()) {
        auto save = [&](const std::vector<float>& map, const std::string& name) {
            cv::Mat bytes;
            cv::Mat(height, width, CV_32F, const_cast<float*>(map.data())).convertTo(bytes, CV_8U, 255.0);
            if (!cv::imwrite(options.maps + "/" + name, bytes)) throw std::runtime_error("cannot write " + name);
        };
        std::filesystem::create_directories(options.maps);
        save(whole, "whole.png");
        for (size_t k = 0; k < options.tilings.size(); ++k)
            save(tiled[k], "tile" + std::to_string(options.tilings[k].tile) + "_step" +
                               std::to_string(options.tilings[k].step) + ".png");
    }
    std::printf("peak memory of the whole process: %.0f MB\n", peakMegabytes());
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "text_detector_fidelity: %s\n", e.what());
    return 1;
}
