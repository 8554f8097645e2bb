#include <cstdarg>
#include <cstdio>
#include <optional>
#include <vector>

#include "command.h"
#include "library_run.h"
#include "model_fit.h"
#include "output_capture.h"

namespace {

std::string buildDate(LibraryContext& library) {
    char buffer[64] = {};
    getErrorText(library.handle(), buffer, -12);  // the build date, as length -12 asks
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

[[gnu::format(printf, 2, 3)]] void appendf(std::string& text, const char* format, ...) {
    char line[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    text += line;
}

// The result's scale and channels as a tile of zeros gives them, for a model
// whose shapes leave them open; the run's failure in words otherwise.
std::string trialTile(LibraryContext& library, const ModelFit& fit, int& scale, int& channels) {
    const int inputChannels = fit.inputChannels ? fit.inputChannels : 3;
    std::vector<float> zeros(static_cast<size_t>(fit.tile) * fit.tile * inputChannels, 0.0f);
    const ImageFloat tile{fit.tile, fit.tile, inputChannels, zeros.data()};
    const ImageFloat result = predictByTilesImageFloat(library.handle(), tile, fit.tile, fit.tile, 1, nullptr, nullptr);
    const LibraryResult held(library.handle(), result);
    if (!result.data) return library.takeErrorText();
    scale = result.width / fit.tile;
    channels = result.numChannels;
    return {};
}

std::string channelsText(int channels) {
    return channels ? std::to_string(channels) + (channels == 1 ? " channel" : " channels") : "open channels";
}

// The library's version and build, and the model's description when one is given.
std::string describe(const Options& o) {
    std::string text;
    LibraryContext library;
    const std::string build = library.initialize();
    std::vector<char> engine(1024, '\0');
    getNNEngineInformation(library.handle(), "velmora command", engine.data());
    engine.back() = '\0';
    appendf(text, "Velmora library %.3f\n", static_cast<double>(getVelmoraVersion(library.handle(), "", "", 0)));
    appendf(text, "Engine: %s\n", engine.data());
    appendf(text, "Built: %s\n", buildDate(library).c_str());
    appendf(text, "Build: %s\n", build.c_str());
    if (o.model.empty()) return text;

    const std::vector<char> bytes = readModelFile(o.model);
    ModelDescription description;
    bool described = true;
    try {
        description = describeModel(bytes);
    } catch (const std::exception&) {
        described = false;
    }
    ModelFit fit;
    std::string unfit;
    if (described) {
        try {
            fit = fitModel(&description, o);
        } catch (const std::exception& e) {
            unfit = e.what();
            described = false;
        }
    }
    try {
        library.loadModel(bytes, described ? fit.inputName : o.inputName, described ? fit.outputName : o.outputName,
                          described ? fit.inputLayout : 1, described ? fit.outputLayout : 1);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(o.model + ": " + e.what());
    }
    // The library's own words for the inputs and outputs: element types,
    // shapes with "?" where open, layouts.
    const LibraryContext::ModelText model = library.describeModel();
    appendf(text, "Model: %s (%zu bytes)\n", o.model.c_str(), bytes.size());
    if (!description.producer.empty())
        appendf(text, "  producer \"%s\", IR version %lld\n", description.producer.c_str(),
                static_cast<long long>(description.irVersion));
    else if (description.irVersion)
        appendf(text, "  IR version %lld\n", static_cast<long long>(description.irVersion));
    for (const std::string& line : model.tensors) appendf(text, "  %s\n", line.c_str());
    if (!unfit.empty()) appendf(text, "  cannot run in tiles: %s\n", unfit.c_str());
    if (described) {
        int scale = fit.scale, outputChannels = fit.outputChannels;
        std::string scaleSource = "from the shapes";
        if (scale == 0 || outputChannels == 0) {
            const std::string failed = trialTile(library, fit, scale, outputChannels);
            scaleSource = failed.empty()
                              ? "from a trial tile of " + std::to_string(fit.tile) + " x " + std::to_string(fit.tile)
                              : "";
            if (!failed.empty()) appendf(text, "  a trial tile failed: %s\n", failed.c_str());
        }
        appendf(text, "  tiles: %d x %d%s, %s input with %s, %s output with %s, default step %d\n", fit.tile, fit.tile,
                fit.openSize ? " (open size: --tile chooses)" : "", layoutName(fit.inputLayout),
                channelsText(fit.inputChannels).c_str(), layoutName(fit.outputLayout),
                channelsText(outputChannels).c_str(), defaultStep(fit.tile));
        if (scale > 0)
            appendf(text, "  scale: %d (%s)%s\n", scale, scaleSource.c_str(),
                    scale > 1 ? "; the result is that many times larger than the picture" : "");
        else
            appendf(text, "  scale: open (known after a run)\n");
    }
    appendf(text, "  library: %s\n", model.summary.c_str());
    return text;
}

}  // namespace

// The description goes to standard output after the library is gone; what
// the library and the runtime print meanwhile is kept back unless -v.
int printInformation(const Options& o) {
    std::string text;
    {
        std::optional<OutputCapture> capture;
        if (!o.verbose) capture.emplace();
        text = describe(o);
    }
    std::fputs(text.c_str(), stdout);
    return 0;
}
