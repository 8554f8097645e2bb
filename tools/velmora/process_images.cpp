// Runs the model over every picture of the job list: the cheap checks first,
// the model loaded once, each failure reported and the next picture taken.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>

#include "band_stream.h"
#include "command.h"
#include "console.h"
#include "image_files.h"
#include "jobs.h"
#include "library_messages.h"
#include "loaded_model.h"
#include "memory.h"
#include "model_input.h"
#include "model_run.h"
#include "output_file.h"
#include "plan_text.h"
#include "platform.h"
#include "profile_choice.h"
#include "progress.h"
#include "result_writer.h"
#include "run_plan.h"
#include "stream_plan.h"
#include "upright_rows.h"

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

void checkOutputPlace(const fs::path& output) {
    std::error_code ec;
    const fs::path folder = output.parent_path().empty() ? fs::path(".") : output.parent_path();
    if (!fs::is_directory(folder, ec))
        throw std::runtime_error(output.string() + ": folder " + folder.string() + " does not exist");
    if (fs::is_directory(output, ec)) throw std::runtime_error(output.string() + ": is a folder");
    checkRegularTarget(output);
}

// A failure of one picture, with the name it is reported under.
struct PictureFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Runner {
public:
    Runner(const Options& o, const JobList& list) : o(o), list(list) {
        progress.draw = !o.quiet && isTerminal(consoleStream());
        progress.stopAfterCalls = stopAfterFromEnvironment();
        try {
            setUp();
        } catch (...) {
            finishProgress(progress);
            throw;
        }
    }

    // Everything about one picture; returns the closing line.
    std::string run(const Job& job) {
        try {
            return runPicture(job);
        } catch (...) {
            finishProgress(progress);  // the failure's line replaces the status
            throw;
        }
    }

    const fs::path& modelPath() const { return list.model; }

private:
    // The model loaded, its profile set, and what cannot work refused.
    void setUp() {
        showStatus(progress, "loading " + list.model.filename().string());
        model.emplace(loadModel(list.model, o));
        if (const std::string problem = modelRefusal(model->info, o); !problem.empty())
            throw std::runtime_error(problem);
        if (o.eightBit) conversion = {o.inputScale / 255.0f, o.outputScale * 255.0f, o.argmax};
        const int32_t inputChannels = model->info.inputChannels;
        if (o.eightBit && inputChannels != 0 && inputChannels < 3)
            throw std::runtime_error("the 8-bit path hands RGB to the model, which takes " +
                                     std::to_string(inputChannels) + " channels per pixel");
        // The library applies the profile; the command only scales.
        inputValues = o.eightBit ? ChannelMap() : ChannelMap::scaling(o.inputScale);
        outputValues = o.eightBit      ? ChannelMap()
                       : o.denormalize ? ChannelMap::denormalizing(o.outputScale, o.mean, o.deviation)
                                       : ChannelMap::scaling(o.outputScale);
        givenValues = ChannelMap::normalizing(1.0f, o.mean, o.deviation);
        checkValueMaps(inputChannels, model->info.outputChannels);
        if ((o.cutout || o.maskOnly) && !givesMask(model->profile.profile))
            throw std::runtime_error(std::string(o.cutout ? "--cutout" : "--mask") +
                                     " needs a mask, and by its profile (" + model->profile.origin +
                                     ") the model gives " + outputRoleName(model->profile.profile.output) +
                                     "; add --output-role mask if its output is a mask");
    }

    std::string runPicture(const Job& job) {
        if (!job.refusal.empty()) throw PictureFailure(job.refusal);
        const auto started = std::chrono::steady_clock::now();
        const FileFormat format = formatForExtension(job.output);
        if (o.bits) {
            const SampleType asked = requestedType(o.bits, SampleType::UInt8);
            if (storableType(format, asked) != asked)
                throw std::runtime_error(job.output.string() + ": the format cannot hold " + std::to_string(o.bits) +
                                         "-bit samples");
        }
        if (o.cutout && format == FileFormat::Jpeg)
            throw std::runtime_error(job.output.string() + ": JPEG holds no alpha; write the cut-out as .png or .tif");
        checkOutputPlace(job.output);
        if (!o.overwrite && sameFile(job.input, job.output))
            throw std::runtime_error(job.output.string() +
                                     ": is the input file itself; add --overwrite to replace it "
                                     "with the result");

        const std::unique_ptr<ImageReader> reader = openImage(job.input);
        const ImageHeader& head = reader->header();
        const ChannelFit channels(head.channels, o.eightBit ? 3 : model->info.inputChannels);
        checkValueMaps(channels.modelChannels(), 0);
        const bool swap = swapsSides(head.orientation);
        const int64_t width = swap ? head.height : head.width, height = swap ? head.width : head.height;
        // The 8-bit path hands RGB to a model that takes any channels.
        const int32_t takes = model->info.inputChannels;
        const int32_t modelChannels = !o.eightBit ? channels.modelChannels() : takes ? takes : 3;
        CommandShare share{
            width,
            height,
            modelChannels,
            channels.setsAlphaAside(),
            o.cutout ? (head.channels == 2 || head.channels == 4 ? head.channels - 1 : head.channels) : 0,
            o.eightBit,
            head.decoderBytes};
        const VelmoraPlanRequest request = planRequest(width, height, modelChannels);
        progress.label = list.batch ? job.input.filename().string() : std::string();

        // Once the model is measured (or the tiles are given) the plan needs
        // no picture; before, the picture is the sample it is measured on.
        // A picture that will stream is measured on its top rows instead,
        // so that it is never read whole.
        const AvailableMemory available = availableMemory();
        const MemoryBudget budget = memoryBudget(o, available);
        std::optional<VelmoraPlan> plan;
        if (model->measured() || (o.tile && o.step)) {
            plan = planFor(request, nullptr);
            // An upscaler of open sizes must not be taken for one that keeps
            // the size when its memory decides whether the picture streams
            // or fits at all.
            if (scaleMayMatter(*plan, share, std::min(budget.bytes, available.bytes)))
                plan = scaleKnown(*plan, request);
        } else {
            const int32_t scale = model->info.scale > 0 ? model->info.scale : 1;
            const int32_t out = model->info.outputChannels > 0 ? model->info.outputChannels : modelChannels;
            const uint64_t result = resultBytes(width, height, scale, out, o.eightBit);
            if (mayStream(*reader) && estimateMemory(share, result).peak > budget.bytes) {
                showStatus(progress, "measuring the model on " + job.input.filename().string());
                const std::unique_ptr<ImageReader> top = openImage(job.input);
                const TopSample sample = topSample(*top, channels, inputValues, 1024, 1024);
                measureOn(sample.view);
                plan = planFor(request, &sample.view);
            } else {
                checkMemory(share, result, resultBytes(width, height, scale, out, true));
            }
        }
        if (plan && wantsStream(*plan, share, budget)) {
            const std::string why = streamObstacle(*plan, *reader, o);
            if (why.empty())
                return streamPicture(job, format, *reader, channels, scaleKnown(*plan, request), share, budget,
                                     available, started);
            // Held whole it still fits what is available, unless a budget was given.
            const uint64_t whole = estimateMemory(share, libraryBytes(*plan, o.eightBit)).peak;
            if (budget.given || whole > available.bytes)
                throw std::runtime_error("needs about " + sizeText(whole) + " of memory held whole, past " +
                                         budgetWords(budget, available) + ", and it cannot stream: " + why +
                                         (budget.given ? "; --no-stream holds it whole" : ""));
        }
        if (plan) checkPlan(*plan, share);

        showStatus(progress, "reading " + job.input.filename().string());
        ModelInputImage input =
            readModelInput(*reader, channels, o.eightBit ? InputKind::Bytes : InputKind::Floats, inputValues, o.cutout);
        if (interruptRequested()) throw Interrupted();
        if (!plan) {
            showStatus(progress, "measuring the model on " + job.input.filename().string());
            FloatSample bytes;
            if (o.eightBit) bytes = bytesSample(input, conversion.inputScale, 1024);
            const ImageFloat sample = o.eightBit ? bytes.view : floatsOf(input);
            measureOn(sample);
            plan = planFor(request, &sample);
            // Measuring told an open model's scale: a result that now passes
            // the budget streams after all, the picture read again by bands.
            if (wantsStream(*plan, share, budget)) {
                const std::unique_ptr<ImageReader> again = openImage(job.input);
                if (streamObstacle(*plan, *again, o).empty()) {
                    input = {};
                    return streamPicture(job, format, *again, channels, *plan, share, budget, available, started);
                }
            }
            checkPlan(*plan, share);
        }
        if (o.showPlan || o.verbose) {
            finishProgress(progress);
            if (list.batch) say(job.input.string() + ":");
            for (const std::string& line : planLines(*plan, estimateMemory(share, libraryBytes(*plan, o.eightBit))))
                say(line);
        }

        progress.totalTiles = static_cast<long>(plan->runs);
        progress.unit = plan->strategy == VELMORA_STRATEGY_WHOLE ? "runs" : "tiles";
        progress.calls = 0;
        const velmora::Tiling tiling{plan->tileSize, plan->step, plan->downscale};
        const RunResult result = o.eightBit ? runBytes(model->context, input.bytes, input.width, input.height,
                                                       modelChannels, tiling, conversion, progress)
                                            : runFloats(model->context, floatsOf(input), *plan, progress);
        std::vector<float>().swap(input.pixels);  // the library is done with it
        if (interruptRequested()) throw Interrupted();
        checkValueMaps(0, result.channels());
        const Written written = o.cutout ? writeCutout(job.output, format, head, input, result, outputValues, o)
                                         : writeResult(job.output, format, head, input, result, outputValues, o,
                                                       givesMask(model->profile.profile));

        return closingLine(job, written, started);
    }

    static std::string closingLine(const Job& job, const Written& written,
                                   std::chrono::steady_clock::time_point started) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        static const char* const names[] = {"gray", "gray with alpha", "RGB", "RGBA"};
        const std::string channelText = written.channels >= 1 && written.channels <= 4
                                            ? names[written.channels - 1]
                                            : std::to_string(written.channels) + " channels";
        char closing[160];
        std::snprintf(closing, sizeof closing, " (%d x %d, %s, %s) in %.1f s", written.width, written.height,
                      channelText.c_str(), sampleTypeName(written.type), seconds);
        std::error_code ec;
        return "wrote " + fs::absolute(job.output, ec).string() + closing;
    }

    void measureOn(const ImageFloat& sample) {
        const velmora::Result<VelmoraModelNeeds> measured = model->context.measure(&sample);
        if (!measured) throw std::runtime_error(measured.error().words);
        // The runtime's complaints about the sizes measuring tried explain no later failure.
        keptLibraryLines().take();
    }

    // Whether the picture's rows can come upright one at a time at all, so
    // that measuring on its top rows is worth it.
    bool mayStream(const ImageReader& reader) const {
        return !o.noStream && !o.eightBit && UprightRows::obstacle(reader).empty();
    }

    // The run as planned, held whole, passes the budget. The 8-bit path,
    // which cannot stream, heeds only a budget given.
    bool wantsStream(const VelmoraPlan& plan, const CommandShare& share, const MemoryBudget& budget) const {
        if (o.noStream || (o.eightBit && !budget.given)) return false;
        return estimateMemory(share, libraryBytes(plan, o.eightBit)).peak > budget.bytes;
    }

    // Whether the scale of a model of open sizes, not known until it runs,
    // could take the run held whole past `limit`: as if it enlarged eight
    // times, as far as upscalers go.
    bool scaleMayMatter(const VelmoraPlan& plan, const CommandShare& share, uint64_t limit) const {
        if (plan.scale > 0) return false;
        const int channels = plan.resultChannels > 0 ? plan.resultChannels : 4;
        const uint64_t enlarged =
            libraryBytes(plan, o.eightBit) + resultBytes(plan.width, plan.height, 8, channels, o.eightBit);
        return estimateMemory(share, enlarged).peak > limit;
    }

    // The plan with the model's scale, which a model of open sizes tells
    // only by running: one tile of it, so that bands are cut for the
    // result's real size. The tiles stay those of `plan`.
    VelmoraPlan scaleKnown(const VelmoraPlan& plan, const VelmoraPlanRequest& request) {
        if (plan.scale > 0) return plan;
        VelmoraPlanRequest one = request;
        one.width = one.height = plan.tileSize;
        one.tileSize = plan.tileSize;
        one.step = plan.step;
        one.downscale = 1;
        const VelmoraPlan tilePlan = planFor(one, nullptr);
        std::vector<float> zeros(static_cast<size_t>(plan.tileSize) * static_cast<size_t>(plan.tileSize) *
                                 static_cast<size_t>(plan.channels));
        const velmora::Result<velmora::FloatResult> ran =
            model->context.runPlan({plan.tileSize, plan.tileSize, plan.channels, zeros.data()}, tilePlan, {});
        if (!ran) throw std::runtime_error(ran.error().words);
        VelmoraPlan known = planFor(request, nullptr);
        if (known.tileSize != plan.tileSize || known.step != plan.step || known.blend != plan.blend) return plan;
        return known;
    }

    // The plan run a band of rows at a time: the picture read as the bands
    // need it, the result written as they finish it.
    std::string streamPicture(const Job& job, FileFormat format, ImageReader& reader, const ChannelFit& channels,
                              const VelmoraPlan& plan, const CommandShare& share, const MemoryBudget& budget,
                              const AvailableMemory& available, std::chrono::steady_clock::time_point started) {
        if (!o.force)
            if (const std::string problem = tileCountProblem(plan.runs, plan.tileSize, plan.step); !problem.empty())
                throw std::runtime_error(problem);
        const ImageHeader& head = reader.header();
        UprightRows upright(reader, channels, inputValues, o.cutout);
        const StreamShare streamShare{share.modelChannels, share.alphaAside, share.keptColourChannels,
                                      upright.readerBytes()};
        const BandChoice bands = chooseBands(model->context, plan, streamShare, budget.bytes);
        if (!o.force && bands.estimate.peak > available.bytes)
            throw std::runtime_error("needs about " + sizeText(bands.estimate.peak) +
                                     " of memory even a band of tiles at a time; " + available.where + " " +
                                     sizeText(available.bytes) + " available (--force runs it anyway)");
        if (o.showPlan || o.verbose) {
            finishProgress(progress);
            if (list.batch) say(job.input.string() + ":");
            for (const std::string& line : planLines(plan, bands.estimate)) say(line);
            say("  streamed in " + std::to_string(bands.bands) + " bands of " + std::to_string(bands.tileRows) +
                " tile " + (bands.tileRows == 1 ? "row" : "rows") + ": held whole it would take about " +
                sizeText(estimateMemory(share, libraryBytes(plan, false)).peak) + ", past " +
                budgetWords(budget, available));
        }
        progress.totalTiles = static_cast<long>(plan.runs);
        progress.unit = "tiles";
        progress.calls = 0;
        BandStream stream(model->context, plan, bands.tileRows, upright, progress);
        stream.start();
        checkValueMaps(0, stream.result().channels());
        const Written written =
            o.cutout ? writeCutout(job.output, format, head, stream.picture(), stream.result(), outputValues, o)
                     : writeResult(job.output, format, head, stream.picture(), stream.result(), outputValues, o,
                                   givesMask(model->profile.profile));
        finishProgress(progress);
        return closingLine(job, written, started);
    }

    static ImageFloat floatsOf(ModelInputImage& input) {
        return {input.width, input.height, input.channels, input.pixels.data()};
    }

    // The request for the upright picture: the options' tile, step and
    // downscale where given, the library's choice where not. The 8-bit path
    // runs tiles; the library picks their side only by choosing the
    // strategy too, so a tiled plan is asked for where a side is known.
    VelmoraPlanRequest planRequest(int64_t width, int64_t height, int32_t channels) const {
        constexpr int64_t kMaxSide = std::numeric_limits<int32_t>::max();
        if (width > kMaxSide || height > kMaxSide)
            throw std::runtime_error("the picture is wider or taller than the library takes");
        VelmoraPlanRequest request{};
        request.width = static_cast<int32_t>(width);
        request.height = static_cast<int32_t>(height);
        request.channels = channels;
        request.tileSize = o.tile;
        request.step = o.step;
        request.downscale = libraryDownscale(o);
        if (o.blend) request.blend = VELMORA_BLEND_ON;
        if (o.eightBit && (o.tile || model->info.tileSize)) request.strategy = VELMORA_STRATEGY_TILES;
        return request;
    }

    VelmoraPlan planFor(VelmoraPlanRequest request, const ImageFloat* sample) {
        request.sample = sample;
        velmora::Result<VelmoraPlan> plan = model->context.plan(request);
        if (!plan) throw std::runtime_error(plan.error().words);
        if (o.eightBit && plan->strategy == VELMORA_STRATEGY_WHOLE)
            throw std::runtime_error(
                "the model reads the picture as a whole, which the 8-bit path, tile by tile, cannot do; "
                "leave out --8bit, or give --tile to run it in tiles all the same");
        return *plan;
    }

    // The guard rails: the plan's run count and its memory with the command's.
    void checkPlan(const VelmoraPlan& plan, const CommandShare& share) const {
        if (plan.strategy == VELMORA_STRATEGY_TILES && !o.force)
            if (const std::string problem = tileCountProblem(plan.runs, plan.tileSize, plan.step); !problem.empty())
                throw std::runtime_error(problem);
        checkMemory(share, libraryBytes(plan, o.eightBit), libraryBytes(plan, true));
    }

    // `library` is the library's share as planned, `libraryAsBytes` the same
    // on the 8-bit path, which the refusal suggests when that would fit.
    void checkMemory(const CommandShare& share, uint64_t library, uint64_t libraryAsBytes) const {
        if (o.force) return;
        std::optional<MemoryEstimate> bytes;
        if (!o.eightBit && share.modelChannels <= 4) {
            CommandShare asBytes = share;
            asBytes.eightBit = true;
            bytes = estimateMemory(asBytes, libraryAsBytes);
        }
        const AvailableMemory available = availableMemory();
        const std::string problem =
            memoryProblem(estimateMemory(share, library), bytes, available.bytes, available.where);
        if (!problem.empty()) throw std::runtime_error(problem);
    }

    // The counts of --mean and --std, and of the inverse normalisation,
    // against the model's input and output channels where they are known
    // (0: not yet).
    void checkValueMaps(int32_t inputChannels, int32_t outputChannels) const {
        const std::string given = !o.mean.empty() && !o.deviation.empty() ? "--mean and --std give"
                                  : !o.mean.empty()                       ? "--mean gives"
                                                                          : "--std gives";
        std::string problem = mapProblem(givenValues, inputChannels, given, false);
        if (problem.empty() && o.denormalize) problem = mapProblem(outputValues, outputChannels, given, true);
        if (!problem.empty()) throw std::runtime_error(problem);
    }

    const Options& o;
    const JobList& list;
    ProgressState progress;
    std::optional<LoadedModel> model;
    velmora::ByteConversion conversion;
    ChannelMap inputValues, outputValues, givenValues;
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
