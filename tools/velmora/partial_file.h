// Where a result is written until it is complete: a file beside the
// destination that only takes the destination's name once it is kept. Where
// the system can, the file has no name at all while it is written, so that
// not even a killed run leaves anything behind.
#pragma once

#include <filesystem>

class PartialFile {
public:
    explicit PartialFile(const std::filesystem::path& destination);
    ~PartialFile();  // a file never kept is gone
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // The path the codecs open and write (a name of the open file where it has none of its own).
    const std::filesystem::path& path() const { return writing; }
    // Replaces the destination with the complete file (keeping the
    // destination's permissions when it exists). Throws std::filesystem::filesystem_error.
    void keep();

private:
    std::filesystem::path destination, writing, named;
    int descriptor = -1;  // the nameless file, or -1
    bool kept = false;
};
