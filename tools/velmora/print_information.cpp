#include <cstdio>
#include <vector>

#include "command.h"
#include "library_run.h"
#include "model_fit.h"

namespace {

std::string buildDate(LibraryContext& library) {
    char buffer[64] = {};
    getErrorText(library.handle(), buffer, -12);  // the build date, as length -12 asks
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

void describeTensors(const char* kind, const std::vector<TensorDescription>& list) {
    for (const auto& t : list)
        std::printf("  %s \"%s\": %s %s\n", kind, t.name.c_str(), t.elementType == 1 ? "float" : "non-float",
                    shapeText(t.dims).c_str());
}

}  // namespace

int printInformation(const Options& o) {
    LibraryContext library;
    const std::string build = library.initialize();
    std::vector<char> engine(1024, '\0');
    getNNEngineInformation(library.handle(), "velmora command", engine.data());
    engine.back() = '\0';
    std::printf("Velmora library %.3f\n", static_cast<double>(getVelmoraVersion(library.handle(), "", "", 0)));
    std::printf("Engine: %s\n", engine.data());
    std::printf("Built: %s\n", buildDate(library).c_str());
    std::printf("Build: %s\n", build.c_str());
    std::fflush(stdout);
    if (o.model.empty()) return 0;

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
    std::printf("Model: %s (%zu bytes)\n", o.model.c_str(), bytes.size());
    if (!unfit.empty()) std::printf("  cannot run in tiles: %s\n", unfit.c_str());
    if (described) {
        std::printf("  producer \"%s\", IR version %lld\n", description.producer.c_str(),
                    static_cast<long long>(description.irVersion));
        describeTensors("input ", description.inputs);
        describeTensors("output", description.outputs);
        std::printf("  tiles: %d x %d, %s input with %d channels, %s output with %d channels, default step %d\n",
                    fit.tile, fit.tile, layoutName(fit.inputLayout), fit.inputChannels, layoutName(fit.outputLayout),
                    fit.outputChannels, defaultStep(fit.tile));
    }
    std::printf("  library: %s\n", modelText.data());
    return 0;
}
