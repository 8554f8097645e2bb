// A plan of tiles run one band of rows at a time (velmoraPredictBand): the
// picture's rows are read only as the bands need them, the overlap of
// consecutive bands kept rather than read again, and the result's rows
// handed out as they are finished, so that neither is ever held whole.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "progress.h"
#include "result_rows.h"
#include "upright_rows.h"
#include "velmora.hpp"

class BandStream {
public:
    BandStream(velmora::Context& context, const VelmoraPlan& plan, int32_t tileRows, UprightRows& input,
               ProgressState& progress);
    ~BandStream();
    BandStream(const BandStream&) = delete;
    BandStream& operator=(const BandStream&) = delete;

    // Runs the first band, which tells the result's width and channels.
    void start();
    ResultRows& result() { return resultRows; }
    PictureRows& picture() { return pictureRows; }

private:
    void runBand();
    void readUpTo(int64_t end);
    void dropInputBefore(int64_t row);
    void dropSideRowsBefore(int64_t row);
    int64_t sideFirst() const;
    const float* resultRow(int32_t y);
    const float* sideRow(std::deque<std::vector<float>>& rows, int32_t y);
    void end();

    struct Result final : ResultRows {
        BandStream& s;
        explicit Result(BandStream& s) : s(s) {}
        int32_t width() const override { return s.band.width; }
        int32_t height() const override { return s.resultHeight; }
        int32_t channels() const override { return s.band.numChannels; }
        const float* row(int32_t y) override { return s.resultRow(y); }
        void end() override { s.end(); }
    };
    struct Picture final : PictureRows {
        BandStream& s;
        explicit Picture(BandStream& s) : s(s) {}
        int32_t width() const override { return s.input.width(); }
        int32_t height() const override { return s.input.height(); }
        bool hasAlpha() const override { return s.input.givesAlpha(); }
        const float* alpha(int32_t y) override { return s.sideRow(s.alphaRows, y); }
        int32_t colourChannels() const override { return s.input.colourChannels(); }
        const float* colour(int32_t y) override { return s.sideRow(s.colourRows, y); }
    };

    velmora::Context& context;
    const VelmoraPlan plan;
    const int32_t tileRows;
    UprightRows& input;
    ProgressState& progress;
    Result resultRows{*this};
    Picture pictureRows{*this};

    // Picture rows [windowFirst, windowFirst + windowCount), contiguous, as
    // the library takes a band's input.
    std::vector<float> window;
    int64_t windowFirst = 0, windowCount = 0;
    size_t rowFloats = 0;
    // The set-aside alpha and kept colours of rows from sideFirst on, until
    // the written rows have passed them.
    std::deque<std::vector<float>> alphaRows, colourRows;

    int32_t nextBand = 0, bandCount = 0, scale = 1, resultHeight = 0;
    ImageFloat band{0, 0, 0, nullptr};  // the last band's result rows, where the context keeps them
    int64_t bandFirst = 0;              // its first row in the result
};
