#include <random>
#include <string>
#include <system_error>

#include "partial_file.h"

namespace fs = std::filesystem;

PartialFile::PartialFile(const fs::path& destination) : destination(destination) {
    std::random_device random;
    const std::string suffix = std::to_string(random() % 1000000);
    named = destination.parent_path() / ("." + destination.filename().string() + ".partial-" + suffix);
    writing = named;
}

PartialFile::~PartialFile() {
    if (!kept) {
        std::error_code ignored;
        fs::remove(named, ignored);
    }
}

void PartialFile::keep() {
    std::error_code ec;
    const fs::file_status old = fs::status(destination, ec);
    if (!ec && fs::is_regular_file(old)) fs::permissions(named, old.permissions(), ec);
    fs::rename(named, destination);
    kept = true;
}
