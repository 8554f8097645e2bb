// On Linux the key is one text file: "name=value" lines under a header line.
#include <filesystem>
#include <fstream>

#include "api/scratch_environment.h"
#include "api/stored_settings.h"

namespace {
std::filesystem::path settingsFile() { return scratchConfigFolder() / "velmora" / "SOFTWARE%5CVelmora.settings"; }
}  // namespace

std::map<std::string, std::string> storedSettings() {
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

void storeSettings(const std::map<std::string, std::string>& values) {
    std::filesystem::create_directories(settingsFile().parent_path());
    std::ofstream out(settingsFile(), std::ios::trunc);
    out << "velmora settings 1\n";
    for (const auto& [name, value] : values) out << name << "=" << value << "\n";
}

void storeSetting(const std::string& name, const std::string& value) {
    auto values = storedSettings();
    values[name] = value;
    storeSettings(values);
}

void removeStoredSettings() { std::filesystem::remove(settingsFile()); }

bool settingsKeyExists() { return std::filesystem::exists(settingsFile()); }
