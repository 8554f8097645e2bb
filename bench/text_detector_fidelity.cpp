// What tiling does to a text detector (PP-OCRv4, channels-first, open sizes,
// sides multiples of 32) on a page: the whole page run once through the
// direct path is the reference; each tiling through predictByTilesImageFloat
// is compared with it by the text lines found (box F1 at IoU 0.5), the text
// mask (IoU at 0.3) and the largest difference of probability. The runs
// alternate, round after round, and each reports its median wall time.
//
// --plan adds the library's own plan: the detector's profile (ImageNet
// normalisation, a mask out) is handed over as a sidecar text, the page goes
// to velmoraPlan in [0, 1] as it is, with nothing chosen and the page as the
// sample to measure on, and velmoraPredict runs it. Its cost is set against
// the old default (tiles of 256 every 224) and the whole page, in the same
// rounds.
//
// Usage: text_detector_fidelity PAGE.png [--tile T --step S]... [--plan | --no-plan] [--rounds N]
//                               [--model FILE] [--maps DIR]
// Without --tile, the tiling is 256 / 224 (always run with --plan, as the
// old default). The profile is MODEL.json beside the model when there is
// one, else the same text built in. --maps writes each probability map as an
// 8-bit picture into DIR, to see where the tilings stray.
#include <fcntl.h>
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
#include "fidelity_host.h"
#include "velmora.h"

namespace {

#ifndef VELMORA_BENCH_PUBLISHED_MODELS
#define VELMORA_BENCH_PUBLISHED_MODELS "third_party/models"
#endif

constexpr float kMean[3] = {0.485f, 0.456f, 0.406f};
constexpr float kStd[3] = {0.229f, 0.224f, 0.225f};
constexpr float kThreshold = 0.3f;
// The detector's sidecar, as scripts/setup.sh writes it beside the model.
constexpr const char* kProfileText =
    R"({"mean": [0.485, 0.456, 0.406], "std": [0.229, 0.224, 0.225], "output": "mask"})";
// Tiles of 256 every 224: what hosts ran before the library planned.
constexpr int kOldTile = 256, kOldStep = 224;

struct Tiling {
    int tile, step;
};

struct Options {
    std::string page;
    std::string model = std::string(VELMORA_BENCH_PUBLISHED_MODELS) + "/ch_PP-OCRv4_det_infer.onnx";
    std::vector<Tiling> tilings;
    bool plan = false;
    int rounds = 3;
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
        } else if (a == "--plan")
            o.plan = true;
        else if (a == "--no-plan")
            o.plan = false;
        else if (a == "--rounds")
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
            "usage: text_detector_fidelity PAGE.png [--tile T --step S]... [--plan | --no-plan] [--rounds N] "
            "[--model FILE] [--maps DIR]");
    for (Tiling& t : o.tilings)
        if (!t.step) t.step = t.tile;
    const bool old = std::any_of(o.tilings.begin(), o.tilings.end(),
                                 [](const Tiling& t) { return t.tile == kOldTile && t.step == kOldStep; });
    if (o.tilings.empty() || (o.plan && !old)) o.tilings.push_back({kOldTile, kOldStep});
    return o;
}

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

// The process's peak resident memory so far, in MB (Linux).
double peakMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:")) return std::stod(line.substr(6)) / 1024.0;
    return 0.0;
}

using Clock = std::chrono::steady_clock;
using fidelity::errorText;
using fidelity::median;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

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

// What the library planned for the page, and what it cost to plan.
struct PlanFacts {
    std::string profileFrom;
    VelmoraPlan plan{};
    VelmoraModelNeeds needs{};
    double seconds = 0;  // velmoraPlan's wall time, measuring the model included
};

// Hands the detector its profile as a sidecar text, so that velmoraPredict
// normalises the page; the tiled float calls and the direct run take their
// values as given, so the other runs still get the page normalised here.
PlanFacts planPage(VelmoraContext context, const std::string& model, const ImageFloat& page) {
    PlanFacts facts;
    std::string text = kProfileText;
    facts.profileFrom = "built-in sidecar text";
    if (const std::string sidecar = model + ".json"; std::filesystem::exists(sidecar)) {
        const std::vector<char> bytes = fidelity::readFile(sidecar);
        text.assign(bytes.begin(), bytes.end());
        facts.profileFrom = sidecar;
    }
    if (!velmoraLoadProfile(context, text.c_str()))
        throw std::runtime_error("the sidecar text is refused: " + errorText(context));
    VelmoraProfile profile{};
    profile.size = sizeof profile;
    if (!velmoraGetProfile(context, &profile) || profile.source != VELMORA_PROFILE_SIDECAR ||
        profile.output != VELMORA_OUTPUT_MASK)
        throw std::runtime_error("the sidecar's profile is not the one in effect");

    VelmoraPlanRequest request{};
    request.size = sizeof request;
    request.width = page.width;
    request.height = page.height;
    request.channels = page.numChannels;
    request.sample = &page;
    facts.plan.size = sizeof facts.plan;
    const auto t0 = Clock::now();
    if (!velmoraPlan(context, &request, &facts.plan))
        throw std::runtime_error("velmoraPlan refused the page: " + errorText(context));
    facts.seconds = since(t0);
    VelmoraModelInfo info{};
    info.size = sizeof info;
    if (!velmoraDescribeModel(context, &info)) throw std::runtime_error("velmoraDescribeModel: " + errorText(context));
    facts.needs = info.needs;
    return facts;
}

void printPlan(const PlanFacts& f) {
    const VelmoraPlan& p = f.plan;
    const VelmoraModelNeeds& n = f.needs;
    std::printf("plan (profile from %s): ", f.profileFrom.c_str());
    if (p.strategy == VELMORA_STRATEGY_WHOLE)
        std::printf("whole picture, run at %d x %d", p.runWidth, p.runHeight);
    else
        std::printf("tiles of %d every %d, margin %d, blend %s, %d x %d = %lld runs", p.tileSize, p.step, p.margin,
                    p.blend ? "on" : "off", p.across, p.down, static_cast<long long>(p.runs));
    std::printf("\n  reason: %s\n", p.reason);
    std::printf(
        "  peak memory estimate %.0f MiB, model time foretold %.2f s; planning took %.2f s "
        "(measuring %.2f s of it)\n",
        static_cast<double>(p.peakBytes) / (1 << 20), p.seconds, f.seconds, n.probeSeconds);
    std::printf("  measured needs: multiple %d, smallest side %d, reach %d, whole picture %d, exact %d, floor %.4g\n",
                n.multiple, n.smallestSide, n.reach, n.wholePicture, n.exact, n.disagreementFloor);
}

}  // namespace

int main(int argc, char** argv) try {
    const Options options = parse(argc, argv);
    fidelity::ScratchSettings scratch;

    const cv::Mat bgr = cv::imread(options.page, cv::IMREAD_COLOR);
    if (bgr.empty()) throw std::runtime_error("cannot read " + options.page);
    const int width = bgr.cols, height = bgr.rows;
    const size_t pixels = static_cast<size_t>(width) * height;

    // The page in [0, 1], interleaved RGB, as a host hands it to the plan;
    // and normalised, as the tiled calls take it.
    std::vector<float> page(pixels * 3), interleaved(pixels * 3);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = bgr.ptr<uint8_t>(y);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (static_cast<size_t>(y) * width + x) * 3 + c;
                page[i] = row[x * 3 + (2 - c)] / 255.0f;
                interleaved[i] = (page[i] - kMean[c]) / kStd[c];
            }
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
    const ImageFloat pageImage{width, height, 3, page.data()};
    std::optional<PlanFacts> planned;
    if (options.plan) planned = planPage(detector->context, options.model, pageImage);

    std::vector<float> whole(pixels), byPlan;
    std::vector<double> wholeTimes, planTimes;
    double wholePeak = 0.0;
    std::vector<std::vector<float>> tiled(options.tilings.size());
    std::vector<std::vector<double>> tiledTimes(options.tilings.size());

    for (int round = 0; round < options.rounds; ++round) {
        auto t0 = Clock::now();
        const float* out = predictFloat(detector->context, planes.data(), paddedWidth, paddedHeight, 3, false);
        wholeTimes.push_back(since(t0));
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
            tiledTimes[k].push_back(since(t0));
            if (!result.data)
                throw std::runtime_error("tiles of " + std::to_string(t.tile) +
                                         " did not run: " + errorText(detector->context));
            if (result.width != width || result.height != height || result.numChannels != 1)
                throw std::runtime_error("the tiled result is not one plane of the page's size");
            if (round == 0) tiled[k].assign(result.data, result.data + pixels);
        }
        if (planned) {
            t0 = Clock::now();
            const ImageFloat result = velmoraPredict(detector->context, pageImage, &planned->plan, nullptr, nullptr);
            planTimes.push_back(since(t0));
            if (!result.data) throw std::runtime_error("the plan did not run: " + errorText(detector->context));
            if (result.width != width || result.height != height || result.numChannels != 1)
                throw std::runtime_error("the plan's result is not one plane of the page's size");
            if (round == 0) byPlan.assign(result.data, result.data + pixels);
        }
    }

    detector.reset();  // its farewell lines too go nowhere
    quiet.reset();
    const std::vector<fidelity::Box> reference = fidelity::textLines(whole.data(), width, height, kThreshold);
    std::printf("page %s: %d x %d (run whole at %d x %d)\n", options.page.c_str(), width, height, paddedWidth,
                paddedHeight);
    std::printf("whole page: %zu text lines, %.2f s (median of %d), peak memory %.0f MB after it\n", reference.size(),
                median(wholeTimes), options.rounds, wholePeak);
    auto compare = [&](const char* name, const std::vector<float>& map, double seconds) {
        const std::vector<fidelity::Box> found = fidelity::textLines(map.data(), width, height, kThreshold);
        std::printf("%-20s: %5zu text lines (whole %zu), box F1 %.3f, mask IoU %.3f, max |diff| %.3f, %.2f s\n", name,
                    found.size(), reference.size(), fidelity::boxF1(found, reference),
                    fidelity::maskIoU(map.data(), whole.data(), pixels, kThreshold),
                    fidelity::maxAbsDifference(map.data(), whole.data(), pixels), seconds);
    };
    size_t oldDefault = 0;
    for (size_t k = 0; k < options.tilings.size(); ++k) {
        const Tiling& t = options.tilings[k];
        if (t.tile == kOldTile && t.step == kOldStep) oldDefault = k;
        compare(("tile " + std::to_string(t.tile) + " step " + std::to_string(t.step)).c_str(), tiled[k],
                median(tiledTimes[k]));
    }
    if (planned) {
        printPlan(*planned);
        compare("plan", byPlan, median(planTimes));
        const double plan = median(planTimes), old = median(tiledTimes[oldDefault]), all = median(wholeTimes);
        std::printf(
            "cost, medians of %d alternating rounds: plan %.2f s, old default (tile %d step %d) %.2f s, whole page "
            "%.2f s; plan / old default %.2f, plan / whole %.2f%s\n",
            options.rounds, plan, kOldTile, kOldStep, old, all, plan / old, plan / all,
            plan > 1.15 * old ? "  (the plan is more than 1.15 times as slow as the old default)" : "");
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
        if (planned) save(byPlan, "plan.png");
    }
    std::printf("peak memory of the whole process: %.0f MB\n", peakMegabytes());
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "text_detector_fidelity: %s\n", e.what());
    return 1;
}
