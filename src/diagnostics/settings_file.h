// The file form of one settings key, for platforms without a registry.
//
// The first line is the header "velmora settings 1"; then one line per value,
// sorted by name: the name, "=", the value, and a line feed. In names and
// values every byte below 0x20, 0x7F, "\" and "=" is written as \xHH (two
// upper-case hex digits); all other bytes are written as they are. A file is
// well-formed only when every line, the last included, ends in a line feed,
// so a cut-off file is recognised.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

using SettingsValues = std::map<std::string, std::string>;

std::string encodeSettingsFile(const SettingsValues& values);

// Empty when the text is not a well-formed settings file (wrong header,
// missing "=", bad escape, duplicate name, last line without line end).
std::optional<SettingsValues> decodeSettingsFile(std::string_view text);

// A file name for a key path that is safe in any folder: letters, digits, "-"
// and "_" are kept, every other byte becomes %HH; ".settings" is appended.
std::string settingsFileName(const std::string& keyPath);
