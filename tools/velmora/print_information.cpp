#include <cstdarg>
#include <cstdio>
#include <vector>

#include "command.h"
#include "loaded_model.h"

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

// The result's scale and channels as a tile of zeros gives them, for a model
// whose shapes leave them open; the run's failure in words otherwise.
std::string trialTile(LoadedModel& model, int32_t tile, int& scale, int& channels) {
    const int32_t inputChannels = model.info.inputChannels ? model.info.inputChannels : 3;
    std::vector<float> zeros(static_cast<size_t>(tile) * tile * inputChannels, 0.0f);
    const ImageFloat image{tile, tile, inputChannels, zeros.data()};
    const velmora::Result<velmora::FloatResult> result = model.context.runFloat(image, {tile, tile, 1});
    if (!result) return result.error().words;
    scale = result->image().width / tile;
    channels = result->image().numChannels;
    return {};
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

// How the tiled runs take the model: tile, layouts, channels, step and scale.
void appendTiles(std::string& text, LoadedModel& model, const Options& o) {
    const VelmoraModelInfo& m = model.info;
    const TileChoice tiles = chooseTiles(model, o);
    int scale = m.scale, outputChannels = m.outputChannels;
    std::string scaleSource = "from the shapes";
    if (scale == 0 || outputChannels == 0) {
        const std::string failed = trialTile(model, tiles.tile, scale, outputChannels);
        scaleSource = failed.empty()
                          ? "from a trial tile of " + std::to_string(tiles.tile) + " x " + std::to_string(tiles.tile)
                          : "";
        if (!failed.empty()) appendf(text, "  a trial tile failed: %s\n", failed.c_str());
    }
    appendf(text, "  tiles: %d x %d%s, %s input with %s, %s output with %s, default step %d\n", tiles.tile, tiles.tile,
            m.tileSize == 0 ? " (open size: --tile chooses)" : "", layoutName(m.inputs[0].layout),
            channelsText(m.inputChannels).c_str(), layoutName(m.outputs[0].layout),
            channelsText(outputChannels).c_str(), tiles.defaultStep);
    if (scale > 0)
        appendf(text, "  scale: %d (%s)%s\n", scale, scaleSource.c_str(),
                scale > 1 ? "; the result is that many times larger than the picture" : "");
    else
        appendf(text, "  scale: open (known after a run)\n");
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
    appendf(text, "Build: %s\n", build.c_str());
    if (o.model.empty()) return text;

    LoadedModel model = loadModel(o.model, o);
    const VelmoraModelInfo& m = model.info;
    appendf(text, "Model: %s (%llu bytes)\n", o.model.c_str(), static_cast<unsigned long long>(model.fileBytes));
    appendTensors(text, "Input", m.inputs, m.inputCount);
    appendTensors(text, "Output", m.outputs, m.outputCount);
    std::string unfit = modelRefusal(m, o);
    if (unfit.empty()) {
        try {
            appendTiles(text, model, o);
        } catch (const std::runtime_error& e) {
            unfit = e.what();
        }
    }
    if (!unfit.empty()) appendf(text, "  cannot run in tiles: %s\n", unfit.c_str());
    // The first line of the library's own text: version and memory.
    std::vector<char> buffer(4096, '\0');
    getModelInformation(model.context.handle(), nullptr, 0, buffer.data());
    buffer.back() = '\0';
    const std::string summary = buffer.data();
    appendf(text, "  library: %s\n", summary.substr(0, summary.find('\n')).c_str());
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
