#include "failure.h"

#include <stdarg.h>
#include <stdio.h>

bool vgFail(VgFailure* failure, const char* format, ...) {
    if (!failure) return false;
    va_list args;
    va_start(args, format);
    vsnprintf(failure->text, sizeof failure->text, format, args);
    va_end(args);
    return false;
}
