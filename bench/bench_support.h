// What the benchmarks share: scratch settings for the process, quiet output
// streams, model files and reproducible images.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/image_records.h"

namespace bench {

// Each pipeline run stores its run count among the per-user settings: point
// those (and the log folder) at a scratch folder for the whole process.
class ScratchSettings {
public:
    ScratchSettings() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
        root_ = pattern;
        std::filesystem::create_directories(root_ / "config");
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setenv("TEMP", root_.c_str(), 1);
    }
    ~ScratchSettings() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    ScratchSettings(const ScratchSettings&) = delete;
    ScratchSettings& operator=(const ScratchSettings&) = delete;
    std::string file(const char* name) const { return (root_ / name).string(); }

private:
    std::filesystem::path root_;
};

inline ScratchSettings& scratch() {
    static ScratchSettings settings;
    return settings;
}

// While alive, file descriptor `fd` (1 or 2) goes to `path`; the benchmark's
// own report is written after it has been restored.
class Redirect {
public:
    Redirect(int fd, const std::string& path) : fd_(fd) {
        flushAll();
        saved_ = dup(fd_);
        const int target = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (saved_ < 0 || target < 0 || dup2(target, fd_) < 0) throw std::runtime_error("cannot redirect output");
        close(target);
    }
    ~Redirect() {
        flushAll();
        dup2(saved_, fd_);
        close(saved_);
    }
    Redirect(const Redirect&) = delete;
    Redirect& operator=(const Redirect&) = delete;

private:
    static void flushAll() {
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
    }
    int fd_;
    int saved_ = -1;
};

inline std::string modelPath(const std::string& name) { return std::string(VELMORA_BENCH_MODELS) + "/" + name; }

inline std::vector<char> readModel(const std::string& name) {
    const std::string path = modelPath(name);
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("missing model " + path);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Values in [0, 1) from a fixed seed, so that every run sees the same image.
inline void fillRandom(float* data, int64_t count) {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    for (int64_t i = 0; i < count; ++i) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        data[i] = static_cast<float>(s >> 40) * (1.0f / 16777216.0f);
    }
}

}  // namespace bench
