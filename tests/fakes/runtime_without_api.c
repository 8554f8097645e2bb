/* A library in the runtime's place whose entry point offers no API table. */
#include <stddef.h>

typedef struct FakeApiBase {
    const void* (*GetApi)(unsigned version);
    const char* (*GetVersionString)(void);
} FakeApiBase;

static const void* noTable(unsigned version) {
    (void)version;
    return NULL;
}
static const char* version(void) { return "0.1.0"; }

static const FakeApiBase base = {noTable, version};

#if defined(_WIN32)
__declspec(dllexport)
#else
__attribute__((visibility("default")))
#endif
    const FakeApiBase* OrtGetApiBase(void) {
    return &base;
}
