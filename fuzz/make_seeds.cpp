// Writes the fuzzers' seed corpora and the reproducers of faults once found,
// so that none is kept in the repository:
//   OUTDIR/seeds/fuzz_exports      calls of every export on every model
//   OUTDIR/seeds/fuzz_model_load   the generated models (those under 64 KiB)
//   OUTDIR/seeds/fuzz_run_cost     a few runs' sizes (any bytes are one)
//   OUTDIR/seeds/fuzz_png, fuzz_jpeg, fuzz_tiff   small pictures of every kind
//                                  the tests' picture generators make
//   OUTDIR/reproducers/fuzz_exports/NAME.bin   one input per fault the
//                                  library once had, run again by every fuzzing
// Usage: fuzz_make_seeds OUTDIR TEST_MODELS_DIR FUZZ_MODELS_DIR
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "export_call.h"
#include "export_models.h"
#include "image_files.h"
#include "test_files.h"
#include "test_images.h"

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

uint8_t modelIndex(const char* file) {
    for (size_t i = 0; i < kExportModelCount; ++i)
        if (std::strcmp(kExportModels[i].file, file) == 0) return static_cast<uint8_t>(i);
    throw std::runtime_error(std::string("no model ") + file + " in the fuzzer's table");
}

// Writes the calls and checks that they read back as written.
void writeCalls(const fs::path& path, const std::vector<ExportCall>& calls) {
    const std::vector<uint8_t> bytes = writeCalls(calls);
    const std::vector<ExportCall> back = readCalls(bytes.data(), bytes.size());
    if (back.size() != calls.size()) throw std::runtime_error(path.string() + ": calls do not read back");
    for (size_t i = 0; i < calls.size(); ++i)
        if (!(back[i] == calls[i])) throw std::runtime_error(path.string() + ": a call does not read back");
    writeFile(path, bytes);
}

ExportCall tiled(uint8_t model, Export op, int32_t width, int32_t height, int32_t downscale) {
    const ExportModel& m = kExportModels[model];
    ExportCall c;
    c.model = model;
    c.op = op;
    c.width = width;
    c.height = height;
    c.channels = m.inChannels;
    c.tile = m.tile > 0 ? m.tile : 16;
    c.step = std::max(c.tile - 4, 1);
    c.downscale = downscale;
    c.inputScale = 1.0f / 255.0f;
    c.outputScale = 255.0f;
    c.seed = 1000u + model;
    return c;
}

void exportSeeds(const fs::path& dir) {
    fs::create_directories(dir);
    int n = 0;
    auto seed = [&](const std::vector<ExportCall>& calls) { writeCalls(dir / ("seed-" + std::to_string(n++)), calls); };
    for (uint8_t i = 0; i < kExportModelCount; ++i) {
        const ExportModel& m = kExportModels[i];
        for (const int32_t downscale : {1, -2, 3}) {
            seed({tiled(i, Export::TilesImageFloat, 37, 21, downscale)});
            if (m.inChannels >= 3) {
                ExportCall bytes = tiled(i, Export::TilesBytes, 29, 18, downscale);
                seed({bytes});
                bytes.argmax = true;
                seed({bytes});
            }
        }
        seed({tiled(i, Export::TilesFloat, 20, 33, 1)});
        ExportCall stopped = tiled(i, Export::TilesImageFloat, 40, 40, 1);
        stopped.stopAt = 2;
        seed({stopped, tiled(i, Export::TilesImageFloat, 40, 40, 1)});
        for (const Export op :
             {Export::Predict, Export::PredictFloat, Export::Predict2Inputs, Export::Predict3Inputs}) {
            ExportCall direct = tiled(i, op, m.tile > 0 ? m.tile : 8, m.tile > 0 ? m.tile : 8, 1);
            seed({direct});
        }
        ExportCall reload = tiled(i, Export::Reload, 0, 0, 1);
        reload.extra = 5;  // both layouts channels-first
        seed({reload});
        ExportCall plan = tiled(i, Export::Planned, 37, 21, 1);
        seed({plan});
        plan.extra = 1 | (2 << 2);  // hard-cut tiles, blended
        seed({plan});
        // Run again by bands of one tile row, in order and each band twice.
        plan.extra = 1 | (2 << 2) | (1 << 4) | (1 << 5);
        seed({plan});
        plan.extra |= 2 << 8;
        seed({plan});
    }
    // The progress callback calls every export, on the running call's
    // context and on a second one, from each kind of tiled call.
    const uint8_t identity = modelIndex("identity_t16_c3.onnx");
    const Export outers[] = {Export::TilesImageFloat, Export::TilesFloat, Export::TilesBytes, Export::Planned};
    for (uint8_t api = 0; api < static_cast<uint8_t>(Api::Count); ++api) {
        for (const bool other : {false, true}) {
            for (const Export outer : {Export::TilesImageFloat, outers[(api + other) % 4]}) {
                ExportCall c = tiled(identity, outer, 40, 40, 1);
                c.inner.at = static_cast<uint8_t>(2 + api % 4);
                c.inner.api = static_cast<Api>(api);
                c.inner.other = other;
                c.inner.fetchWords = api % 2;
                c.inner.arg = api == static_cast<uint8_t>(Api::ErrorText) ? 64 : 0;
                seed({c, tiled(identity, Export::TilesImageFloat, 40, 40, 1)});
            }
        }
    }
    ExportCall text = tiled(0, Export::ErrorText, 0, 0, 1);
    text.extra = -12;
    seed({text});
    seed({tiled(0, Export::Information, 0, 0, 1), tiled(0, Export::Initialize, 0, 0, 1),
          tiled(0, Export::DeallocateImage, 0, 0, 1)});
}

// One input per fault the library once had, so that each run meets it again.
void reproducers(const fs::path& dir) {
    fs::create_directories(dir);
    const uint8_t identity = modelIndex("identity_t16_c3.onnx");

    // Tiles of narrow types read past the runtime's buffer (the large ones
    // beyond its pooled memory); double and float8 tiles come back as garbage.
    for (const char* name : {"f8", "i4", "u8", "f16", "f64"})
        writeCalls(dir / (std::string("output-types-") + name + ".bin"),
                   {tiled(modelIndex(("cast_" + std::string(name) + "_t16.onnx").c_str()), Export::TilesImageFloat, 37,
                          21, 1)});
    for (const char* name : {"f8", "i4"})
        writeCalls(dir / (std::string("output-types-") + name + "-1024.bin"),
                   {tiled(modelIndex(("cast_" + std::string(name) + "_t1024.onnx").c_str()), Export::TilesImageFloat,
                          1030, 10, 1)});

    ExportCall vary = tiled(modelIndex("channels_vary_t16.onnx"), Export::TilesBytes, 40, 16, 1);
    vary.pixels = Pixels::Ramp;  // tiles on the left get 3 channels, on the right 4
    writeCalls(dir / "bytes-channel-change.bin", {vary});

    // A 16 x 16 picture shrunk 150 times for 64-pixel tiles: 1.1 GB for the first tile.
    // The 8-bit path on a model it cannot run (three inputs): null, no words.
    writeCalls(dir / "bytes-silent-failure.bin",
               {tiled(modelIndex("add3_t16_c3.onnx"), Export::TilesBytes, 29, 18, 1)});

    ExportCall shrinkMore = tiled(modelIndex("scale2_64x3.onnx"), Export::TilesBytes, 16, 16, -150);
    writeCalls(dir / "huge-arguments-downscale.bin", {shrinkMore});
    ExportCall hugeTile = tiled(identity, Export::TilesBytes, 13, 5, 1);
    hugeTile.tile = hugeTile.step = 12000;
    writeCalls(dir / "huge-arguments-bytes-tile.bin", {hugeTile});
    ExportCall hugeFloatTile = tiled(identity, Export::TilesImageFloat, 13, 5, 1);
    hugeFloatTile.tile = hugeFloatTile.step = 46340;
    writeCalls(dir / "huge-arguments-float-tile.bin", {hugeFloatTile});
    ExportCall channels = tiled(identity, Export::TilesBytes, 13, 5, 1);
    channels.channels = 1 << 24;
    writeCalls(dir / "huge-arguments-channels.bin", {channels});

    ExportCall overflow = tiled(identity, Export::PredictFloat, 1 << 30, 1 << 30, 1);
    overflow.channels = 1 << 30;
    writeCalls(dir / "direct-size-overflow.bin", {overflow});

    ExportCall fourOnThree = tiled(identity, Export::TilesImageFloat, 37, 21, 1);
    fourOnThree.channels = 4;
    writeCalls(dir / "image-channels-float.bin", {fourOnThree});
    ExportCall fourBytes = tiled(identity, Export::TilesBytes, 37, 21, 1);
    fourBytes.channels = 4;
    writeCalls(dir / "image-channels-bytes.bin", {fourBytes});

    ExportCall deleting = tiled(identity, Export::TilesImageFloat, 37, 21, 1);
    deleting.deleteInCallback = true;
    deleting.stopAt = 1;
    writeCalls(dir / "delete-in-callback-stop.bin", {deleting});
    deleting.stopAt = 0;  // deleted, and the run told to go on
    writeCalls(dir / "delete-in-callback-go-on.bin", {deleting});

    // A read admitted from the progress callback that refuses a record too
    // small leaves its words in the context, and the completed
    // predictByTilesImageFloat then hands back the empty record, with no
    // words of its own.
    for (const Api api : {Api::DescribeModel, Api::GetProfile}) {
        ExportCall reading = tiled(identity, Export::TilesImageFloat, 40, 40, 1);
        reading.inner.at = 3;
        reading.inner.api = api;
        reading.inner.arg = 2;  // a record of 8 bytes
        writeCalls(dir / (std::string("reentry-small-record-") + apiName(api) + ".bin"), {reading});
    }
}

void modelSeeds(const fs::path& dir, const std::vector<fs::path>& folders) {
    fs::create_directories(dir);
    for (const fs::path& folder : folders)
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".onnx" && entry.file_size() < (64u << 10))
                fs::copy_file(entry.path(), dir / entry.path().filename(), fs::copy_options::overwrite_existing);
}

void runCostSeeds(const fs::path& dir) {
    fs::create_directories(dir);
    // The sizes of the command's tests: a 4500 x 4500 picture in 16-pixel
    // tiles, and a 384 x 256 one that a 256-pixel model enlarges four times.
    for (const auto& [name, fields] : std::vector<std::pair<std::string, std::vector<int32_t>>>{
             {"wide", {4499, 4499, 2, 0, 0, 0, 0, 0, 1, 3, 300000000, 0, 0, 0, 15, 13, 103683}},
             {"enlarged", {383, 255, 2, 1, 3, 0, 0, 0, 4, 3, 100000000, 4, 0, 0, 255, 223, 3}}}) {
        ByteWriter w;
        for (const int32_t v : fields) w.number(v);
        writeFile(dir / (name + ".bin"), w.bytes());
    }
}

void pictureSeeds(const fs::path& root) {
    const fs::path png = root / "fuzz_png", jpeg = root / "fuzz_jpeg", tiff = root / "fuzz_tiff";
    for (const fs::path& d : {png, jpeg, tiff}) fs::create_directories(d);
    unsigned seed = 1;
    PictureInfo colour{iccProfile("RGB ", 40), Density{300, 300, Density::Unit::Inch}};
    PictureInfo gray{iccProfile("GRAY", 40), Density{2835, 2835, Density::Unit::Centimetre}};
    for (int channels = 1; channels <= 4; ++channels) {
        const PictureInfo& info = channels >= 3 ? colour : gray;
        for (const SampleType type : {SampleType::UInt8, SampleType::UInt16}) {
            const Raster r = randomRaster(11, 7, channels, type, seed++);
            const std::string name = std::to_string(channels) + (type == SampleType::UInt8 ? "-8" : "-16");
            writeImage(png / (name + ".png"), FileFormat::Png, r, WriteSettings(type, 95, info));
            writeImage(tiff / (name + ".tif"), FileFormat::Tiff, r, WriteSettings(type, 95, info));
        }
        const Raster f = randomRaster(9, 6, channels, SampleType::Float32, seed++);
        writeImage(tiff / (std::to_string(channels) + "-float.tif"), FileFormat::Tiff, f,
                   WriteSettings(SampleType::Float32, 95, info));
        const Raster smooth = smoothRaster(19, 13, channels);
        writeTiffFile(tiff / (std::to_string(channels) + "-planar.tif"), smooth, TiffOptions{true, 4, 1});
        writeTiffFile(tiff / (std::to_string(channels) + "-turned.tif"), smooth, TiffOptions{false, 8, 6});
    }
    writePaletteTiff(tiff / "palette.tif", 24, 17);
    // Fax coding of 8-bit samples declaring a million pixels a row, as the
    // reader once believed.
    writePaletteTiff(tiff / "fax-8bit.tif", 16, 8);
    setTiffTag(tiff / "fax-8bit.tif", 259, 3);
    setTiffSize(tiff / "fax-8bit.tif", 1000000, 8);
    writeFlatTiff(tiff / "flat.tif", 64, 48, 3);
    for (const int channels : {1, 3}) {
        const Raster smooth = smoothRaster(21, 14, channels);
        const std::string name = std::to_string(channels);
        writeJpegFile(jpeg / (name + "-baseline.jpg"), smooth, JpegOptions{0, false, 90});
        writeJpegFile(jpeg / (name + "-progressive.jpg"), smooth, JpegOptions{0, true, 80});
        writeJpegFile(jpeg / (name + "-turned.jpg"), smooth, JpegOptions{6, false, 75});
        writeImage(jpeg / (name + "-profile.jpg"), FileFormat::Jpeg, smooth,
                   WriteSettings(SampleType::UInt8, 60, channels == 3 ? colour : gray));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s OUTDIR TEST_MODELS_DIR FUZZ_MODELS_DIR\n", argv[0]);
        return 2;
    }
    try {
        const fs::path out = argv[1];
        exportSeeds(out / "seeds" / "fuzz_exports");
        reproducers(out / "reproducers" / "fuzz_exports");
        modelSeeds(out / "seeds" / "fuzz_model_load", {argv[2], argv[3]});
        runCostSeeds(out / "seeds" / "fuzz_run_cost");
        pictureSeeds(out / "seeds");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_make_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
