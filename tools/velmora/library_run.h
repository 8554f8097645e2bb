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
    // The library's description of the loaded model: its first line (version
    // and memory) and one line per input and output (name, element type,
    // shape with "?" for open dimensions, layout).
    struct ModelText {
        std::string summary;
        std::vector<std::string> tensors;
    };
    ModelText describeModel();
    // The sizes of the last tiled run's result as the library reports them;
    // all 0 when it reports none.
    struct ResultSizes {
        int32_t width = 0, height = 0, channels = 0, scale = 0;
    };
    ResultSizes lastResultSizes();

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
// model's input takes. The result's sizes (S times the picture for a model
// that enlarges, 1 channel with arg-max) are those the library reports.
LibraryResult predictByteImage(LibraryContext& library, const std::vector<unsigned char>& rgb, int32_t width,
                               int32_t height, int modelChannels, const TileSettings& settings,
                               ProgressState& progress);

// The sizes in the library's detailed model information, whose line
// "Last tiled result: W x H x C (scale S)" names them; all 0 for "none" or
// a text without that line.
LibraryContext::ResultSizes parseResultSizes(const std::string& information);
