#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <string>
#include <system_error>

#include "partial_file.h"

namespace fs = std::filesystem;

namespace {

fs::path temporaryBeside(const fs::path& path) {
    std::random_device random;
    const std::string suffix = std::to_string(random() % 1000000);
    return path.parent_path() / ("." + path.filename().string() + ".partial-" + suffix);
}

}  // namespace

PartialFile::PartialFile(const fs::path& destination) : destination(destination), named(temporaryBeside(destination)) {
    const fs::path folder = destination.parent_path().empty() ? fs::path(".") : destination.parent_path();
#ifdef O_TMPFILE
    // Reopened by its /proc name, the nameless file is the codecs' like any other.
    descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (descriptor >= 0) {
        writing = "/proc/self/fd/" + std::to_string(descriptor);
        if (access(writing.c_str(), W_OK) == 0) return;
        close(descriptor);
        descriptor = -1;
    }
#endif
    writing = named;
}

PartialFile::~PartialFile() {
    if (descriptor >= 0) close(descriptor);
    if (!kept) {
        std::error_code ignored;
        fs::remove(named, ignored);
    }
}

void PartialFile::keep() {
    std::error_code ec;
    const fs::file_status old = fs::status(destination, ec);
    if (!ec && fs::is_regular_file(old)) fs::permissions(writing, old.permissions(), ec);
    if (descriptor >= 0) {
        // A name for the moment between linking and renaming over the destination.
        if (linkat(AT_FDCWD, writing.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) != 0)
            throw fs::filesystem_error("cannot keep the result", named,
                                       std::error_code(errno, std::generic_category()));
    }
    fs::rename(named, destination);
    kept = true;
}
