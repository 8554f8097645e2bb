// Direct access to the library's key under HKEY_CURRENT_USER, for Windows
// tests that prepare or inspect what the library stores there.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>

inline constexpr const char* kSettingsKeyPath = "SOFTWARE\\Velmora";

struct RegistryValue {
    DWORD type = REG_NONE;
    std::string bytes;  // exactly as stored, terminating zero of a text included
    bool operator==(const RegistryValue&) const = default;
};

using RegistryValues = std::map<std::string, RegistryValue>;

inline bool registryKeyExists(const char* path = kSettingsKeyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The raw stored bytes: RegQueryValueExA adds no terminating zero of its own.
inline std::optional<RegistryValue> registryValue(const std::string& name, const char* path = kSettingsKeyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
    RegistryValue value;
    DWORD size = 0;
    LONG result = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size);
    if (result == ERROR_SUCCESS) {
        value.bytes.resize(size);
        result = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, reinterpret_cast<BYTE*>(value.bytes.data()),
                                  &size);
        value.bytes.resize(size);
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return std::nullopt;
    return value;
}

inline RegistryValues registryValues(const char* path = kSettingsKeyPath) {
    RegistryValues values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameLength = sizeof name;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (auto value = registryValue(name, path)) values[name] = *value;
    }
    RegCloseKey(key);
    return values;
}

inline bool setRegistryValue(const std::string& name, const RegistryValue& value, const char* path = kSettingsKeyPath) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result =
        RegSetValueExA(key, name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.bytes.data()),
                       static_cast<DWORD>(value.bytes.size()));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// A text value as the library writes it: REG_SZ with its terminating zero.
inline RegistryValue registryText(const std::string& text) { return RegistryValue{REG_SZ, text + '\0'}; }

inline void deleteRegistryKey(const char* path = kSettingsKeyPath) {
    RegDeleteTreeA(HKEY_CURRENT_USER, path);
    RegDeleteKeyA(HKEY_CURRENT_USER, path);
}

// Keeps what the key holds while the tests run and puts it back afterwards, so
// that running the tests on a workstation leaves the user's settings alone.
class SavedRegistryKey {
public:
    SavedRegistryKey() : existed_(registryKeyExists()), values_(registryValues()) { deleteRegistryKey(); }
    ~SavedRegistryKey() {
        deleteRegistryKey();
        if (!existed_) return;
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
            ERROR_SUCCESS)
            RegCloseKey(key);
        for (const auto& [name, value] : values_) setRegistryValue(name, value);
    }
    SavedRegistryKey(const SavedRegistryKey&) = delete;
    SavedRegistryKey& operator=(const SavedRegistryKey&) = delete;

private:
    bool existed_;
    RegistryValues values_;
};
