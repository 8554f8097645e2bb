#include "image/utils_image_cropping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <tuple>

#include "image_test_support.h"

namespace {

// ---- cropPatch ------------------------------------------------------------

std::vector<float> cropReference(const OwnedImage& full, int32_t pw, int32_t ph, int32_t x, int32_t y) {
    const int32_t c = full.image.numChannels;
    std::vector<float> out(static_cast<size_t>(pw) * ph * c);
    for (int32_t r = 0; r < ph; ++r)
        for (int32_t col = 0; col < pw; ++col) {
            const int64_t sx = std::clamp<int64_t>(int64_t{x} + col, 0, full.image.width - 1);
            const int64_t sy = std::clamp<int64_t>(int64_t{y} + r, 0, full.image.height - 1);
            for (int32_t ch = 0; ch < c; ++ch) out[(static_cast<size_t>(r) * pw + col) * c + ch] = full.at(sx, sy, ch);
        }
    return out;
}

// A coordinate that puts a patch of `patch` pixels inside, across an edge or
// wholly outside an image of `size` pixels.
int32_t randomPosition(std::mt19937& rng, int32_t size, int32_t patch) {
    switch (randomInt(rng, 0, 4)) {
        case 0: return randomInt(rng, 0, std::max(0, size - patch));  // inside
        case 1: return randomInt(rng, -patch + 1, 0);                 // across the start
        case 2: return randomInt(rng, size - patch, size - 1);        // across the end
        case 3: return randomInt(rng, -3 * patch, -patch);            // before
        default: return randomInt(rng, size, size + 2 * patch);       // beyond
    }
}

TEST(CropPatch, MatchesClampedReferenceAtRandomPositions) {
    std::mt19937 rng(21);
    for (int round = 0; round < 400; ++round) {
        const int32_t c = randomInt(rng, 1, 5);
        const int32_t fw = randomInt(rng, 1, 40), fh = randomInt(rng, 1, 40);
        const int32_t pw = randomInt(rng, 1, 50), ph = randomInt(rng, 1, 50);
        const OwnedImage full = randomImage(rng, fw, fh, c);
        const int32_t x = randomPosition(rng, fw, pw), y = randomPosition(rng, fh, ph);
        OwnedImage patch(pw, ph, c, -7.0f);
        cropPatch(full.image, patch.image, x, y);
        ASSERT_TRUE(sameBits(cropReference(full, pw, ph, x, y), patch.pixels))
            << "full " << fw << "x" << fh << "x" << c << ", patch " << pw << "x" << ph << " at (" << x << ", " << y
            << ")";
    }
}

TEST(CropPatch, CornerOutsideReplicatesFirstRowAndColumn) {
    OwnedImage full(3, 3, 1);
    for (int i = 0; i < 9; ++i) full.pixels[i] = static_cast<float>(i);  // value = 3 y + x
    OwnedImage patch(4, 4, 1);
    cropPatch(full.image, patch.image, -2, -2);
    EXPECT_EQ(patch.pixels, (std::vector<float>{0, 0, 0, 1,  //
                                                0, 0, 0, 1,  //
                                                0, 0, 0, 1,  //
                                                3, 3, 3, 4}));

    // At or beyond the right edge each row is its last pixel.
    OwnedImage right(2, 3, 1);
    cropPatch(full.image, right.image, 3, 0);
    EXPECT_EQ(right.pixels, (std::vector<float>{2, 2, 5, 5, 8, 8}));
}

TEST(CropPatch, NullFullImageLeavesPatchUntouched) {
    OwnedImage patch(2, 2, 3, 4.5f);
    cropPatch(ImageFloat{5, 5, 3, nullptr}, patch.image, 0, 0);
    cropPatch(ImageFloat{0, 0, 0, nullptr}, patch.image, 0, 0);
    EXPECT_EQ(patch.pixels, std::vector<float>(12, 4.5f));
}

// ---- pastePatch -----------------------------------------------------------

template <typename T>
void pasteReference(std::vector<T>& full, int32_t fw, int32_t fh, const std::vector<T>& patch, int32_t pw, int32_t ph,
                    int32_t c, int32_t x, int32_t y, int32_t px, int32_t py, int32_t w, int32_t h) {
    if (w < 0) w = pw;
    if (h < 0) h = ph;
    for (int32_t r = 0; r < h; ++r)
        for (int32_t col = 0; col < w; ++col) {
            const int64_t fx = int64_t{x} + col, fy = int64_t{y} + r;
            if (fx < 0 || fy < 0 || fx >= fw || fy >= fh) continue;
            for (int32_t ch = 0; ch < c; ++ch)
                full[static_cast<size_t>((fy * fw + fx) * c + ch)] =
                    patch[static_cast<size_t>(((int64_t{py} + r) * pw + px + col) * c + ch)];
        }
}

struct PasteCase {
    int32_t c, fw, fh, pw, ph, x, y, px, py, w, h;
};

PasteCase randomPasteCase(std::mt19937& rng) {
    PasteCase p{};
    p.c = randomInt(rng, 1, 5);
    p.fw = randomInt(rng, 1, 40);
    p.fh = randomInt(rng, 1, 40);
    p.pw = randomInt(rng, 1, 30);
    p.ph = randomInt(rng, 1, 30);
    // The rectangle stays inside the patch, or is the whole patch (-1).
    p.px = randomInt(rng, 0, p.pw - 1);
    p.py = randomInt(rng, 0, p.ph - 1);
    p.w = randomInt(rng, 0, 5) == 0 ? -1 : randomInt(rng, 0, p.pw - p.px);
    p.h = randomInt(rng, 0, 5) == 0 ? -1 : randomInt(rng, 0, p.ph - p.py);
    if (p.w < 0) p.px = 0;
    if (p.h < 0) p.py = 0;
    p.x = randomPosition(rng, p.fw, p.w < 0 ? p.pw : std::max(p.w, 1));
    p.y = randomPosition(rng, p.fh, p.h < 0 ? p.ph : std::max(p.h, 1));
    return p;
}

TEST(PastePatch, FloatMatchesClippedReference) {
    std::mt19937 rng(22);
    for (int round = 0; round < 400; ++round) {
        const PasteCase p = randomPasteCase(rng);
        OwnedImage full = randomImage(rng, p.fw, p.fh, p.c);
        const OwnedImage patch = randomImage(rng, p.pw, p.ph, p.c);
        std::vector<float> expected = full.pixels;
        pasteReference(expected, p.fw, p.fh, patch.pixels, p.pw, p.ph, p.c, p.x, p.y, p.px, p.py, p.w, p.h);
        pastePatch(full.image, patch.image, p.x, p.y, p.px, p.py, p.w, p.h);
        ASSERT_TRUE(sameBits(expected, full.pixels))
            << "full " << p.fw << "x" << p.fh << "x" << p.c << ", patch " << p.pw << "x" << p.ph << ", rect " << p.w
            << "x" << p.h << " at (" << p.px << ", " << p.py << ") to (" << p.x << ", " << p.y << ")";
    }
}

TEST(PastePatch, ByteMatchesClippedReference) {
    std::mt19937 rng(23);
    for (int round = 0; round < 400; ++round) {
        const PasteCase p = randomPasteCase(rng);
        std::vector<uint8_t> full(static_cast<size_t>(p.fw) * p.fh * p.c);
        std::vector<uint8_t> patch(static_cast<size_t>(p.pw) * p.ph * p.c);
        for (uint8_t& v : full) v = static_cast<uint8_t>(rng());
        for (uint8_t& v : patch) v = static_cast<uint8_t>(rng());
        std::vector<uint8_t> expected = full;
        pasteReference(expected, p.fw, p.fh, patch, p.pw, p.ph, p.c, p.x, p.y, p.px, p.py, p.w, p.h);
        pastePatch(ImageByte{p.fw, p.fh, p.c, full.data()}, ImageByte{p.pw, p.ph, p.c, patch.data()}, p.x, p.y, p.px,
                   p.py, p.w, p.h);
        ASSERT_EQ(expected, full) << "full " << p.fw << "x" << p.fh << "x" << p.c << ", rect " << p.w << "x" << p.h
                                  << " to (" << p.x << ", " << p.y << ")";
    }
}

TEST(PastePatch, NegativeCornerShiftsTheSourceRectangle) {
    // 10 x 10 at (-3, 5) into 100 x 8: patch columns 3..9 land in columns
    // 0..6, patch rows 0..2 in rows 5..7.
    OwnedImage full(100, 8, 1, -1.0f);
    OwnedImage patch(10, 10, 1);
    for (int i = 0; i < 100; ++i) patch.pixels[i] = static_cast<float>(i);  // 10 row + col
    pastePatch(full.image, patch.image, -3, 5, 0, 0, 10, 10);
    int changed = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 100; ++x) {
            if (full.at(x, y, 0) == -1.0f) continue;
            ++changed;
            EXPECT_EQ(full.at(x, y, 0), static_cast<float>(10 * (y - 5) + x + 3));
        }
    EXPECT_EQ(changed, 21);
}

TEST(PastePatch, WhollyOutsideCopiesNothing) {
    OwnedImage full(6, 4, 2, 1.0f);
    const OwnedImage patch(3, 3, 2, 9.0f);
    for (const auto& [x, y] :
         std::vector<std::pair<int, int>>{{6, 0}, {-3, 0}, {0, 4}, {0, -3}, {100, 100}, {-50, -50}})
        pastePatch(full.image, patch.image, x, y, 0, 0, -1, -1);
    EXPECT_EQ(full.pixels, std::vector<float>(48, 1.0f));
}

// A tile pasted at the far end of an image of more than 2^31 elements.
TEST(PastePatch, LandsBeyondTwoToThe31Elements) {
    const ImageFloat& floats = hugeFloatImage();
    ImageBuffer<ImageByte> byteImage;
    if (floats.data == nullptr || !byteImage.resize(65536, 32769, 1))
        GTEST_SKIP() << "not enough memory for images of 2^31 + 2^16 pixels";
    const int64_t width = 65536;
    auto offset = [&](int64_t x, int64_t y) { return y * width + x; };
    const ImageByte bytes = byteImage.view();

    uint8_t bytePatch[6] = {1, 2, 3, 4, 5, 6};
    float floatPatch[6] = {1.5f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f};
    pastePatch(bytes, ImageByte{3, 2, 1, bytePatch}, 65533, 32767, 0, 0, -1, -1);
    pastePatch(floats, ImageFloat{3, 2, 1, floatPatch}, 65533, 32767, 0, 0, -1, -1);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(bytes.data[offset(65533 + c, 32767 + r)], bytePatch[r * 3 + c]);
            EXPECT_EQ(floats.data[offset(65533 + c, 32767 + r)], floatPatch[r * 3 + c]);
        }
    byteImage.reset();

    // And cut back out, reaching past the bottom-right corner.
    float cut[9];
    cropPatch(floats, ImageFloat{3, 3, 1, cut}, 65534, 32767);
    EXPECT_EQ(cut[0], 2.5f);
    EXPECT_EQ(cut[1], 3.5f);
    EXPECT_EQ(cut[2], 3.5f);
    EXPECT_EQ(cut[3], 5.5f);
    EXPECT_EQ(cut[8], 6.5f);
}

#ifndef NDEBUG
TEST(CroppingDeathTest, ChannelMismatchFailsTheAssertion) {
    float a[12] = {}, b[12] = {};
    uint8_t c[12] = {}, d[12] = {};
    const char* expected = "utils_image_cropping.*fullImage.numChannels == patchImage.numChannels";
    EXPECT_DEATH(cropPatch(ImageFloat{2, 2, 3, a}, ImageFloat{2, 2, 1, b}, 0, 0), expected);
    EXPECT_DEATH(pastePatch(ImageFloat{2, 2, 3, a}, ImageFloat{2, 2, 1, b}, 0, 0, 0, 0, -1, -1), expected);
    EXPECT_DEATH(pastePatch(ImageByte{2, 2, 3, c}, ImageByte{2, 2, 1, d}, 0, 0, 0, 0, -1, -1), expected);
}
#endif

// ---- parallelFor ----------------------------------------------------------

struct Chunk {
    int64_t from, to;
    bool onCaller;
    bool operator==(const Chunk&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Chunk& c) {
    return os << "[" << c.from << ", " << c.to << (c.onCaller ? "] caller" : "] worker");
}

// A thread source with a chosen hardware thread count that counts the threads
// it starts, fresh for each test.
class ParallelForTest : public ::testing::Test {
protected:
    static inline unsigned hardwareThreads = 4;
    static inline std::atomic<int> threadsStarted{0};
    static inline int failOnStart = -1;  // which start (0-based) fails, -1 for none

    static std::thread countingStarter(std::function<void()> work) {
        const int index = threadsStarted++;
        if (index == failOnStart)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        return std::thread(std::move(work));
    }

    void SetUp() override {
        hardwareThreads = 4;
        threadsStarted = 0;
        failOnStart = -1;
    }

    static ThreadSource counting() {
        return ThreadSource{[] { return hardwareThreads; }, countingStarter};
    }
    static ParallelForConfig counted(ParallelForConfig config) {
        config.threads = counting();
        return config;
    }

    // Runs parallelFor and returns the chunks sorted by start.
    std::vector<Chunk> chunksOf(ParallelForConfig config, int64_t first, int64_t last, bool* result = nullptr) {
        config = counted(config);
        std::mutex mutex;
        std::vector<Chunk> chunks;
        const std::thread::id caller = std::this_thread::get_id();
        const bool ran = parallelFor(config, first, last, [&](int64_t from, int64_t to) {
            std::lock_guard<std::mutex> lock(mutex);
            chunks.push_back({from, to, std::this_thread::get_id() == caller});
        });
        if (result) *result = ran;
        std::sort(chunks.begin(), chunks.end(), [](const Chunk& a, const Chunk& b) { return a.from < b.from; });
        return chunks;
    }
};

TEST_F(ParallelForTest, FiveIndicesOverFourThreadsLeaveTheCallerAnEmptyChunk) {
    bool ran = false;
    const std::vector<Chunk> chunks = chunksOf({true, 0}, 0, 4, &ran);
    EXPECT_TRUE(ran);
    EXPECT_EQ(chunks, (std::vector<Chunk>{{0, 1, false}, {2, 3, false}, {4, 4, false}, {6, 4, true}}));
    EXPECT_EQ(threadsStarted, 3);
}

TEST_F(ParallelForTest, ChunkLengthIsRoundedUpAndBudgetFollowsMaxThreads) {
    hardwareThreads = 3;
    EXPECT_EQ(chunksOf({true, 0}, 10, 19), (std::vector<Chunk>{{10, 13, false}, {14, 17, false}, {18, 19, true}}));
    EXPECT_EQ(chunksOf({true, 2}, 10, 19), (std::vector<Chunk>{{10, 14, false}, {15, 19, true}}));
    // maxThreads at or above the hardware count, or not positive, means all of it.
    EXPECT_EQ(chunksOf({true, 3}, 0, 2).size(), 3u);
    EXPECT_EQ(chunksOf({true, 7}, 0, 2).size(), 3u);
    EXPECT_EQ(chunksOf({true, -1}, 0, 2).size(), 3u);
    // Fewer indices than threads: one index each.
    EXPECT_EQ(chunksOf({true, 0}, -1, 0), (std::vector<Chunk>{{-1, -1, false}, {0, 0, true}}));
    EXPECT_EQ(chunksOf({true, 0}, 5, 5), (std::vector<Chunk>{{5, 5, true}}));

    // An unknown hardware count gives two threads.
    hardwareThreads = 0;
    EXPECT_EQ(chunksOf({true, 0}, 0, 9), (std::vector<Chunk>{{0, 4, false}, {5, 9, true}}));
}

TEST_F(ParallelForTest, DisabledRunsEverythingOnTheCaller) {
    EXPECT_EQ(chunksOf({false, 0}, 3, 100), (std::vector<Chunk>{{3, 100, true}}));
    EXPECT_EQ(threadsStarted, 0);
}

TEST_F(ParallelForTest, EmptyRangeRunsNothing) {
    bool ran = true;
    EXPECT_TRUE(chunksOf({true, 0}, 5, 4, &ran).empty());
    EXPECT_FALSE(ran);
    EXPECT_TRUE(chunksOf({false, 0}, 5, 4, &ran).empty());
    EXPECT_FALSE(ran);
    EXPECT_EQ(threadsStarted, 0);
}

TEST_F(ParallelForTest, FailedThreadStartJoinsStartedThreadsThenThrows) {
    failOnStart = 2;
    std::atomic<int> finished{0};
    try {
        parallelFor(counted({true, 0}), 0, 7, [&](int64_t, int64_t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ++finished;
        });
        FAIL() << "no exception";
    } catch (const std::system_error& e) {
        EXPECT_STREQ(e.what(), "resource unavailable try again");
        EXPECT_EQ(e.code(), std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    // The two threads started before the failure have finished, the caller's
    // chunk never ran.
    EXPECT_EQ(finished, 2);
}

TEST_F(ParallelForTest, ExceptionOnTheCallerPropagatesAfterTheWorkersFinish) {
    std::atomic<int> finished{0};
    EXPECT_THROW(parallelFor(counted({true, 0}), 0, 3,
                             [&](int64_t from, int64_t) {
                                 if (from == 3) throw std::runtime_error("caller chunk");
                                 std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                 ++finished;
                             }),
                 std::runtime_error);
    EXPECT_EQ(finished, 3);
}

}  // namespace

TEST_F(ParallelForTest, OnlyLargeFloatPastesStartThreads) {
    // A tile-sized paste stays on the calling thread.
    std::vector<float> small(256 * 256 * 3 * 2, 1.0f);
    ImageFloat tile{256, 256, 3, small.data()};
    std::vector<float> target(512 * 512 * 3 * 2, 0.0f);
    ImageFloat full{512, 512, 3, target.data()};
    pastePatch(full, tile, 10, 10, 0, 0, -1, -1, counting());
    EXPECT_EQ(threadsStarted, 0);
    EXPECT_EQ(target[(10 * 512 + 10) * 3], 1.0f);

    // One of 4 MiB or more is split over the hardware's threads, with the same result.
    const int side = 1024;
    std::vector<float> big(static_cast<size_t>(side) * side + 1, 2.0f);
    ImageFloat bigPatch{side, side, 1, big.data()};
    std::vector<float> bigTarget(static_cast<size_t>(side) * side + 1, 0.0f);
    ImageFloat bigFull{side, side, 1, bigTarget.data()};
    pastePatch(bigFull, bigPatch, 0, 0, 0, 0, -1, -1, counting());
    EXPECT_EQ(threadsStarted, 3);
    EXPECT_EQ(bigTarget[static_cast<size_t>(side) * side - 1], 2.0f);
    EXPECT_EQ(bigTarget[0], 2.0f);
}
