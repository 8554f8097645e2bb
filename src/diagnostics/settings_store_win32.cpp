// The settings store on the registry: one key below HKEY_CURRENT_USER, each
// call with its own handle.
#include <windows.h>

#include "diagnostics/settings_store_platform.h"

namespace settings_platform {
namespace {

class RegistryKey final : public OpenKey {
public:
    explicit RegistryKey(HKEY key) : key_(key) {}
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() override { RegCloseKey(key_); }

    // The stored type is not looked at: whatever bytes the value holds are
    // returned. A key that was only just created allows no query.
    bool query(const std::string& name, char* buffer, uint32_t capacity, uint32_t& size) override {
        DWORD bytes = capacity;
        if (RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes) !=
            ERROR_SUCCESS) {
            return false;
        }
        size = bytes;
        return true;
    }

    bool set(const std::string& name, const std::string& text, int32_t& errorCode) override {
        const LONG result = RegSetValueExA(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                           static_cast<DWORD>(text.size() + 1));
        if (result != ERROR_SUCCESS) {
            errorCode = static_cast<int32_t>(result);
            return false;
        }
        return true;
    }

private:
    HKEY key_;
};

}  // namespace

std::unique_ptr<OpenKey> openKey(const std::string& keyPath, KeyAccess access, int32_t& errorCode) {
    HKEY key = nullptr;
    const REGSAM rights = access == KeyAccess::queryAndSet ? KEY_ALL_ACCESS : KEY_SET_VALUE;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, rights, &key) != ERROR_SUCCESS) {
        const LONG created = RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_WRITE, nullptr, &key, nullptr);
        if (created != ERROR_SUCCESS) {
            errorCode = static_cast<int32_t>(created);
            return nullptr;
        }
    }
    return std::make_unique<RegistryKey>(key);
}

}  // namespace settings_platform
