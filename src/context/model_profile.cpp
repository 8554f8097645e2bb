#include "context/model_profile.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <string_view>

namespace {

bool allAre(const std::vector<float>& values, float v) {
    for (float x : values)
        if (x != v) return false;
    return true;
}

std::string inQuotes(std::string_view key) { return "\"" + std::string(key) + "\""; }

// The numbers as floats; a number beyond a float's range becomes infinite
// and is refused by checkProfile.
std::vector<float> narrowed(const std::vector<double>& numbers) {
    return std::vector<float>(numbers.begin(), numbers.end());
}

// A mean without a std (or the other way round) gives the other its
// defaults for as many channels.
void completeLists(ModelProfile& p) {
    if (p.std.empty()) p.std.assign(p.mean.size(), 1.0f);
    if (p.mean.empty()) p.mean.assign(p.std.size(), 0.0f);
}

Expected<bool> bgrFrom(std::string_view w, const char* key) {
    if (w != "rgb" && w != "bgr") return failure(inQuotes(key) + " is " + inQuotes(w) + "; it is \"rgb\" or \"bgr\"");
    return w == "bgr";
}

Expected<OutputRole> roleFrom(std::string_view w, const char* key) {
    if (w == "image") return OutputRole::Image;
    if (w == "mask") return OutputRole::Mask;
    if (w == "scores") return OutputRole::Scores;
    return failure(inQuotes(key) + " is " + inQuotes(w) + "; it is \"image\", \"mask\" or \"scores\"");
}

Status checkRange(const char* key, float low, float high) {
    if (!std::isfinite(low) || !std::isfinite(high))
        return failure(inQuotes(key) + " holds a number that is not finite");
    if (low == high) return failure(inQuotes(key) + " has two equal ends; they are the values for 0 and 1");
    return Ok{};
}

// --- The sidecar text ---

constexpr ProfileKeys kTextKeys{"mean", "std", "input_range", "output_range"};

using Json = nlohmann::json;

Expected<std::vector<double>> numberList(const Json& value, const char* key) {
    if (!value.is_array()) return failure(inQuotes(key) + " is not a list of numbers");
    std::vector<double> numbers;
    for (const Json& item : value) {
        if (!item.is_number()) return failure(inQuotes(key) + " holds " + item.dump() + ", which is not a number");
        numbers.push_back(item.get<double>());
    }
    return numbers;
}

Expected<std::vector<double>> rangePair(const Json& value, const char* key) {
    Expected<std::vector<double>> numbers = numberList(value, key);
    if (numbers && numbers->size() != 2) return failure(inQuotes(key) + " must give two numbers, low and high");
    return numbers;
}

Expected<std::string> word(const Json& value, const char* key) {
    if (!value.is_string()) return failure(inQuotes(key) + " is not a text");
    return value.get<std::string>();
}

// A one-word value read by `convert`, which names `key` in its refusal.
template <typename Convert>
auto wordAs(const Json& value, const char* key, Convert convert) -> decltype(convert(std::string_view{}, key)) {
    const Expected<std::string> w = word(value, key);
    if (!w) return w.error();
    return convert(*w, key);
}

// The message of a parse error without the library's bracketed code.
std::string parseWords(const Json::parse_error& e) {
    const std::string_view what = e.what();
    const size_t end = what.find("] ");
    return std::string(end == std::string_view::npos ? what : what.substr(end + 2));
}

// --- The metadata properties ---

constexpr ProfileKeys kMetaKeys{"velmora.mean", "velmora.std", "velmora.input_range", "velmora.output_range"};

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Comma-separated numbers, read the same in every locale.
Expected<std::vector<double>> commaNumbers(const std::string& text, const char* key) {
    std::vector<double> numbers;
    std::string_view rest = text;
    while (true) {
        const size_t comma = rest.find(',');
        const std::string_view item = trimmed(rest.substr(0, comma));
        double v = 0;
        const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), v);
        if (item.empty() || error != std::errc() || end != item.data() + item.size())
            return failure(inQuotes(key) + " = " + inQuotes(text) + " is not a list of numbers separated by commas");
        numbers.push_back(v);
        if (comma == std::string_view::npos) return numbers;
        rest.remove_prefix(comma + 1);
    }
}

Expected<std::vector<double>> commaPair(const std::string& text, const char* key) {
    Expected<std::vector<double>> numbers = commaNumbers(text, key);
    if (numbers && numbers->size() != 2)
        return failure(inQuotes(key) + " = " + inQuotes(text) + " must give two numbers, low and high");
    return numbers;
}

}  // namespace

bool ModelProfile::identity() const {
    const bool input = allAre(mean, 0.0f) && allAre(std, 1.0f) && inputLow == 0.0f && inputHigh == 1.0f && !bgr;
    const bool outputs = output != OutputRole::Image || (outputLow == 0.0f && outputHigh == 1.0f);
    return input && outputs;
}

Status checkProfile(const ModelProfile& p, const ProfileKeys& keys) {
    for (const auto& [key, list] : {std::pair{keys.mean, &p.mean}, std::pair{keys.std, &p.std}}) {
        if (list->size() > kProfileChannels)
            return failure(inQuotes(key) + " gives " + std::to_string(list->size()) + " values; at most " +
                           std::to_string(kProfileChannels) + " channels are taken");
        for (float v : *list)
            if (!std::isfinite(v)) return failure(inQuotes(key) + " holds a number that is not finite");
    }
    if (p.mean.size() != p.std.size())
        return failure(inQuotes(keys.mean) + " gives " + std::to_string(p.mean.size()) + " values and " +
                       inQuotes(keys.std) + " " + std::to_string(p.std.size()) + "; give both for the same channels");
    for (size_t c = 0; c < p.std.size(); ++c)
        if (p.std[c] == 0.0f) return failure(inQuotes(keys.std) + " is 0 for channel " + std::to_string(c));
    if (Status s = checkRange(keys.inputRange, p.inputLow, p.inputHigh); !s) return s;
    return checkRange(keys.outputRange, p.outputLow, p.outputHigh);
}

Expected<ModelProfile> parseProfileText(const std::string& text) {
    Json doc;
    try {
        doc = Json::parse(text);
    } catch (const Json::parse_error& e) {
        return failure("the profile is not JSON: " + parseWords(e));
    }
    if (!doc.is_object()) return failure("the profile is not a JSON object");

    ModelProfile p;
    p.source = ProfileSource::Sidecar;
    for (const auto& [key, value] : doc.items()) {
        if (key == "mean" || key == "std") {
            const Expected<std::vector<double>> numbers = numberList(value, key == "mean" ? "mean" : "std");
            if (!numbers) return numbers.error();
            (key == "mean" ? p.mean : p.std) = narrowed(*numbers);
        } else if (key == "input_range" || key == "output_range") {
            const bool in = key == "input_range";
            const Expected<std::vector<double>> ends = rangePair(value, in ? "input_range" : "output_range");
            if (!ends) return ends.error();
            (in ? p.inputLow : p.outputLow) = static_cast<float>((*ends)[0]);
            (in ? p.inputHigh : p.outputHigh) = static_cast<float>((*ends)[1]);
        } else if (key == "colors") {
            const Expected<bool> bgr = wordAs(value, "colors", bgrFrom);
            if (!bgr) return bgr.error();
            p.bgr = *bgr;
        } else if (key == "output") {
            const Expected<OutputRole> role = wordAs(value, "output", roleFrom);
            if (!role) return role.error();
            p.output = *role;
        } else {
            return failure("unknown key " + inQuotes(key) +
                           "; the keys are mean, std, input_range, colors, output and output_range");
        }
    }
    completeLists(p);
    if (Status s = checkProfile(p, kTextKeys); !s) return s.error();
    return p;
}

Expected<ModelProfile> profileFromMetadata(const std::map<std::string, std::string>& properties) {
    ModelProfile p;
    const auto value = [&](const char* key) -> const std::string* {
        const auto found = properties.find(key);
        if (found == properties.end()) return nullptr;
        p.source = ProfileSource::Metadata;
        return &found->second;
    };
    for (const char* key : {kMetaKeys.mean, kMetaKeys.std}) {
        const std::string* text = value(key);
        if (!text) continue;
        const Expected<std::vector<double>> numbers = commaNumbers(*text, key);
        if (!numbers) return numbers.error();
        (key == kMetaKeys.mean ? p.mean : p.std) = narrowed(*numbers);
    }
    for (const char* key : {kMetaKeys.inputRange, kMetaKeys.outputRange}) {
        const std::string* text = value(key);
        if (!text) continue;
        const Expected<std::vector<double>> ends = commaPair(*text, key);
        if (!ends) return ends.error();
        const bool in = key == kMetaKeys.inputRange;
        (in ? p.inputLow : p.outputLow) = static_cast<float>((*ends)[0]);
        (in ? p.inputHigh : p.outputHigh) = static_cast<float>((*ends)[1]);
    }
    if (const std::string* text = value("velmora.colors")) {
        const Expected<bool> bgr = bgrFrom(trimmed(*text), "velmora.colors");
        if (!bgr) return bgr.error();
        p.bgr = *bgr;
    }
    if (const std::string* text = value("velmora.output")) {
        const Expected<OutputRole> role = roleFrom(trimmed(*text), "velmora.output");
        if (!role) return role.error();
        p.output = *role;
    }
    completeLists(p);
    if (Status s = checkProfile(p, kMetaKeys); !s) return s.error();
    return p;
}
