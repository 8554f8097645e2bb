#include "run_words.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "value_list.h"

/* Writes at the end of |text|, cut to |size|. */
static void append(char* text, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

static void append(char* text, size_t size, const char* format, ...) {
    const size_t used = strlen(text);
    if (used + 1 >= size) return;
    va_list args;
    va_start(args, format);
    vsnprintf(text + used, size - used, format, args);
    va_end(args);
}

void vgDescribePlan(const VelmoraPlan* plan, char* text, size_t size) {
    if (!size) return;
    text[0] = '\0';
    const long long runs = (long long)plan->runs;
    if (plan->strategy == VELMORA_STRATEGY_WHOLE) {
        append(text, size, "The whole layer at once, resized to %d x %d: %lld run%s", (int)plan->runWidth,
               (int)plan->runHeight, runs, runs == 1 ? "" : "s");
    } else {
        append(text, size, "Tiles of %d x %d every %d pixels (margin %d): %lld run%s", (int)plan->tileSize,
               (int)plan->tileSize, (int)plan->step, (int)plan->margin, runs, runs == 1 ? "" : "s");
        if (plan->blend) append(text, size, ", overlaps blended");
    }
    const int32_t k = plan->downscale < 0 ? -plan->downscale : plan->downscale;
    if (k > 1) append(text, size, ", shrunk %d times", (int)k);
    if (plan->seconds >= 0.1) append(text, size, ", about %.1f s", plan->seconds);
    append(text, size, ".");
    if (plan->reason[0]) {
        const size_t start = strlen(text) + 1;
        append(text, size, "\n%s.", plan->reason);
        if (start < size) text[start] = (char)toupper((unsigned char)text[start]);
    }
}

static const char* sourceWords(int32_t source) {
    switch (source) {
        case VELMORA_PROFILE_METADATA: return "From the model's metadata";
        case VELMORA_PROFILE_SIDECAR: return "From the profile beside the model (.onnx.json)";
        case VELMORA_PROFILE_HOST: return "As given here";
    }
    return "";
}

static const char* outputWords(int32_t output) {
    switch (output) {
        case VELMORA_OUTPUT_MASK: return "gives a mask";
        case VELMORA_OUTPUT_SCORES: return "gives class scores";
    }
    return "gives an image";
}

void vgDescribeProfile(const VelmoraProfile* profile, int32_t channels, char* text, size_t size) {
    if (!size) return;
    text[0] = '\0';
    if (profile->source == VELMORA_PROFILE_NONE) {
        append(text, size, "No profile: the layer's values go to the model as they are, from 0 to 1.");
        return;
    }
    append(text, size, "%s: ", sourceWords(profile->source));
    int32_t shown = profile->channels == 1 ? 1 : channels > 0 ? channels : profile->channels;
    if (shown > VELMORA_PROFILE_CHANNELS) shown = VELMORA_PROFILE_CHANNELS;
    if (profile->channels > 0) {
        float mean[VELMORA_PROFILE_CHANNELS], std[VELMORA_PROFILE_CHANNELS];
        for (int32_t c = 0; c < shown; ++c) {
            mean[c] = c < profile->channels ? profile->mean[c] : 0.0f;
            std[c] = c < profile->channels ? profile->std[c] : 1.0f;
        }
        char list[160];
        vgFormatValueList(mean, shown, list, sizeof list);
        append(text, size, "mean %s; ", list);
        vgFormatValueList(std, shown, list, sizeof list);
        append(text, size, "std %s; ", list);
    } else {
        append(text, size, "no mean or std; ");
    }
    append(text, size, "values %g to %g%s; %s.", profile->inputLow, profile->inputHigh,
           profile->colors == VELMORA_COLORS_BGR ? ", BGR" : "", outputWords(profile->output));
}
