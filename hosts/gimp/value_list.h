/* Lists of numbers as the dialog and scripts give the normalisation, "0.485,
 * 0.456, 0.406", and back to text for the dialog. */
#ifndef VELMORA_GIMP_VALUE_LIST_H
#define VELMORA_GIMP_VALUE_LIST_H

#include <stddef.h>
#include <stdint.h>

#include "failure.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { VG_MAX_LIST_VALUES = 8 };

/* Reads up to VG_MAX_LIST_VALUES finite numbers separated by commas or
 * blanks; an empty or blank text gives none. False, with the reason naming
 * |what|, for anything else. */
bool vgParseValueList(const char* text, const char* what, float* values, int32_t* count, VgFailure* failure);

/* The first |count| values as "a, b, c", each in the fewest decimals that
 * read back as the same float. */
void vgFormatValueList(const float* values, int32_t count, char* text, size_t size);

#ifdef __cplusplus
}
#endif

#endif
