#include "options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "velmora_version.h"

namespace {

constexpr const char* kExamples = R"(Examples:
  velmora                                     sharpen the bundled sample with the demo model
  velmora photo.jpg photo-sharp.jpg           sharpen one picture with the demo model
  velmora scan.tif clean.tif -m restore_t256.onnx --downscale -2
  velmora -o done/ -m restore_t256.onnx *.jpg several pictures, the model loaded once
  velmora -o done/ --format png holiday/      every picture of a folder, written as PNG
  velmora street.png labels.png -m segment_t512.onnx --argmax
  velmora a.png a.png --overwrite             replace the input with the result
  velmora --info -m restore_t256.onnx         describe a model
  velmora small.png large.png -m upscale_x4.onnx -t 128
                                              an upscaler: the result is 4 times larger
  velmora page.png text.png -m ch_PP-OCRv4_det_infer.onnx --mean 0.485,0.456,0.406 --std 0.229,0.224,0.225
                                              a text detector's probability map, as a gray picture

By default only the command's own lines are shown: a progress bar in a terminal
and one closing line. What the library and the runtime print is kept back and
shown when it explains a failure; -v shows all of it.)";

// Normalisation that cannot work whatever the model.
std::string normalizationProblem(const Options& o) {
    const bool normalizing = !o.mean.empty() || !o.deviation.empty();
    for (const float v : o.mean)
        if (!std::isfinite(v)) return "--mean takes finite numbers";
    for (const float v : o.deviation)
        if (!std::isfinite(v) || v == 0.0f) return "--std takes finite numbers other than 0";
    if (!o.mean.empty() && !o.deviation.empty() && o.mean.size() != o.deviation.size() && o.mean.size() != 1 &&
        o.deviation.size() != 1)
        return "--mean gives " + std::to_string(o.mean.size()) + " values and --std " +
               std::to_string(o.deviation.size());
    if (o.denormalize && !normalizing) return "--denormalize undoes --mean and --std; give them too";
    if (normalizing && o.eightBit)
        return std::string(o.argmax ? "--argmax" : "--8bit") +
               " hands bytes to the library, which takes no per-channel --mean or --std; "
               "leave them out or use the float path";
    return {};
}

}  // namespace

int parseOptions(int argc, char** argv, Options& o) {
    CLI::App app{
        "Runs an ONNX image model over images of any size, tile by tile, through the Velmora library.\n"
        "Without arguments it sharpens the bundled sample image with the bundled demo model.",
        "velmora"};
    app.set_version_flag("--version", "velmora command " VELMORA_VERSION_TEXT);
    app.footer(kExamples);
    app.add_option("files", o.files,
                   "INPUT OUTPUT, or with -o any number of input pictures and folders: PNG, JPEG or TIFF "
                   "(8 or 16 bits, or 32-bit float TIFF)");
    app.add_option("-o,--output-dir", o.outputDir, "Write the results into this folder, under the inputs' names");
    app.add_option("--format", o.format, "With -o: write the results as png, jpg or tif instead of the inputs' formats")
        ->check(CLI::IsMember({"png", "jpg", "tif"}, CLI::ignore_case));
    app.add_option("-m,--model", o.model, "ONNX model file (default: the bundled demo sharpening model)");
    app.add_option("--input-name", o.inputName, "Name of the model's input (default: its first input)");
    app.add_option("--output-name", o.outputName, "Name of the model's output (default: its first output)");
    std::string inputLayout = "auto", outputLayout = "auto";
    const auto layoutNames = CLI::IsMember({"auto", "nhwc", "nchw"}, CLI::ignore_case);
    app.add_option("--input-layout", inputLayout,
                   "Layout of the model's input: auto (default: from its shape, channels-last where the shape "
                   "cannot tell), nhwc or nchw")
        ->check(layoutNames);
    app.add_option("--output-layout", outputLayout,
                   "Layout of the model's output: auto (default: from its shape), nhwc or nchw")
        ->check(layoutNames);
    app.add_option("-t,--tile", o.tile,
                   "Tile side in pixels; must match a model of fixed input size (default: read from the model, "
                   "or 256 for a model that leaves its size open)")
        ->check(CLI::Range(1, 1 << 16));
    app.add_option("-s,--step", o.step,
                   "Distance between tiles; the rest of each tile is its overlap (default: tile - tile/8)")
        ->check(CLI::Range(1, 1 << 16));
    app.add_option("-d,--downscale", o.downscale,
                   "Shrink the image by this factor before the model and enlarge the result back; "
                   "a negative factor also restores the detail that shrinking removed")
        ->check([](const std::string& v) { return v == "0" ? std::string("must not be 0") : std::string(); });
    app.add_flag("--detail", o.detail, "Restore the detail lost by --downscale (same as a negative factor)");
    app.add_option("--input-scale", o.inputScale,
                   "Factor applied to pixel values (0 to 1 for integer images) before the model (default 1)");
    app.add_option("--output-scale", o.outputScale,
                   "Factor applied to the model's output to make pixel values (0 to 1 for integer images; default 1)");
    app.add_option("--mean", o.mean,
                   "Per-channel means subtracted from the values going into the model, after --input-scale: "
                   "one value per model channel, or one for all (for instance 0.485,0.456,0.406)")
        ->delimiter(',')
        ->expected(1, 16)
        ->type_name("LIST");
    app.add_option("--std", o.deviation,
                   "Per-channel deviations that the values going into the model are divided by, after --mean "
                   "(for instance 0.229,0.224,0.225)")
        ->delimiter(',')
        ->expected(1, 16)
        ->type_name("LIST");
    app.add_flag("--denormalize", o.denormalize,
                 "Undo --mean and --std on the model's output (for models whose result is a picture in the "
                 "same units): times the deviation, plus the mean, then --output-scale");
    app.add_flag("--8bit", o.eightBit, "Use the library's 8-bit RGB path (bytes in, bytes out)");
    app.add_flag("--argmax", o.argmax,
                 "Segmentation: write the index of the strongest output channel per pixel (implies --8bit)");
    app.add_flag("--color", o.color, "Keep a colour result of a gray picture in colour (default: gray, as the input)");
    app.add_option("-b,--bits", o.bits,
                   "Bit depth of the result: 8, 16 or 32 (float, TIFF only); default: as the input")
        ->check(CLI::IsMember({8, 16, 32}));
    app.add_option("-q,--quality", o.jpegQuality, "JPEG quality of the result (default 95)")->check(CLI::Range(1, 100));
    app.add_flag("--overwrite", o.overwrite, "Let a result replace its own input (only once it is complete)");
    app.add_flag("--force", o.force,
                 "Run even when the tiles are very many or the memory estimate says the picture does not fit");
    app.add_flag("--info", o.info,
                 "Print the library's version, engine and build, and describe the model if one is given");
    app.add_flag("--quiet", o.quiet, "Nothing but errors: no progress bar and no closing line");
    app.add_flag("-v,--verbose", o.verbose, "Also show everything the library and the runtime print");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        std::fprintf(stderr, "velmora: %s (see --help)\n", e.what());
        return 2;
    }
    auto lower = [](std::string name) {
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return name;
    };
    auto layout = [&](const std::string& name) {
        const std::string l = lower(name);
        return l == "nhwc" ? Layout::ChannelsLast : l == "nchw" ? Layout::ChannelsFirst : Layout::Auto;
    };
    o.inputLayout = layout(inputLayout);
    o.outputLayout = layout(outputLayout);
    o.format = lower(o.format);
    if (o.argmax) o.eightBit = true;
    if (const std::string problem = normalizationProblem(o); !problem.empty()) {
        std::fprintf(stderr, "velmora: %s (see --help)\n", problem.c_str());
        return 2;
    }
    if (o.quiet && o.verbose) {
        std::fprintf(stderr, "velmora: --quiet and --verbose exclude each other (see --help)\n");
        return 2;
    }
    return -1;
}
