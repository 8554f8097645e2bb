#include "tiling/rect_run.h"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "tiling/model_tiles.h"
#include "tiling/tile_layout.h"

Expected<ImageFloat> RectRunner::run(const ImageFloat& input) {
    const int32_t w = input.width, h = input.height;
    const Expected<ModelTiles> tiles = modelTiles(model_, w == h ? w : std::max(w, h), channels_);
    if (!tiles) return failure(tiles.message());
    TileInputSpec form = tiles->input;
    form.width = w;
    form.height = h;
    form.dims = form.layout == Layout::ChannelsFirst ? std::vector<int64_t>{1, channels_, h, w}
                                                     : std::vector<int64_t>{1, h, w, channels_};
    Expected<TileTensor> tensor = failure("");
    try {
        const TensorFrame in{backend_.tileInput(form), form.elementType, form.layout, w, h, channels_};
        writePixels(in, 0, input.data, int64_t{w} * h);
        tensor = backend_.runTile();
    } catch (const std::exception& e) {
        return failure(e.what());
    }
    if (!tensor) return failure(tensor.message());
    const std::vector<int64_t>& d = tensor->dims;
    if (d.size() != 4) return failure("returned a result of " + std::to_string(d.size()) + " dimensions");
    if (!layoutKnown_ && w != h) {
        // Without a square run the declared shape tells how results lie.
        DeclaredImage declared;
        if (model_.known && !model_.outputs.empty() &&
            readDeclaredImage(model_.outputs[0].declared, model_.outputLayout, declared))
            outLayout_ = declared.layout;
        layoutKnown_ = true;
    }
    if (!layoutKnown_) {
        // A square run's result tells how results lie.
        ModelTiles square = *tiles;
        ResultReader reader(square, w);
        const Expected<TensorFrame> shaped = reader.shape(*tensor);
        if (!shaped) return failure(shaped.message());
        const Expected<TensorFrame> checked = reader.check(*shaped);
        if (!checked) return failure(checked.message());
        outLayout_ = checked->layout;
        layoutKnown_ = true;
    }
    const bool first = outLayout_ == Layout::ChannelsFirst;
    const int64_t rh = d[first ? 2 : 1], rw = d[first ? 3 : 2], rc = d[first ? 1 : 3];
    if (rc <= 0 || rw <= 0 || rh <= 0 || rw % w != 0 || rw / w != rh / h || rh % h != 0 || rw / w > kMaxResultScale)
        return failure("returned a " + std::to_string(rw) + " x " + std::to_string(rh) + " result for a " +
                       std::to_string(w) + " x " + std::to_string(h) + " picture");
    if (!result_.resize(static_cast<int32_t>(rw), static_cast<int32_t>(rh), static_cast<int32_t>(rc)))
        return failure("no memory for the result");
    const TensorFrame out{const_cast<void*>(tensor->data), tensor->elementType, outLayout_, rw, rh, rc};
    readPixels(out, 0, rw * rh, result_.view().data);
    return result_.view();
}
