// The per-user settings as a host's user sees them: the registry key on
// Windows, the key file elsewhere. Plain texts only.
#pragma once

#include <map>
#include <string>

std::map<std::string, std::string> storedSettings();
// Replaces every stored value by these.
void storeSettings(const std::map<std::string, std::string>& values);
void storeSetting(const std::string& name, const std::string& value);
// Removes the settings key with all its values.
void removeStoredSettings();
bool settingsKeyExists();
