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

__attribute__((visibility("default"))) const FakeApiBase* OrtGetApiBase(void) { return &base; }
