// Driving libvelmora through its exported functions, as any host does.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "progress.h"
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
    int downscale = 1;         // negative: detail transfer
    float inputScale = 1.0f;   // the 8-bit path's; the float path's input comes scaled
    float outputScale = 1.0f;  // the 8-bit path's; the float path's result is scaled when written
    bool argmax = false;
};

// The library's result, viewed where it lies; the float result is released
// (deallocateImage) with this holder. The sizes are what the library reported.
class LibraryResult {
public:
    LibraryResult() = default;
    LibraryResult(VelmoraContext context, ImageFloat floats) : context(context), floats(floats) {}
    LibraryResult(const unsigned char* bytes, int32_t width, int32_t height, int32_t channels)
        : bytes(bytes), byteWidth(width), byteHeight(height), byteChannels(channels) {}
    ~LibraryResult() {
        if (context) deallocateImage(context);
    }
    LibraryResult(LibraryResult&& other) noexcept { *this = std::move(other); }
    LibraryResult& operator=(LibraryResult&& other) noexcept;

    int32_t width() const { return bytes ? byteWidth : floats.width; }
    int32_t height() const { return bytes ? byteHeight : floats.height; }
    int32_t channels() const { return bytes ? byteChannels : floats.numChannels; }
    // Pixel i's channels as floats (bytes become k / 255).
    void pixel(size_t i, float* out) const;

private:
    VelmoraContext context = nullptr;
    ImageFloat floats{0, 0, 0, nullptr};
    const unsigned char* bytes = nullptr;
    int32_t byteWidth = 0, byteHeight = 0, byteChannels = 0;
};

// The float path (predictByTilesImageFloat) on the host's interleaved floats.
LibraryResult predictFloatImage(LibraryContext& library, const ImageFloat& input, const TileSettings& settings,
                                ProgressState& progress);

// The 8-bit path (predictByTiles) on RGB bytes; modelChannels is what the
// model's input takes. The library does not report the size of its 8-bit
// result, so the model's first tile is run through the float path first and
// the result's channels are those it gave (1 with arg-max).
LibraryResult predictByteImage(LibraryContext& library, const std::vector<unsigned char>& rgb, int32_t width,
                               int32_t height, int modelChannels, const TileSettings& settings,
                               ProgressState& progress);

// The model's first tile of an RGB byte image as the 8-bit path cuts it
// (edge pixels repeated, shrunk by |downscale| with box averages), as floats
// scaled by inputScale / 255: tile x tile x channels, channels past the
// third left at 0.
std::vector<float> firstByteTile(const std::vector<unsigned char>& rgb, int32_t width, int32_t height,
                                 const TileSettings& settings, int channels = 3);
