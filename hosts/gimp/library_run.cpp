// The only C++ unit of the plug-in: the library is C++ inside and some of
// its failures leave it as exceptions, which only C++ can stop.
#include "library_run.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "velmora.hpp"

namespace {

constexpr const char* kHostName = "velmora GIMP plug-in";

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

bool failed(VgFailure* failure, const velmora::Error& error) { return vgFail(failure, "%s", error.words.c_str()); }

}  // namespace

extern "C" void vgShowLibraryWarnings(void) {
    try {
        velmora::setMessageSink(
            [](int32_t severity, int32_t, const char* text) {
                if (severity >= VELMORA_SEVERITY_WARNING) std::fprintf(stderr, "velmora-gimp: %s\n", text);
            },
            VELMORA_SEVERITY_WARNING);
    } catch (...) {
        // Without memory for the sink the library prints as it always has.
    }
}

struct VgLoadedModel {
    velmora::Context context;
};

extern "C" VgLoadedModel* vgLoadModel(const void* modelBytes, size_t modelSize, VgFailure* failure) {
    if (modelSize > UINT32_MAX) {
        vgFail(failure, "a model must be smaller than 4 GiB");
        return nullptr;
    }
    std::unique_ptr<VgLoadedModel> model;
    const bool loaded = guarded(failure, [&] {
        velmora::Result<velmora::Context> created = velmora::Context::create(kHostName);
        if (!created) return failed(failure, created.error());
        model.reset(new VgLoadedModel{std::move(*created)});
        model->context.initialize(kHostName);
        const char* bytes = static_cast<const char*>(modelBytes);
        // The library reads each end's layout from its shape; the codes say
        // channels-last only where a shape cannot tell, as in [?, ?, ?, ?].
        const velmora::Status done = model->context.load(std::vector<char>(bytes, bytes + modelSize));
        return done ? true : failed(failure, done.error());
    });
    return loaded ? model.release() : nullptr;
}

extern "C" void vgUnloadModel(VgLoadedModel* model) { delete model; }

extern "C" bool vgFitLoadedModel(VgLoadedModel* model, int32_t askedTile, VgModelFit* fit, VgFailure* failure) {
    return guarded(failure, [&] {
        const velmora::Result<VelmoraModelInfo> info = model->context.describe();
        if (!info) return failed(failure, info.error());
        if (!vgFitModel(&*info, askedTile, fit, failure)) return false;
        if (fit->tile != 0) return true;
        // The library's choices do not depend on the picture's sizes.
        VelmoraPlanRequest request{};
        request.width = request.height = 1;
        request.channels = fit->inputChannels ? fit->inputChannels : 3;
        const velmora::Result<VelmoraPlan> plan = model->context.plan(request);
        if (!plan) return failed(failure, plan.error());
        fit->tile = plan->tileSize;
        return true;
    });
}

extern "C" VgRunOutcome vgRunModel(VgLoadedModel* model, const VgTiling* tiling, const VgPixels* input,
                                   VgProgressFn progress, void* userData, VgPixels* result, VgFailure* failure) {
    std::memset(result, 0, sizeof *result);
    VgRunOutcome outcome = VG_RUN_FAILED;
    guarded(failure, [&] {
        const ImageFloat image{input->width, input->height, input->channels, input->data};
        const velmora::Progress told = [&](float percent) { return progress && progress(userData, percent / 100.0); };
        const velmora::Result<velmora::FloatResult> run =
            model->context.runFloat(image, {tiling->tile, tiling->step, tiling->downscale}, told);
        if (run.error().stopped) {
            outcome = VG_RUN_STOPPED;
            return vgFail(failure, "the run was stopped");
        }
        if (!run) return failed(failure, run.error());
        const ImageFloat& out = run->image();
        if (!vgAllocPixels(result, out.width, out.height, out.numChannels, failure)) return false;
        std::memcpy(result->data, out.data,
                    vgPixelCount(result) * static_cast<size_t>(out.numChannels) * sizeof(float));
        outcome = VG_RUN_DONE;
        return true;
    });
    if (outcome != VG_RUN_DONE) vgFreePixels(result);
    return outcome;
}
