// Reading the input and output shapes from ONNX files, and fitting a model
// to tiles.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model_shape.h"
#include "support/model_files.h"

namespace {

// Just enough of the protobuf encoding to write graphs the generator does not make.
std::string varint(uint64_t v) {
    std::string s;
    do {
        s += static_cast<char>((v & 0x7f) | (v > 0x7f ? 0x80 : 0));
        v >>= 7;
    } while (v);
    return s;
}
std::string field(uint32_t number, const std::string& payload) {
    return varint(number << 3 | 2) + varint(payload.size()) + payload;
}
std::string number(uint32_t fieldNumber, uint64_t value) { return varint(fieldNumber << 3) + varint(value); }

std::string valueInfo(const std::string& name, int elementType, const std::vector<int64_t>& dims) {
    std::string shape;
    for (int64_t d : dims) shape += field(1, d < 0 ? field(2, "n") : number(1, static_cast<uint64_t>(d)));
    const std::string tensorType = number(1, static_cast<uint64_t>(elementType)) + field(2, shape);
    return field(1, name) + field(2, field(1, tensorType));
}

std::string modelBytes(const std::string& graph) { return number(1, 8) + field(7, graph); }

VgModelShape describe(const std::string& bytes) {
    VgModelShape shape;
    VgFailure failure{};
    EXPECT_TRUE(vgDescribeModel(bytes.data(), bytes.size(), &shape, &failure)) << failure.text;
    return shape;
}

VgModelShape describeFile(const std::string& name) {
    const std::vector<char> bytes = readModel(name);
    return describe(std::string(bytes.begin(), bytes.end()));
}

std::string fitFailure(const VgModelShape* shape, int32_t tile) {
    VgModelFit fit;
    VgFailure failure{};
    if (vgFitModel(shape, tile, &fit, &failure)) return "";
    return failure.text;
}

}  // namespace

TEST(ModelShape, ReadsTheGeneratedModelsInputsAndOutputs) {
    const VgModelShape id = describeFile("identity_t16_c3.onnx");
    EXPECT_EQ(id.inputCount, 1);
    EXPECT_EQ(id.outputCount, 1);
    EXPECT_STREQ(id.input.name, "input");
    EXPECT_STREQ(id.output.name, "output");
    EXPECT_EQ(id.input.elementType, 1);
    ASSERT_EQ(id.input.rank, 4);
    EXPECT_EQ(std::vector<int64_t>(id.input.dims, id.input.dims + 4), (std::vector<int64_t>{1, 16, 16, 3}));

    const VgModelShape gray = describeFile("rgb_to_gray_64.onnx");
    EXPECT_EQ(std::vector<int64_t>(gray.output.dims, gray.output.dims + 4), (std::vector<int64_t>{1, 64, 64, 1}));

    const VgModelShape open = describeFile("open_dims.onnx");
    EXPECT_EQ(open.input.dims[1], -1);
    EXPECT_EQ(open.input.dims[2], -1);
    EXPECT_EQ(describeFile("add2_t16_c3.onnx").inputCount, 2);
}

TEST(ModelShape, FitsTheTileAndChannelsAndLayouts) {
    VgModelFit fit;
    VgFailure failure{};
    const VgModelShape sharpen = describeFile("demo_sharpen_t128.onnx");
    ASSERT_TRUE(vgFitModel(&sharpen, 0, &fit, &failure)) << failure.text;
    EXPECT_EQ(fit.tile, 128);
    EXPECT_EQ(fit.inputChannels, 3);
    EXPECT_EQ(fit.outputChannels, 3);
    EXPECT_EQ(fit.inputLayout, 1);
    ASSERT_TRUE(vgFitModel(&sharpen, 128, &fit, &failure));

    const VgModelShape first = describeFile("channels_first_identity_32x3.onnx");
    ASSERT_TRUE(vgFitModel(&first, 0, &fit, &failure)) << failure.text;
    EXPECT_EQ(fit.inputLayout, 0);
    EXPECT_EQ(fit.outputLayout, 0);
    EXPECT_EQ(fit.tile, 32);
    EXPECT_EQ(fit.inputChannels, 3);

    const VgModelShape mixed = describeFile("nchw_to_nhwc_t256.onnx");
    ASSERT_TRUE(vgFitModel(&mixed, 0, &fit, &failure)) << failure.text;
    EXPECT_EQ(fit.inputLayout, 0);
    EXPECT_EQ(fit.outputLayout, 1);
    EXPECT_EQ(fit.tile, 256);

    const VgModelShape flat = describeFile("out1d.onnx");
    ASSERT_TRUE(vgFitModel(&flat, 0, &fit, &failure)) << failure.text;
    EXPECT_EQ(fit.outputChannels, 0);  // not an image: unknown
}

TEST(ModelShape, RefusesModelsThatCannotRunInTiles) {
    const VgModelShape sharpen = describeFile("demo_sharpen_t128.onnx");
    EXPECT_NE(fitFailure(&sharpen, 64).find("a tile size of 64 does not fit"), std::string::npos);
    EXPECT_NE(fitFailure(&sharpen, -1).find("must be positive"), std::string::npos);
    const VgModelShape open = describeFile("open_dims.onnx");
    EXPECT_NE(fitFailure(&open, 0).find("leaves its input size open"), std::string::npos);
    const VgModelShape two = describeFile("add2_t16_c3.onnx");
    EXPECT_NE(fitFailure(&two, 0).find("takes 2 inputs"), std::string::npos);

    const VgModelShape oblong = describe(
        modelBytes(field(11, valueInfo("x", 1, {1, 16, 32, 3})) + field(12, valueInfo("y", 1, {1, 16, 32, 3}))));
    EXPECT_NE(fitFailure(&oblong, 0).find("32 x 16 inputs; the library cuts square tiles"), std::string::npos);
    const VgModelShape bytes = describe(
        modelBytes(field(11, valueInfo("x", 2, {1, 16, 16, 3})) + field(12, valueInfo("y", 1, {1, 16, 16, 3}))));
    EXPECT_NE(fitFailure(&bytes, 0).find("is not a float tensor"), std::string::npos);
    const VgModelShape flat =
        describe(modelBytes(field(11, valueInfo("x", 1, {256, 3})) + field(12, valueInfo("y", 1, {256, 3}))));
    EXPECT_NE(fitFailure(&flat, 0).find("(256x3) is not an image batch"), std::string::npos);
}

TEST(ModelShape, WeightsListedAmongTheInputsAreNotInputs) {
    const std::string weights = field(5, field(8, "weights") + number(2, 1));  // TensorProto: name, data type
    const VgModelShape shape = describe(modelBytes(field(11, valueInfo("weights", 1, {3, 3})) + weights +
                                                   field(11, valueInfo("image", 1, {1, 24, 24, 1})) +
                                                   field(12, valueInfo("out", 1, {1, 24, 24, 1}))));
    EXPECT_EQ(shape.inputCount, 1);
    EXPECT_STREQ(shape.input.name, "image");
    VgModelFit fit;
    VgFailure failure{};
    ASSERT_TRUE(vgFitModel(&shape, 0, &fit, &failure)) << failure.text;
    EXPECT_EQ(fit.tile, 24);
    EXPECT_EQ(fit.inputChannels, 1);
}

TEST(ModelShape, WithoutADescriptionTheTileMustBeGiven) {
    VgModelFit fit;
    VgFailure failure{};
    EXPECT_FALSE(vgFitModel(nullptr, 0, &fit, &failure));
    EXPECT_NE(std::string(failure.text).find("give the tile size"), std::string::npos);
    ASSERT_TRUE(vgFitModel(nullptr, 64, &fit, &failure));
    EXPECT_EQ(fit.tile, 64);
    EXPECT_EQ(fit.inputChannels, 0);
    EXPECT_EQ(fit.inputLayout, 1);
    EXPECT_EQ(fit.outputLayout, 1);
}

TEST(ModelShape, DamagedOrForeignBytesAreRefusedNeverOverread) {
    VgModelShape shape;
    VgFailure failure{};
    const std::vector<char> text = readModel("not_a_model.onnx");
    EXPECT_FALSE(vgDescribeModel(text.data(), text.size(), &shape, &failure));
    EXPECT_NE(std::string(failure.text).find("not an ONNX model"), std::string::npos);
    EXPECT_FALSE(vgDescribeModel("", 0, &shape, &failure));

    // Every cut of a real model either reads as a model or is refused; the
    // reader never runs past the end (the sanitizer builds would see it).
    const std::vector<char> model = readModel("identity_t16_c3.onnx");
    size_t refused = 0;
    for (size_t length = 0; length < model.size(); ++length) {
        std::vector<char> cut(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(length));
        if (!vgDescribeModel(cut.data(), cut.size(), &shape, &failure)) ++refused;
    }
    EXPECT_GT(refused, model.size() / 2);

    // A length that claims more bytes than there are.
    const std::string lying = number(1, 8) + varint(7 << 3 | 2) + varint(1000) + "abc";
    EXPECT_FALSE(vgDescribeModel(lying.data(), lying.size(), &shape, &failure));
    EXPECT_NE(std::string(failure.text).find("damaged"), std::string::npos);
}

TEST(ModelShape, LongNamesAreCutShortAndManyDimensionsCounted) {
    const std::string longName(600, 'n');
    const VgModelShape shape = describe(modelBytes(field(11, valueInfo(longName, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10})) +
                                                   field(12, valueInfo("y", 1, {1}))));
    EXPECT_EQ(std::string(shape.input.name), longName.substr(0, VG_MAX_NAME - 1));
    EXPECT_EQ(shape.input.rank, 10);
    EXPECT_EQ(shape.input.dims[VG_MAX_DIMS - 1], 8);
    EXPECT_NE(fitFailure(&shape, 0).find("is not an image batch"), std::string::npos);
}
