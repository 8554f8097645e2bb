#include "library_run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

namespace {

constexpr int32_t kErrorTextLength = 1 << 16;
// What getModelInformation may write: 2048 bytes, with room to spare.
constexpr size_t kModelInformationLength = 4096;

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

LibraryContext::ModelText LibraryContext::describeModel() {
    std::vector<char> buffer(kModelInformationLength, '\0');
    getModelInformation(context, nullptr, VELMORA_MODEL_DETAILS, buffer.data());
    buffer.back() = '\0';
    ModelText text;
    std::istringstream lines(buffer.data());
    std::getline(lines, text.summary);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Input ", 0) == 0 || line.rfind("Output ", 0) == 0) text.tensors.push_back(line);
    return text;
}

LibraryContext::ResultSizes LibraryContext::lastResultSizes() {
    std::vector<char> buffer(kModelInformationLength, '\0');
    getModelInformation(context, nullptr, VELMORA_MODEL_DETAILS, buffer.data());
    buffer.back() = '\0';
    return parseResultSizes(buffer.data());
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

LibraryResult predictByteImage(LibraryContext& library, const std::vector<unsigned char>& rgb, int32_t width,
                               int32_t height, int modelChannels, const TileSettings& settings,
                               ProgressState& progress) {
    const unsigned char* result =
        predictByTiles(library.handle(), const_cast<unsigned char*>(rgb.data()), width, height, modelChannels,
                       settings.tile, settings.step, settings.argmax, settings.inputScale / 255.0f,
                       settings.outputScale * 255.0f, settings.downscale, reportProgress, &progress);
    finishProgress(progress);
    if (progress.stopped) throw Interrupted();
    if (!result) throw libraryFailure(library, "the model run failed");
    const LibraryContext::ResultSizes sizes = library.lastResultSizes();
    if (sizes.width <= 0 || sizes.height <= 0 || sizes.channels <= 0)
        throw std::runtime_error("the library did not report the size of its 8-bit result");
    return LibraryResult(result, sizes.width, sizes.height, sizes.channels);
}

LibraryContext::ResultSizes parseResultSizes(const std::string& information) {
    LibraryContext::ResultSizes sizes;
    static constexpr char kLine[] = "Last tiled result: ";
    const size_t at = information.find(kLine);
    if (at == std::string::npos) return sizes;
    const std::string line = information.substr(at + sizeof kLine - 1, information.find('\n', at) - at);
    int w = 0, h = 0, c = 0, s = 0;
    if (std::sscanf(line.c_str(), "%d x %d x %d (scale %d)", &w, &h, &c, &s) == 4 && w > 0 && h > 0 && c > 0 && s > 0)
        sizes = {w, h, c, s};
    return sizes;
}
