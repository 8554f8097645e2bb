// The tile runs of a backend that knows only runModel: interleaved floats in
// and out.
#include "backend/ModelLogic.h"

#include <new>

void* ModelLogic::tileInput(const TileInputSpec& form) {
    if (!tileRoom.resize(form.width, form.height, form.channels)) throw std::bad_alloc();
    return tileRoom.view().data;
}

Expected<TileTensor> ModelLogic::runTile() {
    const ImageFloat room = tileRoom.view();
    const ImageFloat result = runModel(room.data, room.width, room.height, room.numChannels);
    if (result.numChannels == 0 || !result.data) return failure("returned 0 channels");
    return TileTensor{result.data, kFloatElements, {1, result.height, result.width, result.numChannels}};
}
