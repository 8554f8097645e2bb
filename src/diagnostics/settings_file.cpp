#include "diagnostics/settings_file.h"

namespace {

constexpr std::string_view header = "velmora settings 1";
constexpr char hexDigits[] = "0123456789ABCDEF";

void appendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\' || c == '=') {
            out += "\\x";
            out += hexDigits[byte >> 4];
            out += hexDigits[byte & 0xF];
        } else {
            out += c;
        }
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Undoes appendEscaped; empty on a bad escape or a byte that should have been
// escaped.
std::optional<std::string> unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F || text[i] == '=') {
            return std::nullopt;
        }
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (text.size() - i < 4 || text[i + 1] != 'x') {
            return std::nullopt;
        }
        const int high = hexValue(text[i + 2]);
        const int low = hexValue(text[i + 3]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 3;
    }
    return out;
}

}  // namespace

std::string encodeSettingsFile(const SettingsValues& values) {
    std::string out(header);
    out += '\n';
    for (const auto& [name, value] : values) {
        appendEscaped(out, name);
        out += '=';
        appendEscaped(out, value);
        out += '\n';
    }
    return out;
}

std::optional<SettingsValues> decodeSettingsFile(std::string_view text) {
    if (text.substr(0, header.size()) != header || text.size() == header.size() || text[header.size()] != '\n') {
        return std::nullopt;
    }
    SettingsValues values;
    size_t start = header.size() + 1;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return std::nullopt;
        }
        auto name = unescape(line.substr(0, equals));
        auto value = unescape(line.substr(equals + 1));
        if (!name || !value || values.count(*name) != 0) {
            return std::nullopt;
        }
        values.emplace(std::move(*name), std::move(*value));
        start = end + 1;
    }
    return values;
}

std::string settingsFileName(const std::string& keyPath) {
    std::string out;
    for (const char c : keyPath) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
            out += c;
        } else {
            out += '%';
            out += hexDigits[byte >> 4];
            out += hexDigits[byte & 0xF];
        }
    }
    return out + ".settings";
}
