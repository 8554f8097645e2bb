#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "output_capture_platform.h"

namespace capture_platform {

int openTemporaryFile() {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec) folder = "/tmp";
    std::string pattern = (folder / "velmora-output-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) unlink(pattern.c_str());
    return fd;
}

int duplicate(int descriptor) { return fcntl(descriptor, F_DUPFD_CLOEXEC, 3); }

bool redirect(int source, int target) { return dup2(source, target) >= 0; }

void closeDescriptor(int descriptor) { close(descriptor); }

std::FILE* writingStream(int descriptor) { return fdopen(descriptor, "w"); }

std::string takeContents(int descriptor) {
    std::string text;
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t n = pread(descriptor, buffer, sizeof buffer, at);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    // Standard output and error share the file's offset: both start again at 0.
    if (ftruncate(descriptor, 0) == 0) lseek(descriptor, 0, SEEK_SET);
    return text;
}

}  // namespace capture_platform
