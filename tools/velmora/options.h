// What the user asked for on the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "raster.h"

enum class Layout { Auto, ChannelsLast, ChannelsFirst };
// What the model's output is: as its profile says, or as --output-role says.
enum class OutputRole { FromProfile, Image, Mask, Scores };

struct Options {
    std::vector<std::string> files;  // INPUT OUTPUT, or inputs (files or folders) with --output-dir
    std::string outputDir;           // -o: results go here under the inputs' names
    std::string format;              // with -o: "png", "jpg" or "tif" instead of the input's own
    std::string model;               // empty: the demo model
    std::string inputName;           // empty: the model's first input
    std::string outputName;          // empty: the model's first output
    Layout inputLayout = Layout::Auto;
    Layout outputLayout = Layout::Auto;
    int tile = 0;       // 0: the plan's
    int step = 0;       // 0: the plan's
    int downscale = 1;  // below -1: shrink by |downscale| and transfer the detail
    bool detail = false;
    float inputScale = 1.0f;
    float outputScale = 1.0f;
    std::vector<float> mean;       // --mean: per model channel, or one value for every channel; empty: the profile's
    std::vector<float> deviation;  // --std: likewise
    bool denormalize = false;      // the inverse of --mean and --std on the model's output
    std::string profile;           // --profile: a sidecar text to read instead of MODEL.onnx.json
    OutputRole outputRole = OutputRole::FromProfile;
    bool cutout = false;    // a mask becomes the picture's alpha
    bool maskOnly = false;  // a mask is written alone (what a mask gives anyway)
    bool showPlan = false;  // print each picture's plan
    int sizeWidth = 0;      // --size with --info: the picture to plan for
    int sizeHeight = 0;
    bool eightBit = false;
    bool argmax = false;
    bool color = false;  // keep a colour result of a gray picture in colour
    int bits = 0;        // 8, 16 or 32 (float); 0: as the input, where the format allows
    int jpegQuality = 95;
    bool overwrite = false;     // an output may replace its own input
    bool force = false;         // run even when the tile count or the memory estimate says no
    uint64_t memoryBudget = 0;  // --memory-budget: past it a run streams; 0: a share of what is available
    bool noStream = false;      // --no-stream: every picture is held whole
    bool blend = false;         // --blend: overlaps blended, whatever the plan would choose
    bool info = false;
    bool quiet = false;
    bool verbose = false;
};

// Parses the arguments. Returns the exit code to leave with when the command
// should not run (help, version, or a usage error already printed), or -1.
int parseOptions(int argc, char** argv, Options& options);

// The signed factor handed to the library: --detail makes it negative.
inline int libraryDownscale(const Options& o) { return o.detail && o.downscale > 0 ? -o.downscale : o.downscale; }
