#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>
#include <sys/stat.h>
#include <windows.h>

#include "output_capture_platform.h"

namespace capture_platform {

int openTemporaryFile() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"vel", 0, name)) return -1;
    int fd = -1;
    if (_wsopen_s(&fd, name, _O_RDWR | _O_BINARY | _O_TEMPORARY | _O_NOINHERIT, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0)
        return -1;
    return fd;
}

int duplicate(int descriptor) { return _dup(descriptor); }

bool redirect(int source, int target) { return _dup2(source, target) == 0; }

void closeDescriptor(int descriptor) { _close(descriptor); }

std::FILE* writingStream(int descriptor) { return _fdopen(descriptor, "w"); }

std::string takeContents(int descriptor) {
    std::string text;
    char buffer[65536];
    _lseeki64(descriptor, 0, SEEK_SET);
    for (;;) {
        const int n = _read(descriptor, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    _chsize_s(descriptor, 0);
    _lseeki64(descriptor, 0, SEEK_SET);
    return text;
}

}  // namespace capture_platform
