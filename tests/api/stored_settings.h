// The per-user settings as a host's user sees them on Linux: one text file
// for the key, "name=value" lines under a header line.
#pragma once

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "api/scratch_environment.h"

inline std::filesystem::path settingsFile() {
    return scratchConfigFolder() / "velmora" / "SOFTWARE%5CVelmora.settings";
}

inline std::map<std::string, std::string> storedSettings() {
    std::map<std::string, std::string> values;
    std::ifstream in(settingsFile());
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// Plain texts only (no bytes that the file would escape).
inline void storeSettings(const std::map<std::string, std::string>& values) {
    std::filesystem::create_directories(settingsFile().parent_path());
    std::ofstream out(settingsFile(), std::ios::trunc);
    out << "velmora settings 1\n";
    for (const auto& [name, value] : values) out << name << "=" << value << "\n";
}

inline void storeSetting(const std::string& name, const std::string& value) {
    auto values = storedSettings();
    values[name] = value;
    storeSettings(values);
}
