#include "tiling/model_tiles.h"

#include <algorithm>
#include <limits>
#include <string>

#include "backend/tensor_elements.h"
#include "tiling/tile_layout.h"

namespace {
constexpr int64_t kMax = std::numeric_limits<int32_t>::max();

std::string refused(const TensorDescription& t, const char* verb, const char* end) {
    return refusedElementType(static_cast<ONNXTensorElementDataType>(t.elementType), verb, end, t.name);
}
}  // namespace

Expected<ModelTiles> modelTiles(const ModelDescription& model, int32_t side, int32_t channels) {
    ModelTiles tiles;
    tiles.input = TileInputSpec{Layout::ChannelsLast, kFloatElements, side, side, channels, {1, side, side, channels}};
    if (!model.known) return tiles;
    if (model.inputs.size() != 1)
        return failure("takes " + std::to_string(model.inputs.size()) + " inputs; a tile is one");
    if (model.outputs.empty()) return failure("gives no output");
    const TensorDescription& in = model.inputs[0];
    const TensorDescription& out = model.outputs[0];
    std::string why = refused(in, "takes", "input");
    if (why.empty()) why = refused(out, "gives", "output");
    if (!why.empty()) return failure(why);
    const Expected<TileInput> input = tileInput(in.declared, side, channels, model.inputLayout);
    if (!input) return failure(input.message());
    const Expected<TileForecast> forecast = tileForecast(out.declared, side, model.outputLayout);
    if (!forecast) return failure(forecast.message());
    tiles.input = TileInputSpec{input->layout, in.elementType, side, side, channels, input->dims};
    tiles.outputDeclared = out.declared;
    tiles.outputLayoutCode = model.outputLayout;
    tiles.scale = static_cast<int32_t>(forecast->scale);
    tiles.outputChannels = static_cast<int32_t>(std::min(forecast->channels, kMax));
    return tiles;
}

Expected<TensorFrame> ResultReader::shape(const TileTensor& tensor) {
    pendingDims_ = tensor.dims;
    // The common case: a result shaped as the first was reads as it did.
    if (!firstDims_.empty() && tensor.dims == firstDims_) {
        TensorFrame frame = firstFrame_;
        frame.data = const_cast<void*>(tensor.data);
        frame.elementType = tensor.elementType;
        return frame;
    }
    if (model_.outputDeclared.empty()) {
        // A backend's own interleaved floats, [1, H, W, C].
        const std::vector<int64_t>& d = tensor.dims;
        const bool whole =
            d.size() == 4 && d[1] == d[2] && d[1] > 0 && d[1] % side_ == 0 && d[1] / side_ <= kMaxResultScale;
        if (!whole)
            return failure("returned a " + std::to_string(d.size() == 4 ? d[2] : 0) + " x " +
                           std::to_string(d.size() == 4 ? d[1] : 0) + " result for a " + std::to_string(side_) + " x " +
                           std::to_string(side_) + " tile");
        return TensorFrame{const_cast<void*>(tensor.data), tensor.elementType, Layout::ChannelsLast, d[2], d[1], d[3]};
    }
    const Expected<TileOutput> read = tileOutput(tensor.dims, model_.outputDeclared, side_, model_.outputLayoutCode);
    if (!read) return failure(read.message());
    if (read->width > kMax || read->channels > kMax)
        return failure("returned a " + shapeText(tensor.dims) + " result, too large to read");
    return TensorFrame{
        const_cast<void*>(tensor.data), tensor.elementType, read->layout, read->width, read->height, read->channels};
}

Expected<TensorFrame> ResultReader::check(const TensorFrame& frame) {
    if (frame.channels == 0 || !frame.data) return failure("returned 0 channels");
    if (!firstDims_.empty() && pendingDims_ == firstDims_) return frame;
    const auto s = static_cast<int32_t>(frame.width / side_);
    if (model_.scale != 0 && s != model_.scale)
        return failure("returned a " + std::to_string(frame.width) + " x " + std::to_string(frame.height) +
                       " result for a " + std::to_string(side_) + " x " + std::to_string(side_) +
                       " tile where the model's results are " + std::to_string(model_.scale) + " times the tile");
    model_.scale = s;
    if (firstDims_.empty()) {
        firstDims_ = pendingDims_;
        firstFrame_ = frame;
    }
    return frame;
}
