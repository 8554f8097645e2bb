#include "model_fit.h"

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

// Channels-last unless the last dimension cannot be a channel count and the
// second can.
int layoutCode(Layout asked, const std::vector<int64_t>& dims) {
    if (asked == Layout::ChannelsLast) return 1;
    if (asked == Layout::ChannelsFirst) return 0;
    if (dims.size() == 4 && !(dims[3] >= 1 && dims[3] <= 4) && dims[1] >= 1 && dims[1] <= 4) return 0;
    return 1;
}

int channelsOf(const std::vector<int64_t>& dims, int layout) {
    if (dims.size() != 4) return 0;
    const int64_t c = layout == 0 ? dims[1] : dims[3];
    return c > 0 && c <= 1024 ? static_cast<int>(c) : 0;
}

}  // namespace

const char* layoutName(int libraryCode) { return libraryCode == 0 ? "channels-first" : "channels-last"; }

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
    if (input.elementType != 1)
        throw std::runtime_error("the model's input \"" + input.name + "\" is not a float tensor");
    if (input.dims.size() != 4)
        throw std::runtime_error("the model's input \"" + input.name + "\" (" + shapeText(input.dims) +
                                 ") is not an image batch of four dimensions");

    const int64_t h = fit.inputLayout == 0 ? input.dims[2] : input.dims[1];
    const int64_t w = fit.inputLayout == 0 ? input.dims[3] : input.dims[2];
    if (h <= 0 || w <= 0)
        throw std::runtime_error("the model leaves its input size open (" + shapeText(input.dims) +
                                 "); the library runs models on tiles of one fixed size");
    if (h != w || h > 1 << 16)
        throw std::runtime_error("the model takes " + std::to_string(w) + " x " + std::to_string(h) +
                                 " inputs; the library cuts square tiles");
    if (fit.tile != 0 && fit.tile != h)
        throw std::runtime_error("the model takes " + std::to_string(h) + " x " + std::to_string(h) + " tiles (" +
                                 shapeText(input.dims) + ", " + layoutName(fit.inputLayout) + "); --tile " +
                                 std::to_string(fit.tile) + " does not fit");
    fit.tile = static_cast<int>(h);
    fit.inputChannels = channelsOf(input.dims, fit.inputLayout);
    fit.outputChannels = channelsOf(output.dims, fit.outputLayout);
    return fit;
}
