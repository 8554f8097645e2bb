#include "loaded_model.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

std::vector<char> readModelFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) throw std::runtime_error(path.string() + ": no such model file");
    if (std::filesystem::is_directory(path, ec)) throw std::runtime_error(path.string() + ": is a folder, not a model");
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error(path.string() + ": cannot be opened for reading");
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<uint64_t>(size) > std::numeric_limits<uint32_t>::max())
        throw std::runtime_error(path.string() + ": a model must be smaller than 4 GiB");
    std::vector<char> bytes(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(bytes.data(), size)) throw std::runtime_error(path.string() + ": cannot be read");
    return bytes;
}

int32_t layoutCode(Layout layout) {
    return layout == Layout::ChannelsFirst ? VELMORA_CHANNELS_FIRST : VELMORA_CHANNELS_LAST;
}

// The described tensors of one side (the library describes the first few).
const VelmoraTensorInfo* find(const VelmoraTensorInfo* list, int32_t count, const std::string& name) {
    for (int32_t i = 0; i < std::min(count, VELMORA_MAX_TENSORS); ++i)
        if (name == list[i].name) return &list[i];
    return nullptr;
}

std::string unknownName(const VelmoraTensorInfo* list, int32_t count, const std::string& name, const char* kind) {
    if (name.empty() || find(list, count, name)) return {};
    std::string names;
    for (int32_t i = 0; i < std::min(count, VELMORA_MAX_TENSORS); ++i)
        names += (names.empty() ? "\"" : ", \"") + std::string(list[i].name) + "\"";
    return std::string("the model has no ") + kind + " named \"" + name + "\" (it has " + names + ")";
}

std::string unconverted(const VelmoraTensorInfo& t, const char* kind) {
    if (t.converted) return {};
    return std::string("the model's ") + kind + " \"" + t.name + "\" holds " + elementTypeName(t.elementType) +
           " elements; the library takes float, float16, bfloat16 and double";
}

// A layout given by hand where the shape reads the other way.
std::string contradicted(const VelmoraTensorInfo& t, Layout given, const char* kind) {
    if (given == Layout::Auto || t.layout == VELMORA_LAYOUT_NONE || t.layout == layoutCode(given)) return {};
    return std::string("the model's ") + kind + " \"" + t.name + "\" (" + dimsText(t) + ") reads " +
           layoutName(t.layout) + "; --" + kind + "-layout " + (given == Layout::ChannelsLast ? "nhwc" : "nchw") +
           " contradicts its shape";
}

}  // namespace

LoadedModel loadModel(const std::filesystem::path& path, const Options& o) {
    std::vector<char> bytes = readModelFile(path);
    const uint64_t size = bytes.size();
    velmora::Result<velmora::Context> created = velmora::Context::create("velmora command");
    if (!created) throw std::runtime_error(created.error().words);
    LoadedModel model{std::move(*created), {}, size, {}};
    model.context.initialize("velmora command");
    // The library reads each layout from the shape; the codes decide only
    // where a shape cannot tell.
    const velmora::Status loaded = model.context.load(std::move(bytes), o.inputName, o.outputName,
                                                      layoutCode(o.inputLayout), layoutCode(o.outputLayout));
    if (!loaded) throw std::runtime_error(path.string() + ": " + loaded.error().words);
    model.profile = setUpProfile(model.context, path, o);
    velmora::Result<VelmoraModelInfo> info = model.context.describe();
    if (!info) throw std::runtime_error(path.string() + ": " + info.error().words);
    model.info = *info;
    return model;
}

bool LoadedModel::measured() {
    const velmora::Result<VelmoraModelInfo> now = context.describe();
    return now && now->needs.measured;
}

std::string modelRefusal(const VelmoraModelInfo& m, const Options& o) {
    if (m.inputCount != 1)
        return "the model takes " + std::to_string(m.inputCount) + " inputs; tiled runs feed exactly one";
    std::string why = unknownName(m.inputs, m.inputCount, o.inputName, "input");
    if (why.empty()) why = unknownName(m.outputs, m.outputCount, o.outputName, "output");
    if (!why.empty()) return why;
    if (m.outputCount < 1) return "the model has no output";
    why = unconverted(m.inputs[0], "input");
    if (why.empty()) why = unconverted(m.outputs[0], "output");
    if (why.empty()) why = contradicted(m.inputs[0], o.inputLayout, "input");
    if (why.empty()) why = contradicted(m.outputs[0], o.outputLayout, "output");
    if (!why.empty()) return why;
    if (m.tileSize != 0 && o.tile != 0 && o.tile != m.tileSize)
        return "the model takes " + std::to_string(m.tileSize) + " x " + std::to_string(m.tileSize) + " tiles (" +
               dimsText(m.inputs[0]) + ", " + layoutName(m.inputs[0].layout) + "); --tile " + std::to_string(o.tile) +
               " does not fit";
    if (!m.tiled) return m.notTiled;
    return {};
}

std::string elementTypeName(int32_t code) {
    static constexpr std::array<const char*, 23> names{
        "undefined",      "float",      "uint8",          "int8",       "uint16",   "int16",
        "int32",          "int64",      "string",         "bool",       "float16",  "double",
        "uint32",         "uint64",     "complex64",      "complex128", "bfloat16", "float8e4m3fn",
        "float8e4m3fnuz", "float8e5m2", "float8e5m2fnuz", "uint4",      "int4"};
    if (code >= 0 && static_cast<size_t>(code) < names.size()) return names[static_cast<size_t>(code)];
    return "element type " + std::to_string(code);
}

std::string dimsText(const VelmoraTensorInfo& t) {
    std::string text = "[";
    for (int32_t i = 0; i < t.dimCount; ++i) {
        if (i) text += ", ";
        if (i == VELMORA_MAX_DIMS) {
            text += "...";
            break;
        }
        text += t.dims[i] < 0 ? std::string("?") : std::to_string(t.dims[i]);
    }
    return text + "]";
}

const char* layoutName(int32_t libraryCode) {
    return libraryCode == VELMORA_CHANNELS_FIRST ? "channels-first" : "channels-last";
}
