#include "tiling/tile_layout.h"

#include <array>

namespace {

// Positions of the channel and of the two sides in a four-dimensional shape.
struct Places {
    Layout layout;
    int channel, height, width;
};
constexpr Places kFirst{Layout::ChannelsFirst, 1, 2, 3};
constexpr Places kLast{Layout::ChannelsLast, 3, 1, 2};
constexpr std::array<Places, 2> kBoth{kFirst, kLast};

const Places& byCode(int32_t layoutCode) { return layoutCode == 0 ? kFirst : kLast; }

bool open(int64_t d) { return d < 0; }
bool matches(int64_t d, int64_t value) { return open(d) || d == value; }

std::string dimText(int64_t d) { return open(d) ? "?" : std::to_string(d); }

// Sides that a model of images would declare: both open, or both fixed and
// equal. A shape read the wrong way round rarely gives that.
bool squareOrOpen(const std::vector<int64_t>& d, const Places& p) {
    const int64_t h = d[p.height], w = d[p.width];
    return (open(h) && open(w)) || (!open(h) && h == w);
}

// Of two candidates the one the shape prefers, else the one the code names.
const Places& prefer(const std::vector<int64_t>& declared, bool firstFits, bool lastFits, int32_t layoutCode) {
    if (firstFits != lastFits) return firstFits ? kFirst : kLast;
    if (declared.size() == 4) {
        const bool firstSquare = squareOrOpen(declared, kFirst), lastSquare = squareOrOpen(declared, kLast);
        if (firstSquare != lastSquare) return firstSquare ? kFirst : kLast;
    }
    return byCode(layoutCode);
}

std::string sizes(int64_t width, int64_t height) { return std::to_string(width) + " x " + std::to_string(height); }

// A side of a result that is a whole multiple S of the tile, S from 1 to the
// largest scale.
bool tileMultiple(int64_t d, int64_t side) { return d > 0 && side > 0 && d % side == 0 && d / side <= kMaxResultScale; }

}  // namespace

std::string shapeText(const std::vector<int64_t>& dims) {
    std::string text = "[";
    for (size_t i = 0; i < dims.size(); ++i) text += (i ? ", " : "") + dimText(dims[i]);
    return text + "]";
}

Layout declaredLayout(const std::vector<int64_t>& declared, int32_t layoutCode) {
    return prefer(declared, true, true, layoutCode).layout;
}

bool readDeclaredImage(const std::vector<int64_t>& declared, int32_t layoutCode, DeclaredImage& image) {
    if (declared.size() != 4) return false;
    const Places& p = prefer(declared, true, true, layoutCode);
    auto size = [](int64_t d) { return open(d) ? int64_t{-1} : d; };
    image = DeclaredImage{p.layout, size(declared[p.width]), size(declared[p.height]), size(declared[p.channel])};
    return true;
}

Expected<TileInput> tileInput(const std::vector<int64_t>& d, int64_t side, int64_t channels, int32_t layoutCode) {
    if (d.size() != 4)
        return failure("takes inputs of shape " + shapeText(d) + ", not tiles of shape [1, C, H, W] or [1, H, W, C]");
    if (!matches(d[0], 1))
        return failure("takes batches of " + std::to_string(d[0]) + " inputs, not one tile at a time");

    auto sidesFit = [&](const Places& p) { return matches(d[p.height], side) && matches(d[p.width], side); };
    auto channelsFit = [&](const Places& p) { return matches(d[p.channel], channels); };
    auto fits = [&](const Places& p) { return sidesFit(p) && channelsFit(p); };

    const bool firstFits = fits(kFirst), lastFits = fits(kLast);
    if (firstFits || lastFits) {
        const Places& p = prefer(d, firstFits, lastFits, layoutCode);
        TileInput input{p.layout, {1, 0, 0, 0}};
        input.dims[p.channel] = channels;
        input.dims[p.height] = side;
        input.dims[p.width] = side;
        return input;
    }

    // Neither fits: name what is wrong under the reading that is nearest.
    auto misses = [&](const Places& p) { return (sidesFit(p) ? 0 : 1) + (channelsFit(p) ? 0 : 1); };
    const Places* nearest = &byCode(layoutCode);
    for (const Places& p : kBoth) {
        const bool better =
            squareOrOpen(d, p) != squareOrOpen(d, *nearest) ? squareOrOpen(d, p) : misses(p) < misses(*nearest);
        if (better) nearest = &p;
    }
    std::string why;
    if (!sidesFit(*nearest))
        why = "takes " + dimText(d[nearest->width]) + " x " + dimText(d[nearest->height]) + " tiles, not " +
              sizes(side, side);
    if (!channelsFit(*nearest))
        why += (why.empty() ? "takes " : "; it takes ") + std::to_string(d[nearest->channel]) +
               " channels, the image has " + std::to_string(channels);
    return failure(why);
}

Expected<TileOutput> tileOutput(const std::vector<int64_t>& d, const std::vector<int64_t>& declared, int64_t side,
                                int32_t layoutCode) {
    const std::string tile = " result for a " + sizes(side, side) + " tile";
    if (d.size() != 4) return failure("returned a " + shapeText(d) + tile);
    auto fits = [&](const Places& p) {
        return d[p.height] == d[p.width] && tileMultiple(d[p.height], side) && d[p.channel] >= 0;
    };
    const Places& p = prefer(declared, fits(kFirst), fits(kLast), layoutCode);
    if (!fits(p)) return failure("returned a " + sizes(d[p.width], d[p.height]) + tile);
    if (d[0] != 1) return failure("returned " + std::to_string(d[0]) + " results for one tile");
    return TileOutput{p.layout, d[p.width], d[p.height], d[p.channel]};
}

Expected<TileForecast> tileForecast(const std::vector<int64_t>& d, int64_t side, int32_t layoutCode) {
    if (d.size() != 4) return failure("returns results of shape " + shapeText(d) + ", not images");
    auto possible = [&](const Places& p) {
        const int64_t h = d[p.height], w = d[p.width];
        if (!open(h) && !open(w) && h != w) return false;
        return (open(h) || tileMultiple(h, side)) && (open(w) || tileMultiple(w, side));
    };
    const Places& p = prefer(d, possible(kFirst), possible(kLast), layoutCode);
    if (!possible(p))
        return failure("returns a " + dimText(d[p.width]) + " x " + dimText(d[p.height]) + " result for a " +
                       sizes(side, side) + " tile");
    TileForecast forecast;
    const int64_t known = !open(d[p.height]) ? d[p.height] : d[p.width];
    if (!open(known)) forecast.scale = known / side;
    if (!open(d[p.channel])) forecast.channels = d[p.channel];
    return forecast;
}

std::vector<int64_t> directInputDims(const std::vector<int64_t>& declared, int64_t width, int64_t height,
                                     int64_t channels, int32_t layoutCode) {
    std::vector<int64_t> dims = declared;
    auto fill = [](int64_t& d, int64_t value) {
        if (open(d)) d = value > 0 ? value : 1;
    };
    if (dims.size() == 4 || dims.size() == 3) {
        // Three dimensions are four without the batch.
        std::vector<int64_t> four = dims;
        if (four.size() == 3) four.insert(four.begin(), 1);
        auto fits = [&](const Places& p) {
            return matches(four[p.channel], channels) && matches(four[p.height], height) &&
                   matches(four[p.width], width);
        };
        const Places& p = prefer(four, fits(kFirst), fits(kLast), layoutCode);
        fill(four[0], 1);
        fill(four[p.channel], channels);
        fill(four[p.height], height);
        fill(four[p.width], width);
        if (dims.size() == 3) four.erase(four.begin());
        return four;
    }
    if (dims.size() == 2) {
        fill(dims[0], height);
        fill(dims[1], width);
        return dims;
    }
    int64_t all = 1;
    if (__builtin_mul_overflow(width, height, &all) || __builtin_mul_overflow(all, channels, &all)) all = 1;
    for (int64_t& d : dims) fill(d, dims.size() == 1 ? all : 1);
    return dims;
}
