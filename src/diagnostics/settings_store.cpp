#include "diagnostics/settings_store.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "diagnostics/console_sink.h"
#include "diagnostics/settings_store_platform.h"

namespace {

// A value of up to 255 bytes and its terminating zero fit; anything longer
// counts as unreadable.
constexpr uint32_t readBufferBytes = 256;

void reportKeyFailure(int32_t errorCode) {
    messageSink("Failed to create folder in registry, error " + std::to_string(errorCode));
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

std::string settingsKeyPath(const std::string& folder) { return "SOFTWARE\\" + folder; }

std::optional<int32_t> parseLeadingInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size() || text[i] < '0' || text[i] > '9') {
        return std::nullopt;
    }
    // Accumulate the magnitude, stopping the growth once it is beyond any
    // 32-bit value so that long digit runs cannot overflow.
    constexpr int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (magnitude <= limit) {
            magnitude = magnitude * 10 + (text[i] - '0');
        }
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

std::string readRegistryString(const std::string& folder, const std::string& name, const std::string& defaultText) {
    int32_t errorCode = 0;
    const auto key =
        settings_platform::openKey(settingsKeyPath(folder), settings_platform::KeyAccess::queryAndSet, errorCode);
    if (!key) {
        reportKeyFailure(errorCode);
        return defaultText;
    }
    char buffer[readBufferBytes] = {};
    uint32_t size = 0;
    if (!key->query(name, buffer, readBufferBytes, size)) {
        // Absent or unreadable: the default takes its place. Whether that
        // store works makes no difference to the result.
        int32_t ignored = 0;
        key->set(name, defaultText, ignored);
        return defaultText;
    }
    if (size == 0) {
        return {};
    }
    const size_t bytes = std::min<size_t>(size, readBufferBytes) - 1;
    return std::string(buffer, strnlen(buffer, bytes));
}

int32_t readRegistryInt(const std::string& folder, const std::string& name, int32_t defaultValue) {
    const std::string text = readRegistryString(folder, name, std::to_string(defaultValue));
    if (text.empty()) {
        return defaultValue;
    }
    return parseLeadingInt(text).value_or(defaultValue);
}

bool writeRegistryString(const std::string& folder, const std::string& name, const std::string& text) {
    return writeRegistryStrings(folder, {{name, text}});
}

bool writeRegistryStrings(const std::string& folder, const std::vector<SettingsEntry>& entries) {
    int32_t errorCode = 0;
    const auto key =
        settings_platform::openKey(settingsKeyPath(folder), settings_platform::KeyAccess::setOnly, errorCode);
    if (!key) {
        // Once for each value, as writing them one by one reports it.
        for (size_t i = 0; i < entries.size(); ++i) reportKeyFailure(errorCode);
        return false;
    }
    const std::vector<std::optional<int32_t>> failures = key->setAll(entries);
    bool stored = true;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!failures[i]) continue;
        messageSink("Failed to write value \"" + entries[i].first + "\" in registry, error " +
                    std::to_string(*failures[i]));
        stored = false;
    }
    return stored;
}
