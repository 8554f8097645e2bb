// Plans and runs by plan: what the model needs is measured once, a plan is
// chosen from it for a picture's sizes, and the picture runs by the plan in
// tiles (stitched hard or blended) or whole, with the profile applied on the
// way in and out.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "context/VelmoraClass.h"
#include "image/utils_image_resample.h"
#include "tiling/rect_run.h"

namespace {

std::string sizes(int64_t w, int64_t h, int64_t c) {
    return std::to_string(w) + " x " + std::to_string(h) + " x " + std::to_string(c);
}

// Holds a flag for the length of a call.
class Running {
public:
    explicit Running(bool& flag) : flag_(flag) { flag_ = true; }
    ~Running() { flag_ = false; }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    bool& flag_;
};

}  // namespace

Expected<ModelNeeds> VelmoraClass::modelNeeds(const ImageFloat* sample, int32_t channels, bool again, const char* who) {
    if (needs && !again) return *needs;
    const ModelDescription model = modelDescription();
    if (!model.known) {
        report(who, "no model is loaded");
        return failure("no model is loaded");
    }
    Expected<ModelNeeds> measured = probeModel(*modelLogic, model, channels, sample, profileInput(channels));
    if (!measured) {
        report(who, "the model could not be measured: it " + measured.message());
        return measured;
    }
    needs = *measured;
    learnResult(needs->scale, needs->outputChannels);
    return *needs;
}

Expected<ChosenPlan> VelmoraClass::plan(const PlanWishes& wishes, const ImageFloat* sample, const char* who) {
    const bool asked = wishes.tileSize > 0 && wishes.step > 0 && wishes.strategy != PlanWishes::Choice::Whole;
    if (asked) {
        Expected<ChosenPlan> made =
            planAsAsked(modelDescription(), wishes, learnedResult.scale, learnedResult.channels);
        if (!made) report(who, made.message());
        return made;
    }
    const Expected<ModelNeeds> found = modelNeeds(sample, wishes.channels, false, who);
    if (!found) return found.error();
    Expected<ChosenPlan> made = choosePlan(*found, wishes);
    if (!made) report(who, made.message());
    return made;
}

ImageFloat VelmoraClass::predictByPlan(const ImageFloat& image, const ChosenPlan& plan, ProgressCallback callback,
                                       void* userData) {
    constexpr const char* who = "velmoraPredict";
    const ImageFloat empty{0, 0, 0, nullptr};
    auto refuse = [&](const std::string& why) {
        report(who, why);
        return empty;
    };
    if (!modelLogic) return empty;
    if (planRunning) return refuse("the context is running another prediction; one call at a time per context");
    const Running running(planRunning);
    if (!image.data) return refuse("the image has no data");
    if (image.width != plan.width || image.height != plan.height || image.numChannels != plan.channels)
        return refuse("the plan is for a " + sizes(plan.width, plan.height, plan.channels) + " picture; this one is " +
                      sizes(image.width, image.height, image.numChannels) + "; make a plan for it");
    if (plan.strategy == Strategy::WholePicture) return runWhole(image, plan, callback, userData);
    TiledRunOptions options;
    options.who = who;
    options.bookkeeping = false;
    options.input = profileInput(image.numChannels);
    options.output = profileOutput(plan.outputChannels);
    options.blend = plan.blend;
    const ImageFloat result = runTiles(image, plan.tileSize, plan.step, plan.downscale, callback, userData, options);
    return deleted ? empty : result;
}

ImageFloat VelmoraClass::runWhole(const ImageFloat& image, const ChosenPlan& plan, ProgressCallback callback,
                                  void* userData) {
    constexpr const char* who = "velmoraPredict";
    const ImageFloat empty{0, 0, 0, nullptr};
    auto fail = [&](const std::string& why) {
        if (!why.empty()) report(who, why);
        outputFloatFull.reset();
        return empty;
    };
    Progress progress{callback, userData, *this};
    const uint64_t releasesAtStart = resultReleases;
    if (callback && Progress::heard(&progress, 0.0f)) return fail("");
    if (plan.runWidth <= 0 || plan.runHeight <= 0) return fail("the plan gives no size to run the picture at");
    ImageBuffer<ImageFloat> resized;
    if (!resized.resize(plan.runWidth, plan.runHeight, image.numChannels)) return fail("not enough memory");
    resample(image, resized.view());
    profileInput(image.numChannels).apply(resized.view().data, pixelCount(resized.view()), image.numChannels);
    RectRunner runner(*modelLogic, modelDescription(), image.numChannels);
    const Expected<ImageFloat> result = runner.run(resized.view());
    if (!result) return fail("the model " + result.message());
    const int64_t scale = result->width / plan.runWidth;
    profileOutput(result->numChannels).apply(result->data, pixelCount(*result), result->numChannels);
    const int64_t w = int64_t{image.width} * scale, h = int64_t{image.height} * scale;
    const Expected<ImageFloat> sizesOk = scaledSizes(image.width, image.height, scale, result->numChannels);
    if (!sizesOk) return fail(sizesOk.message());
    if (!outputFloatFull.resize(static_cast<int32_t>(w), static_cast<int32_t>(h), result->numChannels))
        return fail("not enough memory for the result");
    resample(*result, outputFloatFull.view());
    if (callback) Progress::heard(&progress, 100.0f);
    if (deleted) return fail("");
    if (resultReleases != releasesAtStart) return fail("the result was released (deallocateImage) during the run");
    learnResult(static_cast<int32_t>(scale), result->numChannels);
    return outputFloatFull.view();
}
