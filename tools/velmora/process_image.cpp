#include <cstdio>
#include <cstdlib>
#include <optional>

#include "channels.h"
#include "command.h"
#include "demo_files.h"
#include "image_files.h"
#include "library_run.h"
#include "model_fit.h"
#include "platform.h"

namespace fs = std::filesystem;

namespace {

struct Job {
    fs::path input, output, model;
    bool demo = false;
};

Job resolveFiles(const Options& o) {
    Job job{o.input, o.output, o.model, false};
    if (o.input.empty() || o.model.empty()) {
        const bool needSample = o.input.empty();
        const DemoFiles demo = findDemoFiles();
        if (needSample) job.input = demo.sample;
        if (o.model.empty()) job.model = demo.model;
        job.demo = needSample;
    }
    if (job.output.empty()) {
        if (!job.demo) throw std::runtime_error("give the output file after the input file");
        job.output = kDemoResultName;
    }
    return job;
}

long stopAfterFromEnvironment() {
    // Lets the tests stop a run from the progress callback at a known point.
    const char* value = std::getenv("VELMORA_STOP_AFTER_PROGRESS");
    if (!value || !*value) return -1;
    char* end = nullptr;
    const long n = std::strtol(value, &end, 10);
    return *end == '\0' && n >= 0 ? n : -1;
}

SampleType requestedType(int bits, SampleType fallback) {
    switch (bits) {
        case 8: return SampleType::UInt8;
        case 16: return SampleType::UInt16;
        case 32: return SampleType::Float32;
    }
    return fallback;
}

void checkOutputPlace(const fs::path& output) {
    std::error_code ec;
    const fs::path folder = output.parent_path().empty() ? fs::path(".") : output.parent_path();
    if (!fs::is_directory(folder, ec))
        throw std::runtime_error(output.string() + ": folder " + folder.string() + " does not exist");
    if (fs::is_directory(output, ec)) throw std::runtime_error(output.string() + ": is a folder");
}

}  // namespace

int processImage(const Options& o) {
    watchForInterrupt();
    const Job job = resolveFiles(o);

    // Everything that can be checked cheaply is checked before the long run.
    const FileFormat format = formatForExtension(job.output);
    const SampleType asked = requestedType(o.bits, SampleType::UInt8);
    if (o.bits && storableType(format, asked) != asked)
        throw std::runtime_error(job.output.string() + ": the format cannot hold " + std::to_string(o.bits) +
                                 "-bit samples");
    checkOutputPlace(job.output);
    const std::vector<char> modelBytes = readModelFile(job.model);
    std::optional<ModelDescription> description;
    try {
        description = describeModel(modelBytes);
    } catch (const std::exception&) {
        // Left to the runtime to judge below.
    }
    const Raster image = readImage(job.input);

    LibraryContext library;
    library.initialize();
    auto load = [&](const std::string& in, const std::string& out, int inLayout, int outLayout) {
        try {
            library.loadModel(modelBytes, in, out, inLayout, outLayout);
        } catch (const std::runtime_error& e) {
            throw std::runtime_error(job.model.string() + ": " + e.what());
        }
    };
    ModelFit fit;
    if (description) {
        fit = fitModel(&*description, o);
        load(fit.inputName, fit.outputName, fit.inputLayout, fit.outputLayout);
    } else {
        // Unreadable here: the runtime has the last word, then the options must say the rest.
        load(o.inputName, o.outputName, o.inputLayout == Layout::ChannelsFirst ? 0 : 1,
             o.outputLayout == Layout::ChannelsFirst ? 0 : 1);
        fit = fitModel(nullptr, o);
    }

    TileSettings settings;
    settings.tile = fit.tile;
    settings.step = o.step ? o.step : defaultStep(fit.tile);
    if (settings.step > settings.tile)
        throw std::runtime_error("the step (" + std::to_string(settings.step) + ") must not exceed the tile size (" +
                                 std::to_string(settings.tile) + ")");
    settings.downscale = o.detail && o.downscale > 0 ? -o.downscale : o.downscale;
    settings.inputScale = o.inputScale;
    settings.outputScale = o.outputScale;
    settings.argmax = o.argmax;

    ProgressState progress;
    progress.draw = !o.quiet && isTerminal(stderr);
    progress.ownLines = isTerminal(stdout);
    progress.stopAfterCalls = stopAfterFromEnvironment();

    Raster result;
    std::vector<float> alpha;
    if (o.eightBit) {
        ModelInput rgb = fitChannels(image, 3);
        alpha = std::move(rgb.alpha);
        int outputChannels = fit.outputChannels;
        if (!o.argmax && outputChannels == 0)
            throw std::runtime_error("cannot tell how many channels the model gives; the 8-bit path needs to know");
        result = predictByteImage(library, rgb.image, fit.inputChannels ? fit.inputChannels : 3, outputChannels,
                                  settings, progress);
    } else {
        ModelInput fitted = fitChannels(image, fit.inputChannels);
        alpha = std::move(fitted.alpha);
        result = predictFloatImage(library, fitted.image, settings, progress);
    }
    if (interruptRequested()) throw Interrupted();
    if (!o.argmax) result = restoreAlpha(std::move(result), alpha);

    WriteSettings write;
    write.type = storableType(format, requestedType(o.bits, o.eightBit ? SampleType::UInt8 : image.type));
    write.jpegQuality = o.jpegQuality;
    if (format == FileFormat::Jpeg && (result.channels == 2 || result.channels == 4) && !o.quiet)
        std::fprintf(stderr, "velmora: JPEG has no alpha channel; the result's alpha is left out\n");
    writeImage(job.output, format, result, write);

    if (!o.quiet) {
        std::error_code ec;
        const fs::path shown = fs::absolute(job.output, ec);
        if (job.demo)
            std::fprintf(stderr, "velmora: sharpened the demo sample %s with %s\nvelmora: wrote %s\n",
                         job.input.string().c_str(), job.model.filename().string().c_str(), shown.string().c_str());
        else
            std::fprintf(stderr, "velmora: wrote %s (%d x %d, %d channels, %s)\n", shown.string().c_str(), result.width,
                         result.height, result.channels, sampleTypeName(write.type));
    }
    return 0;
}
