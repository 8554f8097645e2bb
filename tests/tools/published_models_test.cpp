// Models as people publish them: channels-first, open sizes, half precision,
// enlarging results, and inputs normalised per channel; the text detector
// PP-OCRv4 among them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "command_runner.h"
#include "image_files.h"
#include "test_images.h"
#include "velmora.h"

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void expectSuccess(const CommandResult& r) { ASSERT_EQ(r.exitCode, 0) << r.err; }

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The tiles of the plan the command shows with -v or --plan, and where its
// line starts in `err`; side 0 when no tiled plan is shown.
struct ShownPlan {
    int side = 0, step = 0;
    long runs = 0;
    size_t at = std::string::npos;
};
ShownPlan shownPlan(const std::string& err) {
    ShownPlan p;
    p.at = err.find("velmora: plan for ");
    if (p.at == std::string::npos ||
        std::sscanf(err.c_str() + p.at, "velmora: plan for %*d x %*d: tiles of %d x %*d every %d pixels %*[^=]= %ld",
                    &p.side, &p.step, &p.runs) != 3)
        p.side = 0;
    return p;
}

// What the generated "mix" models compute per pixel: a fixed 3 x 3 matrix
// and a bias.
const float kMix[3][3] = {{0.5f, 0.25f, 0.0f}, {0.0f, 0.5f, 0.5f}, {0.25f, 0.25f, 0.5f}};
const float kBias[3] = {0.125f, -0.25f, 0.0f};

float mixed(const float* rgb, int c) {
    return kMix[c][0] * rgb[0] + kMix[c][1] * rgb[1] + kMix[c][2] * rgb[2] + kBias[c];
}

// The mix of every pixel of an RGB raster (after `prepare` on each value of
// channel c), enlarged `scale` times by repetition.
template <class Prepare>
Raster mixedRaster(const Raster& in, int scale, Prepare prepare) {
    Raster out = makeRaster(in.width * scale, in.height * scale, 3, SampleType::Float32);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            const float* src = &in.pixels[(static_cast<size_t>(y / scale) * in.width + x / scale) * in.channels];
            const float rgb[3] = {prepare(0, src[0]), prepare(1, src[1]), prepare(2, src[2])};
            for (int c = 0; c < 3; ++c) out.pixels[(static_cast<size_t>(y) * out.width + x) * 3 + c] = mixed(rgb, c);
        }
    return out;
}
Raster mixedRaster(const Raster& in, int scale = 1) {
    return mixedRaster(in, scale, [](int, float v) { return v; });
}

// The colour channels of a raster with alpha.
Raster colours(const Raster& in) {
    Raster out = makeRaster(in.width, in.height, 3, in.type);
    for (size_t p = 0; p < pixelCount(in); ++p)
        for (int c = 0; c < 3; ++c) out.pixels[p * 3 + c] = in.pixels[p * in.channels + c];
    return out;
}

}  // namespace

TEST(PublishedModels, OpenSizesRunOnThePlansTilesOrTheTileGiven) {
    Scratch scratch;
    const Raster image = randomRaster(150, 100, 3, SampleType::Float32, 31);
    writeImage(scratch / "in.tif", FileFormat::Tiff, image, {SampleType::Float32});
    const Raster want = mixedRaster(image);
    struct Case {
        const char* model;
        std::vector<std::string> tile;
        int side;         // of every run after the plan; 0: the plan's
        bool measures;    // the model runs on its own pictures before the plan
        float tolerance;  // half precision rounds at the model's ends
    };
    const Case cases[] = {
        {"mix_cf_cf_f32_open.onnx", {}, 0, true, 1e-5f},
        {"mix_cf_cf_f32_open.onnx", {"-t", "48", "-s", "40"}, 48, false, 1e-5f},
        {"mix_cl_cl_f16_open.onnx", {"--tile", "64"}, 64, true, 4e-3f},
        {"mix_cl_cf_f16f64_open.onnx", {"-t", "96"}, 96, true, 4e-3f},
        {"mix_cf_cl_f64_t16.onnx", {}, 16, true, 1e-5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model + std::string(" ") + std::to_string(c.side));
        std::vector<std::string> args{"in.tif", "out.tif", "-m", modelFile(c.model), "-v"};
        args.insert(args.end(), c.tile.begin(), c.tile.end());
        const CommandResult r = scratch.run(args);
        expectSuccess(r);
        // The plan, shown before the runs, says what every run after it is.
        const ShownPlan plan = shownPlan(r.err);
        ASSERT_GT(plan.side, 0) << r.err;
        if (c.side) {
            EXPECT_EQ(plan.side, c.side);
        }
        const std::string before = r.err.substr(0, plan.at), after = r.err.substr(plan.at);
        EXPECT_EQ(count(before, "runModel ") > 0, c.measures);
        const std::string line = "runModel " + std::to_string(plan.side) + " " + std::to_string(plan.side) + " 3";
        EXPECT_EQ(count(after, line), static_cast<size_t>(plan.runs));
        EXPECT_EQ(count(after, "runModel "), static_cast<size_t>(plan.runs));
        const Raster out = readImage(scratch / "out.tif");
        ASSERT_EQ(out.width, 150);
        ASSERT_EQ(out.height, 100);
        ASSERT_EQ(out.channels, 3);
        EXPECT_LE(maxDifference(out, want), c.tolerance);
    }
}

TEST(PublishedModels, UpscalersWriteALargerPictureWithItsAlphaEnlarged) {
    Scratch scratch;
    // Alpha rises from left to right; the colours are random.
    Raster rgba = randomRaster(40, 30, 4, SampleType::Float32, 12);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) rgba.pixels[(static_cast<size_t>(y) * 40 + x) * 4 + 3] = x / 39.0f;
    writeImage(scratch / "rgba.tif", FileFormat::Tiff, rgba, {SampleType::Float32});
    expectSuccess(scratch.run({"rgba.tif", "big.tif", "-m", modelFile("up2_near_cf_cf_f32_open.onnx")}));
    const Raster big = readImage(scratch / "big.tif");
    ASSERT_EQ(big.width, 80);
    ASSERT_EQ(big.height, 60);
    ASSERT_EQ(big.channels, 4);
    EXPECT_LE(maxDifference(colours(big), mixedRaster(colours(rgba), 2)), 1e-5f);
    // The alpha enlarged smoothly: each enlarged pixel's centre on the ramp,
    // the outer half pixels at the edge values.
    float worst = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 80; ++x) {
            const double at = std::clamp((x + 0.5) / 2 - 0.5, 0.0, 39.0) / 39.0;
            worst = std::max(worst,
                             static_cast<float>(std::fabs(big.pixels[(static_cast<size_t>(y) * 80 + x) * 4 + 3] - at)));
        }
    EXPECT_LE(worst, 1e-6f);

    // Shrunk first, the result is still twice the picture.
    expectSuccess(scratch.run({"rgba.tif", "shrunk.tif", "-m", modelFile("up2_near_cf_cf_f32_open.onnx"), "-d", "-2"}));
    EXPECT_EQ(readImage(scratch / "shrunk.tif").width, 80);

    // The 8-bit path: x2 by depth-to-space, each of the four sub-pixels of a
    // pixel weighted by its own factor, and exactly one model run per tile
    // of the plan.
    const Raster rgb = randomRaster(45, 30, 3, SampleType::UInt8, 13);
    writeImage(scratch / "rgb.png", FileFormat::Png, rgb, {});
    const CommandResult r =
        scratch.run({"rgb.png", "big.png", "-m", modelFile("up2_d2s_cf_cf_f32_t16.onnx"), "--8bit", "-v"});
    expectSuccess(r);
    const ShownPlan plan = shownPlan(r.err);
    ASSERT_EQ(plan.side, 16) << r.err;
    EXPECT_EQ(plan.runs, ((45 + plan.step - 1) / plan.step) * ((30 + plan.step - 1) / plan.step));
    EXPECT_EQ(count(r.err.substr(plan.at), "runModel "), static_cast<size_t>(plan.runs));
    const Raster big8 = readImage(scratch / "big.png");
    ASSERT_EQ(big8.width, 90);
    ASSERT_EQ(big8.height, 60);
    ASSERT_EQ(big8.channels, 3);
    worst = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 90; ++x) {
            const float* src = &rgb.pixels[(static_cast<size_t>(y / 2) * 45 + x / 2) * 3];
            const float factor = static_cast<float>((y % 2) * 2 + x % 2 + 1) / 16.0f;
            for (int c = 0; c < 3; ++c) {
                const float want = std::clamp(mixed(src, c) * factor, 0.0f, 1.0f);
                worst = std::max(worst, std::fabs(big8.pixels[(static_cast<size_t>(y) * 90 + x) * 3 + c] - want));
            }
        }
    EXPECT_LE(worst, 0.5f / 255.0f + 1e-5f);
}

TEST(PublishedModels, NormalisationOnTheWayInAndItsInverseOnTheWayOut) {
    Scratch scratch;
    const Raster image = randomRaster(70, 50, 3, SampleType::Float32, 14);
    writeImage(scratch / "in.tif", FileFormat::Tiff, image, {SampleType::Float32});
    const float mean[3] = {0.5f, 0.25f, 0.125f}, deviation[3] = {2.0f, 4.0f, 0.5f};
    const std::vector<std::string> normalise{
        "-m", modelFile("mix_cf_cf_f32_open.onnx"), "--mean", "0.5,0.25,0.125", "--std", "2,4,0.5"};
    auto run = [&](const std::string& out, std::vector<std::string> extra) {
        std::vector<std::string> args{"in.tif", out};
        args.insert(args.end(), normalise.begin(), normalise.end());
        args.insert(args.end(), extra.begin(), extra.end());
        return scratch.run(args);
    };
    const Raster want = mixedRaster(image, 1, [&](int c, float v) { return (v - mean[c]) / deviation[c]; });
    expectSuccess(run("normalised.tif", {}));
    EXPECT_LE(maxDifference(readImage(scratch / "normalised.tif"), want), 1e-5f);

    Raster back = want;
    for (size_t i = 0; i < back.pixels.size(); ++i) back.pixels[i] = back.pixels[i] * deviation[i % 3] + mean[i % 3];
    expectSuccess(run("back.tif", {"--denormalize"}));
    EXPECT_LE(maxDifference(readImage(scratch / "back.tif"), back), 1e-5f);
    // One value serves every channel; the input scale comes first.
    expectSuccess(scratch.run({"in.tif", "one.tif", "-m", modelFile("mix_cf_cf_f32_open.onnx"), "--input-scale", "255",
                               "--mean", "127.5", "--std", "127.5"}));
    EXPECT_LE(maxDifference(readImage(scratch / "one.tif"),
                            mixedRaster(image, 1, [](int, float v) { return (v * 255.0f - 127.5f) / 127.5f; })),
              1e-5f);

    // Counts that do not fit the model, and options that cannot go together.
    const CommandResult two =
        scratch.run({"in.tif", "x.tif", "-m", modelFile("mix_cf_cf_f32_open.onnx"), "--mean", "0.5,0.5"});
    EXPECT_EQ(two.exitCode, 1);
    EXPECT_TRUE(contains(two.err, "velmora: --mean gives 2 values per pixel; the model takes 3 channels")) << two.err;
    const CommandResult gray = scratch.run({"in.tif", "x.tif", "-m", modelFile("rgb_to_gray_64.onnx"), "--mean",
                                            "0.5,0.25,0.125", "--std", "2,4,0.5", "--denormalize"});
    EXPECT_EQ(gray.exitCode, 1);
    EXPECT_TRUE(contains(gray.err, "--mean and --std give 3 values per pixel; the model gives 1 channel")) << gray.err;
    for (const std::vector<std::string>& usage : {std::vector<std::string>{"--denormalize", "--mean", "0.5", "--8bit"},
                                                  {"--std", "0"},
                                                  {"--denormalize"},
                                                  {"--mean", "1,2", "--std", "1,2,3"}}) {
        std::vector<std::string> args{"in.tif", "x.tif"};
        args.insert(args.end(), usage.begin(), usage.end());
        const CommandResult r = scratch.run(args);
        EXPECT_EQ(r.exitCode, 2) << usage[0] << ": " << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch / "x.tif"));

    // The 8-bit path applies the profile too.
    const std::string mix = modelFile("mix_cf_cf_f32_open.onnx");
    expectSuccess(scratch.run({"in.tif", "plain.png", "--8bit", "-t", "64", "-s", "64", "-m", mix}));
    expectSuccess(
        scratch.run({"in.tif", "x.png", "--8bit", "-t", "64", "-s", "64", "-m", mix, "--mean", "0.5,0.25,0.125"}));
    std::ifstream plain(scratch / "plain.png", std::ios::binary), normalised(scratch / "x.png", std::ios::binary);
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(plain), {}),
              std::string(std::istreambuf_iterator<char>(normalised), {}));
}

TEST(PublishedModels, InfoShowsOpenDimensionsElementTypesAndTheMeasuredScale) {
    Scratch scratch;
    const CommandResult up4 = scratch.run({"--info", "-m", modelFile("up4_d2s_cf_cl_f16f32_open.onnx")});
    expectSuccess(up4);
    for (const char* expected :
         {"Input \"input\": float16 [?, 3, ?, ?], channels-first",
          "Output \"output\": float [?, ?, ?, 3], channels-last", "tiles: of any size", "scale 4, 3 channels"})
        EXPECT_TRUE(contains(up4.out, expected)) << expected << "\n" << up4.out;
    const CommandResult up3 = scratch.run({"--info", "-m", modelFile("up3_near_cl_cl_f64f16_open.onnx")});
    expectSuccess(up3);
    for (const char* expected :
         {"Input \"input\": double [?, ?, ?, 3]", "Output \"output\": float16 [?, ?, ?, 3]", "scale 3, 3 channels"})
        EXPECT_TRUE(contains(up3.out, expected)) << expected << "\n" << up3.out;
    // A fixed model's plan for a picture: its tiles, and the result S times larger.
    const CommandResult fixed =
        scratch.run({"--info", "-m", modelFile("up2_d2s_cf_cf_f32_t16.onnx"), "--size", "100x60"});
    expectSuccess(fixed);
    for (const char* expected :
         {"Output \"output\": float [1, 3, 32, 32], channels-first", "measured: sides that are multiples of 16",
          "scale 2, 3 channels", "plan for 100 x 60: tiles of 16 x 16", "result 200 x 120 with 3 channels"})
        EXPECT_TRUE(contains(fixed.out, expected)) << expected << "\n" << fixed.out;
}

namespace {

const std::string kDetector = std::string(VELMORA_TEST_PUBLISHED_MODELS) + "/ch_PP-OCRv4_det_infer.onnx";
const float kImageNetMean[3] = {0.485f, 0.456f, 0.406f}, kImageNetStd[3] = {0.229f, 0.224f, 0.225f};

// The detector's map by the library's float pipeline, run here on the page
// as `prepare` makes each value.
template <class Prepare>
std::vector<float> libraryMap(const Raster& page, Prepare prepare) {
    std::ifstream in(kDetector, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<float> values(page.pixels.size());
    for (size_t i = 0; i < values.size(); ++i) values[i] = prepare(static_cast<int>(i % 3), page.pixels[i]);
    VelmoraContext context = createContext(0, "command test");
    std::vector<float> map;
    if (loadModelEx(context, bytes.data(), static_cast<uint32_t>(bytes.size()), "x", "sigmoid_0.tmp_0", 0, 0)) {
        const ImageFloat result = predictByTilesImageFloat(context, {page.width, page.height, 3, values.data()}, 256,
                                                           224, 1, nullptr, nullptr);
        if (result.data && result.numChannels == 1)
            map.assign(result.data, result.data + static_cast<size_t>(result.width) * result.height);
    }
    deleteContext(context);
    return map;
}

}  // namespace

TEST(TextDetector, TheProfileNormalisesOnceAndThePlanWritesTheMap) {
    if (!std::filesystem::exists(kDetector)) GTEST_SKIP() << kDetector << " is missing (scripts/setup.sh fetches it)";
    Scratch scratch;
    const Raster page = pageRaster(480, 352);
    writeImage(scratch / "page.png", FileFormat::Png, page, {});
    // 3 x 2 tiles of 256 every 224 pixels, as the library's own run below.
    const std::vector<std::string> tiles{"-t", "256", "-s", "224", "--quiet"};
    auto run = [&](const std::string& out, std::vector<std::string> extra) {
        std::vector<std::string> args{"page.png", out, "-m", kDetector};
        args.insert(args.end(), tiles.begin(), tiles.end());
        args.insert(args.end(), extra.begin(), extra.end());
        expectSuccess(scratch.run(args));
        return readImage(scratch / out);
    };
    const Raster map = run("map.png", {"--mean", "0.485,0.456,0.406", "--std", "0.229,0.224,0.225"});
    ASSERT_EQ(map.width, 480);
    ASSERT_EQ(map.height, 352);
    ASSERT_EQ(map.channels, 1);
    ASSERT_EQ(map.type, SampleType::UInt8);

    const std::vector<float> want =
        libraryMap(page, [](int c, float v) { return (v - kImageNetMean[c]) / kImageNetStd[c]; });
    ASSERT_EQ(want.size(), map.pixels.size());
    float worst = 0;
    double sum = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        worst = std::max(worst, std::fabs(map.pixels[i] - std::clamp(want[i], 0.0f, 1.0f)));
        sum += map.pixels[i];
    }
    EXPECT_LE(worst, 1.0f / 255.0f + 1e-6f);
    // A map that found the text: neither empty nor full, and certain in
    // places either way.
    EXPECT_GT(sum / want.size(), 0.05);
    EXPECT_LT(sum / want.size(), 0.95);
    EXPECT_EQ(*std::max_element(map.pixels.begin(), map.pixels.end()), 1.0f);
    EXPECT_EQ(*std::min_element(map.pixels.begin(), map.pixels.end()), 0.0f);
    // Without the normalisation the map differs: the comparison above sees it.
    const std::vector<float> plain = libraryMap(page, [](int, float v) { return v; });
    float apart = 0;
    for (size_t i = 0; i < want.size(); ++i) apart = std::max(apart, std::fabs(plain[i] - want[i]));
    EXPECT_GT(apart, 0.1f);

    // The same profile from a sidecar text gives the same map.
    writeText(scratch / "detector.json",
              R"({"mean": [0.485, 0.456, 0.406], "std": [0.229, 0.224, 0.225], "output": "mask"})");
    EXPECT_EQ(run("sidecar.png", {"--profile", "detector.json"}).pixels, map.pixels);

    // Beside the model, the sidecar is read without being named.
    std::filesystem::create_symlink(kDetector, scratch / "det.onnx");
    std::filesystem::copy_file(scratch / "detector.json", scratch / "det.onnx.json");
    std::vector<std::string> beside{"page.png", "beside.png", "-m", "det.onnx"};
    beside.insert(beside.end(), tiles.begin(), tiles.end());
    expectSuccess(scratch.run(beside));
    EXPECT_EQ(readImage(scratch / "beside.png").pixels, map.pixels);
    // Without tiles given, the library plans them: --plan shows how.
    const CommandResult planned = scratch.run({"page.png", "planned.png", "-m", "det.onnx", "--plan"});
    expectSuccess(planned);
    EXPECT_TRUE(contains(planned.err, "velmora: plan for 480 x 352: tiles of ")) << planned.err;
    EXPECT_TRUE(contains(planned.err, "velmora:   why: tiles of ")) << planned.err;
    const Raster own = readImage(scratch / "planned.png");
    EXPECT_EQ(own.width, 480);
    EXPECT_EQ(own.channels, 1);
}
