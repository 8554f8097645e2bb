#include <share.h>

#include <cstdio>

#include "diagnostics/log_file_platform.h"

namespace log_platform {

std::span<const char* const> temporaryFolderVariables() {
    static const char* const names[] = {"TEMP", "TMP"};
    return names;
}

char folderSeparator() { return '\\'; }

bool toLocalTime(std::time_t time, std::tm& local) { return localtime_s(&local, &time) == 0; }

void appendLine(const std::string& path, const std::string& line) {
    // Text mode turns the line feed into CR LF; _SH_DENYNO keeps the file open
    // to other readers and writers.
    std::FILE* file = _fsopen(path.c_str(), "at", _SH_DENYNO);
    if (file == nullptr) {
        return;
    }
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
    std::fclose(file);
}

}  // namespace log_platform
