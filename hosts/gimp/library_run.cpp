// The only C++ unit of the plug-in: the library is C++ inside and some of
// its failures leave it as exceptions, which only C++ can stop.
#include "library_run.h"

#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "velmora.h"

namespace {

constexpr int32_t kErrorTextLength = 1 << 16;
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

VgRunOutcome failed(VgFailure* failure, const char* what, const std::string& text) {
    vgFail(failure, "%s: %s", what, text.empty() ? "the library gave no reason" : text.c_str());
    return VG_RUN_FAILED;
}

VgRunOutcome run(const void* modelBytes, size_t modelSize, const VgModelShape* shape, const VgModelFit* fit,
                 const VgTiling* tiling, const VgPixels* input, VgProgressFn progress, void* userData, VgPixels* result,
                 VgFailure* failure) {
    if (modelSize > UINT32_MAX) {
        vgFail(failure, "a model must be smaller than 4 GiB");
        return VG_RUN_FAILED;
    }
    Context context;
    if (!context.get()) {
        vgFail(failure, "the library could not create a context");
        return VG_RUN_FAILED;
    }
    char build[1024] = {0};
    initializeVelmora(context.get(), kHostName, nullptr, build);
    context.takeErrorText();

    const char* inputName = shape ? shape->input.name : "";
    const char* outputName = shape ? shape->output.name : "";
    if (!loadModelEx(context.get(), modelBytes, static_cast<uint32_t>(modelSize), inputName, outputName,
                     fit->inputLayout, fit->outputLayout))
        return failed(failure, "the runtime refused the model", context.takeErrorText());
    context.takeErrorText();  // what loading printed is not a failure of the run

    ProgressRelay relay{progress, userData, false};
    const ImageFloat image{input->width, input->height, input->channels, input->data};
    const ImageFloat out = predictByTilesImageFloat(context.get(), image, tiling->tile, tiling->step, tiling->downscale,
                                                    relayProgress, &relay);
    if (relay.stopped) {
        vgFail(failure, "the run was stopped");
        return VG_RUN_STOPPED;
    }
    if (!out.data || out.width <= 0 || out.height <= 0 || out.numChannels <= 0)
        return failed(failure, "the model run failed", context.takeErrorText());
    if (!vgAllocPixels(result, out.width, out.height, out.numChannels, failure)) return VG_RUN_FAILED;
    std::memcpy(result->data, out.data, vgPixelCount(result) * static_cast<size_t>(out.numChannels) * sizeof(float));
    return VG_RUN_DONE;
}

}  // namespace

extern "C" VgRunOutcome vgRunModel(const void* modelBytes, size_t modelSize, const VgModelShape* shape,
                                   const VgModelFit* fit, const VgTiling* tiling, const VgPixels* input,
                                   VgProgressFn progress, void* userData, VgPixels* result, VgFailure* failure) {
    std::memset(result, 0, sizeof *result);
    try {
        return run(modelBytes, modelSize, shape, fit, tiling, input, progress, userData, result, failure);
    } catch (const std::exception& e) {
        vgFreePixels(result);
        vgFail(failure, "the library failed: %s", e.what());
    } catch (...) {
        vgFreePixels(result);
        vgFail(failure, "the library failed with an unexpected exception");
    }
    return VG_RUN_FAILED;
}
