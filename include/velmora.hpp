/* Velmora for C++ hosts: an owner of a context and its model, the typed
 * description and plan, the tiled runs, and failures as results that carry
 * the library's words. Header only, over velmora.h; nothing here is
 * exported by the library.
 *
 * Who owns what: a velmora::Context owns its library context and keeps the
 * model's bytes alive while the model is loaded. A FloatResult views the
 * context's float result and releases it (deallocateImage) when it goes; it
 * must not outlive its Context. A ByteResult views the context's 8-bit
 * result, valid until the next 8-bit run on that context. */
#ifndef VELMORA_HPP
#define VELMORA_HPP

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "velmora.h"

namespace velmora {

// Why something did not happen, in the library's words; `stopped` when the
// host's progress callback asked for the stop.
struct Error {
    std::string words;
    bool stopped = false;
};

// A value, or the Error that says why there is none. Look at it before use.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error)) {}

    explicit operator bool() const { return value_.has_value(); }
    const T& operator*() const { return *value_; }
    T& operator*() { return *value_; }
    const T* operator->() const { return &*value_; }
    T* operator->() { return &*value_; }
    const Error& error() const { return error_; }

private:
    std::optional<T> value_;
    Error error_;
};

struct Done {};
using Status = Result<Done>;

// The text of a failure on one line: line ends become blanks, runs of
// blanks one.
inline std::string oneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        const char ch = (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
        if (ch == ' ' && (line.empty() || line.back() == ' ')) continue;
        line += ch;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

// A float result viewed where the context keeps it.
class FloatResult {
public:
    FloatResult() = default;
    FloatResult(VelmoraContext context, ImageFloat image) : context_(context), image_(image) {}
    ~FloatResult() { release(); }
    FloatResult(FloatResult&& other) noexcept { *this = std::move(other); }
    FloatResult& operator=(FloatResult&& other) noexcept {
        if (this != &other) {
            release();
            context_ = std::exchange(other.context_, nullptr);
            image_ = std::exchange(other.image_, ImageFloat{0, 0, 0, nullptr});
        }
        return *this;
    }
    FloatResult(const FloatResult&) = delete;
    FloatResult& operator=(const FloatResult&) = delete;

    const ImageFloat& image() const { return image_; }

private:
    void release() {
        if (context_) deallocateImage(context_);
        context_ = nullptr;
    }
    VelmoraContext context_ = nullptr;
    ImageFloat image_{0, 0, 0, nullptr};
};

// An 8-bit result viewed where the context keeps it, with its sizes.
struct ByteResult {
    const unsigned char* data = nullptr;
    int32_t width = 0, height = 0, channels = 0;
};

// The tile arguments of the tiled runs.
struct Tiling {
    int32_t tileSize = 0;
    int32_t step = 0;
    int32_t downscale = 1;  // negative: also restore the detail shrinking removed
};

// The 8-bit run's conversions: bytes times inputScale in, values times
// outputScale out (or one byte per pixel, the largest channel's index).
struct ByteConversion {
    float inputScale = 1.0f / 255.0f;
    float outputScale = 255.0f;
    bool argmax = false;
};

// Told the share done (0 to 100); returning true asks the run to stop. It
// must not let an exception out.
using Progress = std::function<bool(float percent)>;

class Context {
public:
    // A new context; `callerName` is the host's name.
    static Result<Context> create(const char* callerName) {
        Context c(createContext(0, callerName));
        if (!c.handle_) return Error{"the library could not create a context"};
        return c;
    }
    ~Context() { close(); }
    Context(Context&& other) noexcept { *this = std::move(other); }
    Context& operator=(Context&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, nullptr);
            model_ = std::move(other.model_);
        }
        return *this;
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    VelmoraContext handle() const { return handle_; }

    // Reads the per-user settings, as hosts do first; the build's text.
    std::string initialize(const char* hostName) {
        std::vector<char> buffer(1024, '\0');
        initializeVelmora(handle_, hostName, nullptr, buffer.data());
        buffer.back() = '\0';
        return buffer.data();
    }

    // The words of what went wrong since the last fetch, on one line.
    std::string takeErrorText() {
        std::vector<char> buffer(1 << 16, '\0');
        getErrorText(handle_, buffer.data(), static_cast<int32_t>(buffer.size()));
        buffer.back() = '\0';
        return oneLine(buffer.data());
    }

    // Loads a model; the context keeps the bytes while it holds the model.
    // Empty names take the model's own.
    Status load(std::vector<char> bytes, const std::string& inputName = "", const std::string& outputName = "",
                int32_t inputLayout = VELMORA_CHANNELS_LAST, int32_t outputLayout = VELMORA_CHANNELS_LAST) {
        takeErrorText();
        auto kept = std::make_shared<const std::vector<char>>(std::move(bytes));
        if (kept->size() > UINT32_MAX) return Error{"the model is larger than 4 GiB"};
        if (!loadModelEx(handle_, kept->data(), static_cast<uint32_t>(kept->size()), inputName.c_str(),
                         outputName.c_str(), inputLayout, outputLayout))
            return failed("the runtime refused the model");
        // The backend's words stay in the process-wide text; they are not
        // this load's.
        takeErrorText();
        model_ = std::move(kept);
        return Done{};
    }

    Result<VelmoraModelInfo> describe() {
        VelmoraModelInfo info{};
        info.size = sizeof info;
        if (!velmoraDescribeModel(handle_, &info)) return failed("the model cannot be described");
        return info;
    }

    // The plan for a picture; zeros in `request` leave the choice to the library.
    Result<VelmoraPlan> plan(VelmoraPlanRequest request) {
        request.size = sizeof request;
        VelmoraPlan plan{};
        plan.size = sizeof plan;
        if (!velmoraPlan(handle_, &request, &plan)) return failed("the run cannot be planned");
        return plan;
    }

    // Measures what the model needs, on `sample` (null: the library's stock
    // picture), again if it was measured.
    Result<VelmoraModelNeeds> measure(const ImageFloat* sample) {
        VelmoraModelNeeds needs{};
        needs.size = sizeof needs;
        if (!velmoraMeasureModel(handle_, sample, &needs)) return failed("the model cannot be measured");
        return needs;
    }

    // The picture run by a plan made for its sizes (velmoraPredict).
    Result<FloatResult> runPlan(const ImageFloat& image, const VelmoraPlan& plan, const Progress& progress = {}) {
        Relay relay{progress};
        const ImageFloat result = velmoraPredict(handle_, image, &plan, relay.callback(), &relay);
        FloatResult held(handle_, result);
        if (relay.stopped) return Error{"stopped", true};
        if (!result.data || result.width <= 0 || result.height <= 0 || result.numChannels <= 0)
            return failed("the model run failed");
        return held;
    }

    // Band `index` of a plan of tiles cut in bands of `tileRows` tile rows
    // (velmoraBand; 0: the library chooses).
    Result<VelmoraBand> band(const VelmoraPlan& plan, int32_t tileRows, int32_t index) {
        VelmoraBand band{};
        band.size = sizeof band;
        if (!velmoraBand(handle_, &plan, tileRows, index, &band)) return failed("the band cannot be laid out");
        return band;
    }

    // Runs band `index` on its input rows (velmoraPredictBand). The rows it
    // finishes stay where the context keeps them until its next run, which
    // replaces them; deallocateImage releases the last.
    Result<ImageFloat> runBand(const VelmoraPlan& plan, int32_t tileRows, int32_t index, const ImageFloat& rows,
                               const Progress& progress = {}) {
        Relay relay{progress};
        const ImageFloat result = velmoraPredictBand(handle_, &plan, tileRows, index, rows, relay.callback(), &relay);
        if (relay.stopped) return Error{"stopped", true};
        if (!result.data || result.width <= 0 || result.height <= 0 || result.numChannels <= 0)
            return failed("the model run failed");
        return result;
    }

    // The profile in effect, and the host's ways to give one.
    Result<VelmoraProfile> profile() {
        VelmoraProfile p{};
        p.size = sizeof p;
        if (!velmoraGetProfile(handle_, &p)) return failed("the profile cannot be read");
        return p;
    }
    Status setProfile(const VelmoraProfile* profile) {
        VelmoraProfile given{};
        if (profile) {
            given = *profile;
            given.size = sizeof given;
        }
        if (!velmoraSetProfile(handle_, profile ? &given : nullptr)) return failed("the profile was refused");
        return Done{};
    }
    // A sidecar's text (MODEL.onnx.json) as the model's profile.
    Status loadProfile(const std::string& text) {
        if (!velmoraLoadProfile(handle_, text.c_str())) return failed("the profile was refused");
        return Done{};
    }

    // The float tiled run (predictByTilesImageFloat).
    Result<FloatResult> runFloat(const ImageFloat& image, const Tiling& tiling, const Progress& progress = {}) {
        Relay relay{progress};
        const ImageFloat result = predictByTilesImageFloat(handle_, image, tiling.tileSize, tiling.step,
                                                           tiling.downscale, relay.callback(), &relay);
        FloatResult held(handle_, result);
        if (relay.stopped) return Error{"stopped", true};
        // An empty record is the library's failure result.
        if (!result.data || result.width <= 0 || result.height <= 0 || result.numChannels <= 0)
            return failed("the model run failed");
        return held;
    }

    // The 8-bit tiled run (predictByTiles) on RGB bytes; `modelChannels` is
    // what the model's input takes. The result's sizes are the plan's.
    Result<ByteResult> runBytes(const unsigned char* rgb, int32_t width, int32_t height, int32_t modelChannels,
                                const Tiling& tiling, const ByteConversion& conversion, const Progress& progress = {}) {
        VelmoraPlanRequest request{};
        request.width = width;
        request.height = height;
        request.channels = modelChannels;
        request.tileSize = tiling.tileSize;
        request.step = tiling.step;
        request.downscale = tiling.downscale;
        Relay relay{progress};
        const unsigned char* result =
            predictByTiles(handle_, const_cast<unsigned char*>(rgb), width, height, modelChannels, tiling.tileSize,
                           tiling.step, conversion.argmax, conversion.inputScale, conversion.outputScale,
                           tiling.downscale, relay.callback(), &relay);
        if (relay.stopped) return Error{"stopped", true};
        if (!result) return failed("the model run failed");
        // After the run the library knows the result's scale and channels.
        const Result<VelmoraPlan> done = plan(request);
        if (!done) return done.error();
        if (done->resultWidth <= 0) return Error{"the library did not tell the size of its 8-bit result"};
        return ByteResult{result, done->resultWidth, done->resultHeight, conversion.argmax ? 1 : done->resultChannels};
    }

private:
    explicit Context(VelmoraContext handle) : handle_(handle) {}

    void close() {
        if (!handle_) return;
        deallocateModel(handle_);
        deleteContext(handle_);
        handle_ = nullptr;
        model_.reset();
    }

    Error failed(const char* what) {
        const std::string words = takeErrorText();
        return Error{std::string(what) + (words.empty() ? " (the library gave no reason)" : ": " + words)};
    }

    // The host's progress, as the library calls it.
    struct Relay {
        const Progress& progress;
        bool stopped = false;
        ProgressCallback callback() const { return progress ? &Relay::heard : nullptr; }
        static bool heard(void* self, float percent) {
            auto* relay = static_cast<Relay*>(self);
            if (relay->progress(percent)) relay->stopped = true;
            return relay->stopped;
        }
    };

    VelmoraContext handle_ = nullptr;
    std::shared_ptr<const std::vector<char>> model_;
};

// Where the library's and the runtime's lines go, for the whole process:
// `sink` gets each line with its severity and source (VELMORA_SEVERITY_*,
// VELMORA_FROM_*), possibly on the runtime's threads. An empty function
// puts the console back. Set it before the first context.
using MessageSink = std::function<void(int32_t severity, int32_t source, const char* text)>;

inline void setMessageSink(MessageSink sink, int32_t runtimeLevel = VELMORA_SEVERITY_WARNING) {
    struct Held {
        std::mutex mutex;
        MessageSink sink;
        static void relay(void* self, int32_t severity, int32_t source, const char* text) {
            auto* held = static_cast<Held*>(self);
            std::lock_guard<std::mutex> lock(held->mutex);
            // Nothing may leave a sink: a line the host's cannot take is lost.
            try {
                if (held->sink) held->sink(severity, source, text);
            } catch (...) {}
        }
    };
    static Held* held = new Held;  // never destroyed: the runtime may log late in the process's exit
    const bool on = static_cast<bool>(sink);
    {
        std::lock_guard<std::mutex> lock(held->mutex);
        held->sink = std::move(sink);
    }
    velmoraSetMessageSink(on ? &Held::relay : nullptr, held, runtimeLevel);
}

}  // namespace velmora

#endif
