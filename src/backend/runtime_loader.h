// The ONNX Runtime library is loaded from the library's own folder when the
// library itself is loaded; everything in the backend reaches it through the
// API table kept here.
#pragma once

#include <string>

struct OrtApi;

// Requested table version; newer runtimes still serve it.
inline constexpr unsigned kOrtApiVersion = 21;

// Null when the runtime could not be loaded; never changes after load.
extern const OrtApi* ortApi;

// The version text of the loaded runtime, or empty.
const std::string& runtimeVersion();

// Empty when the runtime loaded; otherwise why it did not.
const std::string& runtimeLoadFailure();

// File name of the runtime beside the library on this platform.
const char* runtimeFileName();

// Loads what the platform needs beside the runtime (DirectML on Windows),
// right after the runtime itself; false with the reason in `failure`.
bool loadPlatformLibraries(std::string& failure);
