// What the fidelity programs share as hosts of the public header: a scratch
// folder for the library's per-user settings, error texts, medians and
// files read whole.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "velmora.h"

namespace fidelity {

// The library stores a run count among the per-user settings: a scratch
// folder for them, so that measuring leaves the user's alone.
struct ScratchSettings {
    std::filesystem::path root;
    ScratchSettings() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-fidelity-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
        root = pattern;
        setenv("XDG_CONFIG_HOME", root.c_str(), 1);
        setenv("TEMP", root.c_str(), 1);
    }
    ~ScratchSettings() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    ScratchSettings(const ScratchSettings&) = delete;
    ScratchSettings& operator=(const ScratchSettings&) = delete;
};

inline std::string errorText(VelmoraContext context) {
    std::vector<char> buffer(4096, 0);
    getErrorText(context, buffer.data(), static_cast<int32_t>(buffer.size()));
    return buffer.data();
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline std::vector<char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace fidelity
