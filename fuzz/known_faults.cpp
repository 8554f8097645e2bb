#include "known_faults.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr std::array<const char*, kKnownFaultCount> kNames = {
    "output-types", "bytes-channel-change", "bytes-silent-failure", "huge-arguments",
    "direct-size-overflow", "image-channels", "delete-in-callback"};

std::array<unsigned long long, kKnownFaultCount> avoidedCounts{};

void printCounts() {
    std::string line;
    for (size_t i = 0; i < kKnownFaultCount; ++i)
        if (avoidedCounts[i]) line += std::string(line.empty() ? "" : ", ") + kNames[i] + " " + std::to_string(avoidedCounts[i]);
    if (!line.empty()) std::fprintf(stderr, "velmora-fuzz: inputs steered clear of known faults: %s\n", line.c_str());
}

std::array<bool, kKnownFaultCount> readChoice() {
    const char* env = std::getenv("VELMORA_FUZZ_AVOID");
    if (const auto choice = parseAvoidList(env ? env : "all")) return *choice;
    std::fprintf(stderr, "VELMORA_FUZZ_AVOID: unknown fault in \"%s\"; known: all, none", env);
    for (const char* n : kNames) std::fprintf(stderr, ", %s", n);
    std::fprintf(stderr, "\n");
    std::exit(2);
}

}  // namespace

const char* faultName(KnownFault fault) { return kNames[static_cast<size_t>(fault)]; }

std::optional<std::array<bool, kKnownFaultCount>> parseAvoidList(std::string_view list) {
    std::array<bool, kKnownFaultCount> avoid{};
    if (list == "all") avoid.fill(true);
    if (list == "all" || list == "none") return avoid;
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        bool known = false;
        for (size_t i = 0; i < kKnownFaultCount; ++i)
            if (name == kNames[i]) avoid[i] = known = true;
        if (!known && !name.empty()) return std::nullopt;
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return avoid;
}

bool avoiding(KnownFault fault) {
    static const std::array<bool, kKnownFaultCount> choice = [] {
        std::atexit(printCounts);
        return readChoice();
    }();
    return choice[static_cast<size_t>(fault)];
}

void noteAvoided(KnownFault fault) { ++avoidedCounts[static_cast<size_t>(fault)]; }
