/* One way to report a failure inside the plug-in: a function that can fail
 * returns false and leaves one line for the user in a VgFailure. */
#ifndef VELMORA_GIMP_FAILURE_H
#define VELMORA_GIMP_FAILURE_H

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VgFailure {
    char text[2048];
} VgFailure;

/* Formats the reason into |failure| (when not null) and returns false. */
bool vgFail(VgFailure* failure, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

#ifdef __cplusplus
}
#endif

#endif
