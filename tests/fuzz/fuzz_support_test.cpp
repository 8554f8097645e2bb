// The parts of the fuzzers that decide what they call and what they accept:
// the byte form of the calls (seeds and reproducers are written in it) and
// the expected results.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "byte_stream.h"
#include "export_call.h"
#include "export_oracle.h"

namespace {

ExportCall randomCall(std::mt19937& rng) {
    auto any = [&] { return static_cast<int32_t>(rng()); };
    auto small = [&] { return static_cast<int32_t>(rng() % 600) - 300; };
    ExportCall c;
    c.model = static_cast<uint8_t>(rng());
    c.op = static_cast<Export>(rng() % static_cast<unsigned>(Export::Count));
    c.width = rng() % 2 ? any() : small();
    c.height = rng() % 2 ? any() : small();
    c.channels = small();
    c.tile = rng() % 2 ? any() : small();
    c.step = small();
    c.downscale = rng() % 3 ? small() : std::numeric_limits<int32_t>::min();
    c.argmax = rng() % 2;
    c.deleteInCallback = rng() % 2;
    c.noCallback = rng() % 2;
    c.nullData = rng() % 2;
    const uint32_t bits = rng();
    std::memcpy(&c.inputScale, &bits, sizeof bits);
    c.outputScale = kCommonScales[rng() % kCommonScaleCount];
    c.stopAt = static_cast<uint8_t>(rng());
    c.extra = any();
    c.pixels = static_cast<Pixels>(rng() % static_cast<unsigned>(Pixels::Count));
    c.seed = rng();
    c.inner.at = static_cast<uint8_t>(rng());
    c.inner.api = static_cast<Api>(rng() % static_cast<unsigned>(Api::Count));
    c.inner.other = rng() % 2;
    c.inner.fetchWords = rng() % 2;
    c.inner.arg = rng() % 2 ? any() : small();
    return c;
}

}  // namespace

TEST(FuzzCalls, NumbersAndScalesReadBackAsWritten) {
    const int32_t numbers[] = {0,
                               1,
                               255,
                               256,
                               -1,
                               -128,
                               127,
                               -129,
                               32767,
                               -32768,
                               32768,
                               -32769,
                               std::numeric_limits<int32_t>::max(),
                               std::numeric_limits<int32_t>::min()};
    const float scales[] = {
        1.0f,   1.0f / 255.0f, -0.0f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
        1e-45f, 3.25f};
    ByteWriter out;
    for (int32_t n : numbers) out.number(n);
    for (float f : scales) out.scale(f, kCommonScales, kCommonScaleCount);
    ByteReader in(out.bytes().data(), out.bytes().size());
    for (int32_t n : numbers) EXPECT_EQ(in.number(), n);
    for (float f : scales) {
        const float back = in.scale(kCommonScales, kCommonScaleCount);
        EXPECT_EQ(std::memcmp(&back, &f, sizeof f), 0) << f;
    }
    EXPECT_TRUE(in.empty());
    // Small values take two bytes, the common scales two as well.
    ByteWriter compact;
    compact.number(-5);
    compact.scale(255.0f, kCommonScales, kCommonScaleCount);
    EXPECT_EQ(compact.bytes().size(), 4u);
    // Bytes that run out read as zero.
    ByteReader cut(compact.bytes().data(), 1);
    EXPECT_EQ(cut.number(), 0);
    EXPECT_EQ(cut.raw(4), 0u);
}

TEST(FuzzCalls, CallsReadBackAsWrittenUpToTheLimit) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<ExportCall> calls(1 + rng() % kMaxCallsPerInput);
        for (ExportCall& c : calls) c = randomCall(rng);
        const std::vector<uint8_t> bytes = writeCalls(calls);
        const std::vector<ExportCall> back = readCalls(bytes.data(), bytes.size());
        ASSERT_EQ(back.size(), calls.size());
        for (size_t i = 0; i < calls.size(); ++i)
            EXPECT_TRUE(back[i] == calls[i]) << describe(calls[i], "m") << "\nread " << describe(back[i], "m");
    }
    std::vector<ExportCall> many(kMaxCallsPerInput + 2);
    const std::vector<uint8_t> bytes = writeCalls(many);
    EXPECT_EQ(readCalls(bytes.data(), bytes.size()).size(), kMaxCallsPerInput);
    // An empty input is one call of zeros, never none.
    EXPECT_EQ(readCalls(nullptr, 0).size(), 1u);
}

TEST(FuzzOracle, ResultBytesFollowTheConversions) {
    // x * 255 + 0.5 truncated and clamped; beyond 32 bits, NaN too, 0.
    EXPECT_EQ(resultByte(1.0f, 255.0f), 255);
    EXPECT_EQ(resultByte(0.998f, 255.0f), 254);
    EXPECT_EQ(resultByte(0.999f, 255.0f), 255);
    EXPECT_EQ(resultByte(-0.001f, 255.0f), 0);
    EXPECT_EQ(resultByte(-1.0f, 255.0f), 0);
    EXPECT_EQ(resultByte(2.0f, 255.0f), 255);
    EXPECT_EQ(resultByte(0.5f, 1.0f), 1);
    EXPECT_EQ(resultByte(std::nanf(""), 255.0f), 0);
    EXPECT_EQ(resultByte(1e10f, 1.0f), 0);
    EXPECT_EQ(resultByte(-1e10f, 1.0f), 0);
    // The direct run adds no half.
    EXPECT_EQ(truncatedByte(0.999f, 1.0f), 0);
    EXPECT_EQ(truncatedByte(254.9f, 1.0f), 254);
    EXPECT_EQ(truncatedByte(300.0f, 1.0f), 255);
    EXPECT_EQ(truncatedByte(-3.0f, 1.0f), 0);
    EXPECT_EQ(truncatedByte(std::numeric_limits<float>::infinity(), 1.0f), 0);
    EXPECT_EQ(byteValue(255, 1.0f / 255.0f), 1.0f);

    const float ties[] = {0.2f, 0.7f, 0.7f};
    EXPECT_EQ(largestIndex(ties, 3), 1);
    const float nanFirst[] = {std::nanf(""), 5.0f, 1.0f};
    EXPECT_EQ(largestIndex(nanFirst, 3), 0);
    const float nanLater[] = {1.0f, std::nanf(""), 2.0f};
    EXPECT_EQ(largestIndex(nanLater, 3), 2);
}

TEST(FuzzOracle, ComparisonsFindTheFirstDifference) {
    // Two pixels of 3 channels against a result of 4 channels per pixel.
    const float source[] = {0.25f, 0.5f, 0.75f, 1.0f, -0.0f, 2.0f};
    float result[] = {0.25f, 0.5f, 0.75f, 9.0f, 1.0f, -0.0f, 2.0f, 9.0f};
    EXPECT_EQ(compareChannels(source, 3, result, 4, 2, 3, 0.0f), "");
    result[5] = std::nextafter(0.0f, 1.0f);
    EXPECT_NE(compareChannels(source, 3, result, 4, 2, 3, 0.0f).find("pixel 1 channel 1"), std::string::npos);
    EXPECT_EQ(compareChannels(source, 3, result, 4, 2, 3, 1e-6f), "");
    // Exactly means the sign of zero too; within tolerance either zero will do.
    result[5] = 0.0f;
    EXPECT_NE(compareChannels(source, 3, result, 4, 2, 3, 0.0f).find("pixel 1 channel 1"), std::string::npos);
    EXPECT_EQ(compareChannels(source, 3, result, 4, 2, 3, 1e-6f), "");
    // Only the channels asked for are compared.
    EXPECT_EQ(compareChannels(source, 3, result, 4, 2, 1, 0.0f), "");
    // Within tolerance, non-finite sources are not compared; exactly, NaN is
    // compared bit for bit.
    const float nan = std::nanf(""), inf = std::numeric_limits<float>::infinity();
    const float odd[] = {nan, inf};
    const float same[] = {nan, inf};
    const float other[] = {1.0f, 2.0f};
    const float negativeNan[] = {-nan, inf};
    EXPECT_EQ(compareChannels(odd, 1, other, 1, 2, 1, 1e-3f), "");
    EXPECT_EQ(compareChannels(odd, 1, same, 1, 2, 1, 0.0f), "");
    EXPECT_NE(compareChannels(odd, 1, other, 1, 2, 1, 0.0f), "");
    EXPECT_NE(compareChannels(odd, 1, negativeNan, 1, 2, 1, 0.0f), "");

    const uint8_t expected[] = {10, 20, 30};
    const uint8_t near[] = {11, 19, 30};
    EXPECT_EQ(compareBytes(expected, near, 3, 1), "");
    EXPECT_EQ(compareBytes(expected, near, 3, 0), "byte 0: 11 where 10 was expected");
}

TEST(FuzzOracle, CallsFromTheCallbackMeetWhatIsPromised) {
    // On the running call's context: what runs models or changes them is
    // refused, reads and releases run; elsewhere only a second tiled float
    // prediction in the process is turned away, by an exception.
    EXPECT_EQ(expectedReentry(Api::Plan, true, false), Reentry::Refused);
    EXPECT_EQ(expectedReentry(Api::DeallocateModel, true, true), Reentry::Admitted);
    EXPECT_EQ(expectedReentry(Api::TilesImageFloat, true, true), Reentry::Refused);
    EXPECT_EQ(expectedReentry(Api::TilesImageFloat, false, true), Reentry::Raises);
    EXPECT_EQ(expectedReentry(Api::TilesFloat, false, false), Reentry::Admitted);
    EXPECT_EQ(expectedReentry(Api::LoadModel, false, true), Reentry::Admitted);

    const std::string words =
        "velmoraPredict: the context is in another call (this one comes from its progress callback)\n"
        "predictByTiles: the image has no data\n";
    EXPECT_TRUE(namesRefusal(words, "velmoraPredict"));
    EXPECT_FALSE(namesRefusal(words, "predictByTiles"));
    EXPECT_FALSE(namesRefusal(words, "Predict"));  // whole names only
    EXPECT_EQ(withoutLines(words, "velmoraPredict: "), "predictByTiles: the image has no data\n");
    EXPECT_EQ(withoutLines("a: x\nb: y", "b: "), "a: x\n");
}
