#include <cstdarg>
#include <cstdio>
#include <sstream>
#include <vector>

#include "command.h"
#include "loaded_model.h"
#include "plan_text.h"
#include "run_plan.h"

namespace {

std::string buildDate(velmora::Context& library) {
    char buffer[64] = {};
    getErrorText(library.handle(), buffer, -12);  // the build date, as length -12 asks
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

[[gnu::format(printf, 2, 3)]] void appendf(std::string& text, const char* format, ...) {
    char line[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    text += line;
}

// The library's build text without its list of the providers the runtime
// was built with: which of them runs a model is told with the model.
std::string buildText(const std::string& build) {
    std::istringstream lines(build);
    std::string text;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line.rfind("Execution providers:", 0) != 0) text += line + "\n";
    return text;
}

std::string channelsText(int channels) {
    return channels ? std::to_string(channels) + (channels == 1 ? " channel" : " channels") : "open channels";
}

// The library's account of each input and output: element type, shape with
// "?" where open, and the layout it reads an image in.
void appendTensors(std::string& text, const char* kind, const VelmoraTensorInfo* list, int32_t count) {
    for (int32_t i = 0; i < count && i < VELMORA_MAX_TENSORS; ++i) {
        const VelmoraTensorInfo& t = list[i];
        appendf(text, "  %s \"%s\": %s %s%s%s\n", kind, t.name, elementTypeName(t.elementType).c_str(),
                dimsText(t).c_str(), t.layout == VELMORA_LAYOUT_NONE ? "" : ", ",
                t.layout == VELMORA_LAYOUT_NONE ? "" : layoutName(t.layout));
    }
    if (count > VELMORA_MAX_TENSORS) appendf(text, "  and %d more %ss\n", count - VELMORA_MAX_TENSORS, kind);
}

// What measuring the model found: the sides it takes, its reach, whether
// it reads the picture as a whole, its scale.
void appendNeeds(std::string& text, const VelmoraModelNeeds& n) {
    std::string sides = "sides that are multiples of " + std::to_string(n.multiple);
    if (n.smallestSide > n.multiple) sides += ", at least " + std::to_string(n.smallestSide);
    appendf(text, "  measured: %s; reach %d %s%s; scale %d, %s; measuring took %.1f s\n", sides.c_str(), n.reach,
            n.reach == 1 ? "pixel" : "pixels",
            n.wholePicture ? " (it reads the picture as a whole: tiles disagree at any margin)" : "", n.scale,
            channelsText(n.outputChannels).c_str(), n.probeSeconds);
}

// The plan for a picture of --size, with the command's share of memory.
void appendPlan(std::string& text, LoadedModel& model, const Options& o) {
    VelmoraPlanRequest request{};
    request.width = o.sizeWidth;
    request.height = o.sizeHeight;
    request.channels = model.info.inputChannels ? model.info.inputChannels : 3;
    request.tileSize = o.tile;
    request.step = o.step;
    request.downscale = libraryDownscale(o);
    if (o.blend) request.blend = VELMORA_BLEND_ON;
    if (o.eightBit && (o.tile || model.info.tileSize)) request.strategy = VELMORA_STRATEGY_TILES;
    const velmora::Result<VelmoraPlan> plan = model.context.plan(request);
    if (!plan) {
        appendf(text, "  no plan for %d x %d: %s\n", o.sizeWidth, o.sizeHeight, plan.error().words.c_str());
        return;
    }
    CommandShare share;
    share.width = o.sizeWidth;
    share.height = o.sizeHeight;
    share.modelChannels = request.channels;
    share.eightBit = o.eightBit;
    share.keptColourChannels = o.cutout ? 3 : 0;
    for (const std::string& line : planLines(*plan, estimateMemory(share, libraryBytes(*plan, o.eightBit))))
        appendf(text, "  %s\n", line.c_str());
}

// The library's version and build, and the model's description when one is given.
std::string describe(const Options& o) {
    std::string text;
    velmora::Result<velmora::Context> created = velmora::Context::create("velmora command");
    if (!created) throw std::runtime_error(created.error().words);
    velmora::Context& library = *created;
    const std::string build = library.initialize("velmora command");
    std::vector<char> engine(1024, '\0');
    getNNEngineInformation(library.handle(), "velmora command", engine.data());
    engine.back() = '\0';
    appendf(text, "Velmora library %.3f\n", static_cast<double>(getVelmoraVersion(library.handle(), "", "", 0)));
    appendf(text, "Engine: %s\n", engine.data());
    appendf(text, "Built: %s\n", buildDate(library).c_str());
    appendf(text, "Build: %s", buildText(build).c_str());
    if (o.model.empty()) return text;

    LoadedModel model = loadModel(o.model, o);
    const VelmoraModelInfo& m = model.info;
    appendf(text, "Model: %s (%llu bytes)\n", o.model.c_str(), static_cast<unsigned long long>(model.fileBytes));
    appendTensors(text, "Input", m.inputs, m.inputCount);
    appendTensors(text, "Output", m.outputs, m.outputCount);
    appendf(text, "  runs on: %s\n", m.executionProvider[0] ? m.executionProvider : "(the library does not say)");
    if (model.profile.profile.source == VELMORA_PROFILE_NONE)
        appendf(text, "  profile: none (values reach the model as they are; its output is taken as an image)\n");
    else
        appendf(text, "  profile: %s (from %s)\n", profileText(model.profile.profile).c_str(),
                model.profile.origin.c_str());
    if (const std::string unfit = modelRefusal(m, o); !unfit.empty()) {
        appendf(text, "  cannot run in tiles: %s\n", unfit.c_str());
    } else {
        appendf(text, "  tiles: %s, %s input with %s, %s output\n",
                m.tileSize ? (std::to_string(m.tileSize) + " x " + std::to_string(m.tileSize)).c_str() : "of any size",
                layoutName(m.inputs[0].layout), channelsText(m.inputChannels).c_str(), layoutName(m.outputs[0].layout));
        const velmora::Result<VelmoraModelNeeds> needs = model.context.measure(nullptr);
        if (needs)
            appendNeeds(text, *needs);
        else
            appendf(text, "  measuring failed: %s\n", needs.error().words.c_str());
        if (o.sizeWidth) appendPlan(text, model, o);
    }
    if (o.verbose) {
        // The library's own model text, which says little more.
        std::vector<char> buffer(4096, '\0');
        getModelInformation(model.context.handle(), nullptr, 0, buffer.data());
        buffer.back() = '\0';
        const std::string summary = buffer.data();
        appendf(text, "  library: %s\n", summary.substr(0, summary.find('\n')).c_str());
    }
    return text;
}

}  // namespace

// The description goes to standard output once the library is gone; what
// the library and the runtime say meanwhile goes to the message sink.
int printInformation(const Options& o) {
    const std::string text = describe(o);
    std::fputs(text.c_str(), stdout);
    return 0;
}
