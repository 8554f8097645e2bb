// A C stream that closes itself, for the codecs' C interfaces.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

inline FileHandle openFile(const std::filesystem::path& path, const char* mode) {
    FileHandle file(std::fopen(path.string().c_str(), mode));
    if (!file) throw std::runtime_error(path.string() + ": " + std::strerror(errno));
    return file;
}

// Closes a written file and reports what the system says if the data did not
// all reach it.
inline void closeWrittenFile(FileHandle& file, const std::filesystem::path& path) {
    std::FILE* f = file.release();
    const bool failed = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || failed) throw std::runtime_error(path.string() + ": " + std::strerror(errno));
}
