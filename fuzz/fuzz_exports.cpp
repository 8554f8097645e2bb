// libFuzzer harness over the exported functions of velmora.h, called as a
// host calls them: small generated models, fuzzed image sizes, tiles, steps,
// downscales, scales and stop decisions. Besides the sanitizers, results are
// checked where the answer is known: an identity model gives its input back
// (bit for bit at downscale 1, within rounding where the detail is
// restored), a failure always comes with words, a stop is obeyed.
//
// The progress callback may call any export, on the running call's context
// or on a second context of the same model: a call that would disturb the
// running one is refused with words naming it, any other does what it says,
// a second tiled float prediction in the process raises VelmoraException
// (caught here, as a host catches it), and the running call still gives its
// whole, right result, or no result with words after a release. A context
// no fuzzed call touches then runs normally, and so does a fresh one after
// calls that change what the process shares.
//
// Contexts are made once per model and kept between inputs, as a host keeps
// its context between pictures.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "export_call.h"
#include "export_models.h"
#include "export_oracle.h"
#include "fuzz_support.h"
#include "velmora.h"

namespace {

// What the harness allocates for the host's images, and the tiles per run.
constexpr int64_t kMaxSide = 4096;
constexpr int64_t kMaxImageValues = int64_t{1} << 20;
constexpr int64_t kMaxTiles = 1024;
constexpr int32_t kMaxChannels = 64;

struct Loaded {
    VelmoraContext context = nullptr;
    std::vector<uint8_t> bytes;  // borrowed by the library while the model is loaded
    bool usable = false;
    bool changed = false;  // its model or profile changed: loaded again before its next use
};
std::vector<Loaded> loaded(kExportModelCount);
std::vector<Loaded> seconds(kExportModelCount);  // for the progress callback's calls on another context

VelmoraContext untouched = nullptr;  // an identity model's, which no fuzzed call reaches

// The outer call while its progress callback runs, so that findings inside
// tell what they were called from.
const ExportCall* runningCall = nullptr;

// getErrorText gives the process's backend text, which only grows and is
// never cleared, then the context's own messages, which the fetch clears.
std::string fetchText(VelmoraContext context, size_t room) {
    static std::vector<char> buffer;
    buffer.assign(room, 0);
    getErrorText(context, buffer.data(), static_cast<int32_t>(buffer.size()));
    buffer.back() = 0;
    return buffer.data();
}

std::string seenBackendText;

// The words a call left: what is new in the backend text, and the context's
// messages (a second fetch gives the backend text alone, so the two are told
// apart).
struct Words {
    std::string backend, context;
    // Words its callback's call left on the context: predictByTilesImageFloat
    // hands back the empty record while the context holds unfetched words.
    bool leftByCallback = false;
    bool any() const { return !backend.empty() || !context.empty(); }
};

Words newWords(VelmoraContext context) {
    const size_t room = seenBackendText.size() + (1u << 16);
    const std::string full = fetchText(context, room);
    const std::string backend = fetchText(context, room);
    Words words;
    words.backend = backend.compare(0, seenBackendText.size(), seenBackendText) == 0
                        ? backend.substr(seenBackendText.size())
                        : backend;
    seenBackendText = backend;
    if (full.size() > backend.size()) words.context = full.substr(backend.size() + 1);
    return words;
}

std::string errorText(VelmoraContext context) {
    const Words words = newWords(context);
    return words.backend + words.context;
}

// The last tiled result's sizes, as a host of the calls that return only a
// pointer reads them: the second line of the detailed model information.
struct TiledSizes {
    int64_t width, height, channels;
};

std::optional<TiledSizes> lastTiledResult(VelmoraContext context) {
    std::vector<char> text(2048);
    getModelInformation(context, nullptr, VELMORA_MODEL_DETAILS, text.data());
    const char* second = std::strchr(text.data(), '\n');
    long long width, height, channels;
    if (!second || std::sscanf(second + 1, "Last tiled result: %lld x %lld x %lld", &width, &height, &channels) != 3)
        return std::nullopt;
    return TiledSizes{width, height, channels};
}

bool loadInto(VelmoraContext context, const ExportModel& m, const std::vector<uint8_t>& bytes, int32_t inLayout,
              int32_t outLayout) {
    const auto size = static_cast<uint32_t>(bytes.size());
    if (inLayout < 0 && outLayout < 0) return loadModel(context, bytes.data(), size, m.input, m.output);
    return loadModelEx(context, bytes.data(), size, m.input, m.output, inLayout, outLayout);
}

Loaded& contextFor(size_t index, std::vector<Loaded>& table = loaded) {
    Loaded& l = table[index];
    if (l.context && l.changed) {
        deallocateModel(l.context);
        l.usable = loadInto(l.context, kExportModels[index], l.bytes, kExportModels[index].inputLayout,
                            kExportModels[index].inputLayout);
        errorText(l.context);
        l.changed = false;
    }
    if (l.context) return l;
    l.changed = false;
    const ExportModel& m = kExportModels[index];
    if (l.bytes.empty())
        l.bytes =
            readFileBytes(std::filesystem::path(m.fuzzModel ? VELMORA_FUZZ_MODELS : VELMORA_TEST_MODELS) / m.file);
    l.context = createContext(0, "velmora-fuzz");
    if (!l.context) finding("createContext returned no context");
    char info[1000];
    initializeVelmora(l.context, "velmora-fuzz", nullptr, info);  // reads the scratch settings
    l.usable = loadInto(l.context, m, l.bytes, m.inputLayout, m.inputLayout);
    const std::string text = errorText(l.context);
    if (!l.usable) {
        static std::vector<bool> told(kExportModelCount);
        if (!told[index]) std::fprintf(stderr, "velmora-fuzz: %s does not load: %s\n", m.file, text.c_str());
        told[index] = true;
    }
    return l;
}

int64_t absolute(int32_t v) { return std::llabs(static_cast<long long>(v)); }

// Tiles a run cuts, or -1 when the arguments are refused before any tile.
int64_t tileCount(int64_t width, int64_t height, int32_t step, int32_t downscale) {
    if (width <= 0 || height <= 0 || step < 1 || downscale == 0) return -1;
    const int64_t s = absolute(downscale) * step;
    return ((width + s - 1) / s) * ((height + s - 1) / s);
}

void fillFloats(std::vector<float>& values, int64_t width, int channels, const ExportCall& c) {
    std::mt19937 rng(c.seed);
    static const float specials[] = {NAN, INFINITY, -INFINITY, 1e30f, -1e30f, -0.0f, 1e-40f, 3.0f};
    const float constant = static_cast<float>((c.seed >> 8) & 255) / 256.0f;
    const int64_t perRow = std::max<int64_t>(width, 1) * std::max(channels, 1);
    for (size_t i = 0; i < values.size(); ++i) {
        switch (c.pixels) {
            case Pixels::Ramp:
                values[i] = static_cast<float>((static_cast<int64_t>(i) % perRow) / std::max(channels, 1)) /
                            static_cast<float>(std::max<int64_t>(width, 1));
                break;
            case Pixels::Tiny: values[i] = static_cast<float>(rng() % 1000) / 1e6f; break;
            case Pixels::Special:
                values[i] = rng() % 16 == 0 ? specials[rng() % 8] : static_cast<float>(rng() & 255) / 256.0f;
                break;
            case Pixels::Constant: values[i] = constant; break;
            default: values[i] = static_cast<float>(rng() & 255) / 256.0f; break;
        }
    }
}

void fillBytes(std::vector<uint8_t>& bytes, int64_t width, const ExportCall& c) {
    std::mt19937 rng(c.seed);
    const int64_t perRow = std::max<int64_t>(width, 1) * 3;
    for (size_t i = 0; i < bytes.size(); ++i) {
        switch (c.pixels) {
            case Pixels::Ramp:
                bytes[i] =
                    static_cast<uint8_t>((static_cast<int64_t>(i) % perRow) / 3 * 255 / std::max<int64_t>(width, 1));
                break;
            case Pixels::Tiny: bytes[i] = 0; break;
            case Pixels::Special: bytes[i] = rng() % 2 ? 255 : 0; break;
            case Pixels::Constant: bytes[i] = static_cast<uint8_t>(c.seed >> 8); break;
            default: bytes[i] = static_cast<uint8_t>(rng()); break;
        }
    }
}

struct Reentering;
Reentering* pendingReentering = nullptr;  // for the next outer call's callback alone

struct Progress {
    Progress(VelmoraContext context, int stopAt, bool deleteIt)
        : context(context), stopAt(stopAt), deleteIt(deleteIt), reentering(pendingReentering) {
        pendingReentering = nullptr;
    }
    VelmoraContext context;
    int stopAt;
    bool deleteIt;
    int calls = 0;
    float last = -1.0f;
    bool askedStop = false;
    bool deleted = false;
    std::string problem;
    Reentering* reentering;
};

void callFromCallback(Progress& p);

bool onProgress(void* user, float percent) {
    auto* p = static_cast<Progress*>(user);
    ++p->calls;
    if (!(percent >= 0.0f && percent <= 100.0f) || percent < p->last - 1e-3f)
        p->problem = "progress call " + std::to_string(p->calls) + " gave " + std::to_string(percent) + " after " +
                     std::to_string(p->last);
    p->last = percent;
    if (p->reentering && !p->deleted) callFromCallback(*p);
    const bool stop = p->stopAt != 0 && p->calls == p->stopAt;
    if (p->deleteIt && !p->deleted && p->calls == std::max(p->stopAt, 1)) {
        deleteContext(p->context);
        p->deleted = true;
    }
    if (stop && percent < 100.0f) p->askedStop = true;
    return stop;
}

class Checker {
public:
    Checker(const ExportCall& c, const ExportModel& m) : call(c), model(m) {}
    void require(bool ok, const std::string& what) const {
        if (!ok) finding(what + where());
    }
    void same(const std::string& difference, const char* what) const {
        if (!difference.empty()) finding(std::string(what) + ": " + difference + where());
    }

private:
    std::string where() const {
        std::string s = "\n  call: " + describe(call, model.file);
        if (runningCall && runningCall != &call)
            s += "\n  made from the progress callback of: " + describe(*runningCall, model.file);
        return s;
    }

    const ExportCall& call;
    const ExportModel& model;
};

// The harness's own limit on the host image it allocates.
bool imageFits(int64_t width, int64_t height, int64_t channels) {
    if (width <= 0 || height <= 0 || channels <= 0) return true;  // refused: a token buffer is enough
    return width <= kMaxSide && height <= kMaxSide && channels <= kMaxChannels &&
           width * height * channels <= kMaxImageValues;
}

void afterRun(Loaded& l, const Progress& progress, const Checker& check) {
    if (progress.deleted) l.context = nullptr;  // nothing more may be asked of it
    check.require(progress.problem.empty(), progress.problem);
}

// What the progress callback is to call, and what its call did that the
// running call must answer for.
struct Reentering {
    Reentering(const ExportCall& call, const ExportModel& model, Loaded& same, Loaded& second)
        : call(call), model(model), same(same), second(second) {}
    const ExportCall& call;
    const ExportModel& model;
    Loaded& same;
    Loaded& second;
    bool done = false;
    std::string refusedWho;  // refused, its words not fetched in the callback
    std::string leftWho;     // admitted, it left words of its own for the running call's fetch
    bool releasedImage = false, releasedModel = false, sinkSet = false;
};

bool floatResult(Export op) {
    return op == Export::TilesImageFloat || op == Export::TilesFloat || op == Export::Planned;
}

// The words the outer call left, less those of the call its callback made
// on the same context; a refusal not fetched in the callback must be among
// them, naming the refused call.
Words outerWords(Loaded& l, const Progress& progress, const Checker& check) {
    Words words = newWords(l.context);
    const Reentering* r = progress.reentering;
    if (!r || !r->done) return words;
    if (!r->refusedWho.empty()) {
        check.require(namesRefusal(words.context, r->refusedWho.c_str()),
                      r->refusedWho +
                          " was refused in the progress callback without words naming it; the words: " + words.context);
        words.context = withoutLines(words.context, r->refusedWho + ": the context is in another call");
    }
    if (!r->leftWho.empty()) {
        const std::string own = withoutLines(words.context, r->leftWho + ": ");
        words.leftByCallback = own != words.context;
        words.context = own;
    }
    return words;
}

// A result after the callback's call: none after a release of the float
// result on the same context, else the whole one (checked by the caller).
void checkOutcome(const Progress& progress, const Words& words, bool gaveResult, Export op, const Checker& check) {
    const Reentering* r = progress.reentering;
    if (!r || !r->done || progress.askedStop) return;
    if (r->releasedImage && floatResult(op)) {
        // The release's words, unless the run failed of itself first.
        check.require(!gaveResult, "a result released (deallocateImage) in the progress callback was handed back");
        check.require(words.any(), "a run whose result was released in its progress callback ended without words");
    } else if (!gaveResult && !(op == Export::TilesImageFloat && words.leftByCallback)) {
        check.require(words.any(), std::string("the running call failed after its progress callback called ") +
                                       apiName(r->call.inner.api) + ", with no words of its own");
    }
}

// What a Cast model gives back for the values, where it is exact: whole
// numbers for integer types, the values themselves for float types (compared
// within their tolerance).
std::vector<float> castBack(const ExportModel& m, const std::vector<float>& values) {
    std::vector<float> out(values);
    if (m.castTolerance < 0)
        for (float& v : out) v = std::trunc(v);
    return out;
}

void tilesFloat(Loaded& l, const ExportModel& m, const ExportCall& c) {
    const Checker check(c, m);
    const int64_t W = c.width, H = c.height, C = c.channels, K = absolute(c.downscale);
    if (!imageFits(W, H, C) || tileCount(W, H, c.step, c.downscale) > kMaxTiles) return;
    const bool real = W > 0 && H > 0 && C > 0;
    std::vector<float> image(real ? static_cast<size_t>(W * H * C) : 1);
    fillFloats(image, real ? W : 1, real ? static_cast<int>(C) : 1, c);
    float* data = c.nullData ? nullptr : image.data();

    Progress progress(l.context, c.stopAt, c.deleteInCallback);
    const ProgressCallback callback = c.noCallback ? nullptr : onProgress;
    ImageFloat result{0, 0, 0, nullptr};
    if (c.op == Export::TilesImageFloat) {
        result = predictByTilesImageFloat(l.context, ImageFloat{c.width, c.height, c.channels, data}, c.tile, c.step,
                                          c.downscale, callback, &progress);
    } else {
        float* out = predictByTilesFloat(l.context, data, c.width, c.height, c.channels, c.tile, c.step, c.downscale,
                                         callback, &progress);
        if (out) result.data = out;
    }
    afterRun(l, progress, check);
    if (progress.deleted) return;
    const Words words = outerWords(l, progress, check);
    checkOutcome(progress, words, result.data != nullptr, c.op, check);
    if (!result.data) {
        check.require(progress.askedStop || words.any() || words.leftByCallback || !l.usable,
                      "a tiled float run failed without a word");
        return;
    }
    check.require(!progress.askedStop, "the progress callback asked to stop, yet a result came back");
    check.require(!callback || progress.last == 100.0f, "a completed run did not end with a progress call of 100");
    if (c.op == Export::TilesImageFloat)
        check.require(words.context.empty(), "a result came back together with an error text: " + words.context);
    const std::optional<TiledSizes> told = lastTiledResult(l.context);
    check.require(told.has_value(), "after a tiled result the detailed model information tells no sizes");
    if (!told) return;
    const std::string toldText =
        std::to_string(told->width) + " x " + std::to_string(told->height) + " x " + std::to_string(told->channels);
    if (c.op == Export::TilesImageFloat)
        check.require(
            told->width == result.width && told->height == result.height && told->channels == result.numChannels,
            "the detailed model information tells a result of " + toldText + ", the record " +
                std::to_string(result.width) + " x " + std::to_string(result.height) + " x " +
                std::to_string(result.numChannels));
    else
        result = ImageFloat{static_cast<int32_t>(told->width), static_cast<int32_t>(told->height),
                            static_cast<int32_t>(told->channels), result.data};
    // Every value is read, so that a short result buffer shows.
    double sum = 0;
    const int64_t values = int64_t{result.width} * result.height * result.numChannels;
    for (int64_t i = 0; i < values; ++i) sum += static_cast<double>(result.data[i]);
    (void)sum;
    if (!m.sameSize) return;
    const bool varying = m.outChannels < 0;
    check.require(result.width == c.width && result.height == c.height && result.numChannels > 0,
                  "the result is " + toldText);
    check.require(varying ? result.numChannels == 3 || result.numChannels == 4 : result.numChannels == m.outChannels,
                  "the result has " + std::to_string(result.numChannels) + " channels");

    check.require(C == m.inChannels, "an image of " + std::to_string(C) + " channels ran on a model of " +
                                         std::to_string(m.inChannels) + " without a word");
    const int outC = result.numChannels;
    const bool special = c.pixels == Pixels::Special;
    if (K == 1) {
        if (m.computes == Computes::Identity)
            check.same(compareChannels(image.data(), static_cast<int>(C), result.data, outC, W * H,
                                       std::min<int>(m.identityChannels, outC), 0),
                       "an identity model did not give its input back");
        if (m.computes == Computes::Rotated) {
            std::vector<float> rotated(image.size());
            for (int64_t p = 0; p < W * H; ++p)
                for (int ch = 0; ch < 3; ++ch) rotated[p * 3 + ch] = image[p * 3 + (ch + 2) % 3];
            check.same(compareChannels(rotated.data(), 3, result.data, outC, W * H, 3, 0), "rotated channels");
        }
        if (m.computes == Computes::Doubled) {
            std::vector<float> doubled(image);
            for (float& v : doubled) v *= 2.0f;
            check.same(compareChannels(doubled.data(), static_cast<int>(C), result.data, outC, W * H, outC, 1e-7f),
                       "a doubling model");
        }
        if (m.computes == Computes::Cast && !special) {
            const std::vector<float> cast = castBack(m, image);
            check.same(compareChannels(cast.data(), static_cast<int>(C), result.data, outC, W * H, outC,
                                       std::max(m.castTolerance, 0.0f)),
                       "a cast to another element type");
        }
    } else if (m.computes == Computes::Identity && !special) {
        const int n = std::min<int>(m.identityChannels, outC);
        if (c.downscale < 0) {
            // Shrunk, run and enlarged, then given back the detail shrinking took.
            check.same(compareChannels(image.data(), static_cast<int>(C), result.data, outC, W * H, n, 1e-5f),
                       "an identity model with detail transfer did not give its input back");
        } else {
            // Box averages enlarged bilinearly stay within the input's range.
            for (int ch = 0; ch < n; ++ch) {
                float low = INFINITY, high = -INFINITY;
                for (int64_t p = 0; p < W * H; ++p) {
                    low = std::min(low, image[p * C + ch]);
                    high = std::max(high, image[p * C + ch]);
                }
                for (int64_t p = 0; p < W * H; ++p) {
                    const float v = result.data[p * outC + ch];
                    check.require(v >= low - 1e-5f && v <= high + 1e-5f,
                                  "shrunk identity result " + std::to_string(v) + " at pixel " + std::to_string(p) +
                                      " lies outside the input's range [" + std::to_string(low) + ", " +
                                      std::to_string(high) + "]");
                }
            }
        }
    }
}

// What the 8-bit path's model sees for a pixel: channels 0 to 2 from the
// bytes, the others zero.
std::vector<float> tileValues(const uint8_t* rgb, int channels, float scale) {
    std::vector<float> v(static_cast<size_t>(std::max(channels, 3)), 0.0f);
    for (int ch = 0; ch < 3; ++ch) v[ch] = byteValue(rgb[ch], scale);
    v.resize(static_cast<size_t>(channels));
    return v;
}

// The model's output for one pixel, where it is known.
bool modelOutput(const ExportModel& m, const std::vector<float>& in, std::vector<float>& out) {
    switch (m.computes) {
        case Computes::Identity: out = in; return true;
        case Computes::Rotated: out = {in[2], in[0], in[1]}; return in.size() == 3;
        case Computes::Doubled:
            out = in;
            for (float& v : out) v *= 2.0f;
            return true;
        default: return false;
    }
}

void tilesBytes(Loaded& l, const ExportModel& m, const ExportCall& c) {
    const Checker check(c, m);
    const int64_t W = c.width, H = c.height, K = absolute(c.downscale);
    if (!imageFits(W, H, 3) || tileCount(W, H, c.step, c.downscale) > kMaxTiles) return;
    const bool real = W > 0 && H > 0;
    std::vector<uint8_t> image(real ? static_cast<size_t>(W * H * 3) : 3);
    fillBytes(image, real ? W : 1, c);

    Progress progress(l.context, c.stopAt, c.deleteInCallback);
    const ProgressCallback callback = c.noCallback ? nullptr : onProgress;
    const uint8_t* result =
        predictByTiles(l.context, c.nullData ? nullptr : image.data(), c.width, c.height, c.channels, c.tile, c.step,
                       c.argmax, c.inputScale, c.outputScale, c.downscale, callback, &progress);
    afterRun(l, progress, check);
    if (progress.deleted) return;
    const Words words = outerWords(l, progress, check);
    checkOutcome(progress, words, result != nullptr, c.op, check);
    if (!result) {
        const bool silent = !progress.askedStop && !words.any() && l.usable;
        check.require(!silent, "the 8-bit tiled run failed without a word");
        return;
    }
    check.require(!progress.askedStop, "the progress callback asked to stop, yet a result came back");
    check.require(!callback || progress.last == 100.0f, "a completed run did not end with a progress call of 100");
    check.require(c.channels == m.inChannels, "the 8-bit path ran a model of " + std::to_string(m.inChannels) +
                                                  " channels with numChannels " + std::to_string(c.channels) +
                                                  " without a word");
    if (!m.sameSize) return;

    int outC = m.outChannels;
    if (outC < 0) {
        // The channel count follows the first value of each tile.
        if (K != 1) return;
        const int64_t margin = (int64_t{c.tile} - c.step) / 2;
        std::vector<int> counts;
        for (int64_t row = 0; row * c.step < H; ++row)
            for (int64_t col = 0; col * c.step < W; ++col) {
                const int64_t x = std::clamp<int64_t>(col * c.step - margin, 0, W - 1);
                const int64_t y = std::clamp<int64_t>(row * c.step - margin, 0, H - 1);
                counts.push_back(byteValue(image[(y * W + x) * 3], c.inputScale) > 0.5f ? 4 : 3);
            }
        const bool changed = std::any_of(counts.begin(), counts.end(), [&](int n) { return n != counts.front(); });
        check.require(!changed, "the model's channel count changed between tiles, yet the 8-bit path gave a result");
        outC = counts.back();
    }
    const int resultChannels = c.argmax ? 1 : outC;
    // Every byte is read, so that a short result buffer shows.
    unsigned sum = 0;
    for (int64_t i = 0; i < W * H * resultChannels; ++i) sum += result[i];
    (void)sum;

    const bool moderate = std::isfinite(c.inputScale) && std::isfinite(c.outputScale) &&
                          std::fabs(c.inputScale) <= 1e4f && std::fabs(c.outputScale) <= 1e4f;
    if (K != 1 && !(c.downscale < 0 && m.computes == Computes::Identity && !c.argmax && moderate)) return;
    std::vector<uint8_t> expected(static_cast<size_t>(W * H * resultChannels));
    std::vector<float> out;
    for (int64_t p = 0; p < W * H; ++p) {
        if (!modelOutput(m, tileValues(&image[p * 3], c.channels, c.inputScale), out)) return;
        out.resize(static_cast<size_t>(outC), 0.0f);
        if (m.outChannels < 0 && outC == 4) out[3] = out[0];  // channel 0 again
        if (c.argmax)
            expected[p] = static_cast<uint8_t>(largestIndex(out.data(), outC));
        else
            for (int ch = 0; ch < outC; ++ch) expected[p * outC + ch] = resultByte(out[ch], c.outputScale);
    }
    if (K == 1)
        check.same(compareBytes(expected.data(), result, W * H * resultChannels, 0), "the 8-bit result");
    else
        check.same(compareBytes(expected.data(), result, W * H * resultChannels, 1),
                   "the 8-bit result of an identity model with detail transfer");
}

// The planned picture run again a band of rows at a time (`extra`: rows of
// tiles a band, and the order: as they come, backwards, or each band twice).
// Whatever the order, a band's rows are the whole run's, bit for bit.
void bandsAgree(Loaded& l, const Checker& check, const VelmoraPlan& plan, const std::vector<float>& image,
                const std::vector<float>& whole, int32_t resultWidth, int32_t resultChannels, int32_t extra) {
    const int32_t tileRows = (extra >> 5) & 7;
    const int order = (extra >> 8) & 3;
    VelmoraBand band{};
    band.size = sizeof band;
    if (!velmoraBand(l.context, &plan, tileRows, 0, &band)) {
        check.require(newWords(l.context).any(), "velmoraBand failed without a word");
        return;
    }
    std::vector<int32_t> indices;
    for (int32_t i = 0; i < band.count; ++i) {
        indices.push_back(i);
        if (order == 2) indices.push_back(i);
    }
    if (order == 1) std::reverse(indices.begin(), indices.end());
    const size_t rowValues = static_cast<size_t>(resultWidth) * static_cast<size_t>(resultChannels);
    for (const int32_t i : indices) {
        check.require(velmoraBand(l.context, &plan, tileRows, i, &band), "velmoraBand refused a band it counted");
        const ImageFloat rows{
            plan.width, band.inputRows, plan.channels,
            const_cast<float*>(image.data()) + static_cast<size_t>(band.inputFirstRow) * plan.width * plan.channels};
        const ImageFloat out = velmoraPredictBand(l.context, &plan, tileRows, i, rows, nullptr, nullptr);
        if (!out.data) {
            check.require(newWords(l.context).any(), "velmoraPredictBand failed without a word");
            return;
        }
        check.require(out.width == resultWidth && out.height == band.resultRows && out.numChannels == resultChannels,
                      "band " + std::to_string(i) + " gave " + std::to_string(out.width) + " x " +
                          std::to_string(out.height) + " x " + std::to_string(out.numChannels));
        const float* expected = whole.data() + static_cast<size_t>(band.resultFirstRow) * rowValues;
        if (std::memcmp(out.data, expected, static_cast<size_t>(out.height) * rowValues * sizeof(float)) != 0)
            check.same("band " + std::to_string(i) + " of " + std::to_string(band.count) + ", " +
                           std::to_string(tileRows) + " tile rows a band, order " + std::to_string(order),
                       "a band's rows differ from the whole run's");
    }
}

// velmoraPlan for the call's picture (strategy and blend in `extra`), then
// velmoraPredict by the plan. An identity model without a profile, run in
// hard-cut tiles at full size, gives its input back bit for bit.
void planned(Loaded& l, const ExportModel& m, const ExportCall& c) {
    const Checker check(c, m);
    const int64_t W = c.width, H = c.height, C = c.channels;
    if (!imageFits(W, H, C)) return;
    VelmoraPlanRequest request{};
    request.size = sizeof request;
    request.width = c.width;
    request.height = c.height;
    request.channels = c.channels;
    request.tileSize = c.tile;
    request.step = c.step;
    request.downscale = c.downscale;
    request.strategy = c.extra & 3;
    request.blend = (c.extra >> 2) & 3;
    VelmoraPlan plan{};
    plan.size = sizeof plan;
    const bool made = velmoraPlan(l.context, &request, &plan);
    const Words planWords = newWords(l.context);
    check.require(made || planWords.any() || !l.usable, "velmoraPlan failed without a word");
    if (!made || plan.runs > kMaxTiles || plan.runs < 0) return;

    const bool real = W > 0 && H > 0 && C > 0;
    std::vector<float> image(real ? static_cast<size_t>(W * H * C) : 1);
    fillFloats(image, real ? W : 1, real ? static_cast<int>(C) : 1, c);
    Progress progress(l.context, c.stopAt, c.deleteInCallback);
    const ProgressCallback callback = c.noCallback ? nullptr : onProgress;
    const ImageFloat result =
        velmoraPredict(l.context, ImageFloat{c.width, c.height, c.channels, c.nullData ? nullptr : image.data()}, &plan,
                       callback, &progress);
    afterRun(l, progress, check);
    if (progress.deleted) return;
    const Words words = outerWords(l, progress, check);
    checkOutcome(progress, words, result.data != nullptr, c.op, check);
    if (!result.data) {
        check.require(progress.askedStop || words.any(), "velmoraPredict failed without a word");
        return;
    }
    check.require(!progress.askedStop, "the progress callback asked to stop, yet a result came back");
    check.require(!callback || progress.last == 100.0f, "a completed run did not end with a progress call of 100");
    check.require(words.context.empty(), "a result came back together with an error text: " + words.context);
    if (plan.scale > 0)
        check.require(int64_t{result.width} == W * plan.scale && int64_t{result.height} == H * plan.scale,
                      "velmoraPredict gave " + std::to_string(result.width) + " x " + std::to_string(result.height) +
                          " where its plan says scale " + std::to_string(plan.scale));
    double sum = 0;  // every value read, so that a short result shows
    for (int64_t i = 0; i < int64_t{result.width} * result.height * result.numChannels; ++i)
        sum += static_cast<double>(result.data[i]);
    (void)sum;
    VelmoraProfile profile{};
    profile.size = sizeof profile;
    const bool plain = velmoraGetProfile(l.context, &profile) && profile.source == VELMORA_PROFILE_NONE;
    errorText(l.context);
    if (m.computes == Computes::Identity && m.sameSize && plain && plan.strategy == VELMORA_STRATEGY_TILES &&
        !plan.blend && plan.downscale == 1 && C == m.inChannels && result.width == c.width && result.height == c.height)
        check.same(compareChannels(image.data(), static_cast<int>(C), result.data, result.numChannels, W * H,
                                   std::min<int>(m.identityChannels, result.numChannels), 0),
                   "velmoraPredict on an identity model did not give its input back");
    if ((c.extra >> 4) & 1) {
        const std::vector<float> whole(
            result.data, result.data + static_cast<size_t>(result.width) * result.height * result.numChannels);
        bandsAgree(l, check, plan, image, whole, result.width, result.numChannels, c.extra);
    }
}

// Product of the three sizes, or -1 when it does not fit in 63 bits.
int64_t productOf(int64_t a, int64_t b, int64_t c) {
    const __int128 p = static_cast<__int128>(a) * b * c;
    return p > INT64_MAX || p < INT64_MIN ? -1 : static_cast<int64_t>(p < 0 ? -p : p);
}

void direct(Loaded& l, const ExportModel& m, const ExportCall& c) {
    const Checker check(c, m);
    const int64_t declared = productOf(c.width, c.height, c.channels);
    const int64_t E = m.inputElements;
    // The library may read what the model asks for, never more; a buffer of
    // what the host declares (up to that) shows any read past it. A model
    // that leaves its size open may read all that is declared.
    if (E == 0 && declared > kMaxImageValues) return;
    const int64_t given = std::max<int64_t>(E == 0 ? declared : std::min(declared, E), 1);
    const bool enough = declared >= E && E > 0 && c.width >= 0 && c.height >= 0 && c.channels >= 0;
    ExportCall second = c;
    second.seed = c.seed * 2654435761u + 1;
    ExportCall third = c;
    third.seed = c.seed * 40503u + 7;
    std::vector<float> a(static_cast<size_t>(given)), b(a.size()), d(a.size());
    fillFloats(a, c.width, c.channels, c);
    fillFloats(b, c.width, c.channels, second);
    fillFloats(d, c.width, c.channels, third);
    float* data = c.nullData ? nullptr : a.data();
    const bool checkable = enough && m.sameSize && m.outChannels == m.inChannels;

    if (c.op == Export::Predict) {
        unsigned char* bytes = predict(l.context, data, c.width, c.height, c.channels, c.argmax);
        errorText(l.context);
        if (!bytes) return;
        check.require(enough || E == 0, "predict ran on a buffer smaller than the model's input");
        if (checkable && m.computes == Computes::Identity) {
            const int64_t pixels = E / m.inChannels;
            std::vector<uint8_t> expected(static_cast<size_t>(c.argmax ? pixels : E));
            for (int64_t p = 0; p < pixels; ++p) {
                if (c.argmax)
                    expected[p] = static_cast<uint8_t>(largestIndex(&a[p * m.inChannels], m.inChannels));
                else
                    for (int ch = 0; ch < m.inChannels; ++ch)
                        expected[p * m.inChannels + ch] = truncatedByte(a[p * m.inChannels + ch], 1.0f);
            }
            if (c.pixels != Pixels::Special)
                check.same(compareBytes(expected.data(), bytes, static_cast<int64_t>(expected.size()), 0),
                           "predict on an identity model");
        }
        delete[] bytes;
        return;
    }
    float* result = nullptr;
    std::vector<float> expected;
    if (c.op == Export::PredictFloat) {
        result = predictFloat(l.context, data, c.width, c.height, c.channels, false);
        expected = m.computes == Computes::Cast ? castBack(m, a) : a;
        if (m.computes == Computes::Doubled)
            for (float& v : expected) v *= 2.0f;
    } else if (c.op == Export::Predict2Inputs) {
        result = predict2InputsFloat(l.context, data, c.nullData ? nullptr : b.data(), c.width, c.height, c.channels);
        expected.resize(a.size());
        for (size_t i = 0; i < a.size(); ++i) expected[i] = a[i] + b[i];
    } else {
        const ImageFloat x{c.width, c.height, c.channels, data}, y{c.width, c.height, c.channels, b.data()},
            z{c.width, c.height, c.channels, d.data()};
        result = predict3InputsFloat(l.context, x, y, z);
        expected.resize(a.size());
        for (size_t i = 0; i < a.size(); ++i) expected[i] = (a[i] + b[i]) + d[i];
    }
    errorText(l.context);
    if (!result) return;
    check.require(enough || E == 0, std::string(exportName(c.op)) + " ran on a buffer smaller than the model's input");
    const bool known = m.computes == Computes::Identity || m.computes == Computes::Doubled ||
                       (m.computes == Computes::Cast && c.op == Export::PredictFloat) ||
                       (m.computes == Computes::Sum && m.inputs == (c.op == Export::Predict2Inputs ? 2 : 3) &&
                        c.op != Export::PredictFloat);
    if (!checkable || !known || c.pixels == Pixels::Special) return;
    if (m.computes == Computes::Sum && c.op == Export::PredictFloat) return;
    const float tolerance = m.computes == Computes::Identity ? 0.0f
                            : m.computes == Computes::Cast   ? std::max(m.castTolerance, 0.0f)
                                                             : 1e-7f;
    check.same(compareChannels(expected.data(), 1, result, 1, E, 1, tolerance), exportName(c.op));
}

void reload(Loaded& l, const ExportModel& m, const ExportCall& c) {
    const Checker check(c, m);
    const int32_t inLayout = (c.extra & 3) - 1, outLayout = ((c.extra >> 2) & 3) - 1;
    deallocateModel(l.context);
    const bool ok = loadInto(l.context, m, l.bytes, inLayout, outLayout);
    const std::string text = errorText(l.context);
    check.require(ok || !text.empty(), "loadModelEx failed without a word");
    if (ok && m.tile > 0 && m.inputElements <= kMaxImageValues) {
        std::vector<float> input(static_cast<size_t>(m.inputElements));
        fillFloats(input, m.tile, m.inChannels, c);
        try {
            predictFloat(l.context, input.data(), m.tile, m.tile, m.inChannels, false);
        } catch (const std::exception&) {
            // the runtime's own failure, as in any direct run
        }
        errorText(l.context);
    }
    deallocateModel(l.context);
    l.usable = loadInto(l.context, m, l.bytes, m.inputLayout, m.inputLayout);
    check.require(l.usable, "the model no longer loads after a reload: " + errorText(l.context));
}

void information(Loaded& l, const ExportCall& c) {
    switch (c.op) {
        case Export::ErrorText: {
            const int32_t length = std::clamp(c.extra, -300, 20000);
            // The library writes at most |length - 1| bytes (none for -256).
            const int64_t room = length == -256 ? 1 : std::max<int64_t>(absolute(length - 1), 1);
            std::vector<char> buffer(static_cast<size_t>(room), 'x');
            getErrorText(c.nullData ? nullptr : l.context, buffer.data(), length);
            break;
        }
        case Export::Information: {
            std::vector<char> model(2048), engine(1000);
            getModelInformation(l.context, nullptr, c.extra, model.data());
            getNNEngineInformation(l.context, "velmora-fuzz", engine.data());
            getVelmoraVersion(l.context, nullptr, nullptr, 0);
            delete[] getDeviceNameByIndex(l.context, c.extra);
            break;
        }
        case Export::Initialize: {
            char buffer[1000] = "Error retrieving build info";
            initializeVelmora(l.context, "velmora-fuzz", nullptr, buffer);
            break;
        }
        case Export::DeallocateImage: deallocateImage(l.context); break;
        default: break;
    }
    errorText(l.context);
}

// ---- Calls from the progress callback ----

// A message sink that takes every line and keeps none.
void dropLines(void*, int32_t, int32_t, const char*) {}

// A record of the host's, of the size `choice` picks: its own, a newer
// header's (64 bytes more) or one smaller than any version. The library
// clears what it does not know of a larger record and writes nothing past it.
template <typename Record>
class HostRecord {
public:
    explicit HostRecord(uint32_t choice) {
        std::memset(bytes_, 0xab, sizeof bytes_);
        record_ = new (bytes_) Record{};
        record_->size = choice % 4 == 1 ? sizeof(Record) + 64 : choice % 4 == 2 ? 8 : sizeof(Record);
    }
    Record* get() { return record_; }
    bool fits() const { return record_->size >= sizeof(Record); }
    bool tailCleared() const {
        const size_t end = record_->size > sizeof(Record) ? record_->size : sizeof(Record);
        return std::all_of(bytes_ + sizeof(Record), bytes_ + end, [](unsigned char b) { return b == 0; }) &&
               std::all_of(bytes_ + end, bytes_ + sizeof bytes_, [](unsigned char b) { return b == 0xab; });
    }

private:
    alignas(Record) unsigned char bytes_[sizeof(Record) + 128];
    Record* record_;
};

// The call the callback makes through the harness's tiled and direct
// paths, on a small picture sized by the argument.
ExportCall innerAsCall(const ExportCall& outer, const ExportModel& m, Export op) {
    const auto a = static_cast<uint32_t>(outer.inner.arg);
    ExportCall d;
    d.model = outer.model;
    d.op = op;
    d.width = 4 + static_cast<int32_t>(a & 31);
    d.height = 4 + static_cast<int32_t>((a >> 5) & 31);
    d.channels = m.inChannels;
    d.tile = m.tile > 0 ? m.tile : 16;
    d.step = std::max(d.tile - 4, 1);
    d.downscale = (a >> 10) & 1 ? -2 : 1;
    d.noCallback = (a >> 11) & 1;
    d.extra = static_cast<int32_t>(a >> 12);  // velmoraPlan's strategy and blend
    d.inputScale = 1.0f / 255.0f;
    d.outputScale = 255.0f;
    d.pixels = outer.pixels;
    d.seed = outer.seed * 2246822519u + 3;
    if (op == Export::Predict || op == Export::PredictFloat || op == Export::Predict2Inputs ||
        op == Export::Predict3Inputs) {
        d.width = d.height = m.tile > 0 ? m.tile : d.width;  // the model's own size: it runs
    }
    return d;
}

// Whether the call, refused on the running call's context, gave its failure
// result. Its arguments would run anywhere else.
bool refusedCallFails(Api api, Loaded& l, const ExportModel& m) {
    const int32_t side = m.tile > 0 && m.inputElements <= kMaxImageValues ? m.tile : 8;
    const int32_t channels = std::clamp(m.inChannels, 1, kMaxChannels);
    std::vector<float> a(static_cast<size_t>(side) * side * channels, 0.5f), b(a), d(a);
    std::vector<uint8_t> rgb(static_cast<size_t>(side) * side * 3, 128);
    const int32_t tile = m.tile > 0 ? m.tile : 16;
    const ImageFloat image{side, side, channels, a.data()};
    VelmoraContext ctx = l.context;
    switch (api) {
        case Api::LoadModel:
            return !loadModel(ctx, l.bytes.data(), static_cast<uint32_t>(l.bytes.size()), m.input, m.output);
        case Api::LoadModelEx:
            return !loadModelEx(ctx, l.bytes.data(), static_cast<uint32_t>(l.bytes.size()), m.input, m.output, 1, 1);
        case Api::Predict: {
            unsigned char* out = predict(ctx, a.data(), side, side, channels, false);
            delete[] out;
            return !out;
        }
        case Api::PredictFloat: return !predictFloat(ctx, a.data(), side, side, channels, false);
        case Api::Predict2Inputs: return !predict2InputsFloat(ctx, a.data(), b.data(), side, side, channels);
        case Api::Predict3Inputs:
            return !predict3InputsFloat(ctx, image, {side, side, channels, b.data()}, {side, side, channels, d.data()});
        case Api::TilesBytes:
            return !predictByTiles(ctx, rgb.data(), side, side, 3, tile, tile, false, 1.0f / 255.0f, 255.0f, 1, nullptr,
                                   nullptr);
        case Api::TilesFloat:
            return !predictByTilesFloat(ctx, a.data(), side, side, channels, tile, tile, 1, nullptr, nullptr);
        case Api::TilesImageFloat: return !predictByTilesImageFloat(ctx, image, tile, tile, 1, nullptr, nullptr).data;
        case Api::Plan: {
            VelmoraPlanRequest request{};
            request.size = sizeof request;
            request.width = request.height = side;
            request.channels = channels;
            request.tileSize = request.step = tile;
            VelmoraPlan plan{};
            plan.size = sizeof plan;
            return !velmoraPlan(ctx, &request, &plan);
        }
        case Api::MeasureModel: return !velmoraMeasureModel(ctx, nullptr, nullptr);
        case Api::PlannedPredict: {
            VelmoraPlan plan{};
            plan.size = sizeof plan;
            plan.width = plan.height = side;
            plan.channels = channels;
            plan.tileSize = plan.step = tile;
            plan.across = plan.down = 1;
            plan.runs = 1;
            plan.strategy = VELMORA_STRATEGY_TILES;
            return !velmoraPredict(ctx, image, &plan, nullptr, nullptr).data;
        }
        case Api::SetProfile: return !velmoraSetProfile(ctx, nullptr);
        case Api::LoadProfile: return !velmoraLoadProfile(ctx, "{}");
        default: return false;
    }
}

// A profile for velmoraSetProfile, valid or not as `choice` picks.
bool pickProfile(uint32_t choice, VelmoraProfile& p) {
    p.inputLow = 0.0f;
    p.inputHigh = 1.0f;
    p.outputLow = 0.0f;
    p.outputHigh = 1.0f;
    switch (choice % 8) {
        case 1: return true;  // changes nothing
        case 2:
            p.channels = 1;
            p.mean[0] = 0.5f;
            p.std[0] = 2.0f;
            p.inputHigh = 255.0f;
            p.colors = VELMORA_COLORS_BGR;
            p.output = VELMORA_OUTPUT_MASK;
            return true;
        case 3: p.channels = 1; return false;  // std 0
        case 4: p.channels = VELMORA_PROFILE_CHANNELS + 1; return false;
        case 5:
            p.channels = 1;
            p.mean[0] = NAN;
            p.std[0] = 1.0f;
            return false;
        case 6: p.colors = 7; return false;
        default: p.inputHigh = p.inputLow; return false;
    }
}

// An admitted call (on either context) as the argument makes it; false when
// it reports a failure (which must then come with words), true otherwise.
// On the second context, the tiled and direct calls run through the
// harness's own paths, with their checks.
bool admittedCall(Reentering& r, Progress& p, Loaded& target, const Checker& check) {
    const InnerCall& in = r.call.inner;
    const ExportModel& m = r.model;
    const auto a = static_cast<uint32_t>(in.arg);
    VelmoraContext ctx = target.context;
    switch (in.api) {
        case Api::CreateContext: {
            const VelmoraContext fresh = createContext(in.arg, "velmora-fuzz inner");
            check.require(fresh != nullptr, "createContext from the progress callback gave no context");
            deleteContext(fresh);
            return true;
        }
        case Api::DeleteContext:
            deleteContext(ctx);
            target.context = nullptr;
            if (!in.other) {
                p.deleted = true;      // the running call stops; the context goes as it returns
                target.context = ctx;  // until then, for afterRun
            }
            return true;
        case Api::ErrorText: {
            const int32_t length = std::clamp(in.arg, -300, 4096);
            const size_t room = length == -256 ? 0 : static_cast<size_t>(absolute(length - 1));
            std::vector<char> buffer(room + 16, 'x');
            getErrorText(ctx, buffer.data(), length);
            check.require(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(room), buffer.end(),
                                      [](char ch) { return ch == 'x'; }),
                          "getErrorText wrote past |length - 1| bytes");
            return true;
        }
        case Api::LoadModel:
        case Api::LoadModelEx: {
            target.changed = true;
            const int32_t inLayout = in.api == Api::LoadModel ? -1 : static_cast<int32_t>(a & 3) - 1;
            const int32_t outLayout = in.api == Api::LoadModel ? -1 : static_cast<int32_t>((a >> 2) & 3) - 1;
            return loadInto(ctx, m, target.bytes, inLayout, outLayout);
        }
        case Api::DeallocateModel: {
            deallocateModel(ctx);
            if (!in.other) {
                r.releasedModel = true;  // checked once the running call returns
                return true;
            }
            target.changed = true;
            VelmoraModelInfo info{};
            info.size = sizeof info;
            check.require(!velmoraDescribeModel(ctx, &info), "a model released with deallocateModel is described");
            return false;  // the description's refusal left words
        }
        case Api::DeallocateImage:
            deallocateImage(ctx);
            r.releasedImage = !in.other;
            return true;
        case Api::Predict:
        case Api::PredictFloat:
        case Api::Predict2Inputs:
        case Api::Predict3Inputs: {
            const Export op = in.api == Api::Predict          ? Export::Predict
                              : in.api == Api::PredictFloat   ? Export::PredictFloat
                              : in.api == Api::Predict2Inputs ? Export::Predict2Inputs
                                                              : Export::Predict3Inputs;
            const ExportCall d = innerAsCall(r.call, m, op);
            try {
                direct(target, m, d);
            } catch (const std::exception&) {
                errorText(ctx);  // the runtime's own failure, as in any direct run
            }
            return true;
        }
        case Api::TilesBytes: tilesBytes(target, m, innerAsCall(r.call, m, Export::TilesBytes)); return true;
        case Api::TilesFloat: tilesFloat(target, m, innerAsCall(r.call, m, Export::TilesFloat)); return true;
        case Api::TilesImageFloat: tilesFloat(target, m, innerAsCall(r.call, m, Export::TilesImageFloat)); return true;
        case Api::PlannedPredict: planned(target, m, innerAsCall(r.call, m, Export::Planned)); return true;
        case Api::Initialize: {
            char buffer[1000] = "";
            initializeVelmora(ctx, "velmora-fuzz", nullptr, buffer);
            check.require(std::memchr(buffer, 0, sizeof buffer) && std::strcmp(buffer, "Error retrieving build info"),
                          std::string("initializeVelmora from the progress callback gave ") + buffer);
            return true;
        }
        case Api::Version:
            check.require(getVelmoraVersion(ctx, nullptr, nullptr, 0) > 0.0f, "getVelmoraVersion gave no version");
            return true;
        case Api::EngineInformation: {
            char buffer[1000] = "";
            getNNEngineInformation(ctx, "velmora-fuzz", buffer);
            check.require(std::memchr(buffer, 0, sizeof buffer) && std::strcmp(buffer, "Error retrieving device info"),
                          std::string("getNNEngineInformation from the progress callback gave ") + buffer);
            return true;
        }
        case Api::ModelInformation: {
            std::vector<char> buffer(2048, 0);
            getModelInformation(ctx, nullptr, in.arg, buffer.data());
            check.require(std::strncmp(buffer.data(), "Version:", 8) == 0,
                          "getModelInformation from the progress callback gave " + std::string(buffer.data(), 40));
            return true;
        }
        case Api::DeviceName: delete[] getDeviceNameByIndex(ctx, in.arg); return true;
        case Api::SetMessageSink:
            velmoraSetMessageSink(dropLines, nullptr, in.arg);
            r.sinkSet = true;
            return true;
        case Api::DescribeModel: {
            HostRecord<VelmoraModelInfo> info(a);
            const bool ok = velmoraDescribeModel(ctx, info.get());
            check.require(ok == (info.fits() && target.usable),
                          std::string("velmoraDescribeModel ") + (ok ? "described" : "refused") + " a model " +
                              (target.usable ? "loaded" : "not loaded") + " with a record of " +
                              std::to_string(info.get()->size) + " bytes");
            if (ok)
                check.require(info.get()->inputCount == m.inputs && info.tailCleared(),
                              "velmoraDescribeModel counts " + std::to_string(info.get()->inputCount) +
                                  " inputs or wrote past what it knows of the record");
            return ok;
        }
        case Api::GetProfile: {
            HostRecord<VelmoraProfile> profile(a);
            const bool ok = velmoraGetProfile(ctx, profile.get());
            check.require(ok == (profile.fits() && target.usable),
                          std::string("velmoraGetProfile ") + (ok ? "answered" : "refused") + " with a record of " +
                              std::to_string(profile.get()->size) + " bytes");
            if (ok) check.require(profile.tailCleared(), "velmoraGetProfile wrote past what it knows of the record");
            return ok;
        }
        case Api::SetProfile: {
            target.changed = true;
            HostRecord<VelmoraProfile> profile(a);
            const bool valid = pickProfile(a >> 2, *profile.get());
            const bool none = (a >> 2) % 8 == 0;
            const bool ok = velmoraSetProfile(ctx, none ? nullptr : profile.get());
            check.require(ok == (target.usable && (none || (valid && profile.fits()))),
                          std::string("velmoraSetProfile ") + (ok ? "took" : "refused") + " profile choice " +
                              std::to_string((a >> 2) % 8) + " in a record of " + std::to_string(profile.get()->size) +
                              " bytes");
            return ok;
        }
        case Api::LoadProfile: {
            target.changed = true;
            static const char* const texts[] = {nullptr, R"({"mean": [0.5], "std": [0.25], "colors": "bgr"})",
                                                R"({"stdev": [1]})", R"({"std": [0]})"};
            const bool ok = velmoraLoadProfile(ctx, texts[a % 4]);
            check.require(ok == (target.usable && a % 4 == 1), std::string("velmoraLoadProfile ") +
                                                                   (ok ? "took" : "refused") + " text " +
                                                                   (texts[a % 4] ? texts[a % 4] : "(null)"));
            return ok;
        }
        case Api::Plan: {
            const ExportCall d = innerAsCall(r.call, m, Export::Planned);
            VelmoraPlanRequest request{};
            request.size = (a >> 16) % 4 == 2 ? 8 : sizeof request;
            request.width = d.width;
            request.height = d.height;
            request.channels = d.channels;
            request.tileSize = (a >> 14) & 1 ? 0 : d.tile;
            request.step = (a >> 14) & 1 ? 0 : d.step;
            request.downscale = d.downscale;
            request.strategy = d.extra & 3;
            request.blend = (d.extra >> 2) & 3;
            HostRecord<VelmoraPlan> plan(a >> 18);
            const bool ok = velmoraPlan(ctx, &request, plan.get());
            check.require(!ok || (request.size == sizeof request && plan.fits() && plan.tailCleared()),
                          "velmoraPlan took a record smaller than any version, or wrote past what it knows of one");
            return ok;
        }
        case Api::MeasureModel: {
            const ExportCall d = innerAsCall(r.call, m, Export::Planned);
            std::vector<float> sample(static_cast<size_t>(d.width) * d.height * std::max(d.channels, 1));
            fillFloats(sample, d.width, d.channels, d);
            const ImageFloat picture{d.width, d.height, d.channels, sample.data()};
            HostRecord<VelmoraModelNeeds> needs(a >> 1);
            const bool ok = velmoraMeasureModel(ctx, a & 1 ? &picture : nullptr, (a >> 3) & 1 ? nullptr : needs.get());
            check.require(!ok || (a >> 3) & 1 || (needs.fits() && needs.tailCleared()),
                          "velmoraMeasureModel took a record smaller than any version, or wrote past what it knows "
                          "of one");
            return ok;
        }
        case Api::Count: break;
    }
    return true;
}

void callFromCallback(Progress& p) {
    Reentering& r = *p.reentering;
    const InnerCall& in = r.call.inner;
    if (r.done || in.at == 0 || p.calls != in.at) return;
    r.done = true;
    Loaded& target = in.other ? r.second : r.same;
    if (!target.context) return;
    const Checker check(r.call, r.model);
    const char* who = apiName(in.api);
    const Reentry expected =
        expectedReentry(in.api, !in.other, r.call.op == Export::TilesImageFloat || r.call.op == Export::TilesFloat);
    bool failed = false;
    std::string raised;
    try {
        failed = expected == Reentry::Refused ? refusedCallFails(in.api, target, r.model)
                                              : !admittedCall(r, p, target, check);
    } catch (const std::exception& e) {
        raised = e.what();
    }
    if (expected == Reentry::Raises) {
        check.require(raised == kProcessBusyText,
                      std::string("a second tiled float prediction, on another context, from the progress callback "
                                  "did not raise VelmoraException") +
                          (raised.empty() ? "" : ": it raised " + raised));
        return;
    }
    check.require(raised.empty(), std::string(who) + " from the progress callback raised " + raised);
    if (expected == Reentry::Refused) {
        check.require(failed, std::string(who) + " was admitted from inside a running call on its context");
        if (in.fetchWords) {
            const std::string words = newWords(target.context).context;
            check.require(namesRefusal(words, who), std::string(who) +
                                                        " was refused in the progress callback without words naming "
                                                        "it; the words: " +
                                                        words);
        } else {
            r.refusedWho = who;
        }
        return;
    }
    if (in.other) {
        if (target.context) {
            const Words words = newWords(target.context);
            check.require(!failed || words.any(), std::string(who) + " on another context failed without a word");
        }
    } else if (failed) {
        if (in.fetchWords) {
            const std::string words = newWords(target.context).context;
            check.require(words.rfind(std::string(who) + ": ", 0) == 0 ||
                              words.find("\n" + std::string(who) + ": ") != std::string::npos,
                          std::string(who) + " failed in the progress callback without words naming it: " + words);
        } else {
            r.leftWho = who;
        }
    }
}

// Runs an identity model on a small picture: the picture must come back.
void identityRuns(VelmoraContext context, const Checker& check, const char* which) {
    std::vector<float> image(23 * 19 * 3);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<float>(i % 251) / 251.0f;
    ImageFloat out{0, 0, 0, nullptr};
    std::string raised;
    try {
        out = predictByTilesImageFloat(context, ImageFloat{23, 19, 3, image.data()}, 16, 12, 1, nullptr, nullptr);
    } catch (const std::exception& e) {
        raised = e.what();
    }
    const std::string words = errorText(context);
    check.require(out.data && raised.empty(),
                  std::string("after a call from the progress callback ") + which + " does not run: " + raised + words);
    check.same(compareChannels(image.data(), 3, out.data, 3, 23 * 19, 3, 0), which);
}

VelmoraContext identityContext(const Checker& check) {
    static const std::vector<uint8_t> model =
        readFileBytes(std::filesystem::path(VELMORA_TEST_MODELS) / "identity_t16_c3.onnx");
    const VelmoraContext context = createContext(0, "velmora-fuzz");
    check.require(context != nullptr, "createContext gave no context after a call from the progress callback");
    char info[1000];
    initializeVelmora(context, "velmora-fuzz", nullptr, info);
    check.require(loadModel(context, model.data(), static_cast<uint32_t>(model.size()), "input", "output"),
                  "the identity model does not load after a call from the progress callback: " + errorText(context));
    return context;
}

// The state the callback's call changed is put back, and the process is
// still fit: the one tiled float caller is free and the runtime runs. A
// fresh context (dear under the sanitizers) is made after the calls that
// change what contexts share: contexts made or deleted, the message sink,
// models released or loaded, the refused second tiled float prediction.
void afterReentry(Reentering& r, size_t index) {
    const Checker check(r.call, r.model);
    if (r.sinkSet) velmoraSetMessageSink(nullptr, nullptr, 0);
    if (r.releasedModel && r.same.context) {
        VelmoraModelInfo info{};
        info.size = sizeof info;
        check.require(!velmoraDescribeModel(r.same.context, &info),
                      "a model released with deallocateModel in the progress callback is still described");
        errorText(r.same.context);
        r.same.changed = true;
    }
    if (r.same.changed) contextFor(index);

    if (!untouched) untouched = identityContext(check);
    identityRuns(untouched, check, "a context no fuzzed call touches");
    const Api api = r.call.inner.api;
    const bool shared =
        api == Api::CreateContext || api == Api::DeleteContext || api == Api::SetMessageSink ||
        api == Api::DeallocateModel || api == Api::LoadModel || api == Api::LoadModelEx ||
        expectedReentry(api, !r.call.inner.other,
                        r.call.op == Export::TilesImageFloat || r.call.op == Export::TilesFloat) == Reentry::Raises;
    if (!shared) return;
    const VelmoraContext fresh = identityContext(check);
    identityRuns(fresh, check, "a fresh context");
    deleteContext(fresh);
}

void run(const ExportCall& c) {
    const size_t index = c.model % kExportModelCount;
    const ExportModel& m = kExportModels[index];
    Loaded& l = contextFor(index);
    const bool callsBack = (c.op == Export::TilesImageFloat || c.op == Export::TilesFloat ||
                            c.op == Export::TilesBytes || c.op == Export::Planned) &&
                           !c.noCallback && c.inner.at > 0;
    Reentering reentering(c, m, l, c.inner.other && callsBack ? contextFor(index, seconds) : l);
    if (callsBack) {
        pendingReentering = &reentering;
        runningCall = &c;
    }
    switch (c.op) {
        case Export::TilesImageFloat:
        case Export::TilesFloat: tilesFloat(l, m, c); break;
        case Export::TilesBytes: tilesBytes(l, m, c); break;
        case Export::Planned: planned(l, m, c); break;
        case Export::Predict:
        case Export::PredictFloat:
        case Export::Predict2Inputs:
        case Export::Predict3Inputs:
            // A failure of the runtime inside a direct run leaves as the
            // runtime's exception, as the header says.
            try {
                direct(l, m, c);
            } catch (const std::exception&) {
                errorText(l.context);
            }
            break;
        case Export::Reload: reload(l, m, c); break;
        default: information(l, c); break;
    }
    pendingReentering = nullptr;  // a call refused before its first tile never takes it
    runningCall = nullptr;
    if (reentering.done) afterReentry(reentering, index);
}

// The contexts go with the process, as a host deletes its own, so that the
// leak check at exit sees only what the library lost.
void deleteContexts() {
    for (std::vector<Loaded>* table : {&loaded, &seconds})
        for (Loaded& l : *table)
            if (l.context) deleteContext(l.context);
    if (untouched) deleteContext(untouched);
    std::fprintf(stderr, "velmora-fuzz: the process-wide backend error text has grown to %zu bytes\n",
                 seenBackendText.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratchFolder();
    quietStreams();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const ExportCall& call : readCalls(data, size)) run(call);
    // Registered once an input has run, so that the contexts go before the
    // exit handlers of all the runtime set up for them: its threads must end
    // before its statics are destroyed.
    static const bool registered = std::atexit(deleteContexts) == 0;
    (void)registered;
    return 0;
}
