#include "band_stream.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform.h"

BandStream::BandStream(velmora::Context& context, const VelmoraPlan& plan, int32_t tileRows, UprightRows& input,
                       ProgressState& progress)
    : context(context), plan(plan), tileRows(tileRows), input(input), progress(progress) {
    rowFloats = static_cast<size_t>(plan.width) * static_cast<size_t>(input.modelChannels());
}

BandStream::~BandStream() {
    if (band.data) deallocateImage(context.handle());
}

void BandStream::start() {
    const velmora::Result<VelmoraBand> first = context.band(plan, tileRows, 0);
    if (!first) throw std::runtime_error(first.error().words);
    bandCount = first->count;
    runBand();
    scale = band.width / plan.width;
    if (scale < 1 || band.width != plan.width * scale)
        throw std::runtime_error("the band's result is " + std::to_string(band.width) + " wide, no whole multiple of " +
                                 std::to_string(plan.width));
    resultHeight = plan.height * scale;
}

void BandStream::runBand() {
    if (interruptRequested()) throw Interrupted();
    const velmora::Result<VelmoraBand> layout = context.band(plan, tileRows, nextBand);
    if (!layout) throw std::runtime_error(layout.error().words);
    if (layout->inputFirstRow < windowFirst) throw std::logic_error("a band starts above the rows kept for it");
    dropInputBefore(layout->inputFirstRow);
    readUpTo(int64_t{layout->inputFirstRow} + layout->inputRows);
    const ImageFloat rows{plan.width, layout->inputRows, input.modelChannels(),
                          window.data() + static_cast<size_t>(layout->inputFirstRow - windowFirst) * rowFloats};
    velmora::Result<ImageFloat> done = context.runBand(
        plan, tileRows, nextBand, rows, [this](float percent) { return reportProgress(&progress, percent); });
    if (done.error().stopped) throw Interrupted();
    if (!done) throw std::runtime_error(done.error().words);
    bandFirst = band.data ? bandFirst + band.height : 0;
    band = *done;
    ++nextBand;
    // Rows the writer has passed: a row's alpha is enlarged with the one above.
    dropSideRowsBefore(bandFirst / scale - 1);
}

void BandStream::readUpTo(int64_t end) {
    end = std::min<int64_t>(end, input.height());
    while (windowFirst + windowCount < end) {
        if (window.size() < static_cast<size_t>(windowCount + 1) * rowFloats)
            window.resize(static_cast<size_t>(windowCount + 1 + windowCount / 8) * rowFloats);
        float* alpha = nullptr;
        float* colour = nullptr;
        if (input.givesAlpha()) alpha = alphaRows.emplace_back(static_cast<size_t>(input.width())).data();
        if (input.colourChannels() > 0)
            colour = colourRows
                         .emplace_back(static_cast<size_t>(input.width()) * static_cast<size_t>(input.colourChannels()))
                         .data();
        input.next(window.data() + static_cast<size_t>(windowCount) * rowFloats, alpha, colour);
        ++windowCount;
    }
}

void BandStream::dropInputBefore(int64_t row) {
    // Rows between what was read and the band's first are read and passed over.
    while (windowFirst + windowCount < row) {
        readUpTo(windowFirst + windowCount + 1);
        windowFirst += windowCount;
        windowCount = 0;
    }
    const int64_t gone = row - windowFirst;
    if (gone <= 0) return;
    // The overlap with the previous band moves to the front.
    std::memmove(window.data(), window.data() + static_cast<size_t>(gone) * rowFloats,
                 static_cast<size_t>(windowCount - gone) * rowFloats * sizeof(float));
    windowFirst = row;
    windowCount -= gone;
}

int64_t BandStream::sideFirst() const {
    return input.rowsRead() - static_cast<int64_t>(std::max(alphaRows.size(), colourRows.size()));
}

void BandStream::dropSideRowsBefore(int64_t row) {
    while (sideFirst() < row && (!alphaRows.empty() || !colourRows.empty())) {
        if (!alphaRows.empty()) alphaRows.pop_front();
        if (!colourRows.empty()) colourRows.pop_front();
    }
}

const float* BandStream::sideRow(std::deque<std::vector<float>>& rows, int32_t y) {
    readUpTo(int64_t{y} + 1);
    const int64_t at = y - sideFirst();
    if (at < 0 || at >= static_cast<int64_t>(rows.size()))
        throw std::logic_error("picture row " + std::to_string(y) + " was asked for after it was passed");
    return rows[static_cast<size_t>(at)].data();
}

const float* BandStream::resultRow(int32_t y) {
    while (y >= bandFirst + band.height) {
        if (nextBand >= bandCount) throw std::logic_error("result row " + std::to_string(y) + " is past the last band");
        runBand();
    }
    if (y < bandFirst) throw std::logic_error("result row " + std::to_string(y) + " was asked for after its band");
    const size_t width = static_cast<size_t>(band.width) * static_cast<size_t>(band.numChannels);
    return band.data + static_cast<size_t>(y - bandFirst) * width;
}

void BandStream::end() {
    if (nextBand != bandCount || bandFirst + band.height != resultHeight)
        throw std::logic_error("the bands ended at result row " + std::to_string(bandFirst + band.height) + " of " +
                               std::to_string(resultHeight));
    input.finish();
}
