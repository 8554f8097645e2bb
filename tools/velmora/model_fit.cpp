#include "model_fit.h"

#include <array>
#include <stdexcept>

namespace {

const TensorDescription& pick(const std::vector<TensorDescription>& list, const std::string& wanted, const char* kind) {
    if (list.empty()) throw std::runtime_error(std::string("the model has no ") + kind);
    if (wanted.empty()) return list.front();
    std::string names;
    for (const auto& t : list) {
        if (t.name == wanted) return t;
        names += (names.empty() ? "" : ", ") + ("\"" + t.name + "\"");
    }
    throw std::runtime_error(std::string("the model has no ") + kind + " named \"" + wanted + "\" (it has " + names +
                             ")");
}

// Where a layout keeps the channels and the two sides of [N, ., ., .].
struct Places {
    int channel, height, width;
};
constexpr Places kFirst{1, 2, 3}, kLast{3, 1, 2};
const Places& places(int code) { return code == 0 ? kFirst : kLast; }

bool sidesSquareOrOpen(const std::vector<int64_t>& dims, const Places& p) {
    const int64_t h = dims[p.height], w = dims[p.width];
    return (h < 0 && w < 0) || (h >= 0 && h == w);
}

int layoutCode(Layout asked, const std::vector<int64_t>& dims) {
    if (asked == Layout::ChannelsLast) return 1;
    if (asked == Layout::ChannelsFirst) return 0;
    if (dims.size() != 4) return 1;
    const bool first = sidesSquareOrOpen(dims, kFirst), last = sidesSquareOrOpen(dims, kLast);
    return first && !last ? 0 : 1;
}

int channelsOf(const std::vector<int64_t>& dims, int layout) {
    if (dims.size() != 4) return 0;
    const int64_t c = dims[places(layout).channel];
    return c > 0 && c <= 1024 ? static_cast<int>(c) : 0;
}

bool converted(int32_t type) { return type == 1 || type == 10 || type == 11 || type == 16; }

void checkElements(const TensorDescription& t, const char* kind) {
    if (!converted(t.elementType))
        throw std::runtime_error(std::string("the model's ") + kind + " \"" + t.name + "\" holds " +
                                 elementTypeName(t.elementType) +
                                 " elements; the library takes float, float16, bfloat16 and double");
}

std::string sidesText(int64_t w, int64_t h) {
    auto side = [](int64_t d) { return d < 0 ? std::string("?") : std::to_string(d); };
    return side(w) + " x " + side(h);
}

// The result's scale from a fixed output side, or 0 when the sides are open.
int scaleOf(const TensorDescription& output, int layout, int tile) {
    if (output.dims.size() != 4)
        throw std::runtime_error("the model's output \"" + output.name + "\" (" + shapeText(output.dims) +
                                 ") is not an image batch of four dimensions");
    const Places& p = places(layout);
    const int64_t h = output.dims[p.height], w = output.dims[p.width];
    if (h < 0 && w < 0) return 0;
    const int64_t known = h >= 0 ? h : w;
    if ((h >= 0 && w >= 0 && h != w) || known % tile != 0 || known / tile < 1 || known / tile > 16)
        throw std::runtime_error("the model gives " + sidesText(w, h) + " results for " + std::to_string(tile) + " x " +
                                 std::to_string(tile) +
                                 " tiles; tiled runs need a result 1 to 16 times the tile on both sides");
    return static_cast<int>(known / tile);
}

}  // namespace

const char* layoutName(int libraryCode) { return libraryCode == 0 ? "channels-first" : "channels-last"; }

std::string elementTypeName(int32_t code) {
    static constexpr std::array<const char*, 23> names{
        "undefined",      "float",      "uint8",          "int8",       "uint16",   "int16",
        "int32",          "int64",      "string",         "bool",       "float16",  "double",
        "uint32",         "uint64",     "complex64",      "complex128", "bfloat16", "float8e4m3fn",
        "float8e4m3fnuz", "float8e5m2", "float8e5m2fnuz", "uint4",      "int4"};
    if (code >= 0 && static_cast<size_t>(code) < names.size()) return names[static_cast<size_t>(code)];
    return "element type " + std::to_string(code);
}

ModelFit fitModel(const ModelDescription* description, const Options& options) {
    ModelFit fit;
    fit.inputName = options.inputName;
    fit.outputName = options.outputName;
    fit.inputLayout = options.inputLayout == Layout::ChannelsFirst ? 0 : 1;
    fit.outputLayout = options.outputLayout == Layout::ChannelsFirst ? 0 : 1;
    fit.tile = options.tile;
    if (!description) {
        if (fit.tile == 0)
            throw std::runtime_error("cannot read the model's input size; give the tile size with --tile");
        return fit;
    }
    if (description->inputs.size() != 1)
        throw std::runtime_error("the model takes " + std::to_string(description->inputs.size()) +
                                 " inputs; tiled runs feed exactly one");
    const TensorDescription& input = pick(description->inputs, options.inputName, "input");
    const TensorDescription& output = pick(description->outputs, options.outputName, "output");
    fit.inputName = input.name;
    fit.outputName = output.name;
    fit.inputLayout = layoutCode(options.inputLayout, input.dims);
    fit.outputLayout = layoutCode(options.outputLayout, output.dims);
    checkElements(input, "input");
    checkElements(output, "output");
    if (input.dims.size() != 4)
        throw std::runtime_error("the model's input \"" + input.name + "\" (" + shapeText(input.dims) +
                                 ") is not an image batch of four dimensions");
    if (input.dims[0] > 1)
        throw std::runtime_error("the model takes batches of " + std::to_string(input.dims[0]) +
                                 " images; tiled runs feed one tile at a time");

    const Places& p = places(fit.inputLayout);
    const int64_t h = input.dims[p.height], w = input.dims[p.width];
    // Both sides open, or both fixed and equal: a shape read the wrong way
    // round, by hand, rarely gives that.
    if (!sidesSquareOrOpen(input.dims, p) || h > 1 << 16 || h == 0)
        throw std::runtime_error("the model takes " + sidesText(w, h) + " inputs (" + shapeText(input.dims) + " read " +
                                 layoutName(fit.inputLayout) + "); the library cuts square tiles");
    const int64_t fixed = h;
    fit.openSize = fixed < 0;
    if (!fit.openSize && fit.tile != 0 && fit.tile != fixed)
        throw std::runtime_error("the model takes " + std::to_string(fixed) + " x " + std::to_string(fixed) +
                                 " tiles (" + shapeText(input.dims) + ", " + layoutName(fit.inputLayout) +
                                 "); --tile " + std::to_string(fit.tile) + " does not fit");
    fit.tile = fit.openSize ? (fit.tile ? fit.tile : kDefaultOpenTile) : static_cast<int>(fixed);
    fit.inputChannels = channelsOf(input.dims, fit.inputLayout);
    fit.outputChannels = channelsOf(output.dims, fit.outputLayout);
    fit.scale = scaleOf(output, fit.outputLayout, fit.tile);
    return fit;
}
