#include "image/utils_image_resize_float.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstring>

namespace {

// floor(v) as an integer without a library call; exact for every float whose
// floor fits in 64 bits.
inline int64_t floorToInt(float v) {
    const int64_t i = static_cast<int64_t>(v);
    return static_cast<float>(i) > v ? i - 1 : i;
}

#if defined(__GNUC__)
// Four floats in one register. Each lane computes exactly what the scalar
// code computes for one channel, so the bits are the same.
typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));
typedef uint32_t UInt4 __attribute__((vector_size(16)));

inline Float4 load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store4(float* p, Float4 v) { std::memcpy(p, &v, sizeof v); }
inline Float4 select(Int4 mask, Float4 a, Float4 b) {
    return reinterpret_cast<Float4>((mask & reinterpret_cast<Int4>(a)) | (~mask & reinterpret_cast<Int4>(b)));
}
#endif

// ---- Box averages -------------------------------------------------------

// Blocks of at most this many rows keep their row offsets on the stack.
constexpr int64_t kMaxStackK = 64;

// kC > 0: that many channels, unrolled; kC == 0: src.numChannels.
template <int kC>
void boxAverage(const ImageFloat& src, const ImageFloat& dest, int64_t K) {
    const int64_t C = kC > 0 ? kC : src.numChannels;
    const int64_t srcWidth = src.width, srcHeight = src.height;
    const int64_t destWidth = dest.width, destHeight = dest.height;
    const float weight = (1.0f / static_cast<float>(K)) / static_cast<float>(K);
    // Columns whose whole block lies inside the source need no clamping.
    const int64_t inside = std::min(destWidth, srcWidth / K);

    int64_t rowOffset[kMaxStackK];
    for (int64_t y = 0; y < destHeight; ++y) {
        for (int64_t j = 0; j < K; ++j) rowOffset[j] = std::min(K * y + j, srcHeight - 1) * srcWidth * C;
        float* out = dest.data + y * destWidth * C;

        int64_t x = 0;
#if defined(__GNUC__)
        if constexpr (kC == 3 || kC == 4) {
            // Four lanes per pixel, four pixels at a time: each lane adds in
            // the scalar order, and the four independent sums keep the adder
            // busy instead of waiting on one chain. With 3 channels the
            // fourth lane reads the next element, so the block must end
            // before the image's last pixel, and its store lands on the next
            // pixel, written later, so not after the last pixel either.
            int64_t fourLaneEnd = inside;
            if (kC == 3 && (K * inside >= srcWidth || y == destHeight - 1))
                fourLaneEnd = std::max<int64_t>(inside - 1, 0);
            for (; x + 4 <= fourLaneEnd; x += 4, out += 4 * kC) {
                Float4 acc0 = {}, acc1 = {}, acc2 = {}, acc3 = {};
                for (int64_t j = 0; j < K; ++j) {
                    const float* p = src.data + rowOffset[j] + K * x * kC;
                    for (int64_t i = 0; i < K; ++i, p += kC) {
                        acc0 += load4(p);
                        acc1 += load4(p + K * kC);
                        acc2 += load4(p + 2 * K * kC);
                        acc3 += load4(p + 3 * K * kC);
                    }
                }
                store4(out, acc0 * weight);
                store4(out + kC, acc1 * weight);
                store4(out + 2 * kC, acc2 * weight);
                store4(out + 3 * kC, acc3 * weight);
            }
            for (; x < fourLaneEnd; ++x, out += kC) {
                Float4 acc = {};
                for (int64_t j = 0; j < K; ++j) {
                    const float* p = src.data + rowOffset[j] + K * x * kC;
                    for (int64_t i = 0; i < K; ++i, p += kC) acc += load4(p);
                }
                store4(out, acc * weight);
            }
        }
#endif
        for (; x < inside; ++x, out += C) {
            const float* block = src.data + K * x * C;
            if constexpr (kC > 0) {
                float acc[kC] = {};
                for (int64_t j = 0; j < K; ++j) {
                    const float* p = block + rowOffset[j];
                    for (int64_t i = 0; i < K; ++i, p += kC)
                        for (int ch = 0; ch < kC; ++ch) acc[ch] += p[ch];
                }
                for (int ch = 0; ch < kC; ++ch) out[ch] = acc[ch] * weight;
            } else {
                for (int64_t ch = 0; ch < C; ++ch) {
                    float acc = 0.0f;
                    for (int64_t j = 0; j < K; ++j) {
                        const float* p = block + rowOffset[j] + ch;
                        for (int64_t i = 0; i < K; ++i) acc += p[i * C];
                    }
                    out[ch] = acc * weight;
                }
            }
        }
        for (int64_t x = inside; x < destWidth; ++x, out += C) {
            for (int64_t ch = 0; ch < C; ++ch) {
                float acc = 0.0f;
                for (int64_t j = 0; j < K; ++j)
                    for (int64_t i = 0; i < K; ++i)
                        acc += src.data[rowOffset[j] + std::min(K * x + i, srcWidth - 1) * C + ch];
                out[ch] = acc * weight;
            }
        }
    }
}

// Any K: every index computed where it is used.
void boxAverageLargeK(const ImageFloat& src, const ImageFloat& dest, int64_t K) {
    const int64_t C = src.numChannels;
    const float weight = (1.0f / static_cast<float>(K)) / static_cast<float>(K);
    float* out = dest.data;
    for (int64_t y = 0; y < dest.height; ++y) {
        for (int64_t x = 0; x < dest.width; ++x, out += C) {
            for (int64_t ch = 0; ch < C; ++ch) {
                float acc = 0.0f;
                for (int64_t j = 0; j < K; ++j) {
                    const int64_t sy = std::min<int64_t>(K * y + j, src.height - 1);
                    for (int64_t i = 0; i < K; ++i) {
                        const int64_t sx = std::min<int64_t>(K * x + i, src.width - 1);
                        acc += src.data[(sy * src.width + sx) * C + ch];
                    }
                }
                out[ch] = acc * weight;
            }
        }
    }
}

void boxAverageAnyChannels(const ImageFloat& src, const ImageFloat& dest, int64_t K) {
    if (dest.width <= 0 || dest.height <= 0 || src.width <= 0 || src.height <= 0 || src.numChannels <= 0 || K <= 0)
        return;
    if (K > kMaxStackK) return boxAverageLargeK(src, dest, K);
    switch (src.numChannels) {
        case 1: return boxAverage<1>(src, dest, K);
        case 2: return boxAverage<2>(src, dest, K);
        case 3: return boxAverage<3>(src, dest, K);
        case 4: return boxAverage<4>(src, dest, K);
        default: return boxAverage<0>(src, dest, K);
    }
}

// ---- Bilinear sampling ----------------------------------------------------
//
// Destination rows are produced in bands of kBandRows rows that advance
// together chunk by chunk across the columns. Each chunk first gets a table of
// its columns' horizontal weights and source offsets, filled in vector blocks
// and shared by the rows of the band; the per-pixel work is then only the
// channel arithmetic, and every row is still written front to back.

constexpr int64_t kFillBlock = 4;
constexpr int64_t kChunkColumns = 1024;  // a multiple of kFillBlock
constexpr int64_t kBandRows = 64;

// One chunk of destination columns: {1 - tx, 1 - tx, tx, tx} and the
// element offsets of the left and right source pixels (24 KiB on the stack).
// Multiplied lane by lane with {1 - ty, ty, 1 - ty, ty}, the weights give the
// four corner weights of a sample with one multiplication.
struct ColumnChunk {
    alignas(16) float wx[kChunkColumns][4];
    alignas(16) int32_t offset0[kChunkColumns];
    alignas(16) int32_t offset1[kChunkColumns];
};

// The table holds 32-bit offsets and clamps columns as floats, so the source
// row must fit both.
bool tableFits(const ImageFloat& src) {
    return src.width <= (int64_t{1} << 24) && static_cast<int64_t>(src.width) * src.numChannels <= INT32_MAX;
}

constexpr float kShift = 0.25f;

// x * scale, less the shift. Subtracting a shift of 0 changes no value, so
// both samplers share the expression.
inline float samplePosition(int64_t i, float scale, float shift) { return static_cast<float>(i) * scale - shift; }

// The column fraction is measured from the unclamped floor. The right
// neighbour is also raised to 0, which matters only left of column -1 (never
// reached with non-negative scales). sx is first bounded to +-2^24 so that the
// conversion to an integer is defined; beyond that every float is an integer,
// so the floor is sx itself and the fraction 0 either way. The columns are
// clamped as floats, exact since tableFits. Fills whole blocks of kFillBlock.
#if defined(__GNUC__)
void fillChunk(ColumnChunk& t, int64_t first, int64_t count, float scale, float shift, const ImageFloat& src) {
    const Float4 zero = {0.0f, 0.0f, 0.0f, 0.0f}, one = zero + 1.0f;
    const Float4 limit = zero + 16777216.0f;
    const Float4 lastColumn = zero + static_cast<float>(src.width - 1);
    const int32_t C = src.numChannels;
    // Column numbers stay below 2^31 + kChunkColumns: counted without overflow.
    const uint32_t x = static_cast<uint32_t>(first);
    const UInt4 start = {x, x + 1, x + 2, x + 3};
    Int4 columns = reinterpret_cast<Int4>(start);
    for (int64_t i = 0; i < count; i += kFillBlock, columns += kFillBlock) {
        const Float4 sx = __builtin_convertvector(columns, Float4) * scale - shift;
        Float4 bounded = select(sx < limit, sx, limit);
        bounded = select(bounded > -limit, bounded, -limit);
        const Float4 truncated = __builtin_convertvector(__builtin_convertvector(bounded, Int4), Float4);
        const Float4 floored = truncated - select(truncated > bounded, one, zero);
        const Float4 tx = bounded - floored;
        Float4 x0 = select(floored > zero, floored, zero);
        x0 = select(x0 < lastColumn, x0, lastColumn);
        Float4 x1 = floored + one;
        x1 = select(x1 < lastColumn, x1, lastColumn);
        x1 = select(x1 > zero, x1, zero);
        const Float4 oneMinusTx = one - tx;
        for (int k = 0; k < kFillBlock; ++k) store4(t.wx[i + k], Float4{oneMinusTx[k], oneMinusTx[k], tx[k], tx[k]});
        const Int4 offset0 = __builtin_convertvector(x0, Int4) * C;
        const Int4 offset1 = __builtin_convertvector(x1, Int4) * C;
        std::memcpy(t.offset0 + i, &offset0, sizeof offset0);
        std::memcpy(t.offset1 + i, &offset1, sizeof offset1);
    }
}
#else
void fillChunk(ColumnChunk& t, int64_t first, int64_t count, float scale, float shift, const ImageFloat& src) {
    const float lastColumn = static_cast<float>(src.width - 1);
    const int32_t C = src.numChannels;
    constexpr float kLimit = 16777216.0f;
    for (int64_t i = 0; i < count; ++i) {
        const float sx = samplePosition(first + i, scale, shift);
        float bounded = sx < kLimit ? sx : kLimit;
        bounded = bounded > -kLimit ? bounded : -kLimit;
        const float truncated = static_cast<float>(static_cast<int32_t>(bounded));
        const float floored = truncated - (truncated > bounded ? 1.0f : 0.0f);
        const float tx = bounded - floored;
        float x0 = floored > 0.0f ? floored : 0.0f;
        x0 = x0 < lastColumn ? x0 : lastColumn;
        float x1 = floored + 1.0f;
        x1 = x1 < lastColumn ? x1 : lastColumn;
        x1 = x1 > 0.0f ? x1 : 0.0f;
        t.wx[i][0] = t.wx[i][1] = 1.0f - tx;
        t.wx[i][2] = t.wx[i][3] = tx;
        t.offset0[i] = static_cast<int32_t>(x0) * C;
        t.offset1[i] = static_cast<int32_t>(x1) * C;
    }
}
#endif

// One destination row's source rows and row fraction: the floor raised to 0
// gives both rows (each lowered to the last row) and, unlowered, the fraction.
struct SampleRows {
    const float* row0;
    const float* row1;
    float ty;
    float oneMinusTy;
#if defined(__GNUC__)
    Float4 weights;  // {1 - ty, ty, 1 - ty, ty}
#endif
};

inline SampleRows sampleRows(const ImageFloat& src, int64_t y, float scale, float shift,
                             const ResizeRows& window = {}) {
    // Positions and clamps are those of the whole images; the buffers hold
    // the window's rows.
    const float sy = samplePosition(window.destFirst + y, scale, shift);
    const int64_t fy0 = std::max<int64_t>(floorToInt(sy), 0);
    const int64_t last = (window.srcHeight < 0 ? src.height : window.srcHeight) - 1;
    const int64_t stride = static_cast<int64_t>(src.width) * src.numChannels;
    SampleRows rows{};
    rows.row0 = src.data + (std::min(fy0, last) - window.srcFirst) * stride;
    rows.row1 = src.data + (std::min(fy0 + 1, last) - window.srcFirst) * stride;
    rows.ty = sy - static_cast<float>(fy0);
    rows.oneMinusTy = 1.0f - rows.ty;
#if defined(__GNUC__)
    rows.weights = Float4{rows.oneMinusTy, rows.ty, rows.oneMinusTy, rows.ty};
#endif
    return rows;
}

// Where one destination column samples: corner pixels at element offsets o0
// (left) and o1 (right), horizontal weights wx0 = 1 - tx and wx1 = tx.
struct SampleColumn {
    int64_t o0, o1;
    float wx0, wx1;
};

inline SampleColumn tableColumn(const ColumnChunk& t, int64_t i) {
    return SampleColumn{t.offset0[i], t.offset1[i], t.wx[i][0], t.wx[i][2]};
}

// For sources too wide for the table: computed where it is used.
inline SampleColumn wideColumn(int64_t x, float scale, float shift, const ImageFloat& src) {
    const float sx = samplePosition(x, scale, shift);
    const int64_t fx0 = floorToInt(sx);
    const float tx = sx - static_cast<float>(fx0);
    const int64_t last = src.width - 1, C = src.numChannels;
    return SampleColumn{std::clamp<int64_t>(fx0, 0, last) * C, std::clamp<int64_t>(fx0 + 1, 0, last) * C, 1.0f - tx,
                        tx};
}

// The first `channels` channels of one sample, one at a time.
inline void sampleScalar(const SampleRows& rows, const SampleColumn& c, int64_t channels, float* out) {
    const float w00 = c.wx0 * rows.oneMinusTy, w01 = c.wx0 * rows.ty;
    const float w10 = c.wx1 * rows.oneMinusTy, w11 = c.wx1 * rows.ty;
    const float* a = rows.row0 + c.o0;
    const float* b = rows.row1 + c.o0;
    const float* d = rows.row0 + c.o1;
    const float* e = rows.row1 + c.o1;
    for (int64_t ch = 0; ch < channels; ++ch) out[ch] = w00 * a[ch] + w01 * b[ch] + w10 * d[ch] + w11 * e[ch];
}

#if defined(__GNUC__)
// Four channels of table column i at once, reading 4 floats at each corner
// pixel; with 3 channels the fourth lane holds whatever the next element
// gives.
inline Float4 sampleFour(const SampleRows& rows, const ColumnChunk& t, int64_t i) {
    const Float4 w = load4(t.wx[i]) * rows.weights;  // w00, w01, w10, w11
    const int64_t o0 = t.offset0[i], o1 = t.offset1[i];
    return w[0] * load4(rows.row0 + o0) + w[1] * load4(rows.row1 + o0) + w[2] * load4(rows.row0 + o1) +
           w[3] * load4(rows.row1 + o1);
}
#endif

// Calls rowChunk(table, first, count, rows, y) for every chunk of every
// destination row, band by band; the table describes columns
// [first, first + count).
template <typename RowChunk>
void forEachRowChunk(const ImageFloat& src, int64_t width, int64_t height, float scaleX, float scaleY, float shift,
                     RowChunk&& rowChunk, const ResizeRows& window = {}) {
    ColumnChunk table;
    SampleRows rows[kBandRows];
    for (int64_t band = 0; band < height; band += kBandRows) {
        const int64_t bandRows = std::min(kBandRows, height - band);
        for (int64_t r = 0; r < bandRows; ++r) rows[r] = sampleRows(src, band + r, scaleY, shift, window);
        for (int64_t first = 0; first < width; first += kChunkColumns) {
            const int64_t count = std::min(kChunkColumns, width - first);
            fillChunk(table, first, count, scaleX, shift, src);
            for (int64_t r = 0; r < bandRows; ++r)
                rowChunk(static_cast<const ColumnChunk&>(table), first, count, rows[r], band + r);
        }
    }
}

// kC: 3 and 4 go four lanes at a time, anything else (0: src.numChannels)
// one channel at a time.
template <int kC>
void resizeImage(const ImageFloat& src, const ImageFloat& dest, float scaleX, float scaleY, float shift,
                 const ResizeRows& window) {
    const int64_t C = kC > 0 ? kC : src.numChannels;
    const int64_t width = dest.width, height = dest.height;
    if (!tableFits(src)) {
        float* out = dest.data;
        for (int64_t y = 0; y < height; ++y) {
            const SampleRows rows = sampleRows(src, y, scaleY, shift, window);
            for (int64_t x = 0; x < width; ++x, out += C) sampleScalar(rows, wideColumn(x, scaleX, shift, src), C, out);
        }
        return;
    }
    // Four-lane reads from a pixel left of the last column stay inside its row.
    [[maybe_unused]] const int64_t fourLaneLimit = (src.width - 1) * C;
    forEachRowChunk(
        src, width, height, scaleX, scaleY, shift,
        [&](const ColumnChunk& t, int64_t first, int64_t count, const SampleRows& rows, int64_t y) {
            float* out = dest.data + (y * width + first) * C;
            int64_t i = 0;
#if defined(__GNUC__)
            if constexpr (kC == 3 || kC == 4) {
                // With 3 channels the store's fourth lane lands on the next
                // pixel's first channel, which is written later; except after the
                // image's very last pixel.
                const bool end = kC == 3 && y == height - 1 && first + count == width;
                for (const int64_t n = end ? count - 1 : count; i < n; ++i, out += kC) {
                    if (kC == 4 || t.offset1[i] < fourLaneLimit)
                        store4(out, sampleFour(rows, t, i));
                    else
                        sampleScalar(rows, tableColumn(t, i), kC, out);
                }
            }
#endif
            for (; i < count; ++i, out += C) sampleScalar(rows, tableColumn(t, i), C, out);
        },
        window);
}

void resizeAnyChannels(const ImageFloat& src, const ImageFloat& dest, float scaleX, float scaleY, float shift,
                       const ResizeRows& window = {}) {
    if (dest.width <= 0 || dest.height <= 0 || src.width <= 0 || src.height <= 0 || src.numChannels <= 0) return;
    switch (src.numChannels) {
        case 1: return resizeImage<1>(src, dest, scaleX, scaleY, shift, window);
        case 2: return resizeImage<2>(src, dest, scaleX, scaleY, shift, window);
        case 3: return resizeImage<3>(src, dest, scaleX, scaleY, shift, window);
        case 4: return resizeImage<4>(src, dest, scaleX, scaleY, shift, window);
        default: return resizeImage<0>(src, dest, scaleX, scaleY, shift, window);
    }
}

// ---- Detail transfer --------------------------------------------------------

// The images of one transfer, each with its own channel count.
struct Transfer {
    const ImageFloat& src;  // src_full_scale
    const ImageFloat& target;
    const ImageFloat& reference;
    const ImageFloat& low;
    int64_t channels;  // common channels of src and low
};

// Samples the first `channels` channels of one pixel, up to 16 at a time,
// handing each group to use(first channel, count, samples).
template <typename Use>
inline void forSampleGroups(const SampleRows& rows, const SampleColumn& c, int64_t channels, Use use) {
    constexpr int64_t kGroup = 16;
    float sample[kGroup];
    for (int64_t ch0 = 0; ch0 < channels; ch0 += kGroup) {
        const int64_t n = std::min(kGroup, channels - ch0);
        SampleRows shifted = rows;
        shifted.row0 += ch0;
        shifted.row1 += ch0;
        sampleScalar(shifted, c, n, sample);
        use(ch0, n, sample);
    }
}

// t = (r - sample) + s for the common channels of one pixel, one at a time.
inline void combineScalar(const SampleRows& rows, const SampleColumn& c, int64_t channels, const float* s,
                          const float* r, float* t) {
    forSampleGroups(rows, c, channels, [&](int64_t ch0, int64_t n, const float* sample) {
        for (int64_t ch = 0; ch < n; ++ch) t[ch0 + ch] = r[ch0 + ch] - sample[ch] + s[ch0 + ch];
    });
}

// kC 3 or 4: src, target and reference all have kC channels and low at least
// as many; the pixel goes four lanes at a time where all reads stay inside
// the rows (not the row's last pixel). Only kC floats are stored: with 3
// channels a fourth would overlap the next pixel's loads from src, which in
// place is the same memory.
template <int kC>
void transferChunk(const Transfer& tr, const ColumnChunk& t, int64_t first, int64_t count, const SampleRows& rows,
                   int64_t y) {
    const int64_t cs = tr.src.numChannels, ct = tr.target.numChannels;
    const int64_t cr = tr.reference.numChannels;
    const float* s = tr.src.data + (y * tr.src.width + first) * cs;
    const float* r = tr.reference.data + (y * tr.reference.width + first) * cr;
    float* out = tr.target.data + (y * tr.target.width + first) * ct;
    int64_t i = 0;
#if defined(__GNUC__)
    if constexpr (kC == 3 || kC == 4) {
        const int64_t fourLaneLimit = (tr.low.width - 1) * tr.low.numChannels;
        const bool lowFour = tr.low.numChannels == 4;
        const int64_t n = first + count == tr.target.width ? count - 1 : count;
        for (; i < n; ++i, s += kC, r += kC, out += kC) {
            if (lowFour || t.offset1[i] < fourLaneLimit) {
                const Float4 v = load4(r) - sampleFour(rows, t, i) + load4(s);
                std::memcpy(out, &v, kC * sizeof(float));
            } else {
                combineScalar(rows, tableColumn(t, i), kC, s, r, out);
            }
        }
    }
#endif
    for (; i < count; ++i, s += cs, r += cr, out += ct) combineScalar(rows, tableColumn(t, i), tr.channels, s, r, out);
}

void transferWide(const Transfer& tr, float invK) {
    const int64_t cs = tr.src.numChannels, ct = tr.target.numChannels;
    const int64_t cr = tr.reference.numChannels;
    for (int64_t y = 0; y < tr.target.height; ++y) {
        const SampleRows rows = sampleRows(tr.low, y, invK, 0.0f);
        const float* s = tr.src.data + y * tr.src.width * cs;
        const float* r = tr.reference.data + y * tr.reference.width * cr;
        float* out = tr.target.data + y * tr.target.width * ct;
        for (int64_t x = 0; x < tr.target.width; ++x, s += cs, r += cr, out += ct)
            combineScalar(rows, wideColumn(x, invK, 0.0f, tr.low), tr.channels, s, r, out);
    }
}

template <int kC>
void transferImage(const Transfer& tr, float invK) {
    forEachRowChunk(tr.low, tr.target.width, tr.target.height, invK, invK, 0.0f,
                    [&](const ColumnChunk& t, int64_t first, int64_t count, const SampleRows& rows, int64_t y) {
                        transferChunk<kC>(tr, t, first, count, rows, y);
                    });
}

// ---- Adding a sample ------------------------------------------------------

// out[ch] += sample for the first `channels` channels of one pixel.
inline void addSample(const SampleRows& rows, const SampleColumn& c, int64_t channels, float* out) {
    forSampleGroups(rows, c, channels, [&](int64_t ch0, int64_t n, const float* sample) {
        for (int64_t ch = 0; ch < n; ++ch) out[ch0 + ch] += sample[ch];
    });
}

// ---- Unit scale -------------------------------------------------------------

// At scale 1 every sample lands on a pixel: the weights are 1 for the pixel
// itself and +0 for its right, lower and lower-right neighbours, summed in
// the general resize's order. A product with 1 is the value itself.
inline float sample(float self, float below, float right, float belowRight) {
    return self + 0.0f * below + 0.0f * right + 0.0f * belowRight;
}

// One row: `count` elements with a right neighbour `channels` elements on.
void sampleRow(float* out, const float* row, const float* next, int64_t count, int64_t channels) {
    int64_t i = 0;
#if defined(__GNUC__)
    const Float4 zero = {0.0f, 0.0f, 0.0f, 0.0f};
    for (; i + 4 <= count; i += 4) {
        const Float4 v = load4(row + i) + zero * load4(next + i) + zero * load4(row + i + channels) +
                         zero * load4(next + i + channels);
        std::memcpy(out + i, &v, sizeof v);
    }
#endif
    for (; i < count; ++i) out[i] = sample(row[i], next[i], row[i + channels], next[i + channels]);
}

}  // namespace

void downsampleBox(const ImageFloat& src, ImageFloat dest, int32_t downsamplingK) {
    assert(dest.width * downsamplingK == src.width);
    assert(dest.height * downsamplingK == src.height);
    assert(dest.data != nullptr);
    boxAverageAnyChannels(src, dest, downsamplingK);
}

void downsampleBoxClamped(const ImageFloat& src, ImageFloat dest, int32_t downsamplingK) {
    boxAverageAnyChannels(src, dest, downsamplingK);
}

void resizeBilinear(const ImageFloat& src, ImageFloat dest, float scaleX, float scaleY) {
    assert(src.numChannels == dest.numChannels);
    // At scale 1 every sample lands on a pixel: the direct form gives the
    // same bits several times faster.
    if (scaleX == 1.0f && scaleY == 1.0f && copyAtUnitScale(src, dest)) return;
    resizeAnyChannels(src, dest, scaleX, scaleY, 0.0f);
}

void resizeBilinearRows(const ImageFloat& src, ImageFloat dest, float scaleX, float scaleY, const ResizeRows& window) {
    assert(src.numChannels == dest.numChannels);
    resizeAnyChannels(src, dest, scaleX, scaleY, 0.0f, window);
}

void upsampleBilinearShifted(const ImageFloat& src, ImageFloat dest, float scaleX, float scaleY) {
    resizeAnyChannels(src, dest, scaleX, scaleY, kShift);
}

void addBilinear(const ImageFloat& src, ImageFloat dest, float scaleX, float scaleY) {
    const int64_t channels = std::min(src.numChannels, dest.numChannels);
    if (channels <= 0 || src.width <= 0 || src.height <= 0 || dest.width <= 0 || dest.height <= 0) return;
    const int64_t cd = dest.numChannels;
    if (!tableFits(src)) {
        for (int64_t y = 0; y < dest.height; ++y) {
            const SampleRows rows = sampleRows(src, y, scaleY, 0.0f);
            float* out = dest.data + y * dest.width * cd;
            for (int64_t x = 0; x < dest.width; ++x, out += cd)
                addSample(rows, wideColumn(x, scaleX, 0.0f, src), channels, out);
        }
        return;
    }
    forEachRowChunk(src, dest.width, dest.height, scaleX, scaleY, 0.0f,
                    [&](const ColumnChunk& t, int64_t first, int64_t count, const SampleRows& rows, int64_t y) {
                        float* out = dest.data + (y * dest.width + first) * cd;
                        for (int64_t i = 0; i < count; ++i, out += cd)
                            addSample(rows, tableColumn(t, i), channels, out);
                    });
}

void transferDetail(const ImageFloat& src_full_scale, ImageFloat target_full_scale, const ImageFloat& reference,
                    const ImageFloat& low, int32_t downsamplingK) {
    assert(src_full_scale.width == target_full_scale.width);
    assert(src_full_scale.height == target_full_scale.height);
    assert(src_full_scale.numChannels == target_full_scale.numChannels);
    const int64_t channels = std::min(src_full_scale.numChannels, low.numChannels);
    if (channels <= 0 || low.width <= 0 || low.height <= 0 || target_full_scale.width <= 0 ||
        target_full_scale.height <= 0)
        return;
    const float invK = 1.0f / static_cast<float>(downsamplingK);
    const Transfer tr{src_full_scale, target_full_scale, reference, low, channels};
    if (!tableFits(low)) return transferWide(tr, invK);
    const int64_t c = src_full_scale.numChannels;
    const bool same = reference.numChannels == c && channels == c;
    if (same && c == 3) return transferImage<3>(tr, invK);
    if (same && c == 4) return transferImage<4>(tr, invK);
    transferImage<0>(tr, invK);
}

bool copyAtUnitScale(const ImageFloat& src, const ImageFloat& dest) {
    // Up to 2^24 every pixel coordinate is exact as a float, so the general
    // resize samples exactly at the pixels.
    constexpr int32_t kExactLimit = int32_t{1} << 24;
    if (src.width != dest.width || src.height != dest.height || src.numChannels != dest.numChannels) return false;
    if (src.width > kExactLimit || src.height > kExactLimit) return false;
    if (src.width <= 0 || src.height <= 0 || src.numChannels <= 0) return true;  // nothing to write

    const int64_t channels = src.numChannels;
    const int64_t stride = static_cast<int64_t>(src.width) * channels;
    const int64_t inner = stride - channels;  // pixels with a right neighbour
    for (int64_t y = 0; y < src.height; ++y) {
        const float* row = src.data + y * stride;
        const float* next = src.data + std::min<int64_t>(y + 1, src.height - 1) * stride;
        float* out = dest.data + y * stride;
        sampleRow(out, row, next, inner, channels);
        // The last column is its own right neighbour.
        for (int64_t i = inner; i < stride; ++i) out[i] = sample(row[i], next[i], row[i], next[i]);
    }
    return true;
}
