#include "tiling/stock_picture.h"

#include <algorithm>
#include <cmath>

namespace {

// A 5 x 7 font of the lower-case letters a to z, drawn as they look: seven
// rows of 26 glyphs, each 5 dots wide and followed by a space.
constexpr char kFont[] = R"(
..... #.... ..... ....# ..... ..##. ..... #.... ..#.. ...#. #.... .##.. ..... ..... ..... ..... ..... ..... ..... .#... ..... ..... ..... ..... ..... .....
..... #.... ..... ....# ..... .#..# .#### #.... ..... ..... #.... ..#.. ..... ..... ..... ..... ..... ..... ..... .#... ..... ..... ..... ..... ..... .....
.###. ####. .###. .#### .###. .#... #...# #.##. .##.. ..##. #..#. ..#.. ##.#. #.##. .###. ####. .##.# #.##. .###. ###.. #...# #...# #...# #...# #...# #####
....# #...# #.... #...# #...# ###.. #...# ##..# ..#.. ...#. #.#.. ..#.. #.#.# ##..# #...# #...# #..## ##..# #.... .#... #...# #...# #...# .#.#. #...# ...#.
.#### #...# #.... #...# ##### .#... .#### #...# ..#.. ...#. ##... ..#.. #.#.# #...# #...# ####. .#### #.... .###. .#... #...# #...# #.#.# ..#.. .#### ..#..
#...# #...# #...# #...# #.... .#... ....# #...# ..#.. #..#. #.#.. ..#.. #...# #...# #...# #.... ....# #.... ....# .#..# #..## .#.#. #.#.# .#.#. ....# .#...
.#### ####. .###. .#### .###. .#... .###. #...# .###. .##.. #..#. .###. #...# #...# .###. #.... ....# #.... ####. ..##. .##.# ..#.. .#.#. #...# .###. #####
)";

// Whether dot (col, row) of letter `letter` (0 for a) is inked.
bool inked(int32_t letter, int32_t row, int32_t col) {
    constexpr int32_t kRowLength = 26 * 6;  // the last glyph's space is the line feed
    return kFont[1 + row * kRowLength + letter * 6 + col] == '#';
}

// A small deterministic generator (xorshift), so that the picture is the
// same everywhere.
struct Random {
    uint32_t state;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    float unit() { return static_cast<float>(next() >> 8) / 16777216.0f; }
    int32_t below(int32_t n) { return n > 0 ? static_cast<int32_t>(next() % static_cast<uint32_t>(n)) : 0; }
};

struct Canvas {
    const ImageFloat& p;
    float* at(int64_t x, int64_t y) const { return p.data + (y * p.width + x) * p.numChannels; }
    bool inside(int64_t x, int64_t y) const { return x >= 0 && y >= 0 && x < p.width && y < p.height; }
    void blend(int64_t x, int64_t y, const float* colour, float alpha) const {
        if (!inside(x, y)) return;
        float* px = at(x, y);
        for (int32_t c = 0; c < p.numChannels; ++c) px[c] += (colour[c % 3] - px[c]) * alpha;
    }
};

// A word of `letters` glyphs, `scale` pixels per font dot, left end at (x, y).
int64_t drawWord(const Canvas& canvas, Random& random, int64_t x, int64_t y, int32_t letters, int32_t scale,
                 const float* ink) {
    for (int32_t l = 0; l < letters; ++l) {
        const int32_t letter = random.below(26);
        for (int32_t row = 0; row < 7; ++row)
            for (int32_t col = 0; col < 5; ++col)
                if (inked(letter, row, col))
                    for (int32_t dy = 0; dy < scale; ++dy)
                        for (int32_t dx = 0; dx < scale; ++dx)
                            canvas.blend(x + col * scale + dx, y + row * scale + dy, ink, 0.9f);
        x += 6 * scale;
    }
    return x;
}

}  // namespace

void drawStockPicture(const ImageFloat& picture) {
    if (!picture.data || picture.width <= 0 || picture.height <= 0 || picture.numChannels <= 0) return;
    const Canvas canvas{picture};
    Random random{0x9E3779B9u};
    const float w = static_cast<float>(picture.width), h = static_cast<float>(picture.height);
    // Paper with slow shading.
    for (int64_t y = 0; y < picture.height; ++y)
        for (int64_t x = 0; x < picture.width; ++x) {
            float* px = canvas.at(x, y);
            const float shade =
                0.82f + 0.1f * std::sin(static_cast<float>(x) / w * 3.1f + static_cast<float>(y) / h * 1.7f);
            for (int32_t c = 0; c < picture.numChannels; ++c) px[c] = shade - 0.03f * static_cast<float>(c % 3);
        }
    // Coloured shapes: rectangles and discs, some large, most small.
    const int64_t area = int64_t{picture.width} * picture.height;
    const int32_t shapes = static_cast<int32_t>(std::clamp<int64_t>(area / 20000, 4, 400));
    for (int32_t i = 0; i < shapes; ++i) {
        const float colour[3] = {random.unit(), random.unit(), random.unit()};
        const int32_t size =
            4 + random.below(std::max(8, std::min(picture.width, picture.height) / (i % 5 == 0 ? 3 : 12)));
        const int64_t cx = random.below(picture.width), cy = random.below(picture.height);
        const bool disc = random.below(2) == 0;
        for (int64_t y = cy - size; y <= cy + size; ++y)
            for (int64_t x = cx - size; x <= cx + size; ++x) {
                const int64_t dx = x - cx, dy = y - cy;
                if (!disc || dx * dx + dy * dy <= int64_t{size} * size) canvas.blend(x, y, colour, 0.8f);
            }
    }
    // Lines of words in dark ink, at a few sizes.
    const float ink[3] = {0.05f, 0.05f, 0.1f};
    int64_t y = 4 + random.below(12);
    while (y < picture.height) {
        const int32_t scale = 1 + random.below(4);
        int64_t x = 4 + random.below(24);
        const int64_t end = x + random.below(picture.width);
        while (x < std::min<int64_t>(end, picture.width))
            x = drawWord(canvas, random, x, y, 2 + random.below(8), scale, ink) + 4 * scale;
        y += 7 * scale + 6 + random.below(10 * scale + 8);
    }
    // Fine texture.
    for (int64_t i = 0; i < area * picture.numChannels; ++i) {
        float& v = picture.data[i];
        v = std::clamp(v + (random.unit() - 0.5f) * 0.04f, 0.0f, 1.0f);
    }
}
