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

void describeTensors(std::string& text, const char* kind, const std::vector<TensorDescription>& list) {
    for (const auto& t : list)
        appendf(text, "  %s \"%s\": %s %s\n", kind, t.name.c_str(), t.elementType == 1 ? "float" : "non-float",
                shapeText(t.dims).c_str());
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
    std::vector<char> modelText(4096, '\0');
    getModelInformation(library.handle(), nullptr, 0, modelText.data());
    modelText.back() = '\0';
    appendf(text, "Model: %s (%zu bytes)\n", o.model.c_str(), bytes.size());
    if (!unfit.empty()) appendf(text, "  cannot run in tiles: %s\n", unfit.c_str());
    if (described) {
        appendf(text, "  producer \"%s\", IR version %lld\n", description.producer.c_str(),
                static_cast<long long>(description.irVersion));
        describeTensors(text, "input ", description.inputs);
        describeTensors(text, "output", description.outputs);
        appendf(text, "  tiles: %d x %d, %s input with %d channels, %s output with %d channels, default step %d\n",
                fit.tile, fit.tile, layoutName(fit.inputLayout), fit.inputChannels, layoutName(fit.outputLayout),
                fit.outputChannels, defaultStep(fit.tile));
    }
    appendf(text, "  library: %s\n", modelText.data());
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
