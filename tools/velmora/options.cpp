#include "options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "number_list.h"
#include "velmora.h"
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
  velmora --info -m restore_t256.onnx --size 4000x3000
                                              describe a model and its plan for a picture
  velmora small.png large.png -m upscale_x4.onnx -t 128
                                              an upscaler: the result is 4 times larger
  velmora page.png text.png -m ch_PP-OCRv4_det_infer.onnx --plan
                                              a text detector's probability map, as a gray picture,
                                              its profile read from ch_PP-OCRv4_det_infer.onnx.json
  velmora photo.jpg cut.png -m matte.onnx --output-role mask --cutout
                                              the picture with the model's mask as its alpha

Without -t and -s the library plans each picture: it measures the model once
(on the first picture) and chooses tiles or the whole picture. The
model's profile (mean, std, colour order, what its output is) comes from
MODEL.onnx.json beside the model, or --profile, or the model's metadata;
--mean, --std and --output-role override parts of it. See docs/command.md.

By default only the command's own lines are shown: a progress bar in a terminal
and one closing line. What the library and the runtime print is kept back and
shown when it explains a failure; -v shows all of it.)";

// Combinations that cannot work whatever the model.
std::string usageProblem(const Options& o) {
    const bool normalizing = !o.mean.empty() || !o.deviation.empty();
    for (const float v : o.deviation)
        if (v == 0.0f) return "--std takes numbers other than 0";
    if (!o.mean.empty() && !o.deviation.empty() && o.mean.size() != o.deviation.size() && o.mean.size() != 1 &&
        o.deviation.size() != 1)
        return "--mean gives " + std::to_string(o.mean.size()) + " values and --std " +
               std::to_string(o.deviation.size());
    if (o.denormalize && !normalizing) return "--denormalize undoes --mean and --std; give them too";
    if (o.denormalize && o.eightBit)
        return std::string(o.argmax ? "--argmax" : "--8bit") + " gives bytes, which --denormalize cannot undo";
    if (o.cutout && o.maskOnly) return "--cutout and --mask exclude each other";
    if (o.blend && o.eightBit)
        return std::string(o.argmax ? "--argmax" : "--8bit") + " runs tiles with a hard cut; leave out --blend";
    if (o.cutout && o.argmax) return "--cutout puts a mask into the alpha; --argmax gives classes";
    if (o.sizeWidth && !o.info) return "--size goes with --info";
    if (o.quiet && o.verbose) return "--quiet and --verbose exclude each other";
    // A list typed with blanks leaves its later values among the files.
    for (const std::string& file : o.files)
        if (isNumber(file) && !std::filesystem::exists(file))
            return "\"" + file + "\" is not a file; --mean and --std take their values in one argument, " +
                   "separated by commas (--mean 0.485,0.456,0.406)";
    return {};
}

void parseSize(const std::string& text, Options& o) {
    const size_t x = text.find_first_of("xX");
    const auto side = [&](const std::string& part) {
        if (part.empty() || part.size() > 7 || part.find_first_not_of("0123456789") != std::string::npos) return 0;
        return std::stoi(part);
    };
    if (x != std::string::npos) {
        o.sizeWidth = side(text.substr(0, x));
        o.sizeHeight = side(text.substr(x + 1));
    }
    if (o.sizeWidth <= 0 || o.sizeHeight <= 0)
        throw std::invalid_argument("--size takes WIDTHxHEIGHT in pixels, such as 4000x3000; \"" + text + "\" is not");
}

// "2G", "1.5G", "800M", "64K" or bytes; powers of 1024, as memory is counted.
uint64_t parseMemorySize(const std::string& text) {
    size_t used = 0;
    double number = -1;
    try {
        number = std::stod(text, &used);
    } catch (const std::exception&) {}
    std::string unit = text.substr(used);
    if (!unit.empty() && (unit.back() == 'B' || unit.back() == 'b') && unit.size() == 2) unit.pop_back();
    const int shift = unit.empty()                 ? 0
                      : unit == "K" || unit == "k" ? 10
                      : unit == "M" || unit == "m" ? 20
                      : unit == "G" || unit == "g" ? 30
                      : unit == "T" || unit == "t" ? 40
                                                   : -1;
    const double bytes = number * static_cast<double>(uint64_t{1} << std::max(shift, 0));
    if (used == 0 || shift < 0 || !(bytes >= 1) || bytes > 1e18)
        throw std::invalid_argument("--memory-budget takes a size such as 2G, 800M or 1.5G; \"" + text + "\" is not");
    return static_cast<uint64_t>(bytes);
}

}  // namespace

int parseOptions(int argc, char** argv, Options& o) {
    CLI::App app{
        "Runs an ONNX image model over images of any size, in tiles or whole as the Velmora library plans it.\n"
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
                   "Tile side in pixels, instead of the plan's; must match a model of fixed input size")
        ->check(CLI::Range(1, 1 << 16));
    app.add_option("-s,--step", o.step,
                   "Distance between tiles, instead of the plan's; the rest of each tile is its overlap. "
                   "With -t, the tiles are run exactly as given, without measuring the model")
        ->check(CLI::Range(1, 1 << 16));
    app.add_option("-d,--downscale", o.downscale,
                   "Shrink the image by this factor before the model and enlarge the result back; "
                   "a negative factor also restores the detail that shrinking removed (default 1)")
        ->check([](const std::string& v) { return v == "0" ? std::string("must not be 0") : std::string(); });
    app.add_flag("--detail", o.detail, "Restore the detail lost by --downscale (same as a negative factor)");
    app.add_option("--input-scale", o.inputScale,
                   "Factor applied to pixel values (0 to 1 for integer images) before the model (default 1)");
    app.add_option("--output-scale", o.outputScale,
                   "Factor applied to the model's output to make pixel values (0 to 1 for integer images; default 1)");
    std::string meanText, deviationText, sizeText, role;
    const CLI::Option* meanGiven =
        app.add_option("--mean", meanText,
                       "Per-channel means of the model's profile, over the one it has: one value per model channel, "
                       "or one for all, in one argument (for instance 0.485,0.456,0.406)")
            ->type_name("LIST");
    const CLI::Option* deviationGiven =
        app.add_option("--std", deviationText,
                       "Per-channel deviations of the model's profile, likewise (for instance 0.229,0.224,0.225)")
            ->type_name("LIST");
    app.add_option("--profile", o.profile,
                   "Read the model's profile from this file (default: MODEL.onnx.json beside the model, "
                   "else the model's metadata)")
        ->type_name("FILE");
    app.add_option("--output-role", role,
                   "What the model's output is, over its profile: image, mask (or probability map) or scores")
        ->check(CLI::IsMember({"image", "mask", "scores"}, CLI::ignore_case));
    app.add_flag("--cutout", o.cutout,
                 "For a mask: write the picture with the mask as its alpha (PNG or TIFF; colours untouched)");
    app.add_flag("--mask", o.maskOnly, "For a mask: write the mask alone, as a gray picture (the default)");
    app.add_flag("--plan", o.showPlan, "Print the plan of each picture: tiles or whole, margins, runs, memory");
    const CLI::Option* sizeGiven =
        app.add_option("--size", sizeText, "With --info: print the plan for a picture of WIDTHxHEIGHT pixels")
            ->type_name("WxH");
    app.add_flag("--denormalize", o.denormalize,
                 "Undo --mean and --std on the model's output (for models whose result is a picture in the "
                 "same units): times the deviation, plus the mean, then --output-scale");
    app.add_flag("--8bit", o.eightBit, "Use the library's 8-bit RGB path (bytes in, bytes out, in tiles)");
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
    std::string budgetText;
    const CLI::Option* budgetGiven =
        app.add_option("--memory-budget", budgetText,
                       "Memory a picture's run may take before it streams, reading and writing a band of rows "
                       "at a time (such as 2G or 800M; default: half of what is available)")
            ->type_name("SIZE");
    app.add_flag("--no-stream", o.noStream, "Hold every picture whole, however large");
    app.add_flag("--blend", o.blend, "Blend the tiles' overlaps smoothly instead of cutting them at the middle");
    app.add_flag("--info", o.info,
                 "Print the library's version and build, and describe the model if one is given: its inputs "
                 "and outputs, profile, what measuring it finds and what runs it");
    app.add_flag("--quiet", o.quiet, "Nothing but errors: no progress bar and no closing line");
    app.add_flag("-v,--verbose", o.verbose,
                 "Also show each picture's plan and everything the library and the runtime print");

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
    role = lower(role);
    o.outputRole = role == "image"    ? OutputRole::Image
                   : role == "mask"   ? OutputRole::Mask
                   : role == "scores" ? OutputRole::Scores
                                      : OutputRole::FromProfile;
    if (o.argmax) o.eightBit = true;
    std::string problem;
    try {
        if (meanGiven->count())
            o.mean = parseNumberList(meanText, "--mean", VELMORA_PROFILE_CHANNELS, "0.485,0.456,0.406");
        if (deviationGiven->count())
            o.deviation = parseNumberList(deviationText, "--std", VELMORA_PROFILE_CHANNELS, "0.229,0.224,0.225");
        if (sizeGiven->count()) parseSize(sizeText, o);
        if (budgetGiven->count()) o.memoryBudget = parseMemorySize(budgetText);
        problem = usageProblem(o);
    } catch (const std::invalid_argument& e) {
        problem = e.what();
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "velmora: %s (see --help)\n", problem.c_str());
        return 2;
    }
    return -1;
}
