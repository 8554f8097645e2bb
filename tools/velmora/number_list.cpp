#include "number_list.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace {

// The number the whole of `item` spells, or false.
bool readNumber(const std::string& item, float& value) {
    if (item.empty() || std::isspace(static_cast<unsigned char>(item.front()))) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(item.c_str(), &end);
    if (end != item.c_str() + item.size() || errno == ERANGE) return false;
    value = static_cast<float>(v);
    return std::isfinite(value);
}

}  // namespace

bool isNumber(const std::string& text) {
    float ignored = 0;
    return readNumber(text, ignored);
}

std::vector<float> parseNumberList(const std::string& text, const std::string& option, size_t most,
                                   const std::string& example) {
    const std::string takes = option + " takes up to " + std::to_string(most) +
                              " numbers separated by commas in one argument, such as " + option + " " + example + "; ";
    std::vector<float> values;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        float value = 0;
        if (!readNumber(item, value))
            throw std::invalid_argument(takes + (item.empty() ? "\"" + text + "\" has an empty value"
                                                 : item == text
                                                     ? "\"" + text + "\" is not a number"
                                                     : "\"" + item + "\" in \"" + text + "\" is not a number"));
        values.push_back(value);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (values.size() > most)
        throw std::invalid_argument(takes + "\"" + text + "\" gives " + std::to_string(values.size()));
    return values;
}
