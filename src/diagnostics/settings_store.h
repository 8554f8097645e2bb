// Per-user settings: texts kept under one key of the user's store (the
// registry's HKEY_CURRENT_USER on Windows, a file in the user's configuration
// folder elsewhere). Numbers are stored as their decimal text. No operation
// fails towards its caller; problems with the key go to messageSink.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A value's name and its text.
using SettingsEntry = std::pair<std::string, std::string>;

// The folder holding all of the library's settings.
inline constexpr const char* settingsFolder = "Velmora";

// The key path of a folder: "SOFTWARE\" + folder.
std::string settingsKeyPath(const std::string& folder);

// Parses like std::stoi in base 10: leading white space, an optional sign,
// digits up to the first non-digit, the rest ignored. Empty when there is no
// leading number or it does not fit in 32 signed bits.
std::optional<int32_t> parseLeadingInt(std::string_view text);

// The stored text, cut at its first zero byte. A value that is absent or does
// not fit in 255 bytes gives the default, which is then stored in its place;
// a key that cannot be opened or created gives the default and stores nothing.
std::string readRegistryString(const std::string& folder, const std::string& name, const std::string& defaultText);

// readRegistryString with the default's decimal text, parsed by
// parseLeadingInt. An empty text, no number or a number out of range gives
// the default without changing what is stored.
int32_t readRegistryInt(const std::string& folder, const std::string& name, int32_t defaultValue);

// Stores the text under the name, creating the key when missing. False (with
// a message on messageSink) when the key or the value cannot be written.
bool writeRegistryString(const std::string& folder, const std::string& name, const std::string& text);

// Stores several texts, each under its name, in one go: on a key file one
// write and one rename, under one lock; in the registry under one opened key.
// False when any is not stored, with the message a write of that value alone
// would give on messageSink for each one that is not.
bool writeRegistryStrings(const std::string& folder, const std::vector<SettingsEntry>& entries);
