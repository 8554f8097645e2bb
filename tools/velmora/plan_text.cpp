#include "plan_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

std::string sizes(int32_t width, int32_t height) { return std::to_string(width) + " x " + std::to_string(height); }

std::string plural(int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string howItRuns(const VelmoraPlan& p) {
    if (p.strategy == VELMORA_STRATEGY_WHOLE) {
        std::string text = "the whole picture at once";
        if (p.runWidth != p.width || p.runHeight != p.height) {
            // How many times smaller across and down (below 1: enlarged).
            char shrink[96];
            std::snprintf(shrink, sizeof shrink, " (%.2f x %.2f times smaller)",
                          static_cast<double>(p.width) / std::max(p.runWidth, 1),
                          static_cast<double>(p.height) / std::max(p.runHeight, 1));
            text += ", resized to " + sizes(p.runWidth, p.runHeight) + shrink;
        }
        return text + ", " + plural(p.runs, "run", "runs");
    }
    std::string text = "tiles of " + sizes(p.tileSize, p.tileSize) + " every " + std::to_string(p.step) +
                       " pixels (margins of " + std::to_string(p.margin) + "), " + std::to_string(p.across) + " x " +
                       std::to_string(p.down) + " = " + plural(p.runs, "run", "runs") + ", " +
                       (p.blend ? "overlaps blended" : "hard cut between tiles");
    const int k = std::abs(p.downscale);
    if (k > 1)
        text += "; the picture shrunk " + std::to_string(k) + " times first" +
                (p.downscale < 0 ? ", the detail restored" : "");
    return text;
}

}  // namespace

std::vector<std::string> planLines(const VelmoraPlan& p, const MemoryEstimate& memory) {
    std::vector<std::string> lines;
    lines.push_back("plan for " + sizes(p.width, p.height) + ": " + howItRuns(p));
    std::string cost = "result ";
    if (p.resultWidth > 0)
        cost += sizes(p.resultWidth, p.resultHeight) + " with " + plural(p.resultChannels, "channel", "channels");
    else
        cost += "known after the first run";
    cost += "; about " + sizeText(memory.peak) + " of memory (the library " + sizeText(memory.library) +
            ", the command " + sizeText(memory.command) + ")";
    if (p.seconds > 0) {
        char seconds[64];
        std::snprintf(seconds, sizeof seconds, "; about %.1f s of model time", p.seconds);
        cost += seconds;
    }
    lines.push_back("  " + cost);
    lines.push_back(std::string("  why: ") + p.reason);
    return lines;
}
