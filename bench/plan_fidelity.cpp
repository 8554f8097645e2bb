// How far the library's own plans (velmoraPlan with nothing chosen, the
// picture as the sample, then velmoraPredict) stray from one run of the
// model on the whole picture, for the generated stand-ins:
// - conv5_open, up2_conv_open, up4_conv_open (pixel-local, open sizes, x1,
//   x2, x4) on a 1000 x 800 crop of the photo: the reference is one direct
//   run (predictFloat) on the whole crop; the largest difference away from
//   the crop's outer edge (8 input pixels) must stay within 1e-5;
// - global_mix_t256 (reads the whole picture; fixed 256 x 256) on the whole
//   photo: the reference is the photo resized to 256 x 256, run directly and
//   its result resized back, by the library's rule for resizing; the largest
//   difference must stay within 1/255.
//
// Usage: plan_fidelity PHOTO.png [--models DIR]
// PHOTO.png is scripts/make_photo.py's picture (2000 x 1500).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "fidelity_host.h"
#include "velmora.h"

namespace {

#ifndef VELMORA_BENCH_MODELS
#define VELMORA_BENCH_MODELS "build/models"
#endif

using Clock = std::chrono::steady_clock;
using fidelity::errorText;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

constexpr int kCropWidth = 1000, kCropHeight = 800;
constexpr int kEdge = 8;  // input pixels left out along the picture's outer edge
constexpr double kLocalTarget = 1e-5;
constexpr double kWholeTarget = 1.0 / 255.0;

// An interleaved float picture that owns its values.
struct Picture {
    int width = 0, height = 0, channels = 0;
    std::vector<float> values;
    Picture() = default;
    Picture(int w, int h, int c) : width(w), height(h), channels(c), values(static_cast<size_t>(w) * h * c) {}
    float* at(int x, int y) { return values.data() + (static_cast<size_t>(y) * width + x) * channels; }
    const float* at(int x, int y) const { return values.data() + (static_cast<size_t>(y) * width + x) * channels; }
    ImageFloat view() { return {width, height, channels, values.data()}; }
};

// One axis of a resize: for each destination pixel, the source pixels it
// takes and their weights. An axis that shrinks averages the source pixels
// a destination pixel covers, each by the share of it covered; one that
// grows interpolates linearly between pixel centres, repeating the edges.
struct Tap {
    int from;
    double weight;
};

std::vector<std::vector<Tap>> axisTaps(int from, int to) {
    std::vector<std::vector<Tap>> taps(static_cast<size_t>(to));
    const double ratio = static_cast<double>(from) / to;
    for (int i = 0; i < to; ++i) {
        if (to < from) {
            const double lo = i * ratio, hi = (i + 1) * ratio;
            for (int s = static_cast<int>(std::floor(lo)); s < from && s < hi; ++s) {
                const double share = std::min(hi, s + 1.0) - std::max(lo, static_cast<double>(s));
                if (share > 0) taps[i].push_back({s, share / ratio});
            }
        } else {
            const double at = (i + 0.5) * ratio - 0.5, below = std::floor(at), f = at - below;
            const int a = std::clamp(static_cast<int>(below), 0, from - 1);
            const int b = std::clamp(static_cast<int>(below) + 1, 0, from - 1);
            taps[i] = {{a, 1.0 - f}, {b, f}};
        }
    }
    return taps;
}

// Across, then down.
Picture resize(const Picture& src, int width, int height) {
    const auto across = axisTaps(src.width, width), down = axisTaps(src.height, height);
    const int c = src.channels;
    Picture wide(width, src.height, c), out(width, height, c);
    std::vector<double> sum(static_cast<size_t>(c));
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < width; ++x) {
            std::fill(sum.begin(), sum.end(), 0.0);
            for (const Tap& t : across[x])
                for (int ch = 0; ch < c; ++ch) sum[ch] += t.weight * src.at(t.from, y)[ch];
            for (int ch = 0; ch < c; ++ch) wide.at(x, y)[ch] = static_cast<float>(sum[ch]);
        }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::fill(sum.begin(), sum.end(), 0.0);
            for (const Tap& t : down[y])
                for (int ch = 0; ch < c; ++ch) sum[ch] += t.weight * wide.at(x, t.from)[ch];
            for (int ch = 0; ch < c; ++ch) out.at(x, y)[ch] = static_cast<float>(sum[ch]);
        }
    return out;
}

std::vector<float> planar(const Picture& p) {
    std::vector<float> planes(p.values.size());
    const size_t area = static_cast<size_t>(p.width) * p.height;
    for (size_t i = 0; i < area; ++i)
        for (int ch = 0; ch < p.channels; ++ch) planes[ch * area + i] = p.values[i * p.channels + ch];
    return planes;
}

Picture interleaved(const float* planes, int width, int height, int channels) {
    Picture p(width, height, channels);
    const size_t area = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < area; ++i)
        for (int ch = 0; ch < channels; ++ch) p.values[i * channels + ch] = planes[ch * area + i];
    return p;
}

// The largest |a - b| over the pixels at least `edge` from the outer edge.
double maxDifference(const Picture& a, const Picture& b, int edge) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels)
        throw std::runtime_error("the plan's result and the reference differ in size");
    double worst = 0;
    for (int y = edge; y < a.height - edge; ++y)
        for (int x = edge; x < a.width - edge; ++x)
            for (int ch = 0; ch < a.channels; ++ch) {
                const double d = std::fabs(static_cast<double>(a.at(x, y)[ch]) - b.at(x, y)[ch]);
                if (!(d <= worst)) worst = std::isnan(d) ? INFINITY : d;
            }
    return worst;
}

struct Model {
    const char* file;
    int scale;   // result side / picture side
    bool whole;  // reads the whole picture; else pixel-local
};

struct Outcome {
    std::string name;
    double difference = INFINITY, target = 0;
    std::string failure;  // why there is no difference to tell
};

class Session {
public:
    explicit Session(const std::string& path) : bytes_(fidelity::readFile(path)) {
        context_ = createContext(0, "plan_fidelity");
        char text[1000];
        initializeVelmora(context_, "plan_fidelity", nullptr, text);
        if (!loadModelEx(context_, bytes_.data(), static_cast<uint32_t>(bytes_.size()), "input", "output",
                         VELMORA_CHANNELS_FIRST, VELMORA_CHANNELS_FIRST))
            throw std::runtime_error("cannot load " + path + ": " + errorText(context_));
    }
    ~Session() {
        deallocateModel(context_);
        deleteContext(context_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    VelmoraContext context() const { return context_; }

private:
    std::vector<char> bytes_;
    VelmoraContext context_;
};

Outcome measure(const Model& model, const std::string& folder, Picture& picture) {
    Session session(folder + "/" + model.file);
    const VelmoraContext context = session.context();

    VelmoraPlanRequest request{};
    request.size = sizeof request;
    request.width = picture.width;
    request.height = picture.height;
    request.channels = picture.channels;
    const ImageFloat sample = picture.view();
    request.sample = &sample;
    VelmoraPlan plan{};
    plan.size = sizeof plan;
    auto t0 = Clock::now();
    if (!velmoraPlan(context, &request, &plan)) throw std::runtime_error("velmoraPlan: " + errorText(context));
    const double planSeconds = since(t0);
    VelmoraModelInfo info{};
    info.size = sizeof info;
    if (!velmoraDescribeModel(context, &info)) throw std::runtime_error("velmoraDescribeModel: " + errorText(context));
    const VelmoraModelNeeds& needs = info.needs;

    std::printf("%s on %d x %d:\n  plan: ", model.file, picture.width, picture.height);
    if (plan.strategy == VELMORA_STRATEGY_WHOLE)
        std::printf("whole picture, run at %d x %d, %lld run", plan.runWidth, plan.runHeight,
                    static_cast<long long>(plan.runs));
    else
        std::printf("tiles of %d every %d, margin %d, blend %s, %d x %d = %lld runs", plan.tileSize, plan.step,
                    plan.margin, plan.blend ? "on" : "off", plan.across, plan.down, static_cast<long long>(plan.runs));
    std::printf("\n  reason: %s\n", plan.reason);
    std::printf(
        "  needs: reach %d, multiple %d, smallest side %d, whole picture %d, exact %d, scale %d, floor %.3g; probe "
        "%.2f s, planning %.2f s\n",
        needs.reach, needs.multiple, needs.smallestSide, needs.wholePicture, needs.exact, needs.scale,
        needs.disagreementFloor, needs.probeSeconds, planSeconds);
    if (model.whole && plan.strategy != VELMORA_STRATEGY_WHOLE)
        std::printf("  NOTE: a model that reads the whole picture was not planned whole\n");
    if (!model.whole && plan.strategy != VELMORA_STRATEGY_TILES)
        std::printf("  NOTE: a pixel-local model was not planned in tiles\n");

    t0 = Clock::now();
    const ImageFloat result = velmoraPredict(context, picture.view(), &plan, nullptr, nullptr);
    const double predictSeconds = since(t0);
    if (!result.data) throw std::runtime_error("velmoraPredict: " + errorText(context));
    if (result.width != picture.width * model.scale || result.height != picture.height * model.scale)
        throw std::runtime_error("velmoraPredict gave " + std::to_string(result.width) + " x " +
                                 std::to_string(result.height) + ", not the picture times " +
                                 std::to_string(model.scale));
    Picture byPlan(result.width, result.height, result.numChannels);
    std::copy_n(result.data, byPlan.values.size(), byPlan.values.begin());

    // The reference: the model's own layout, planes in and planes out.
    Picture reference;
    Picture runOn = model.whole ? resize(picture, info.inputs[0].width, info.inputs[0].height) : picture;
    t0 = Clock::now();
    std::vector<float> planes = planar(runOn);
    const float* out = predictFloat(context, planes.data(), runOn.width, runOn.height, runOn.channels, false);
    const double referenceSeconds = since(t0);
    if (!out) throw std::runtime_error("predictFloat: " + errorText(context));
    const VelmoraTensorInfo& o = info.outputs[0];
    const int outWidth = o.width > 0 ? o.width : runOn.width * model.scale;
    const int outHeight = o.height > 0 ? o.height : runOn.height * model.scale;
    const int outChannels = o.channels > 0 ? o.channels : byPlan.channels;
    reference = interleaved(out, outWidth, outHeight, outChannels);
    if (model.whole) reference = resize(reference, byPlan.width, byPlan.height);

    const int edge = model.whole ? 0 : kEdge * model.scale;
    const double difference = maxDifference(byPlan, reference, edge);
    std::printf("  result %d x %d x %d; max |plan - reference| %.3g", byPlan.width, byPlan.height, byPlan.channels,
                difference);
    if (edge) std::printf(" beyond %d pixels of the edge (%.3g over all)", edge, maxDifference(byPlan, reference, 0));
    std::printf("; velmoraPredict %.2f s, reference %.2f s\n", predictSeconds, referenceSeconds);
    return {model.file, difference, model.whole ? kWholeTarget : kLocalTarget, {}};
}

Picture readPhoto(const std::string& path) {
    const cv::Mat bgr = cv::imread(path, cv::IMREAD_COLOR);
    if (bgr.empty()) throw std::runtime_error("cannot read " + path);
    Picture p(bgr.cols, bgr.rows, 3);
    for (int y = 0; y < p.height; ++y) {
        const uint8_t* row = bgr.ptr<uint8_t>(y);
        for (int x = 0; x < p.width; ++x)
            for (int c = 0; c < 3; ++c) p.at(x, y)[c] = row[x * 3 + (2 - c)] / 255.0f;
    }
    return p;
}

Picture crop(const Picture& p, int width, int height) {
    width = std::min(width, p.width);
    height = std::min(height, p.height);
    const int x0 = (p.width - width) / 2, y0 = (p.height - height) / 2;
    Picture out(width, height, p.channels);
    for (int y = 0; y < height; ++y)
        std::copy_n(p.at(x0, y0 + y), static_cast<size_t>(width) * p.channels, out.at(0, y));
    return out;
}

// A failure's words on one line, for the summary.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text.size() > 200 ? text.substr(0, 200) + "..." : text;
}

// The library's and the runtime's lines would bury the figures.
void dropMessage(void*, int32_t, int32_t, const char*) {}

}  // namespace

int main(int argc, char** argv) try {
    std::string photoPath, folder = VELMORA_BENCH_MODELS;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--models" && i + 1 < argc)
            folder = argv[++i];
        else if (photoPath.empty() && !a.starts_with("--"))
            photoPath = a;
        else
            throw std::runtime_error("usage: plan_fidelity PHOTO.png [--models DIR]");
    }
    if (photoPath.empty()) throw std::runtime_error("usage: plan_fidelity PHOTO.png [--models DIR]");
    fidelity::ScratchSettings scratch;
    velmoraSetMessageSink(dropMessage, nullptr, VELMORA_SEVERITY_FATAL);

    Picture photo = readPhoto(photoPath);
    Picture cropped = crop(photo, kCropWidth, kCropHeight);
    std::printf("photo %s: %d x %d; pixel-local models on its middle %d x %d\n", photoPath.c_str(), photo.width,
                photo.height, cropped.width, cropped.height);
    const Model models[] = {{"conv5_open.onnx", 1, false},
                            {"up2_conv_open.onnx", 2, false},
                            {"up4_conv_open.onnx", 4, false},
                            {"global_mix_t256.onnx", 1, true}};
    std::vector<Outcome> outcomes;
    for (const Model& m : models) {
        // One model's failure leaves the others to measure.
        try {
            outcomes.push_back(measure(m, folder, m.whole ? photo : cropped));
        } catch (const std::exception& e) {
            std::printf("  failed: %s\n", e.what());
            outcomes.push_back({m.file, INFINITY, m.whole ? kWholeTarget : kLocalTarget, e.what()});
        }
    }
    bool all = true;
    for (const Outcome& o : outcomes) {
        const bool pass = o.failure.empty() && o.difference <= o.target;
        all = all && pass;
        if (o.failure.empty())
            std::printf("%-22s max |diff| %.3g (target %.3g) %s\n", o.name.c_str(), o.difference, o.target,
                        pass ? "PASS" : "FAIL");
        else
            std::printf("%-22s no result (target %.3g) FAIL: %s\n", o.name.c_str(), o.target,
                        oneLine(o.failure).c_str());
    }
    return all ? 0 : 2;
} catch (const std::exception& e) {
    std::fprintf(stderr, "plan_fidelity: %s\n", e.what());
    return 1;
}
