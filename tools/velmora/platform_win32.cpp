#include <io.h>
#include <windows.h>

#include <atomic>

#include "platform.h"

namespace {

std::atomic<bool> interrupted{false};

BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (interrupted.exchange(true)) return FALSE;  // the second one ends the process
    return TRUE;
}

}  // namespace

void watchForInterrupt() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

bool interruptRequested() { return interrupted.load(); }

bool isTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

std::filesystem::path executablePath() {
    wchar_t buffer[32768];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    if (length == 0 || length >= std::size(buffer)) return {};
    return std::filesystem::path(std::wstring(buffer, length));
}
