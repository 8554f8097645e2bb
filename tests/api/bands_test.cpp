// A plan of tiles run a band of rows at a time gives the in-memory run's
// result, bit for bit: hard cut and blended, shrunk or not, enlarging or not,
// whatever the band's height; progress covers the whole picture.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "api/host.h"

namespace {

struct Case {
    const char* model;
    int32_t downscale;
    int32_t blend;
    int32_t tileRows;
};

std::vector<float> picture(int w, int h) {
    std::vector<float> v(static_cast<size_t>(w) * h * 3);
    uint32_t s = 11;
    for (size_t i = 0; i < v.size(); ++i) {
        s = s * 1664525u + 1013904223u;
        v[i] = static_cast<float>((s >> 8) % 1000) / 999.0f;
    }
    return v;
}

struct Percents {
    std::vector<float> heard;
    static bool record(void* self, float percent) {
        static_cast<Percents*>(self)->heard.push_back(percent);
        return false;
    }
};

}  // namespace

TEST(Bands, StreamedBandsGiveTheInMemoryResultBitForBit) {
    const int w = 203, h = 261;
    std::vector<float> image = picture(w, h);
    for (const Case& c :
         {Case{"conv5_open.onnx", 1, VELMORA_BLEND_OFF, 1}, Case{"conv5_open.onnx", 1, VELMORA_BLEND_ON, 2},
          Case{"conv5_open.onnx", 2, VELMORA_BLEND_OFF, 1}, Case{"conv5_open.onnx", 2, VELMORA_BLEND_ON, 1},
          Case{"up2_conv_open.onnx", 1, VELMORA_BLEND_ON, 1}, Case{"up2_conv_open.onnx", 2, VELMORA_BLEND_OFF, 3}}) {
        SCOPED_TRACE(testing::Message() << c.model << " K=" << c.downscale << " blend=" << c.blend
                                        << " rows=" << c.tileRows);
        HostContext host;
        ASSERT_TRUE(host.load(c.model));
        VelmoraPlanRequest r{};
        r.size = sizeof r;
        r.width = w;
        r.height = h;
        r.channels = 3;
        r.tileSize = 48;
        r.step = 32;
        r.downscale = c.downscale;
        r.blend = c.blend;
        VelmoraPlan plan{};
        plan.size = sizeof plan;
        ASSERT_TRUE(velmoraPlan(host, &r, &plan)) << host.errors();
        const ImageFloat whole = velmoraPredict(host, ImageFloat{w, h, 3, image.data()}, &plan, nullptr, nullptr);
        ASSERT_NE(whole.data, nullptr) << host.errors();
        const std::vector<float> expected(whole.data, whole.data + static_cast<size_t>(whole.width) * whole.height * 3);
        const int resultWidth = whole.width;

        std::vector<float> streamed;
        Percents percents;
        VelmoraBand band{};
        band.size = sizeof band;
        for (int32_t i = 0; i == 0 || i < band.count; ++i) {
            ASSERT_TRUE(velmoraBand(host, &plan, c.tileRows, i, &band)) << host.errors();
            ASSERT_EQ(band.resultFirstRow * resultWidth * 3, static_cast<int64_t>(streamed.size()));
            // Only the rows the band asks for, as a streaming reader has them.
            std::vector<float> rows(
                image.begin() + static_cast<ptrdiff_t>(band.inputFirstRow) * w * 3,
                image.begin() + static_cast<ptrdiff_t>(band.inputFirstRow + band.inputRows) * w * 3);
            const ImageFloat out =
                velmoraPredictBand(host, &plan, c.tileRows, i, ImageFloat{w, band.inputRows, 3, rows.data()},
                                   &Percents::record, &percents);
            ASSERT_NE(out.data, nullptr) << host.errors();
            ASSERT_EQ(out.width, resultWidth);
            ASSERT_EQ(out.height, band.resultRows);
            streamed.insert(streamed.end(), out.data, out.data + static_cast<size_t>(out.width) * out.height * 3);
        }
        ASSERT_GT(band.count, 1);
        ASSERT_EQ(streamed.size(), expected.size());
        EXPECT_EQ(std::memcmp(streamed.data(), expected.data(), expected.size() * sizeof(float)), 0);
        // One share before each of the picture's tiles, each tile run once
        // however the bands share them, rising, and 100 once at the end.
        EXPECT_EQ(static_cast<int64_t>(percents.heard.size()), plan.runs + 1);
        ASSERT_FALSE(percents.heard.empty());
        EXPECT_EQ(percents.heard.back(), 100.0f);
        for (size_t k = 1; k < percents.heard.size(); ++k) EXPECT_GE(percents.heard[k], percents.heard[k - 1]);

        // A band run out of order runs the tiles it shares and gives the same rows.
        const int32_t again = band.count / 2;
        ASSERT_TRUE(velmoraBand(host, &plan, c.tileRows, again, &band));
        std::vector<float> rows(image.begin() + static_cast<ptrdiff_t>(band.inputFirstRow) * w * 3,
                                image.begin() + static_cast<ptrdiff_t>(band.inputFirstRow + band.inputRows) * w * 3);
        const ImageFloat out = velmoraPredictBand(host, &plan, c.tileRows, again,
                                                  ImageFloat{w, band.inputRows, 3, rows.data()}, nullptr, nullptr);
        ASSERT_NE(out.data, nullptr) << host.errors();
        EXPECT_EQ(std::memcmp(out.data, expected.data() + static_cast<size_t>(band.resultFirstRow) * resultWidth * 3,
                              static_cast<size_t>(out.height) * resultWidth * 3 * sizeof(float)),
                  0);
    }
}
