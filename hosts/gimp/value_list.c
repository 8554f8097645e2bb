#include "value_list.h"

#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* skipSeparators(const char* p, bool* comma) {
    *comma = false;
    while (*p && (isspace((unsigned char)*p) || *p == ',')) {
        if (*p == ',') *comma = true;
        ++p;
    }
    return p;
}

bool vgParseValueList(const char* text, const char* what, float* values, int32_t* count, VgFailure* failure) {
    *count = 0;
    bool comma = false;
    const char* p = skipSeparators(text ? text : "", &comma);
    if (comma) return vgFail(failure, "the %s \"%s\" starts with a comma", what, text);
    while (*p) {
        char* end = NULL;
        const double value = strtod(p, &end);
        if (end == p || !isfinite(value) || fabs(value) > 3.0e38)
            return vgFail(failure, "the %s \"%s\" is not a list of numbers separated by commas", what, text);
        if (*count == VG_MAX_LIST_VALUES)
            return vgFail(failure, "the %s gives more than %d values", what, VG_MAX_LIST_VALUES);
        values[(*count)++] = (float)value;
        const char* next = skipSeparators(end, &comma);
        if (next == end && *next)
            return vgFail(failure, "the %s \"%s\" is not a list of numbers separated by commas", what, text);
        p = next;
    }
    return true;
}

void vgFormatValueList(const float* values, int32_t count, char* text, size_t size) {
    size_t used = 0;
    if (size) text[0] = '\0';
    for (int32_t i = 0; i < count && used < size; ++i) {
        char number[64];
        const float v = values[i];
        /* Plain decimals where they stay short, as people type them. */
        const bool plain = v == 0.0f || (fabsf(v) >= 1e-4f && fabsf(v) < 1e7f);
        for (int digits = plain ? 0 : 1; digits <= 9; ++digits) {
            snprintf(number, sizeof number, plain ? "%.*f" : "%.*g", digits, v);
            if (strtof(number, NULL) == v) break;
        }
        const int n = snprintf(text + used, size - used, "%s%s", i ? ", " : "", number);
        if (n < 0) break;
        used += (size_t)n;
    }
}
