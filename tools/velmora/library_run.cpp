#include "library_run.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

constexpr int32_t kErrorTextLength = 1 << 16;

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    std::string squeezed;
    for (char c : text)
        if (!(c == ' ' && !squeezed.empty() && squeezed.back() == ' ')) squeezed += c;
    return squeezed;
}

std::runtime_error libraryFailure(LibraryContext& library, const char* what) {
    const std::string text = library.takeErrorText();
    return std::runtime_error(std::string(what) + (text.empty() ? " (the library gave no reason)" : ": " + text));
}

}  // namespace

LibraryContext::LibraryContext() : context(createContext(0, "velmora command")) {
    if (!context) throw std::runtime_error("the library could not create a context");
}

LibraryContext::~LibraryContext() {
    deallocateModel(context);
    deleteContext(context);
}

std::string LibraryContext::initialize() {
    std::vector<char> buffer(1024, '\0');
    initializeVelmora(context, "velmora command", nullptr, buffer.data());
    buffer.back() = '\0';
    return buffer.data();
}

std::string LibraryContext::takeErrorText() {
    std::vector<char> buffer(kErrorTextLength, '\0');
    getErrorText(context, buffer.data(), kErrorTextLength);
    buffer.back() = '\0';
    return oneLine(buffer.data());
}

void LibraryContext::loadModel(const std::vector<char>& bytes, const std::string& inputName,
                               const std::string& outputName, int inputLayout, int outputLayout) {
    takeErrorText();
    if (!loadModelEx(context, bytes.data(), static_cast<uint32_t>(bytes.size()), inputName.c_str(), outputName.c_str(),
                     inputLayout, outputLayout))
        throw libraryFailure(*this, "the runtime refused the model");
    takeErrorText();
}

LibraryResult& LibraryResult::operator=(LibraryResult&& other) noexcept {
    if (this != &other) {
        if (context) deallocateImage(context);
        context = std::exchange(other.context, nullptr);
        floats = std::exchange(other.floats, ImageFloat{0, 0, 0, nullptr});
        bytes = std::exchange(other.bytes, nullptr);
        byteWidth = other.byteWidth;
        byteHeight = other.byteHeight;
        byteChannels = other.byteChannels;
    }
    return *this;
}

void LibraryResult::pixel(size_t i, float* out) const {
    const auto c = static_cast<size_t>(channels());
    if (bytes) {
        for (size_t k = 0; k < c; ++k) out[k] = bytes[i * c + k] / 255.0f;
    } else {
        std::memcpy(out, floats.data + i * c, c * sizeof(float));
    }
}

LibraryResult predictFloatImage(LibraryContext& library, const ImageFloat& input, const TileSettings& settings,
                                ProgressState& progress) {
    const ImageFloat result = predictByTilesImageFloat(library.handle(), input, settings.tile, settings.step,
                                                       settings.downscale, reportProgress, &progress);
    finishProgress(progress);
    LibraryResult held(library.handle(), result);
    if (progress.stopped) throw Interrupted();
    if (!result.data || result.numChannels <= 0 || result.width <= 0 || result.height <= 0)
        throw libraryFailure(library, "the model run failed");
    return held;
}

std::vector<float> firstByteTile(const std::vector<unsigned char>& rgb, int32_t width, int32_t height,
                                 const TileSettings& settings, int channels) {
    const int64_t k = std::abs(static_cast<int64_t>(settings.downscale));
    const int64_t side = static_cast<int64_t>(settings.tile) * k;
    const int64_t margin = (side - static_cast<int64_t>(settings.step) * k) / 2;
    const float scale = settings.inputScale / 255.0f;
    std::vector<float> tile(static_cast<size_t>(settings.tile) * settings.tile * channels, 0.0f);
    for (int64_t y = 0; y < side; ++y)
        for (int64_t x = 0; x < side; ++x) {
            const int64_t sx = std::clamp<int64_t>(x - margin, 0, width - 1);
            const int64_t sy = std::clamp<int64_t>(y - margin, 0, height - 1);
            const unsigned char* p = rgb.data() + (sy * width + sx) * 3;
            float* t = tile.data() + ((y / k) * settings.tile + x / k) * channels;
            for (int c = 0; c < 3; ++c) t[c] += static_cast<float>(p[c]) * scale / static_cast<float>(k * k);
        }
    return tile;
}

LibraryResult predictByteImage(LibraryContext& library, const std::vector<unsigned char>& rgb, int32_t width,
                               int32_t height, int modelChannels, const TileSettings& settings,
                               ProgressState& progress) {
    int32_t channels = 1;
    if (!settings.argmax) {
        const int probeChannels = std::max(modelChannels, 3);
        std::vector<float> tile = firstByteTile(rgb, width, height, settings, probeChannels);
        const ImageFloat probe{settings.tile, settings.tile, probeChannels, tile.data()};
        const ImageFloat answer =
            predictByTilesImageFloat(library.handle(), probe, settings.tile, settings.tile, 1, nullptr, nullptr);
        const LibraryResult held(library.handle(), answer);
        if (!answer.data || answer.numChannels <= 0) throw libraryFailure(library, "the model run failed");
        if (answer.width != settings.tile || answer.height != settings.tile)
            throw std::runtime_error("the model gives " + std::to_string(answer.width) + " x " +
                                     std::to_string(answer.height) + " results for " + std::to_string(settings.tile) +
                                     " x " + std::to_string(settings.tile) +
                                     " tiles; the 8-bit path needs results of the tile's size");
        channels = answer.numChannels;
    }
    const unsigned char* result =
        predictByTiles(library.handle(), const_cast<unsigned char*>(rgb.data()), width, height, modelChannels,
                       settings.tile, settings.step, settings.argmax, settings.inputScale / 255.0f,
                       settings.outputScale * 255.0f, settings.downscale, reportProgress, &progress);
    finishProgress(progress);
    if (progress.stopped) throw Interrupted();
    if (!result) throw libraryFailure(library, "the model run failed");
    return LibraryResult(result, width, height, channels);
}
