#include <windows.h>

#include <filesystem>
#include <string>

#include "backend/dynamic_library.h"
#include "diagnostics/console_sink.h"

namespace dynlib {

namespace {

// Narrow paths are in the code page the file functions use.
UINT fileSystemCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

std::wstring widen(const std::string& text) {
    const int n = MultiByteToWideChar(fileSystemCodePage(), 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(fileSystemCodePage(), 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string narrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(fileSystemCodePage(), 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string result(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(fileSystemCodePage(), 0, text.data(), static_cast<int>(text.size()), result.data(), n,
                            nullptr, nullptr);
    return result;
}

// The system's message for the calling thread's last error code, with the
// line end it carries, or empty when the code is 0.
std::string formatLastError() {
    const DWORD code = GetLastError();
    if (code == 0) return {};
    char* message = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&message), 0, nullptr);
    std::string text(message ? message : "", message ? length : 0);
    if (message) LocalFree(message);
    return text;
}

}  // namespace

std::string parentFolder(const std::string& path) {
    // Through wide text, so that a trail byte of a double-byte character is
    // never taken for a separator.
    return narrow(std::filesystem::path(widen(path)).parent_path().wstring());
}

std::string libraryFolder() {
    HMODULE module = nullptr;
    // Without the unchanged-refcount flag: the library keeps itself loaded.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&libraryFolder),
                            &module)) {
        consoleLine("Error getting module handle: " + std::to_string(GetLastError()), Severity::error,
                    ConsoleStream::error);
        return {};
    }
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        consoleLine("Error getting DLL path: " + std::to_string(GetLastError()), Severity::error, ConsoleStream::error);
        return {};
    }
    return parentFolder(std::string(path, length));
}

const char* pathSeparator() { return "\\"; }

Handle open(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) error = formatLastError();
    return reinterpret_cast<Handle>(module);
}

void* symbol(Handle handle, const char* name, std::string& error) {
    FARPROC address = GetProcAddress(static_cast<HMODULE>(handle), name);
    if (!address) error = formatLastError();
    return reinterpret_cast<void*>(address);
}

}  // namespace dynlib
