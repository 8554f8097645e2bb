#include "model_details.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The line's end: its newline or the text's end. */
static const char* lineEnd(const char* line) {
    const char* end = strchr(line, '\n');
    return end ? end : line + strlen(line);
}

/* Finds |needle| last within [from, end). */
static const char* lastWithin(const char* from, const char* end, const char* needle) {
    const size_t n = strlen(needle);
    for (const char* p = end - n; p >= from; --p)
        if (memcmp(p, needle, n) == 0) return p;
    return NULL;
}

/* One dimension: a count, or "?" for an open one. */
static bool readDim(const char** p, const char* end, int64_t* dim) {
    while (*p < end && **p == ' ') ++*p;
    if (*p < end && **p == '?') {
        ++*p;
        *dim = -1;
        return true;
    }
    if (*p >= end || **p < '0' || **p > '9') return false;
    char* after = NULL;
    errno = 0;
    const long long v = strtoll(*p, &after, 10);
    if (errno || after > end) return false;
    *p = after;
    *dim = v;
    return true;
}

/* 'NAME": TYPE [d, d, ...]' and an optional ', channels-first' or
 * ', channels-last', from just after the opening quote to |end|. */
static bool readTensor(const char* from, const char* end, VgTensor* t) {
    memset(t, 0, sizeof *t);
    t->layout = VG_LAYOUT_NONE;
    /* Names may hold anything; the shape's opening bracket is the last one. */
    const char* open = lastWithin(from, end, " [");
    const char* nameEnd = open ? lastWithin(from, open, "\": ") : NULL;
    if (!nameEnd) return false;
    const size_t nameLength = (size_t)(nameEnd - from);
    const size_t kept = nameLength < VG_MAX_NAME - 1 ? nameLength : VG_MAX_NAME - 1;
    memcpy(t->name, from, kept);
    t->name[kept] = '\0';

    const char* p = open + 2;
    if (p < end && *p == ']') {
        ++p;
    } else {
        for (;;) {
            int64_t dim = 0;
            if (!readDim(&p, end, &dim)) return false;
            if (t->rank < VG_MAX_DIMS) t->dims[t->rank] = dim;
            ++t->rank;
            if (p < end && *p == ',') {
                ++p;
                continue;
            }
            if (p < end && *p == ']') {
                ++p;
                break;
            }
            return false;
        }
    }
    static const char kFirst[] = ", channels-first", kLast[] = ", channels-last";
    if ((size_t)(end - p) >= sizeof kFirst - 1 && memcmp(p, kFirst, sizeof kFirst - 1) == 0)
        t->layout = VG_CHANNELS_FIRST;
    else if ((size_t)(end - p) >= sizeof kLast - 1 && memcmp(p, kLast, sizeof kLast - 1) == 0)
        t->layout = VG_CHANNELS_LAST;
    return true;
}

bool vgReadModelDetails(const char* text, VgModelShape* shape, VgFailure* failure) {
    memset(shape, 0, sizeof *shape);
    static const char kInput[] = "Input \"", kOutput[] = "Output \"";
    bool inputRead = false;
    for (const char* line = text; *line;) {
        const char* end = lineEnd(line);
        if (strncmp(line, kInput, sizeof kInput - 1) == 0) {
            if (shape->inputCount++ == 0) inputRead = readTensor(line + sizeof kInput - 1, end, &shape->input);
        } else if (strncmp(line, kOutput, sizeof kOutput - 1) == 0) {
            /* The library cuts a long text short: a last line may be partial. */
            if (shape->outputCount == 0 && readTensor(line + sizeof kOutput - 1, end, &shape->output))
                shape->outputCount = 1;
            else if (shape->outputCount > 0)
                ++shape->outputCount;
        }
        line = *end ? end + 1 : end;
    }
    if (!inputRead) return vgFail(failure, "the library did not describe the model's input");
    return true;
}

static void shapeText(const VgTensor* t, char* out, size_t size) {
    size_t used = 0;
    out[0] = '\0';
    for (int32_t i = 0; i < t->rank && i < VG_MAX_DIMS && used < size; ++i) {
        const int n = t->dims[i] < 0 ? snprintf(out + used, size - used, "%s?", i ? "x" : "")
                                     : snprintf(out + used, size - used, "%s%lld", i ? "x" : "", (long long)t->dims[i]);
        if (n < 0) break;
        used += (size_t)n;
    }
}

/* The channel count of an image tensor; 0 when open or not an image. */
static int32_t channelsOf(const VgTensor* t) {
    if (t->rank != 4 || t->layout == VG_LAYOUT_NONE) return 0;
    const int64_t c = t->layout == VG_CHANNELS_FIRST ? t->dims[1] : t->dims[3];
    return c > 0 && c <= 1024 ? (int32_t)c : 0;
}

bool vgFitModel(const VgModelShape* shape, int32_t askedTile, VgModelFit* fit, VgFailure* failure) {
    memset(fit, 0, sizeof *fit);
    fit->tile = askedTile;
    if (askedTile < 0) return vgFail(failure, "the tile size must be positive (0 takes the model's)");
    if (!shape) {
        if (askedTile == 0) return vgFail(failure, "cannot read the model's input size; give the tile size");
        return true;
    }
    if (shape->inputCount != 1)
        return vgFail(failure, "the model takes %d inputs; tiled runs feed exactly one", (int)shape->inputCount);
    const VgTensor* in = &shape->input;
    char dims[128];
    shapeText(in, dims, sizeof dims);
    if (in->rank != 4 || in->layout == VG_LAYOUT_NONE)
        return vgFail(failure, "the model's input \"%s\" (%s) is not an image batch of four dimensions", in->name,
                      dims);
    const int64_t h = in->layout == VG_CHANNELS_FIRST ? in->dims[2] : in->dims[1];
    const int64_t w = in->layout == VG_CHANNELS_FIRST ? in->dims[3] : in->dims[2];
    fit->inputChannels = channelsOf(in);
    fit->outputChannels = channelsOf(&shape->output);
    if (h < 0 && w < 0) {
        fit->openSize = true;
        fit->tile = askedTile ? askedTile : VG_OPEN_SIZE_TILE;
        return true;
    }
    /* One side open: the fixed one names the square tile. */
    const int64_t side = h >= 0 ? h : w;
    if ((h >= 0 && w >= 0 && h != w) || side == 0 || side > 65536)
        return vgFail(failure, "the model takes inputs of %s; the library cuts square tiles", dims);
    if (askedTile != 0 && askedTile != side)
        return vgFail(failure, "the model takes %lld x %lld tiles (%s); a tile size of %d does not fit",
                      (long long)side, (long long)side, dims, (int)askedTile);
    fit->tile = (int32_t)side;
    return true;
}
