#include "api/tile_reference.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

float Picture::at(int64_t x, int64_t y, int ch) const {
    x = std::clamp<int64_t>(x, 0, width - 1);
    y = std::clamp<int64_t>(y, 0, height - 1);
    return values[(y * width + x) * channels + ch];
}

Picture makePicture(int width, int height, int channels) {
    return Picture{width, height, channels, std::vector<float>(static_cast<size_t>(width) * height * channels, 0.0f)};
}

namespace {

int64_t ceilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

// Bilinear sample at (sx, sy), edges clamped.
float sample(const Picture& p, double sx, double sy, int ch) {
    const double x0 = std::floor(sx), y0 = std::floor(sy);
    const double fx = sx - x0, fy = sy - y0;
    const auto x = static_cast<int64_t>(x0), y = static_cast<int64_t>(y0);
    return static_cast<float>((1 - fx) * (1 - fy) * p.at(x, y, ch) + (1 - fx) * fy * p.at(x, y + 1, ch) +
                              fx * (1 - fy) * p.at(x + 1, y, ch) + fx * fy * p.at(x + 1, y + 1, ch));
}

// width x height samples of p at (x * scale - shift, y * scale - shift).
Picture resample(const Picture& p, int width, int height, double scale, double shift) {
    Picture out = makePicture(width, height, p.channels);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int ch = 0; ch < p.channels; ++ch) out(x, y, ch) = sample(p, x * scale - shift, y * scale - shift, ch);
    return out;
}

Picture shrink(const Picture& p, int K) {
    Picture out = makePicture(p.width / K, p.height / K, p.channels);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            for (int ch = 0; ch < p.channels; ++ch) {
                double sum = 0;
                for (int j = 0; j < K; ++j)
                    for (int i = 0; i < K; ++i) sum += p.at(int64_t{x} * K + i, int64_t{y} * K + j, ch);
                out(x, y, ch) = static_cast<float>(sum / (K * K));
            }
    return out;
}

Picture cut(const Picture& p, int64_t left, int64_t top, int side) {
    Picture tile = makePicture(side, side, p.channels);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            for (int ch = 0; ch < p.channels; ++ch) tile(x, y, ch) = p.at(left + x, top + y, ch);
    return tile;
}

// Copies the (size x size) square at (from, from) of `part` to (x, y) of `whole`, clipped.
void place(Picture& whole, const Picture& part, int64_t x, int64_t y, int64_t from, int64_t size) {
    for (int64_t r = 0; r < size && y + r < whole.height; ++r)
        for (int64_t c = 0; c < size && x + c < whole.width; ++c)
            for (int ch = 0; ch < whole.channels; ++ch) whole(x + c, y + r, ch) = part.at(from + c, from + r, ch);
}

}  // namespace

Picture runOneTile(DirectRuntime& model, const ModelFacts& facts, const Picture& tile) {
    const int64_t side = tile.width, C = tile.channels;
    std::vector<float> input(tile.values.size());
    for (int64_t y = 0; y < side; ++y)
        for (int64_t x = 0; x < side; ++x)
            for (int64_t ch = 0; ch < C; ++ch)
                input[facts.channelsFirstIn ? (ch * side + y) * side + x : (y * side + x) * C + ch] =
                    tile.values[(y * side + x) * C + ch];
    const std::vector<int64_t> dims =
        facts.channelsFirstIn ? std::vector<int64_t>{1, C, side, side} : std::vector<int64_t>{1, side, side, C};
    const DirectRuntime::Tensor out = model.run(input, dims);
    if (out.dims.size() != 4) throw std::runtime_error("the model's result is not an image");
    const int64_t h = facts.channelsFirstOut ? out.dims[2] : out.dims[1];
    const int64_t w = facts.channelsFirstOut ? out.dims[3] : out.dims[2];
    const int64_t c = facts.channelsFirstOut ? out.dims[1] : out.dims[3];
    Picture result = makePicture(static_cast<int>(w), static_cast<int>(h), static_cast<int>(c));
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x)
            for (int64_t ch = 0; ch < c; ++ch)
                result(x, y, static_cast<int>(ch)) =
                    out.values[facts.channelsFirstOut ? (ch * h + y) * w + x : (y * w + x) * c + ch];
    return result;
}

Picture referenceFloat(DirectRuntime& model, const ModelFacts& facts, const Picture& image, int tile, int step,
                       int downscale) {
    const int K = std::abs(downscale);
    const Picture working = K >= 2 ? shrink(image, K) : image;
    const int margin = (tile - step) / 2;
    // Counted on the full image with K x step, cut on the working one.
    const int64_t across = ceilDiv(image.width, int64_t{K} * step), down = ceilDiv(image.height, int64_t{K} * step);
    Picture stitched;
    int S = 0;
    for (int64_t row = 0; row < down; ++row)
        for (int64_t col = 0; col < across; ++col) {
            const Picture result =
                runOneTile(model, facts, cut(working, col * step - margin, row * step - margin, tile));
            if (S == 0) {
                S = result.width / tile;
                stitched = makePicture(working.width * S, working.height * S, result.channels);
            }
            place(stitched, result, col * step * S, row * step * S, int64_t{margin} * S, int64_t{step} * S);
        }
    if (K == 1) return stitched;
    Picture result = resample(stitched, image.width * S, image.height * S, 1.0 / K, 0.0);
    if (downscale < 0) {
        // The lost detail at the image's size, enlarged S times and added.
        const int channels = std::min(image.channels, result.channels);
        Picture detail = makePicture(image.width, image.height, channels);
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                for (int ch = 0; ch < channels; ++ch)
                    detail(x, y, ch) = image.at(x, y, ch) - sample(working, x / double(K), y / double(K), ch);
        for (int y = 0; y < result.height; ++y)
            for (int x = 0; x < result.width; ++x)
                for (int ch = 0; ch < channels; ++ch)
                    result(x, y, ch) += sample(detail, x / double(S), y / double(S), ch);
    }
    return result;
}

std::vector<uint8_t> referenceBytes(DirectRuntime& model, const ModelFacts& facts, const std::vector<uint8_t>& rgb,
                                    int width, int height, int tile, int step, int downscale, float inputScale,
                                    float outputScale, int* resultWidth, int* resultHeight, int* resultChannels) {
    const int K = std::abs(downscale);
    const int side = tile * K, gridStep = step * K, margin = (side - gridStep) / 2;
    Picture image = makePicture(width, height, 3);
    for (size_t i = 0; i < rgb.size(); ++i) image.values[i] = rgb[i] * inputScale;
    const int64_t across = ceilDiv(width, gridStep), down = ceilDiv(height, gridStep);
    Picture stitched;
    int S = 0;
    for (int64_t row = 0; row < down; ++row)
        for (int64_t col = 0; col < across; ++col) {
            const Picture full = cut(image, col * gridStep - margin, row * gridStep - margin, side);
            const Picture shrunk = K >= 2 ? shrink(full, K) : full;
            Picture result = runOneTile(model, facts, shrunk);
            if (S == 0) {
                S = result.width / tile;
                stitched = makePicture(width * S, height * S, result.channels);
            }
            if (K >= 2) {
                // Enlarged by K within the tile (sampling a quarter pixel up
                // and left), and with a negative factor the tile's lost
                // detail added, enlarged S times.
                result = resample(result, side * S, side * S, 1.0 / K, 0.25);
                if (downscale < 0) {
                    const Picture back = resample(shrunk, side, side, 1.0 / K, 0.25);
                    const int channels = std::min(result.channels, full.channels);
                    Picture detail = makePicture(side, side, channels);
                    for (int y = 0; y < side; ++y)
                        for (int x = 0; x < side; ++x)
                            for (int ch = 0; ch < channels; ++ch)
                                detail(x, y, ch) = full.at(x, y, ch) - back.at(x, y, ch);
                    for (int y = 0; y < result.height; ++y)
                        for (int x = 0; x < result.width; ++x)
                            for (int ch = 0; ch < channels; ++ch)
                                result(x, y, ch) += sample(detail, x / double(S), y / double(S), ch);
                }
            }
            place(stitched, result, col * gridStep * S, row * gridStep * S, int64_t{margin} * S, int64_t{gridStep} * S);
        }
    *resultWidth = stitched.width;
    *resultHeight = stitched.height;
    *resultChannels = stitched.channels;
    std::vector<uint8_t> bytes(stitched.values.size());
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(std::clamp(std::trunc(stitched.values[i] * outputScale + 0.5f), 0.0f, 255.0f));
    return bytes;
}
