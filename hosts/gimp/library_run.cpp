// The library is C++ inside and some of its failures leave it as
// exceptions, which only C++ can stop.
#include "library_run.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "loaded_model.hpp"

namespace {
constexpr const char* kHostName = "velmora GIMP plug-in";
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

extern "C" VgLoadedModel* vgLoadModel(const void* modelBytes, size_t modelSize, VgFailure* failure) {
    if (modelSize > UINT32_MAX) {
        vgFail(failure, "a model must be smaller than 4 GiB");
        return nullptr;
    }
    std::unique_ptr<VgLoadedModel> model;
    const bool loaded = vg::guarded(failure, [&] {
        velmora::Result<velmora::Context> created = velmora::Context::create(kHostName);
        if (!created) return vg::failed(failure, created.error());
        model.reset(new VgLoadedModel{std::move(*created), false, {}, {}});
        model->context.initialize(kHostName);
        const char* bytes = static_cast<const char*>(modelBytes);
        // The library reads each end's layout from its shape; the codes say
        // channels-last only where a shape cannot tell, as in [?, ?, ?, ?].
        const velmora::Status done = model->context.load(std::vector<char>(bytes, bytes + modelSize));
        return done ? true : vg::failed(failure, done.error());
    });
    return loaded ? model.release() : nullptr;
}

extern "C" void vgUnloadModel(VgLoadedModel* model) { delete model; }

extern "C" bool vgFitLoadedModel(VgLoadedModel* model, int32_t askedTile, VgModelFit* fit, VgFailure* failure) {
    return vg::guarded(failure, [&] {
        const velmora::Result<VelmoraModelInfo> info = model->context.describe();
        if (!info) return vg::failed(failure, info.error());
        return vgFitModel(&*info, askedTile, fit, failure);
    });
}

extern "C" bool vgPlanModelRun(VgLoadedModel* model, const VelmoraPlanRequest* request, VelmoraPlan* plan,
                               VgFailure* failure) {
    return vg::guarded(failure, [&] {
        const velmora::Result<VelmoraPlan> made = model->context.plan(*request);
        if (!made) return vg::failed(failure, made.error());
        *plan = *made;
        return true;
    });
}

extern "C" VgRunOutcome vgRunPlan(VgLoadedModel* model, const VelmoraPlan* plan, const VgPixels* input,
                                  VgProgressFn progress, void* userData, VgPixels* result, VgFailure* failure) {
    std::memset(result, 0, sizeof *result);
    VgRunOutcome outcome = VG_RUN_FAILED;
    vg::guarded(failure, [&] {
        const ImageFloat image{input->width, input->height, input->channels, input->data};
        const velmora::Progress told = [&](float percent) { return progress && progress(userData, percent / 100.0); };
        const velmora::Result<velmora::FloatResult> run = model->context.runPlan(image, *plan, told);
        if (run.error().stopped) {
            outcome = VG_RUN_STOPPED;
            return vgFail(failure, "the run was stopped");
        }
        if (!run) return vg::failed(failure, run.error());
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
