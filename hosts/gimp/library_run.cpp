// The only C++ unit of the plug-in: the library is C++ inside and some of
// its failures leave it as exceptions, which only C++ can stop.
#include "library_run.h"

#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "velmora.h"

namespace {

constexpr int32_t kErrorTextLength = 1 << 16;
constexpr size_t kModelTextLength = 2048;  // what getModelInformation may write
constexpr const char* kHostName = "velmora GIMP plug-in";

class Context {
public:
    Context() : handle(createContext(0, kHostName)) {}
    ~Context() {
        if (!handle) return;
        deallocateImage(handle);
        deallocateModel(handle);
        deleteContext(handle);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    VelmoraContext get() const { return handle; }

    // The pending failure text on one line, fetched and thereby cleared.
    std::string takeErrorText() const {
        std::vector<char> buffer(kErrorTextLength, '\0');
        getErrorText(handle, buffer.data(), kErrorTextLength);
        buffer.back() = '\0';
        std::string line;
        for (const char* c = buffer.data(); *c; ++c) {
            const char ch = (*c == '\n' || *c == '\r' || *c == '\t') ? ' ' : *c;
            if (ch == ' ' && (line.empty() || line.back() == ' ')) continue;
            line += ch;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        return line;
    }

private:
    VelmoraContext handle;
};

struct ProgressRelay {
    VgProgressFn progress;
    void* userData;
    bool stopped;
};

bool relayProgress(void* userData, float percent) {
    auto* relay = static_cast<ProgressRelay*>(userData);
    if (relay->progress && relay->progress(relay->userData, percent / 100.0)) relay->stopped = true;
    return relay->stopped;
}

// The library's words on a failure, after what failed; false.
bool failed(VgFailure* failure, const char* what, const std::string& text) {
    return vgFail(failure, "%s: %s", what, text.empty() ? "the library gave no reason" : text.c_str());
}

// Reports what escaped the library as an exception; false.
template <typename Step>
bool guarded(VgFailure* failure, Step step) {
    try {
        return step();
    } catch (const std::exception& e) {
        vgFail(failure, "the library failed: %s", e.what());
    } catch (...) {
        vgFail(failure, "the library failed with an unexpected exception");
    }
    return false;
}

}  // namespace

struct VgLoadedModel {
    Context context;
    std::string details;
};

extern "C" VgLoadedModel* vgLoadModel(const void* modelBytes, size_t modelSize, VgFailure* failure) {
    if (modelSize > UINT32_MAX) {
        vgFail(failure, "a model must be smaller than 4 GiB");
        return nullptr;
    }
    std::unique_ptr<VgLoadedModel> model;
    const bool loaded = guarded(failure, [&] {
        model = std::make_unique<VgLoadedModel>();
        const VelmoraContext context = model->context.get();
        if (!context) return vgFail(failure, "the library could not create a context");
        char build[1024] = {0};
        initializeVelmora(context, kHostName, nullptr, build);
        model->context.takeErrorText();
        // The library reads each end's layout from its shape; the codes say
        // channels-last only where a shape cannot tell, as in [?, ?, ?, ?].
        if (!loadModelEx(context, modelBytes, static_cast<uint32_t>(modelSize), "", "", 1, 1))
            return failed(failure, "the runtime refused the model", model->context.takeErrorText());
        model->context.takeErrorText();  // what loading printed is not a failure of the run
        std::vector<char> text(kModelTextLength, '\0');
        getModelInformation(context, nullptr, VELMORA_MODEL_DETAILS, text.data());
        text.back() = '\0';
        model->details = text.data();
        return true;
    });
    return loaded ? model.release() : nullptr;
}

extern "C" void vgUnloadModel(VgLoadedModel* model) { delete model; }

extern "C" const char* vgModelDetails(const VgLoadedModel* model) { return model->details.c_str(); }

extern "C" VgRunOutcome vgRunModel(VgLoadedModel* model, const VgTiling* tiling, const VgPixels* input,
                                   VgProgressFn progress, void* userData, VgPixels* result, VgFailure* failure) {
    std::memset(result, 0, sizeof *result);
    VgRunOutcome outcome = VG_RUN_FAILED;
    guarded(failure, [&] {
        const VelmoraContext context = model->context.get();
        ProgressRelay relay{progress, userData, false};
        const ImageFloat image{input->width, input->height, input->channels, input->data};
        const ImageFloat out = predictByTilesImageFloat(context, image, tiling->tile, tiling->step, tiling->downscale,
                                                        relayProgress, &relay);
        if (relay.stopped) {
            outcome = VG_RUN_STOPPED;
            return vgFail(failure, "the run was stopped");
        }
        if (!out.data || out.width <= 0 || out.height <= 0 || out.numChannels <= 0)
            return failed(failure, "the model run failed", model->context.takeErrorText());
        if (!vgAllocPixels(result, out.width, out.height, out.numChannels, failure)) return false;
        std::memcpy(result->data, out.data,
                    vgPixelCount(result) * static_cast<size_t>(out.numChannels) * sizeof(float));
        deallocateImage(context);
        outcome = VG_RUN_DONE;
        return true;
    });
    if (outcome != VG_RUN_DONE) vgFreePixels(result);
    return outcome;
}
