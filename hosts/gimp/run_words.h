/* What the dialog says about a run before it starts: the plan, and the
 * normalisation in effect. */
#ifndef VELMORA_GIMP_RUN_WORDS_H
#define VELMORA_GIMP_RUN_WORDS_H

#include <stddef.h>

#include "velmora.h"

#ifdef __cplusplus
extern "C" {
#endif

/* "Tiles of 256 x 256 every 240 pixels (margin 8): 2 runs, overlaps
 * blended." or "The whole layer at once, resized to 256 x 256: 1 run.", and
 * on a second line the library's reason. */
void vgDescribePlan(const VelmoraPlan* plan, char* text, size_t size);

/* Where the profile comes from and what it does to the first |channels|
 * values (the model's input channels; 0: every channel the profile names),
 * e.g. "From the model's metadata: mean 103.53, 116.28, 123.675; std ...;
 * values 0 to 255, BGR; gives an image." */
void vgDescribeProfile(const VelmoraProfile* profile, int32_t channels, char* text, size_t size);

#ifdef __cplusplus
}
#endif

#endif
