// The demo model and sample image that the build places beside the command
// (and the installation under share/velmora/demo).
#pragma once

#include <filesystem>

struct DemoFiles {
    std::filesystem::path model;
    std::filesystem::path sample;
};

inline constexpr const char* kDemoModelName = "demo_sharpen_t128.onnx";
inline constexpr const char* kDemoSampleName = "sample.png";
inline constexpr const char* kDemoResultName = "velmora-demo-sharpened.png";

// Throws, naming the folders it looked in, when the files are not there.
DemoFiles findDemoFiles();
