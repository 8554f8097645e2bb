// On Windows the settings are the values of the registry key.
#include "api/stored_settings.h"
#include "support/registry_key.h"

std::map<std::string, std::string> storedSettings() {
    std::map<std::string, std::string> values;
    for (const auto& [name, value] : registryValues()) {
        // The text up to its terminating zero, whatever the stored type.
        values[name] = value.bytes.substr(0, value.bytes.find('\0'));
    }
    return values;
}

void storeSettings(const std::map<std::string, std::string>& values) {
    deleteRegistryKey();
    for (const auto& [name, value] : values) setRegistryValue(name, registryText(value));
}

void storeSetting(const std::string& name, const std::string& value) { setRegistryValue(name, registryText(value)); }

void removeStoredSettings() { deleteRegistryKey(); }

bool settingsKeyExists() { return registryKeyExists(); }
