// The plug-in inside a real GIMP: headless gimp-console runs batch Script-Fu
// that loads generated float pictures, runs the installed plug-in without
// its dialog and saves what the layer holds afterwards as float TIFF; the
// tests compare that with the library's own result on the same pixels.
// GIMP starts once for all the cases, with the plug-in as `cmake --install`
// lays it out, named in GIMP's plug-in path.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "float_tiff.h"
#include "support/model_files.h"
#include "velmora.h"

namespace fs = std::filesystem;

namespace {

// ---- Pictures -------------------------------------------------------------

FloatPicture makePicture(int width, int height, int channels, unsigned seed) {
    FloatPicture p{width, height, channels, {}};
    p.values.resize(static_cast<size_t>(width) * height * channels);
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> noise(-0.15f, 0.15f);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
                float v = 0.5f + 0.35f * std::sin(0.11f * x + 0.07f * y + 1.7f * c) + noise(random);
                if ((channels == 2 || channels == 4) && c == channels - 1)
                    v = static_cast<float>((x / 7 + y / 5) % 5) / 4.0f;  // 0, 1 and between
                p.at(x, y, c) = std::fmin(1.0f, std::fmax(0.0f, v));
            }
    return p;
}

FloatPicture channelsOf(const FloatPicture& p, std::vector<int> which) {
    FloatPicture out{p.width, p.height, static_cast<int>(which.size()), {}};
    out.values.resize(static_cast<size_t>(p.width) * p.height * which.size());
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            for (size_t c = 0; c < which.size(); ++c) out.at(x, y, static_cast<int>(c)) = p.at(x, y, which[c]);
    return out;
}

FloatPicture scaled(FloatPicture p, float factor) {
    for (float& v : p.values) v *= factor;
    return p;
}

// `colour` with the alpha channel of `alphaFrom` behind it.
FloatPicture withAlpha(const FloatPicture& colour, const FloatPicture& alphaFrom) {
    FloatPicture out{colour.width, colour.height, colour.channels + 1, {}};
    out.values.resize(static_cast<size_t>(out.width) * out.height * out.channels);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            for (int c = 0; c < colour.channels; ++c) out.at(x, y, c) = colour.at(x, y, c);
            out.at(x, y, colour.channels) = alphaFrom.at(x, y, alphaFrom.channels - 1);
        }
    return out;
}

// ---- The library's own results --------------------------------------------

std::string oneLine(const char* text) {
    std::string line;
    for (const char* c = text; *c; ++c) {
        const char ch = (*c == '\n' || *c == '\r' || *c == '\t') ? ' ' : *c;
        if (ch == ' ' && (line.empty() || line.back() == ' ')) continue;
        line += ch;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

struct LibraryResult {
    FloatPicture picture;  // empty when the run failed
    std::string error;     // the library's words, on one line
};

// What the library says at the moment, fetched through a fresh context.
std::string errorTextNow() {
    VelmoraContext context = createContext(0, "gimp plug-in tests");
    std::vector<char> text(1 << 16, '\0');
    getErrorText(context, text.data(), static_cast<int32_t>(text.size()));
    deleteContext(context);
    return oneLine(text.data());
}

// The library keeps the runtime's failures in one text for the whole process
// and never clears it; a plug-in's process makes one run, so its words are
// only those of that run.
std::string wordsOfThisRun(const std::string& before, const std::string& after) {
    if (after.compare(0, before.size(), before) != 0) return after;
    return oneLine(after.substr(before.size()).c_str());
}

LibraryResult runLibrary(const std::string& model, const FloatPicture& input, int tile, int step, int downscale) {
    LibraryResult out;
    const std::string before = errorTextNow();
    const std::vector<char> bytes = readModel(model);
    VelmoraContext context = createContext(0, "gimp plug-in tests");
    std::vector<char> text(1 << 16, '\0');
    if (!loadModelEx(context, bytes.data(), static_cast<uint32_t>(bytes.size()), "", "", 1, 1)) {
        getErrorText(context, text.data(), static_cast<int32_t>(text.size()));
        out.error = oneLine(text.data());
    } else {
        getErrorText(context, text.data(), static_cast<int32_t>(text.size()));
        std::vector<float> pixels = input.values;
        const ImageFloat result =
            predictByTilesImageFloat(context, ImageFloat{input.width, input.height, input.channels, pixels.data()},
                                     tile, step, downscale, nullptr, nullptr);
        if (result.data) {
            out.picture = {result.width, result.height, result.numChannels, {}};
            out.picture.values.assign(
                result.data, result.data + static_cast<size_t>(result.width) * result.height * result.numChannels);
        } else {
            std::fill(text.begin(), text.end(), '\0');
            getErrorText(context, text.data(), static_cast<int32_t>(text.size()));
            out.error = oneLine(text.data());
        }
        deallocateImage(context);
        deallocateModel(context);
    }
    deleteContext(context);
    out.error = wordsOfThisRun(before, out.error);
    return out;
}

FloatPicture libraryPicture(const std::string& model, const FloatPicture& input, int tile, int step, int downscale) {
    LibraryResult r = runLibrary(model, input, tile, step, downscale);
    if (r.picture.values.empty()) throw std::runtime_error("the library failed on " + model + ": " + r.error);
    return r.picture;
}

// The library's result by its plan, as any host gets it: the plan for the
// picture's sizes (measured on the picture itself where tile and step are
// left 0), run with velmoraPredict; `profile` gives the context a profile
// first. `model` is a full path.
LibraryResult runByPlan(const std::string& model, const FloatPicture& input, int tile = 0, int step = 0,
                        int downscale = 1, const std::function<void(VelmoraContext)>& profile = {}) {
    const std::string before = errorTextNow();
    std::ifstream in(model, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    VelmoraContext context = createContext(0, "gimp plug-in tests");
    std::vector<char> text(1 << 16, '\0');
    LibraryResult out;
    std::vector<float> pixels = input.values;
    const ImageFloat image{input.width, input.height, input.channels, pixels.data()};
    VelmoraPlanRequest request{};
    request.size = sizeof request;
    request.width = input.width;
    request.height = input.height;
    request.channels = input.channels;
    request.tileSize = tile;
    request.step = step;
    request.downscale = downscale;
    request.sample = &image;
    VelmoraPlan plan{};
    plan.size = sizeof plan;
    if (loadModelEx(context, bytes.data(), static_cast<uint32_t>(bytes.size()), "", "", 1, 1)) {
        getErrorText(context, text.data(), static_cast<int32_t>(text.size()));  // the load's words are not the run's
        std::fill(text.begin(), text.end(), '\0');
        if (profile) profile(context);
        if (velmoraPlan(context, &request, &plan)) {
            const ImageFloat result = velmoraPredict(context, image, &plan, nullptr, nullptr);
            if (result.data) {
                out.picture = {result.width, result.height, result.numChannels, {}};
                out.picture.values.assign(
                    result.data, result.data + static_cast<size_t>(result.width) * result.height * result.numChannels);
            }
        }
    }
    getErrorText(context, text.data(), static_cast<int32_t>(text.size()));
    out.error = wordsOfThisRun(before, oneLine(text.data()));
    deallocateImage(context);
    deleteContext(context);
    return out;
}

FloatPicture libraryByPlan(const std::string& model, const FloatPicture& input, int tile = 0, int step = 0,
                           int downscale = 1, const std::function<void(VelmoraContext)>& profile = {}) {
    LibraryResult r = runByPlan(model, input, tile, step, downscale, profile);
    if (r.picture.values.empty()) throw std::runtime_error("the library failed on " + model + ": " + r.error);
    return r.picture;
}

// ---- Comparing --------------------------------------------------------------

struct Difference {
    double largest = 0.0;
    int x = -1, y = -1, c = -1;
    float got = 0, expected = 0;
    size_t compared = 0;
};

using Region = std::function<bool(int x, int y)>;
const Region everywhere = [](int, int) { return true; };

Difference differenceOf(const FloatPicture& got, const FloatPicture& expected, const Region& where = everywhere) {
    Difference d;
    if (got.width != expected.width || got.height != expected.height || got.channels != expected.channels) {
        d.largest = INFINITY;
        return d;
    }
    for (int y = 0; y < got.height; ++y)
        for (int x = 0; x < got.width; ++x) {
            if (!where(x, y)) continue;
            for (int c = 0; c < got.channels; ++c) {
                const double diff = std::fabs(static_cast<double>(got.at(x, y, c)) - expected.at(x, y, c));
                ++d.compared;
                if (!(diff <= d.largest)) {  // NaN counts as the largest
                    d.largest = std::isnan(diff) ? INFINITY : diff;
                    d = {d.largest, x, y, c, got.at(x, y, c), expected.at(x, y, c), d.compared};
                }
            }
        }
    return d;
}

std::string describe(const Difference& d, const FloatPicture& got, const FloatPicture& expected) {
    std::ostringstream s;
    s.precision(9);
    if (got.width != expected.width || got.height != expected.height || got.channels != expected.channels)
        s << "shapes differ: " << got.width << "x" << got.height << "x" << got.channels << " against " << expected.width
          << "x" << expected.height << "x" << expected.channels;
    else
        s << "largest difference " << d.largest << " at (" << d.x << ", " << d.y << ") channel " << d.c << ": " << d.got
          << " against " << d.expected << ", over " << d.compared << " values";
    return s.str();
}

#define EXPECT_PICTURES_WITHIN(got, expected, tolerance, ...)                  \
    do {                                                                       \
        const Difference d_ = differenceOf((got), (expected), ##__VA_ARGS__);  \
        EXPECT_GT(d_.compared, 0u) << describe(d_, (got), (expected));         \
        EXPECT_LE(d_.largest, (tolerance)) << describe(d_, (got), (expected)); \
    } while (0)

// ---- The batch ----------------------------------------------------------------

struct Selection {
    std::string kind = "none";  // "none", "rectangle" or "ellipse"
    int x = 0, y = 0, width = 0, height = 0;
    bool contains(int px, int py) const {
        return kind == "none" || (px >= x && px < x + width && py >= y && py < y + height);
    }
};

// Where the plug-in puts the result.
enum { kNewLayer = 0, kReplace = 1, kMask = 2 };

struct Case {
    Case(std::string name, std::string picture, std::string model, int tile, int step, int downscale, double inputScale,
         double outputScale, Selection selection, std::string mean = "", std::string stdev = "", int output = kNewLayer)
        : name(std::move(name)),
          picture(std::move(picture)),
          model(std::move(model)),
          tile(tile),
          step(step),
          downscale(downscale),
          inputScale(inputScale),
          outputScale(outputScale),
          selection(std::move(selection)),
          mean(std::move(mean)),
          stdev(std::move(stdev)),
          output(output) {}
    std::string name;
    std::string picture;  // a key of pictures()
    std::string model;    // a full path
    int tile, step, downscale;
    double inputScale, outputScale;
    Selection selection;
    std::string mean, stdev;  // "": the model's profile
    int output;
};

// What the batch recorded for one case.
struct Outcome {
    bool recorded = false;
    std::string message;  // "ok" or "failed: " and Script-Fu's words
    int layerWidth = 0, layerHeight = 0, imageWidth = 0, imageHeight = 0;
    int layers = 0;       // in the image after the run
    FloatPicture layer;   // the top layer's pixels after the run: the result's
    FloatPicture source;  // the source layer's pixels after the run
    FloatPicture mask;    // the source layer's mask, empty without one
};

const Selection kRectangle{"rectangle", 40, 30, 150, 100};
const Selection kEllipse{"ellipse", 60, 40, 170, 120};

std::string quoted(const std::string& text) {
    std::string q = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + "\"";
}

const char* kSchemeHelpers = R"scm(
(define (velmora-attempt thunk)
  (call/cc
    (lambda (leave)
      (let ((previous *error-hook*))
        (set! *error-hook*
              (lambda reason
                (set! *error-hook* previous)
                (leave (string-append "failed: "
                                      (if (and (pair? reason) (string? (car reason))) (car reason) "(no reason)")))))
        (thunk)
        (set! *error-hook* previous)
        "ok"))))

(define (velmora-select image selection)
  (gimp-context-set-feather FALSE)
  (gimp-context-set-antialias TRUE)
  (cond ((equal? (car selection) "rectangle")
         (gimp-image-select-rectangle image CHANNEL-OP-REPLACE
                                      (nth 1 selection) (nth 2 selection) (nth 3 selection) (nth 4 selection)))
        ((equal? (car selection) "ellipse")
         (gimp-image-select-ellipse image CHANNEL-OP-REPLACE
                                    (nth 1 selection) (nth 2 selection) (nth 3 selection) (nth 4 selection)))))

;; One drawable alone, in its own format: TIFF export would write every layer
;; of the image, and a mask only through its layer.
(define (velmora-save image drawable file)
  (gimp-selection-none image)
  (gimp-edit-copy drawable)
  (let* ((alone (car (gimp-edit-paste-as-new-image)))
         (layer (car (gimp-image-get-active-layer alone))))
    (gimp-file-save RUN-NONINTERACTIVE alone layer file file)
    (gimp-image-delete alone)))

(define (velmora-case folder name picture model tile step downscale input-scale output-scale mean std output selection)
  (let* ((image (car (file-tiff-load RUN-NONINTERACTIVE picture picture)))
         (layer (car (gimp-image-get-active-layer image)))
         (base (string-append folder "/" name)))
    (velmora-select image selection)
    (gimp-context-set-interpolation INTERPOLATION-LINEAR)  ; enlarged alpha stays within its neighbours
    (let* ((outcome (velmora-attempt
                      (lambda ()
                        (plug-in-velmora-run-model RUN-NONINTERACTIVE image layer model tile step downscale
                                                   input-scale output-scale mean std output))))
           (layers (gimp-image-get-layers image))
           (top (vector-ref (cadr layers) 0))
           (mask (car (gimp-layer-get-mask layer))))
      (velmora-save image top (string-append base ".tif"))
      (velmora-save image layer (string-append base "-source.tif"))
      (if (> mask 0) (velmora-save image mask (string-append base "-mask.tif")))
      (call-with-output-file (string-append base ".txt")
        (lambda (port)
          (display (car (gimp-drawable-width top)) port) (display " " port)
          (display (car (gimp-drawable-height top)) port) (display " " port)
          (display (car (gimp-image-width image)) port) (display " " port)
          (display (car (gimp-image-height image)) port) (display " " port)
          (display (car layers) port) (newline port)
          (display outcome port))))
    (gimp-image-delete image)))
)scm";

class GimpSession {
public:
    explicit GimpSession(fs::path root) : root(std::move(root)) {}

    fs::path picturePath(const std::string& key) const { return root / "pictures" / (key + ".tif"); }
    fs::path outFolder(const std::string& run) const { return root / "out" / run; }

    // Runs the cases in one GIMP, which hands `environment` to the plug-in;
    // `gimprc` may be empty.
    ChildRun run(const std::string& runName, const std::vector<Case>& cases, const fs::path& gimprc,
                 const std::vector<std::pair<std::string, std::string>>& environment = {}) const {
        fs::create_directories(outFolder(runName));
        const fs::path helpers = root / "velmora-cases.scm";
        std::ofstream(helpers) << kSchemeHelpers;
        ChildCommand command;
        command.arguments = {"gimp-console-2.10", "-i", "-d", "-f", "--batch-interpreter=plug-in-script-fu-eval"};
        if (!gimprc.empty()) command.arguments.push_back("--gimprc=" + gimprc.string());
        // Each batch command is evaluated afresh, so each loads the helpers.
        for (const Case& c : cases) {
            std::ostringstream call;
            call << std::fixed << "(begin (load " << quoted(helpers.string()) << ") (velmora-case "
                 << quoted(outFolder(runName).string()) << " " << quoted(c.name) << " "
                 << quoted(picturePath(c.picture).string()) << " " << quoted(c.model) << " " << c.tile << " " << c.step
                 << " " << c.downscale << " " << c.inputScale << " " << c.outputScale << " " << quoted(c.mean) << " "
                 << quoted(c.stdev) << " " << c.output << " (list " << quoted(c.selection.kind) << " " << c.selection.x
                 << " " << c.selection.y << " " << c.selection.width << " " << c.selection.height << ")))";
            command.arguments.push_back("-b");
            command.arguments.push_back(call.str());
        }
        command.arguments.push_back("-b");
        command.arguments.push_back("(gimp-quit 0)");
        command.setEnvironment = {{"HOME", (root / "home").string()},
                                  {"XDG_CONFIG_HOME", (root / "config").string()},
                                  {"XDG_CACHE_HOME", (root / "cache").string()},
                                  {"XDG_DATA_HOME", (root / "data").string()},
                                  {"TMPDIR", (root / "tmp").string()},
                                  // In the sanitizer builds: GEGL's modules leave a few
                                  // allocations behind in every plug-in process;
                                  // memory errors are still reported.
                                  {"ASAN_OPTIONS", "detect_leaks=0"}};
        command.setEnvironment.insert(command.setEnvironment.end(), environment.begin(), environment.end());
        // The plug-in must find libvelmora through its own folder alone.
        command.unsetEnvironment = {"LD_LIBRARY_PATH", "LD_PRELOAD", "GIMP2_DIRECTORY",
                                    "GIMP2_PLUGINDIR", "DISPLAY",    "WAYLAND_DISPLAY"};
        for (const char* folder : {"home", "config", "cache", "data", "tmp"}) fs::create_directories(root / folder);
        command.workingFolder = root;
        command.outputFile = root / ("gimp-" + runName + ".log");
        command.secondsAllowed = 240;
        return runChild(command);
    }

    Outcome outcome(const std::string& runName, const std::string& caseName) const {
        Outcome o;
        std::ifstream facts(outFolder(runName) / (caseName + ".txt"));
        if (!(facts >> o.layerWidth >> o.layerHeight >> o.imageWidth >> o.imageHeight >> o.layers)) return o;
        facts >> std::ws;
        std::getline(facts, o.message, '\0');
        const fs::path base = outFolder(runName) / caseName;
        o.layer = readFloatTiff(base.string() + ".tif");
        o.source = readFloatTiff(base.string() + "-source.tif");
        if (fs::exists(base.string() + "-mask.tif")) o.mask = readFloatTiff(base.string() + "-mask.tif");
        o.recorded = true;
        return o;
    }

private:
    fs::path root;
};

std::string model(const std::string& name) { return modelPath(name); }

}  // namespace

class InGimp : public ::testing::Test {
protected:
    static constexpr const char* kSidecarText =
        R"({"mean": [0.25, 0.5, 0.75], "std": [0.5, 0.5, 0.5], "output_range": [-1, 1]})";
    static constexpr int kWidth = 300, kHeight = 190;

    static void SetUpTestSuite() {
        const fs::path root = fs::path(VELMORA_TEST_SCRATCH) / "gimp-session";
        fs::remove_all(root);
        fs::create_directories(root / "pictures");
        session = new GimpSession(root);
        pictures = new std::map<std::string, FloatPicture>{
            {"rgb", makePicture(kWidth, kHeight, 3, 1)},  {"rgba", makePicture(kWidth, kHeight, 4, 2)},
            {"gray", makePicture(kWidth, kHeight, 1, 3)}, {"small-rgba", makePicture(37, 29, 4, 4)},
            {"small-rgb", makePicture(37, 29, 3, 5)},
        };
        for (const auto& [key, picture] : *pictures) writeFloatTiff(session->picturePath(key), picture);

        // A model whose profile is a sidecar file beside it.
        fs::create_directories(root / "models");
        sidecarModel = new std::string((root / "models" / "mix_sidecar.onnx").string());
        fs::copy_file(modelPath("mix_cf_cf_f32_t16.onnx"), *sidecarModel);
        std::ofstream(*sidecarModel + ".json") << kSidecarText;

        // The plug-in as installed, and GIMP told about its folder the way
        // Preferences > Folders > Plug-ins does. The build tree is left
        // without the plug-in, as a build of the velmora command alone
        // (scripts/demo.sh) leaves it: the install builds what it installs.
        fs::remove_all(fs::path(VELMORA_TEST_BUILD_DIR) / "gimp-plug-ins" / "velmora-gimp");
        installed = root / "prefix";
        ChildRun install = runChild({{VELMORA_TEST_CMAKE, "--install", VELMORA_TEST_BUILD_DIR, "--component",
                                      "gimp_plugin", "--prefix", installed.string()},
                                     {},
                                     {},
                                     root,
                                     root / "install.log",
                                     120});
        installLog = new std::string(install.output);
        const fs::path plugins = installed / "lib/gimp/2.0/plug-ins";
        gimprc = root / "gimprc";
        std::ofstream(gimprc) << "(plug-in-path \"${gimp_dir}/plug-ins:${gimp_plug_in_dir}/plug-ins:"
                              << plugins.string() << "\")\n";
        realRun = new ChildRun(session->run("real", realCases(), gimprc));
    }

    static void TearDownTestSuite() {
        delete session;
        delete pictures;
        delete installLog;
        delete realRun;
        delete sidecarModel;
    }

    static std::vector<Case> realCases() {
        const std::string sharpen = model("demo_sharpen_t128.onnx");
        const std::string globalMix = model("global_mix_t256.onnx");
        const std::string profiled = model("profiled_mix_t16.onnx");
        return {
            {"rgb_identity", "rgb", model("identity_t16_c3.onnx"), 0, 12, 1, 1, 1, {}, "", "", kReplace},
            {"rgba_identity", "rgba", model("identity_t16_c3.onnx"), 16, 0, 1, 1, 1, {}},
            {"rgba_model_with_alpha", "rgba", model("identity_t32_c4.onnx"), 0, 0, 1, 1, 1, {}},
            {"gray_identity", "gray", model("identity_t16_c1.onnx"), 0, 10, 1, 1, 1, {}},
            {"rgb_sharpen", "rgb", sharpen, 0, 0, 1, 1, 1, {}},
            {"rgb_sharpen_detail_scaled", "rgb", sharpen, 128, 100, -2, 0.5, 2.0, {}},
            {"rgba_sharpen", "rgba", sharpen, 0, 0, 1, 1, 1, {}},
            {"gray_sharpen", "gray", sharpen, 0, 0, 1, 1, 1, {}},
            {"rgb_sharpen_rectangle", "rgb", sharpen, 0, 0, 1, 1, 1, kRectangle},
            {"rgb_sharpen_ellipse", "rgb", sharpen, 0, 0, 1, 1, 1, kEllipse},
            {"fails_not_a_model", "rgb", model("not_a_model.onnx"), 16, 0, 1, 1, 1, {}},
            {"fails_zero_channels", "gray", model("zero_size_out.onnx"), 0, 0, 1, 1, 1, {}},
            {"fails_gray_model_on_rgb", "rgba", model("identity_t16_c1.onnx"), 0, 0, 1, 1, 1, {}},
            {"fails_missing_file", "rgb", model("no_such_model.onnx"), 0, 0, 1, 1, 1, {}},
            {"fails_tile_mismatch", "rgb", sharpen, 64, 0, 1, 1, 1, kRectangle},
            // Upscalers: fixed tiles and channels-first, open sizes taking the
            // plug-in's tile or a given one, channels-last in doubles out in
            // half precision.
            {"up2_rgb", "small-rgb", model("up2_d2s_cf_cf_f32_t16.onnx"), 0, 0, 1, 1, 1, {}, "", "", kReplace},
            {"up2_rgba_open_scaled", "small-rgba", model("up2_near_cf_cf_f32_open.onnx"), 0, 0, 1, 1, 2.0, {}},
            {"up3_rgb_open_tile_given", "small-rgb", model("up3_near_cl_cl_f64f16_open.onnx"), 20, 0, 1, 1, 1, {}},
            {"up2_refused_with_selection",
             "small-rgba",
             model("up2_d2s_cf_cf_f32_t16.onnx"),
             0,
             0,
             1,
             1,
             1,
             {"rectangle", 2, 2, 10, 10}},
            // The library's plan, tiles given instead, and the result as the
            // layer's mask.
            {"plan_whole_picture", "rgb", globalMix, 0, 0, 1, 1, 1, {}},
            {"plan_tiles_asked", "rgb", globalMix, 256, 200, 1, 1, 1, {}},
            {"mask_of_the_layer", "rgb", globalMix, 0, 0, 1, 1, 1, {}, "", "", kMask},
            {"mask_refused_for_an_image", "rgb", sharpen, 0, 0, 1, 1, 1, {}, "", "", kMask},
            // Normalisation from the model's metadata, a sidecar, or given.
            {"profile_from_metadata", "rgb", profiled, 0, 0, 1, 1, 1, {}},
            {"profile_from_sidecar", "rgb", *sidecarModel, 0, 0, 1, 1, 1, {}},
            {"profile_given", "rgb", profiled, 0, 0, 1, 1, 1, {}, "10", "0.5, 1, 2"},
        };
    }

    static Outcome outcome(const std::string& run, const std::string& name) {
        Outcome o = session->outcome(run, name);
        const ChildRun& gimp = *realRun;
        if (!o.recorded)
            ADD_FAILURE() << "the batch recorded nothing for " << name << "; GIMP exit " << gimp.exitCode
                          << (gimp.timedOut ? " (timed out)" : "") << "\ninstall:\n"
                          << *installLog << "\nGIMP:\n"
                          << gimp.output;
        return o;
    }

    static const FloatPicture& picture(const std::string& key) { return pictures->at(key); }

    static inline GimpSession* session = nullptr;
    static inline std::map<std::string, FloatPicture>* pictures = nullptr;
    static inline fs::path installed;
    static inline fs::path gimprc;
    static inline std::string* installLog = nullptr;
    static inline ChildRun* realRun = nullptr;
    static inline std::string* sidecarModel = nullptr;
};

TEST_F(InGimp, TheInstallBuildsThePluginAndGimpRunsItAsInstalled) {
    const fs::path folder = installed / "lib/gimp/2.0/plug-ins/velmora-gimp";
    for (const char* file : {"velmora-gimp", "libvelmora.so", "libonnxruntime.so.1"}) {
        EXPECT_TRUE(fs::exists(folder / file)) << file << " missing\n" << *installLog;
        EXPECT_TRUE(fs::exists(fs::path(VELMORA_TEST_BUILD_DIR) / "gimp-plug-ins/velmora-gimp" / file)) << file;
    }
    EXPECT_EQ(realRun->exitCode, 0) << realRun->output;
    EXPECT_FALSE(realRun->timedOut);
    // The sanitizer builds' plug-in reports memory errors on its output.
    EXPECT_EQ(realRun->output.find("Sanitizer"), std::string::npos) << realRun->output;
    EXPECT_EQ(realRun->output.find("runtime error:"), std::string::npos) << realRun->output;
    // Of what the library and the runtime say, only warnings and errors show.
    for (const char* quiet : {"runModel", "Input Name", "Session Options"})
        EXPECT_EQ(realRun->output.find(quiet), std::string::npos) << quiet << "\n" << realRun->output;
}

TEST_F(InGimp, IdentityModelsGiveTheLibrarysResultExactly) {
    const Outcome rgb = outcome("real", "rgb_identity");
    EXPECT_EQ(rgb.message, "ok");
    EXPECT_PICTURES_WITHIN(rgb.layer, libraryPicture("identity_t16_c3.onnx", picture("rgb"), 16, 12, 1), 0.0);

    const Outcome gray = outcome("real", "gray_identity");
    EXPECT_EQ(gray.message, "ok");
    EXPECT_PICTURES_WITHIN(gray.layer, libraryPicture("identity_t16_c1.onnx", picture("gray"), 16, 10, 1), 0.0);
}

TEST_F(InGimp, AlphaIsKeptAsideAndPutBackUnlessTheModelTakesIt) {
    const FloatPicture& rgba = picture("rgba");
    const Outcome aside = outcome("real", "rgba_identity");
    EXPECT_EQ(aside.message, "ok");
    const FloatPicture colour = libraryPicture("identity_t16_c3.onnx", channelsOf(rgba, {0, 1, 2}), 16, 14, 1);
    EXPECT_PICTURES_WITHIN(aside.layer, withAlpha(colour, rgba), 0.0);

    const Outcome taken = outcome("real", "rgba_model_with_alpha");
    EXPECT_EQ(taken.message, "ok");
    EXPECT_PICTURES_WITHIN(taken.layer, libraryPicture("identity_t32_c4.onnx", rgba, 32, 28, 1), 0.0);

    const Outcome sharpened = outcome("real", "rgba_sharpen");
    EXPECT_EQ(sharpened.message, "ok");
    const FloatPicture sharp = libraryByPlan(model("demo_sharpen_t128.onnx"), channelsOf(rgba, {0, 1, 2}));
    EXPECT_PICTURES_WITHIN(sharpened.layer, withAlpha(sharp, rgba), 1e-5);
    EXPECT_PICTURES_WITHIN(channelsOf(sharpened.layer, {3}), channelsOf(rgba, {3}), 0.0);
}

TEST_F(InGimp, SharpenModelMatchesTheLibraryWithTheGivenOptions) {
    const FloatPicture& rgb = picture("rgb");
    const Outcome plain = outcome("real", "rgb_sharpen");
    EXPECT_EQ(plain.message, "ok");
    const FloatPicture expected = libraryByPlan(model("demo_sharpen_t128.onnx"), rgb);
    EXPECT_PICTURES_WITHIN(plain.layer, expected, 1e-5);
    // The model really changed the picture.
    EXPECT_GT(differenceOf(plain.layer, rgb).largest, 0.1);

    // Shrunk by 2 with the detail restored, fed half the values and the
    // result doubled.
    const Outcome options = outcome("real", "rgb_sharpen_detail_scaled");
    EXPECT_EQ(options.message, "ok");
    const FloatPicture detail = scaled(libraryPicture("demo_sharpen_t128.onnx", scaled(rgb, 0.5f), 128, 100, -2), 2.0f);
    EXPECT_PICTURES_WITHIN(options.layer, detail, 1e-5);
    EXPECT_GT(differenceOf(detail, expected).largest, 0.1);
}

TEST_F(InGimp, GrayLayersStayGrayWithAColourModel) {
    const Outcome gray = outcome("real", "gray_sharpen");
    EXPECT_EQ(gray.message, "ok");
    EXPECT_EQ(gray.layer.channels, 1);
    const FloatPicture rgb = channelsOf(picture("gray"), {0, 0, 0});
    const FloatPicture result = libraryByPlan(model("demo_sharpen_t128.onnx"), rgb);
    // The model sharpens each channel alike, so its three channels are equal.
    EXPECT_PICTURES_WITHIN(gray.layer, channelsOf(result, {0}), 1e-5);
}

TEST_F(InGimp, OnlyTheSelectedAreaChanges) {
    const FloatPicture& rgb = picture("rgb");
    const FloatPicture sharp = libraryByPlan(model("demo_sharpen_t128.onnx"), rgb);
    const Outcome rect = outcome("real", "rgb_sharpen_rectangle");
    EXPECT_EQ(rect.message, "ok");
    const Selection s = kRectangle;
    // Outside: untouched, bit for bit. Inside: the library's result on the
    // whole picture, since the model is shown the pixels around the
    // selection too; GIMP composites through the selection mask, which may
    // round the last bits.
    EXPECT_PICTURES_WITHIN(rect.layer, rgb, 0.0, [&](int x, int y) { return !s.contains(x, y); });
    EXPECT_PICTURES_WITHIN(rect.layer, sharp, 1e-5, [&](int x, int y) { return s.contains(x, y); });
}

TEST_F(InGimp, AnAntialiasedSelectionBlendsTheResultIn) {
    const FloatPicture& rgb = picture("rgb");
    const FloatPicture sharp = libraryByPlan(model("demo_sharpen_t128.onnx"), rgb);
    const Outcome ellipse = outcome("real", "rgb_sharpen_ellipse");
    EXPECT_EQ(ellipse.message, "ok");
    const Selection& s = kEllipse;
    EXPECT_PICTURES_WITHIN(ellipse.layer, rgb, 0.0, [&](int x, int y) { return !s.contains(x, y); });
    // Within the selection's bounds GIMP composites through the mask in its
    // own arithmetic, which moves values by a few units in the last place
    // even where the mask is empty.
    size_t replaced = 0, blended = 0, kept = 0, outsideTheBlend = 0;
    const float cx = s.x + s.width / 2.0f, cy = s.y + s.height / 2.0f;
    for (int y = s.y; y < s.y + s.height; ++y)
        for (int x = s.x; x < s.x + s.width; ++x) {
            const float dx = (x + 0.5f - cx) / (s.width / 2.0f), dy = (y + 0.5f - cy) / (s.height / 2.0f);
            const float r = std::sqrt(dx * dx + dy * dy);
            bool isReplaced = true, isKept = true;
            for (int c = 0; c < 3; ++c) {
                const float got = ellipse.layer.at(x, y, c), before = rgb.at(x, y, c), after = sharp.at(x, y, c);
                if (std::fabs(got - after) > 1e-5f) isReplaced = false;
                if (std::fabs(got - before) > 1e-6f) isKept = false;
                if (got < std::fmin(before, after) - 1e-5f || got > std::fmax(before, after) + 1e-5f) ++outsideTheBlend;
            }
            if (r < 0.95f && !isReplaced) ADD_FAILURE() << "inside the ellipse, not replaced at " << x << ", " << y;
            if (r > 1.05f && !isKept) ADD_FAILURE() << "outside the ellipse, changed at " << x << ", " << y;
            if (isReplaced)
                ++replaced;
            else if (isKept)
                ++kept;
            else
                ++blended;
        }
    EXPECT_EQ(outsideTheBlend, 0u);
    EXPECT_GT(replaced, 10000u);
    EXPECT_GT(kept, 1000u);
    EXPECT_GT(blended, 100u);  // the antialiased rim
}

TEST_F(InGimp, FailuresShowTheLibrarysWordsAndLeaveTheLayerUntouched) {
    const LibraryResult refused = runLibrary("not_a_model.onnx", picture("rgb"), 16, 14, 1);
    ASSERT_FALSE(refused.error.empty());
    const Outcome notAModel = outcome("real", "fails_not_a_model");
    EXPECT_EQ(notAModel.message.rfind("failed: ", 0), 0u) << notAModel.message;
    EXPECT_EQ(notAModel.layers, 1);  // no layer for a result that never came
    EXPECT_NE(notAModel.message.find(refused.error), std::string::npos)
        << notAModel.message << "\nlibrary: " << refused.error;
    EXPECT_PICTURES_WITHIN(notAModel.layer, picture("rgb"), 0.0);

    const LibraryResult empty = runByPlan(model("zero_size_out.onnx"), picture("gray"));
    ASSERT_TRUE(empty.picture.values.empty());
    ASSERT_FALSE(empty.error.empty());
    const Outcome zero = outcome("real", "fails_zero_channels");
    EXPECT_NE(zero.message.find(empty.error), std::string::npos) << zero.message << "\nlibrary: " << empty.error;
    EXPECT_PICTURES_WITHIN(zero.layer, picture("gray"), 0.0);
}

TEST_F(InGimp, WhatThePluginRefusesItselfIsSaidPlainly) {
    const Outcome grayModel = outcome("real", "fails_gray_model_on_rgb");
    EXPECT_NE(grayModel.message.find("convert the image to grayscale"), std::string::npos) << grayModel.message;
    EXPECT_PICTURES_WITHIN(grayModel.layer, picture("rgba"), 0.0);

    const Outcome missing = outcome("real", "fails_missing_file");
    EXPECT_NE(missing.message.find("no_such_model.onnx"), std::string::npos) << missing.message;
    EXPECT_PICTURES_WITHIN(missing.layer, picture("rgb"), 0.0);

    const Outcome tile = outcome("real", "fails_tile_mismatch");
    EXPECT_NE(tile.message.find("a tile size of 64 does not fit"), std::string::npos) << tile.message;
    EXPECT_PICTURES_WITHIN(tile.layer, picture("rgb"), 0.0);
}

namespace {

// Checks an enlarged layer with alpha: the colours are the library's result,
// the alpha GIMP's own enlargement of the layer's, so within the range of the
// alpha around each pixel.
void expectEnlargedAlpha(const FloatPicture& layer, const FloatPicture& small, int scale) {
    ASSERT_EQ(layer.channels, 4);
    ASSERT_EQ(layer.width, small.width * scale);
    ASSERT_EQ(layer.height, small.height * scale);
    size_t between = 0;
    for (int y = 0; y < layer.height; ++y)
        for (int x = 0; x < layer.width; ++x) {
            float low = 1, high = 0;
            for (int sy = std::max(0, y / scale - 1); sy <= std::min(small.height - 1, y / scale + 1); ++sy)
                for (int sx = std::max(0, x / scale - 1); sx <= std::min(small.width - 1, x / scale + 1); ++sx) {
                    low = std::fmin(low, small.at(sx, sy, 3));
                    high = std::fmax(high, small.at(sx, sy, 3));
                }
            const float a = layer.at(x, y, 3);
            if (a < low - 0.01f || a > high + 0.01f)
                ADD_FAILURE() << "alpha " << a << " at " << x << ", " << y << " outside " << low << " .. " << high;
            if (a > 0.01f && a < 0.99f) ++between;
        }
    EXPECT_GT(between, 0u);  // the alpha was kept, not made opaque
}

}  // namespace

TEST_F(InGimp, AnUpscalerEnlargesTheLayerAndTheCanvasByItsScale) {
    const FloatPicture& small = picture("small-rgb");
    const Outcome rgb = outcome("real", "up2_rgb");
    EXPECT_EQ(rgb.message, "ok");
    EXPECT_EQ(rgb.layerWidth, 74);
    EXPECT_EQ(rgb.layerHeight, 58);
    EXPECT_EQ(rgb.imageWidth, 74);
    EXPECT_EQ(rgb.imageHeight, 58);
    const FloatPicture expected = libraryPicture("up2_d2s_cf_cf_f32_t16.onnx", small, 16, 14, 1);
    ASSERT_EQ(expected.width, 74);
    EXPECT_PICTURES_WITHIN(rgb.layer, expected, 0.0);

    // Sizes left open: the plug-in's own tile, the given one, each scale.
    const FloatPicture& rgba = picture("small-rgba");
    const Outcome open = outcome("real", "up2_rgba_open_scaled");
    EXPECT_EQ(open.message, "ok");
    EXPECT_EQ(open.imageWidth, 74);
    EXPECT_EQ(open.imageHeight, 58);
    const FloatPicture colour =
        scaled(libraryPicture("up2_near_cf_cf_f32_open.onnx", channelsOf(rgba, {0, 1, 2}), 256, 224, 1), 2.0f);
    EXPECT_PICTURES_WITHIN(channelsOf(open.layer, {0, 1, 2}), colour, 0.0);
    expectEnlargedAlpha(open.layer, rgba, 2);

    const Outcome three = outcome("real", "up3_rgb_open_tile_given");
    EXPECT_EQ(three.message, "ok");
    EXPECT_EQ(three.layerWidth, 111);
    EXPECT_EQ(three.layerHeight, 87);
    EXPECT_PICTURES_WITHIN(three.layer, libraryPicture("up3_near_cl_cl_f64f16_open.onnx", small, 20, 18, 1), 0.0);
}

TEST_F(InGimp, AnUpscalerShortOfMemoryAfterTheRunLeavesTheLayerAsItWas) {
    // The plug-in's allocations beyond 60000 bytes fail: the result of
    // 74 x 58 RGB (51504 bytes) still comes, the enlarged layer's RGBA
    // pixels (68672 bytes) do not.
    const std::string upscaler = model("up2_near_cf_cf_f32_open.onnx");
    const ChildRun run = session->run("short",
                                      {{"replaced", "small-rgba", upscaler, 0, 0, 1, 1, 1, {}, "", "", kReplace},
                                       {"new_layer", "small-rgba", upscaler, 0, 0, 1, 1, 1, {}}},
                                      gimprc, {{"VELMORA_GIMP_ALLOCATION_LIMIT", "60000"}});
    for (const char* name : {"replaced", "new_layer"}) {
        SCOPED_TRACE(name);
        const Outcome o = session->outcome("short", name);
        ASSERT_TRUE(o.recorded) << run.output;
        EXPECT_NE(o.message.find("not enough memory for 74 x 58 pixels"), std::string::npos) << o.message;
        EXPECT_EQ(o.layers, 1);
        EXPECT_EQ(o.layerWidth, 37);
        EXPECT_EQ(o.layerHeight, 29);
        EXPECT_EQ(o.imageWidth, 37);
        EXPECT_PICTURES_WITHIN(o.source, picture("small-rgba"), 0.0);
    }
}

TEST_F(InGimp, AnUpscalerRefusesASelection) {
    const Outcome refused = outcome("real", "up2_refused_with_selection");
    EXPECT_NE(refused.message.find("whole layers only"), std::string::npos) << refused.message;
    EXPECT_EQ(refused.layerWidth, 37);
    EXPECT_EQ(refused.imageWidth, 37);
    EXPECT_PICTURES_WITHIN(refused.layer, picture("small-rgba"), 0.0);
}

TEST_F(InGimp, TheLibrarysPlanIsTheDefaultAndTilesGivenOverrideIt) {
    const FloatPicture& rgb = picture("rgb");
    const std::string globalMix = model("global_mix_t256.onnx");
    // The model reads the picture as a whole: its plan runs the layer at
    // once, resized to 256 x 256, where tiles would each see their own mean.
    const FloatPicture whole = libraryByPlan(globalMix, rgb);
    const FloatPicture tiled = libraryPicture("global_mix_t256.onnx", rgb, 256, 224, 1);
    ASSERT_EQ(whole.channels, 1);
    EXPECT_GT(differenceOf(whole, tiled).largest, 0.01);

    // A new layer above the source holds the result; the source is untouched.
    const Outcome planned = outcome("real", "plan_whole_picture");
    EXPECT_EQ(planned.message, "ok");
    EXPECT_EQ(planned.layers, 2);
    for (int c = 0; c < 3; ++c) EXPECT_PICTURES_WITHIN(channelsOf(planned.layer, {c}), whole, 1e-5);
    EXPECT_PICTURES_WITHIN(planned.source, rgb, 0.0);
    EXPECT_TRUE(planned.mask.values.empty());

    const Outcome asked = outcome("real", "plan_tiles_asked");
    EXPECT_EQ(asked.message, "ok");
    EXPECT_PICTURES_WITHIN(channelsOf(asked.layer, {1}), libraryPicture("global_mix_t256.onnx", rgb, 256, 200, 1),
                           1e-5);
}

TEST_F(InGimp, AMaskResultBecomesTheLayersMaskAndAnImageDoesNot) {
    const FloatPicture& rgb = picture("rgb");
    const Outcome masked = outcome("real", "mask_of_the_layer");
    EXPECT_EQ(masked.message, "ok");
    EXPECT_EQ(masked.layers, 1);
    EXPECT_PICTURES_WITHIN(masked.source, rgb, 0.0);
    EXPECT_PICTURES_WITHIN(masked.mask, libraryByPlan(model("global_mix_t256.onnx"), rgb), 1e-5);

    const Outcome refused = outcome("real", "mask_refused_for_an_image");
    EXPECT_NE(refused.message.find("does not call them a mask"), std::string::npos) << refused.message;
    EXPECT_EQ(refused.layers, 1);
    EXPECT_TRUE(refused.mask.values.empty());
    EXPECT_PICTURES_WITHIN(refused.source, rgb, 0.0);
}

TEST_F(InGimp, NormalisationComesFromTheModelsProfileOrTheGivenValues) {
    const FloatPicture& rgb = picture("rgb");
    const std::string profiled = model("profiled_mix_t16.onnx");
    // The profile matters: without it the same model gives other values.
    const FloatPicture bare = libraryPicture("profiled_mix_t16.onnx", rgb, 16, 14, 1);

    const Outcome metadata = outcome("real", "profile_from_metadata");
    EXPECT_EQ(metadata.message, "ok");
    const FloatPicture byMetadata = libraryByPlan(profiled, rgb);
    EXPECT_PICTURES_WITHIN(metadata.layer, byMetadata, 1e-5);
    EXPECT_GT(differenceOf(byMetadata, bare).largest, 0.1);

    const Outcome sidecar = outcome("real", "profile_from_sidecar");
    EXPECT_EQ(sidecar.message, "ok");
    const FloatPicture bySidecar = libraryByPlan(*sidecarModel, rgb, 0, 0, 1, [](VelmoraContext context) {
        ASSERT_TRUE(velmoraLoadProfile(context, kSidecarText));
    });
    EXPECT_PICTURES_WITHIN(sidecar.layer, bySidecar, 1e-5);
    EXPECT_GT(differenceOf(bySidecar, bare).largest, 0.1);

    // The given mean and std replace the metadata's; its range and colour
    // order stay.
    const Outcome given = outcome("real", "profile_given");
    EXPECT_EQ(given.message, "ok");
    const FloatPicture byGiven = libraryByPlan(profiled, rgb, 0, 0, 1, [](VelmoraContext context) {
        VelmoraProfile p{};
        p.size = sizeof p;
        ASSERT_TRUE(velmoraGetProfile(context, &p));
        p.channels = 3;
        const float stds[3] = {0.5f, 1, 2};
        for (int c = 0; c < 3; ++c) {
            p.mean[c] = 10;
            p.std[c] = stds[c];
        }
        ASSERT_TRUE(velmoraSetProfile(context, &p));
    });
    EXPECT_PICTURES_WITHIN(given.layer, byGiven, 1e-5);
    EXPECT_GT(differenceOf(byGiven, byMetadata).largest, 0.1);
}
