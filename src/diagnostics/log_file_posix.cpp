#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "diagnostics/log_file_platform.h"

namespace log_platform {

std::span<const char* const> temporaryFolderVariables() {
    static const char* const names[] = {"TEMP", "TMP", "TMPDIR"};
    return names;
}

char folderSeparator() { return '/'; }

bool toLocalTime(std::time_t time, std::tm& local) { return localtime_r(&time, &local) != nullptr; }

void appendLine(const std::string& path, const std::string& line) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return;
    }
    // One write for the whole line, so that lines of several processes
    // appending at once never interleave.
    const std::string text = line + '\n';
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

}  // namespace log_platform
