// Runs the model over every picture of the job list: the cheap checks first,
// the model loaded once, each failure reported and the next picture taken.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>

#include "command.h"
#include "console.h"
#include "enlarge_plane.h"
#include "image_files.h"
#include "jobs.h"
#include "library_messages.h"
#include "loaded_model.h"
#include "memory.h"
#include "model_input.h"
#include "model_run.h"
#include "platform.h"
#include "run_plan.h"

namespace fs = std::filesystem;

namespace {

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

// A failure of one picture, with the name it is reported under.
struct PictureFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Runner {
public:
    Runner(const Options& o, const JobList& list) : o(o), list(list), model(loadModel(list.model, o)) {
        if (const std::string problem = modelRefusal(model.info, o); !problem.empty())
            throw std::runtime_error(problem);
        const TileChoice tiles = chooseTiles(model, o);
        tiling = {tiles.tile, tiles.step, libraryDownscale(o)};
        if (o.eightBit) conversion = {o.inputScale / 255.0f, o.outputScale * 255.0f, o.argmax};
        const int32_t inputChannels = model.info.inputChannels;
        if (o.eightBit && inputChannels != 0 && inputChannels < 3)
            throw std::runtime_error("the 8-bit path hands RGB to the model, which takes " +
                                     std::to_string(inputChannels) + " channels per pixel");
        inputValues = o.eightBit ? ChannelMap() : ChannelMap::normalizing(o.inputScale, o.mean, o.deviation);
        outputValues = o.eightBit      ? ChannelMap()
                       : o.denormalize ? ChannelMap::denormalizing(o.outputScale, o.mean, o.deviation)
                                       : ChannelMap::scaling(o.outputScale);
        checkValueMaps(inputChannels, model.info.outputChannels);
        progress.stopAfterCalls = stopAfterFromEnvironment();
    }

    // Everything about one picture; returns the closing line.
    std::string run(const Job& job) {
        if (!job.refusal.empty()) throw PictureFailure(job.refusal);
        const auto started = std::chrono::steady_clock::now();
        const FileFormat format = formatForExtension(job.output);
        if (o.bits) {
            const SampleType asked = requestedType(o.bits, SampleType::UInt8);
            if (storableType(format, asked) != asked)
                throw std::runtime_error(job.output.string() + ": the format cannot hold " + std::to_string(o.bits) +
                                         "-bit samples");
        }
        checkOutputPlace(job.output);
        if (!o.overwrite && sameFile(job.input, job.output))
            throw std::runtime_error(job.output.string() +
                                     ": is the input file itself; add --overwrite to replace it "
                                     "with the result");

        const std::unique_ptr<ImageReader> reader = openImage(job.input);
        const ImageHeader& head = reader->header();
        const ChannelFit channels(head.channels, o.eightBit ? 3 : model.info.inputChannels);
        checkValueMaps(channels.modelChannels(), 0);
        const bool swap = swapsSides(head.orientation);
        const int64_t width = swap ? head.height : head.width, height = swap ? head.width : head.height;
        // The 8-bit path hands RGB to a model that takes any channels.
        const int32_t takes = model.info.inputChannels;
        const int32_t modelChannels = !o.eightBit ? channels.modelChannels() : takes ? takes : 3;

        const VelmoraPlan plan = planFor(width, height, modelChannels);
        if (const std::string problem = tileCountProblem(plan.runs, tiling.tileSize, tiling.step);
            !problem.empty() && !o.force)
            throw std::runtime_error(problem);
        checkMemory(head, channels, plan);

        progress.totalTiles = static_cast<long>(plan.runs);
        progress.draw = !o.quiet && isTerminal(consoleStream());
        progress.label = list.batch ? job.input.filename().string() : std::string();
        progress.calls = 0;

        ModelInputImage input =
            readModelInput(*reader, channels, o.eightBit ? InputKind::Bytes : InputKind::Floats, inputValues);
        if (interruptRequested()) throw Interrupted();
        const RunResult result = o.eightBit ? runBytes(model.context, input.bytes, input.width, input.height,
                                                       modelChannels, tiling, conversion, progress)
                                            : runFloats(model.context, floatsOf(input), tiling, progress);
        std::vector<float>().swap(input.pixels);  // the library is done with it
        if (interruptRequested()) throw Interrupted();
        checkValueMaps(0, result.channels());
        int32_t writtenChannels = 0;
        const SampleType type = write(job, format, head, input, result, writtenChannels);

        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        static const char* const names[] = {"gray", "gray with alpha", "RGB", "RGBA"};
        const int32_t written = writtenChannels;
        const std::string channelText =
            written >= 1 && written <= 4 ? names[written - 1] : std::to_string(written) + " channels";
        char closing[160];
        std::snprintf(closing, sizeof closing, " (%d x %d, %s, %s) in %.1f s", result.width(), result.height(),
                      channelText.c_str(), sampleTypeName(type), seconds);
        std::error_code ec;
        return "wrote " + fs::absolute(job.output, ec).string() + closing;
    }

    const fs::path& modelPath() const { return list.model; }

private:
    static ImageFloat floatsOf(ModelInputImage& input) {
        return {input.width, input.height, input.channels, input.pixels.data()};
    }

    // The library's plan for the upright picture: its tile count, and the
    // result's scale and channels where the shapes or an earlier run told.
    VelmoraPlan planFor(int64_t width, int64_t height, int32_t channels) {
        constexpr int64_t kMaxSide = std::numeric_limits<int32_t>::max();
        if (width > kMaxSide || height > kMaxSide)
            throw std::runtime_error("the picture is wider or taller than the library takes");
        VelmoraPlanRequest request{};
        request.width = static_cast<int32_t>(width);
        request.height = static_cast<int32_t>(height);
        request.channels = channels;
        request.tileSize = tiling.tileSize;
        request.step = tiling.step;
        request.downscale = tiling.downscale;
        velmora::Result<VelmoraPlan> plan = model.context.plan(request);
        if (!plan) throw std::runtime_error(plan.error().words);
        return *plan;
    }

    void checkMemory(const ImageHeader& head, const ChannelFit& channels, const VelmoraPlan& plan) const {
        if (o.force) return;
        RunShape shape;
        shape.width = plan.width;
        shape.height = plan.height;
        shape.pictureChannels = head.channels;
        shape.modelChannels = channels.modelChannels();
        shape.resultChannels = o.argmax ? 1 : plan.resultChannels ? plan.resultChannels : channels.modelChannels();
        shape.alphaAside = channels.setsAlphaAside();
        shape.tile = tiling.tileSize;
        shape.modelScale = plan.scale ? plan.scale : 1;
        shape.downscale = tiling.downscale;
        shape.eightBit = o.eightBit;
        shape.modelFileBytes = model.fileBytes;
        shape.decoderBytes = head.decoderBytes;
        const AvailableMemory available = availableMemory();
        if (const std::string problem = memoryProblem(shape, available.bytes, available.where); !problem.empty())
            throw std::runtime_error(problem);
    }

    SampleType write(const Job& job, FileFormat format, const ImageHeader& head, const ModelInputImage& input,
                     const RunResult& result, int32_t& writtenChannels) {
        const SampleType type = storableType(format, requestedType(o.bits, o.argmax ? SampleType::UInt8 : head.type));
        // An enlarging model's result is S times the picture: its alpha is enlarged to match.
        const int32_t scale = result.width() / input.width;
        const bool wholeMultiple = scale >= 1 && result.width() == input.width * scale &&
                                   result.height() == static_cast<int64_t>(input.height) * scale;
        const bool jpeg = format == FileFormat::Jpeg;
        const bool grayPicture = (head.channels == 1 || head.channels == 2) && !o.color;
        const ResultShape shape(result.channels(), outputValues, !input.alpha.empty() && wholeMultiple,
                                grayPicture && !o.argmax, jpeg);
        if (jpeg && !o.quiet && (!input.alpha.empty() || result.channels() == 2 || result.channels() == 4))
            say("JPEG has no alpha channel; the result's alpha is left out");

        ImageToWrite toWrite{result.width(), result.height(), shape.writtenChannels(), type, o.jpegQuality, head.info};
        writtenChannels = toWrite.channels;
        if (swapsSides(head.orientation)) std::swap(toWrite.info.density.x, toWrite.info.density.y);
        // The same physical size: a result of another size has another density.
        toWrite.info.density.x *= static_cast<double>(result.width()) / input.width;
        toWrite.info.density.y *= static_cast<double>(result.height()) / input.height;

        std::optional<PlaneEnlarger> alpha;
        std::vector<float> alphaRow;
        if (!input.alpha.empty() && wholeMultiple) {
            alpha.emplace(input.alpha.data(), input.width, input.height, scale);
            alphaRow.resize(static_cast<size_t>(alpha->width()));
        }
        std::vector<float> pixel(static_cast<size_t>(std::max(result.channels(), 1)));
        const auto outChannels = static_cast<size_t>(toWrite.channels);
        writeImageRows(writtenPath(job.output), format, toWrite, [&](int32_t y, float* row) {
            if (alpha) alpha->row(y, alphaRow.data());
            const size_t first = static_cast<size_t>(y) * static_cast<size_t>(result.width());
            for (int32_t x = 0; x < result.width(); ++x) {
                result.pixel(first + x, pixel.data());
                shape.apply(pixel.data(), alpha ? alphaRow[static_cast<size_t>(x)] : 1.0f, row + x * outChannels);
            }
        });
        return type;
    }

    // The normalisation's values per channel against the model's input and
    // output channels, where they are known (0: not yet).
    void checkValueMaps(int32_t inputChannels, int32_t outputChannels) const {
        const std::string given = !o.mean.empty() && !o.deviation.empty() ? "--mean and --std give"
                                  : !o.mean.empty()                       ? "--mean gives"
                                                                          : "--std gives";
        std::string problem = mapProblem(inputValues, inputChannels, given, false);
        if (problem.empty() && o.denormalize) problem = mapProblem(outputValues, outputChannels, given, true);
        if (!problem.empty()) throw std::runtime_error(problem);
    }

    const Options& o;
    const JobList& list;
    LoadedModel model;
    velmora::Tiling tiling;
    velmora::ByteConversion conversion;
    ChannelMap inputValues, outputValues;
    ProgressState progress;
};

// In a batch each failure names its picture, unless the words already do.
std::string naming(const JobList& list, const Job& job, const std::string& what) {
    const std::string name = job.input.string();
    if (!list.batch || what.compare(0, name.size(), name) == 0) return what;
    return name + ": " + what;
}

// The failure, and the library's and the runtime's lines that explain it.
void reportFailure(const std::string& message) {
    say(message);
    for (const std::string& line : keptLibraryLines().take()) sayRaw("  " + line);
}

}  // namespace

int processImages(const Options& o) {
    watchForInterrupt();
    const JobList list = planJobs(o);
    std::vector<std::string> closing;
    size_t failed = 0, done = 0;
    bool interrupted = false;
    {
        std::optional<Runner> runner;
        try {
            runner.emplace(o, list);
        } catch (const std::exception& e) {
            reportFailure(e.what());
            return kExitFailure;
        }
        for (const Job& job : list.jobs) {
            try {
                const std::string line = runner->run(job);
                ++done;
                keptLibraryLines().take();  // nothing failed: nothing to explain
                if (o.quiet) continue;
                if (list.batch)
                    say(line);
                else if (list.demo)
                    closing = {"sharpened the demo sample " + job.input.string() + " with " +
                                   runner->modelPath().filename().string(),
                               line};
                else
                    closing = {line};
            } catch (const Interrupted&) {
                interrupted = true;
                break;
            } catch (const std::bad_alloc&) {
                ++failed;
                reportFailure(naming(list, job, "out of memory; try --downscale 2 or --8bit"));
            } catch (const std::exception& e) {
                ++failed;
                reportFailure(naming(list, job, e.what()));
            }
            if (!list.batch && failed) return kExitFailure;
        }
    }
    // The library is gone: nothing it prints can follow the closing lines.
    if (interrupted) {
        say(list.batch ? "interrupted; " + std::to_string(done) + " of " + std::to_string(list.jobs.size()) +
                             " pictures were written, the one under way was not"
                       : "interrupted; nothing was written");
        return kExitInterrupted;
    }
    for (const std::string& line : closing) say(line);
    if (list.batch && !(o.quiet && failed == 0))
        say(std::to_string(done) + " of " + std::to_string(list.jobs.size()) + " pictures written to " + o.outputDir +
            (failed ? "; " + std::to_string(failed) + " failed" : ""));
    return failed ? kExitFailure : 0;
}
