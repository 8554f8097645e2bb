#include "backend/runtime_loader.h"

const char* runtimeFileName() { return "libonnxruntime.so.1"; }

bool loadPlatformLibraries(std::string&) { return true; }
