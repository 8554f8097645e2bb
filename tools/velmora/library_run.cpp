#include "library_run.h"

#include <cstring>

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

Raster predictFloatImage(LibraryContext& library, const Raster& input, const TileSettings& settings,
                         ProgressState& progress) {
    std::vector<float> scaled;
    float* data = const_cast<float*>(input.pixels.data());  // the library only reads the host's image
    if (settings.inputScale != 1.0f) {
        scaled = input.pixels;
        for (float& v : scaled) v *= settings.inputScale;
        data = scaled.data();
    }
    const ImageFloat image{input.width, input.height, input.channels, data};
    const ImageFloat result = predictByTilesImageFloat(library.handle(), image, settings.tile, settings.step,
                                                       settings.downscale, reportProgress, &progress);
    finishProgress(progress);
    if (progress.stopped) {
        deallocateImage(library.handle());
        throw Interrupted();
    }
    if (!result.data || result.numChannels <= 0) throw libraryFailure(library, "the model run failed");
    Raster out = makeRaster(result.width, result.height, result.numChannels, SampleType::Float32);
    std::memcpy(out.pixels.data(), result.data, out.pixels.size() * sizeof(float));
    deallocateImage(library.handle());
    if (settings.outputScale != 1.0f)
        for (float& v : out.pixels) v *= settings.outputScale;
    return out;
}

Raster predictByteImage(LibraryContext& library, const Raster& input, int modelChannels, int outputChannels,
                        const TileSettings& settings, ProgressState& progress) {
    if (input.channels != 3) throw std::runtime_error("the 8-bit path takes RGB images");
    std::vector<unsigned char> rgb(input.pixels.size());
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>(quantize(input.pixels[i], 8));
    const unsigned char* result =
        predictByTiles(library.handle(), rgb.data(), input.width, input.height, modelChannels, settings.tile,
                       settings.step, settings.argmax, settings.inputScale / 255.0f, settings.outputScale * 255.0f,
                       settings.downscale, reportProgress, &progress);
    finishProgress(progress);
    if (progress.stopped) throw Interrupted();
    if (!result) throw libraryFailure(library, "the model run failed");
    const int channels = settings.argmax ? 1 : outputChannels;
    Raster out = makeRaster(input.width, input.height, channels, SampleType::UInt8);
    for (size_t i = 0; i < out.pixels.size(); ++i) out.pixels[i] = result[i] / 255.0f;
    return out;
}
