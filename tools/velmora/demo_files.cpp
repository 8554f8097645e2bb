#include "demo_files.h"

#include <stdexcept>

#include "platform.h"

DemoFiles findDemoFiles() {
    const std::filesystem::path exe = executablePath();
    if (exe.empty()) throw std::runtime_error("cannot tell where the velmora command lives, to find its demo files");
    const std::filesystem::path folder = exe.parent_path();
    const std::filesystem::path candidates[] = {folder / "velmora-demo",
                                                folder.parent_path() / "share" / "velmora" / "demo"};
    std::string looked;
    for (const auto& c : candidates) {
        std::error_code ec;
        if (std::filesystem::exists(c / kDemoModelName, ec) && std::filesystem::exists(c / kDemoSampleName, ec))
            return {c / kDemoModelName, c / kDemoSampleName};
        looked += (looked.empty() ? "" : " and ") + c.string();
    }
    throw std::runtime_error("the demo files (" + std::string(kDemoModelName) + ", " + kDemoSampleName +
                             ") are in neither " + looked + "; rebuild, or give a model with --model");
}
