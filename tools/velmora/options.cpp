#include "options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>

#include "velmora_version.h"

int defaultStep(int tile) {
    if (tile < 4) return tile;
    const int margin = std::max(1, tile / 16);
    return tile - 2 * margin;
}

int parseOptions(int argc, char** argv, Options& o) {
    CLI::App app{
        "Runs an ONNX image model over an image of any size, tile by tile, through the Velmora library.\n"
        "Without arguments it sharpens the bundled sample image with the bundled demo model.",
        "velmora"};
    app.set_version_flag("--version", "velmora command " VELMORA_VERSION_TEXT);
    app.add_option("input", o.input, "Image to process: PNG, JPEG or TIFF (8 or 16 bits, or 32-bit float TIFF)");
    app.add_option("output", o.output, "Where to write the result; the format follows the extension");
    app.add_option("-m,--model", o.model, "ONNX model file (default: the bundled demo sharpening model)");
    app.add_option("--input-name", o.inputName, "Name of the model's input (default: its first input)");
    app.add_option("--output-name", o.outputName, "Name of the model's output (default: its first output)");
    std::string inputLayout = "auto", outputLayout = "auto";
    const auto layoutNames = CLI::IsMember({"auto", "nhwc", "nchw"}, CLI::ignore_case);
    app.add_option("--input-layout", inputLayout, "Layout of the model's input: auto, nhwc or nchw")
        ->check(layoutNames);
    app.add_option("--output-layout", outputLayout, "Layout of the model's output: auto, nhwc or nchw")
        ->check(layoutNames);
    app.add_option("-t,--tile", o.tile,
                   "Tile side in pixels; must match the model's input (default: read from the model)")
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
    app.add_flag("--8bit", o.eightBit, "Use the library's 8-bit RGB path (bytes in, bytes out)");
    app.add_flag("--argmax", o.argmax,
                 "Segmentation: write the index of the strongest output channel per pixel (implies --8bit)");
    app.add_option("-b,--bits", o.bits,
                   "Bit depth of the result: 8, 16 or 32 (float, TIFF only); default: as the input")
        ->check(CLI::IsMember({8, 16, 32}));
    app.add_option("-q,--quality", o.jpegQuality, "JPEG quality of the result (default 95)")->check(CLI::Range(1, 100));
    app.add_flag("--info", o.info,
                 "Print the library's version, engine and build, and describe the model if one is given");
    app.add_flag("--quiet", o.quiet, "No progress bar and no closing message");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        std::fprintf(stderr, "velmora: %s (see --help)\n", e.what());
        return 2;
    }
    auto layout = [](std::string name) {
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return name == "nhwc" ? Layout::ChannelsLast : name == "nchw" ? Layout::ChannelsFirst : Layout::Auto;
    };
    o.inputLayout = layout(inputLayout);
    o.outputLayout = layout(outputLayout);
    if (o.argmax) o.eightBit = true;
    return -1;
}
