// What the writers read, top to bottom: the result's rows and the picture's
// own (its set-aside alpha, its colours for a cut-out), whether a run held
// them whole or hands them out as it finishes them.
#pragma once

#include <cstdint>
#include <vector>

#include "model_input.h"
#include "model_run.h"

class ResultRows {
public:
    virtual ~ResultRows() = default;
    virtual int32_t width() const = 0;
    virtual int32_t height() const = 0;
    virtual int32_t channels() const = 0;
    // Row y (width x channels values), valid until the next call; rows are
    // asked for from the top, none above one asked for before.
    virtual const float* row(int32_t y) = 0;
    // Once the last row is written, before the file is complete: a failure
    // here leaves no file.
    virtual void end() {}
};

class PictureRows {
public:
    virtual ~PictureRows() = default;
    virtual int32_t width() const = 0;
    virtual int32_t height() const = 0;
    virtual bool hasAlpha() const = 0;
    // Row y of the set-aside alpha (width values); it stays valid while rows
    // below it are asked for.
    virtual const float* alpha(int32_t y) = 0;
    virtual int32_t colourChannels() const = 0;
    // Row y of the picture's kept colours, likewise.
    virtual const float* colour(int32_t y) = 0;
};

// A whole run's result, as the context keeps it.
class HeldResult final : public ResultRows {
public:
    explicit HeldResult(const RunResult& result)
        : result(result), converted(static_cast<size_t>(result.width()) * static_cast<size_t>(result.channels())) {}
    int32_t width() const override { return result.width(); }
    int32_t height() const override { return result.height(); }
    int32_t channels() const override { return result.channels(); }
    const float* row(int32_t y) override {
        if (const float* floats = result.floatRow(y)) return floats;
        const size_t first = static_cast<size_t>(y) * static_cast<size_t>(width());
        const auto c = static_cast<size_t>(channels());
        for (size_t x = 0; x < static_cast<size_t>(width()); ++x) result.pixel(first + x, converted.data() + x * c);
        return converted.data();
    }

private:
    const RunResult& result;
    std::vector<float> converted;
};

// The whole picture as read for a run.
class HeldPicture final : public PictureRows {
public:
    explicit HeldPicture(const ModelInputImage& input) : input(input) {}
    int32_t width() const override { return input.width; }
    int32_t height() const override { return input.height; }
    bool hasAlpha() const override { return !input.alpha.empty(); }
    const float* alpha(int32_t y) override { return input.alpha.data() + rowStart(y, 1); }
    int32_t colourChannels() const override { return input.colourChannels; }
    const float* colour(int32_t y) override { return input.colour.data() + rowStart(y, input.colourChannels); }

private:
    size_t rowStart(int32_t y, int32_t channels) const {
        return static_cast<size_t>(y) * static_cast<size_t>(input.width) * static_cast<size_t>(channels);
    }
    const ModelInputImage& input;
};
