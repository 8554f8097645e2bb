// The context behind each handle a host holds: its backend, its result
// images, its settings and the errors not yet fetched.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "backend/ModelLogic.h"
#include "context/call_guard.h"
#include "context/model_profile.h"
#include "context/run_plan.h"
#include "image/image_records.h"
#include "image/parallel_for.h"
#include "tiling/bands.h"
#include "tiling/model_probe.h"
#include "tiling/plan_choice.h"
#include "tiling/tile_engine.h"
#include "tiling/value_transform.h"

// Raised when a second tiled float prediction enters while one runs.
class VelmoraException : public std::exception {
public:
    const char* what() const noexcept override { return "Velmora exception: No multithreading allowed!!!"; }
};

// The ONNX Runtime backend; the only kind the exports create.
inline constexpr int32_t kBackendOnnx = 4;

// The engine's name for hosts, also stored as the "Device" setting.
inline constexpr const char* kEngineName = "Velmora ONNX";

// How a tiled float run differs from predictByTilesImageFloat's.
struct TiledRunOptions {
    const char* who = "predictByTilesImageFloat";  // names the call in its refusals
    bool bookkeeping = true;                       // the run count in the settings, the log's lines
    ValueTransform input, output;                  // the profile's, on the way in and out
    bool blend = false;                            // overlaps blended instead of cut
};

class VelmoraClass {
public:
    // Kind 4 makes the ONNX Runtime backend; any other kind leaves the context
    // without one. The caller's name is not kept.
    VelmoraClass(int32_t unused, const char* callerName, int32_t backendKind);
    // A context on the given backend (null: none) whose float pipeline pastes
    // on threads from `pasteThreads`, for hosts of the internal units such as
    // tests and benchmarks.
    explicit VelmoraClass(std::unique_ptr<ModelLogic> backend, ThreadSource pasteThreads = {});
    VelmoraClass(const VelmoraClass&) = delete;
    VelmoraClass& operator=(const VelmoraClass&) = delete;

    // Ends a context made with new. One inside a call of the host's (deleted
    // by the host's progress callback) is only marked: that call stops as if
    // asked to and the context is destroyed as the call returns.
    static void destroy(VelmoraClass* context);

    // Held across each call that runs the host's progress callback, so that
    // the callback may delete the context; the last one to end destroys a
    // context deleted meanwhile. Whatever the call returns must not point
    // into the context by then.
    class HostCall {
    public:
        // `holds` false: holds nothing (a call that never calls the host back).
        explicit HostCall(VelmoraClass& context, bool holds = true) : context_(holds ? &context : nullptr) {
            if (context_) ++context_->hostCalls;
        }
        ~HostCall() {
            if (context_ && context_->hostCalls.fetch_sub(1) == 1 && context_->deleted) delete context_;
        }
        HostCall(const HostCall&) = delete;
        HostCall& operator=(const HostCall&) = delete;

    private:
        VelmoraClass* context_;
    };

    // The text for getErrorText's `length`; false when nothing is to be written.
    bool getErrorText(int32_t length, std::string& text);

    bool loadModel(const void* modelData, uint32_t modelSize, const char* inputName, const char* outputName);
    bool loadModelEx(const void* modelData, uint32_t modelSize, const char* inputName, const char* outputName,
                     int32_t inputLayout, int32_t outputLayout);
    void deallocateModel();
    void deallocateImage();

    uint8_t* predict(const float* data, int32_t width, int32_t height, int32_t numChannels, bool argmax);
    float* predictFloat(const float* data, int32_t width, int32_t height, int32_t numChannels);
    float* predict2InputsFloat(const float* data1, const float* data2, int32_t width, int32_t height,
                               int32_t numChannels);
    float* predict3InputsFloat(ImageFloat input1, ImageFloat input2, ImageFloat input3);

    // The tiled pipelines. The float one admits one caller per process and
    // raises VelmoraException for a second.
    ImageFloat predictByTilesImageFloat(ImageFloat original_image, int32_t tileSize, int32_t step, int32_t downscale,
                                        ProgressCallback callback, void* userData);
    float* predictByTilesFloat(float* data, int32_t width, int32_t height, int32_t numChannels, int32_t tileSize,
                               int32_t step, int32_t downscale, ProgressCallback callback, void* userData);
    uint8_t* predictByTiles(const uint8_t* data, int32_t width, int32_t height, int32_t numChannels, int32_t tileSize,
                            int32_t step, bool argmax, float inputScale, float outputScale, int32_t downscale,
                            ProgressCallback callback, void* userData);

    // Settings and information. The host's name is not kept.
    void initializeVelmora(const char* hostName, char* buffer);
    static float getVelmoraVersion();
    void getNNEngineInformation(const char* hostName, char* buffer);
    // The model information text; with `details`, also the model's inputs
    // and outputs and the sizes of the last tiled result.
    std::string modelInformation(bool details = false);

    ModelLogic* backend() { return modelLogic.get(); }
    // Who is inside this context's calls (the exports admit each call).
    ContextCalls& calls() { return contextCalls; }

    // The loaded model as it declares itself (not `known` without one), what
    // the tiled runs make of it, and the plan for a picture. A failure's
    // words are also kept for getErrorText, after `who`.
    ModelDescription modelDescription();
    TiledFacts modelTiledFacts();
    // What the model needs of tiles, measured once per load (on `sample`,
    // else the stock picture) and kept; `again` measures anew.
    Expected<ModelNeeds> modelNeeds(const ImageFloat* sample, int32_t channels, bool again, const char* who);
    const std::optional<ModelNeeds>& measuredNeeds() const { return needs; }
    Expected<ChosenPlan> plan(const PlanWishes& wishes, const ImageFloat* sample, const char* who);
    // velmoraBand and velmoraPredictBand: a plan of tiles run a band of
    // rows at a time.
    Expected<BandLayout> band(const ChosenPlan& plan, int32_t tileRows, int32_t index, const char* who);
    ImageFloat predictBand(const ImageFloat& rows, const ChosenPlan& plan, int32_t tileRows, int32_t index,
                           ProgressCallback callback, void* userData);
    // velmoraPredict: the picture run by a plan made for its sizes.
    ImageFloat predictByPlan(const ImageFloat& image, const ChosenPlan& plan, ProgressCallback callback,
                             void* userData);
    // Keeps a failure's words for getErrorText: "who: why" and a line feed.
    void report(const char* who, const std::string& why) { errorText += std::string(who) + ": " + why + "\n"; }

    // What the last tiled call's tiles cost, for tests and benchmarks.
    const TileRunStats& tileStats() const { return lastTileStats; }
    // What tiled runs have shown of the loaded model where its shapes leave
    // it open: the scale of its results and their channels (0: not known).
    struct LearnedResult {
        int32_t scale = 0, channels = 0;
    };
    const LearnedResult& learned() const { return learnedResult; }

    // The model's profile (context_profile.cpp). In effect: the host's, else
    // the sidecar's, else the one in the model's metadata, else none. Each
    // load clears the host's and the sidecar's and reads the metadata's;
    // metadata that is not a profile is ignored, with a line on the console,
    // and the model loads all the same.
    const ModelProfile& profile() const;
    // Null puts back the model's own.
    Status setHostProfile(const ModelProfile* profile);
    Status loadSidecarProfile(const std::string& text);

private:
    // Called with each load's result, which it returns.
    bool profilesAfterLoad(bool loaded);
    struct Profiles {
        ModelProfile metadata, sidecar, host;  // source None: not given
    } profiles;

    // The host's progress callback as the pipelines pass it on: a deletion of
    // the context from inside it stops the run as an answer of true does.
    struct Progress {
        ProgressCallback callback;
        void* userData;
        const VelmoraClass& context;
        static bool heard(void* self, float percent);
        // The callback for the tile walk: null when the host gave none.
        ProgressCallback forWalk() const { return callback ? &Progress::heard : nullptr; }
    };

    void log(const std::string& message) const;
    // The profile's transforms of values into the model and of an image
    // result out of it, for `channels` channels.
    ValueTransform profileInput(int32_t channels) const;
    ValueTransform profileOutput(int32_t channels) const;
    // The model or the values it sees changed: what was measured of it and
    // the rows kept for a next band no longer hold.
    void forgetRuns() {
        needs.reset();
        bandCarry.reset();
    }
    // Keeps the stitched rows band `index` shares with the next; false when
    // there is no memory for them.
    bool keepForNextBand(const ImageFloat& stitched, const ChosenPlan& plan, int32_t tileRows, int32_t index,
                         int32_t scale, const BandLayout& band);
    ImageFloat runWhole(const ImageFloat& image, const ChosenPlan& plan, ProgressCallback callback, void* userData);
    ImageFloat runTiles(const ImageFloat& original_image, int32_t tileSize, int32_t step, int32_t downscale,
                        ProgressCallback callback, void* userData, const TiledRunOptions& options = {});

    // Sizes of the last tiled call's result (either pipeline), all 0 when
    // it gave none.
    struct TiledResultSizes {
        int32_t width = 0, height = 0, numChannels = 0, scale = 0;
    };

    void learnResult(int32_t scale, int32_t channels) {
        if (scale > 0) learnedResult.scale = scale;
        if (channels > 0) learnedResult.channels = channels;
    }

    std::string errorText;
    std::unique_ptr<ModelLogic> modelLogic;
    TiledResultSizes lastTiledResult;
    TileRunStats lastTileStats;
    LearnedResult learnedResult;
    std::optional<ModelNeeds> needs;  // of the loaded model, once measured
    bool planRunning = false;         // inside predictByPlan
    uint64_t resultReleases = 0;      // deallocateImage calls, which a running call checks for
    ContextCalls contextCalls;
    int32_t tiledRunCount = 0;
    bool loggingEnabled = false;
    ImageBuffer<ImageByte> outputCharFull;
    ImageBuffer<ImageFloat> outputFloatFull;
    // What the last band run kept for the one after it: stitched rows that
    // the next band's tiles add to or its enlargement reads.
    struct BandCarry {
        ChosenPlan plan;
        int32_t tileRows = 0, nextIndex = 0;
        int32_t scale = 1;
        int64_t firstRow = 0;  // the stitched picture row `rows` starts at
        ImageBuffer<ImageFloat> rows;
    };
    std::optional<BandCarry> bandCarry;
    ThreadSource pasteThreads;
    // Atomic: a second thread's call counts itself in before it is refused.
    std::atomic<int32_t> hostCalls{0};  // calls of the host's running on this context
    std::atomic<bool> deleted{false};   // by the host, inside one of them
};
