// Driving libvelmora through its exported functions, as any host does.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "progress.h"
#include "raster.h"
#include "velmora.h"

// The user or a test stopped the run through the progress callback.
struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("interrupted") {}
};

class LibraryContext {
public:
    LibraryContext();
    ~LibraryContext();
    LibraryContext(const LibraryContext&) = delete;
    LibraryContext& operator=(const LibraryContext&) = delete;
    VelmoraContext handle() const { return context; }

    // Reads the per-user settings, as hosts do first; returns the build text.
    std::string initialize();
    // The pending failure text on one line, fetched and thereby cleared.
    std::string takeErrorText();
    // Throws with the runtime's words when it refuses the model. The bytes
    // must outlive the context.
    void loadModel(const std::vector<char>& bytes, const std::string& inputName, const std::string& outputName,
                   int inputLayout, int outputLayout);

private:
    VelmoraContext context;
};

struct TileSettings {
    int tile = 0;
    int step = 0;
    int downscale = 1;  // negative: detail transfer
    float inputScale = 1.0f;
    float outputScale = 1.0f;
    bool argmax = false;
};

// The float path (predictByTilesImageFloat). The result has the model's
// output channels and the Float32 type.
Raster predictFloatImage(LibraryContext& library, const Raster& input, const TileSettings& settings,
                         ProgressState& progress);

// The 8-bit path (predictByTiles): the image is handed over as RGB bytes with
// modelChannels channels per tile. The result has outputChannels channels
// (1 with arg-max) and the UInt8 type.
Raster predictByteImage(LibraryContext& library, const Raster& input, int modelChannels, int outputChannels,
                        const TileSettings& settings, ProgressState& progress);
