#include "backend/gpu_devices.h"

namespace {
constexpr int32_t kNotImplemented = static_cast<int32_t>(0x80004001u);  // E_NOTIMPL
}

int32_t createDmlDevice(DmlDevices&) { return kNotImplemented; }

void releaseDmlDevices(DmlDevices& devices) { devices.d3dDevice = devices.commandQueue = devices.dmlDevice = nullptr; }

void appendDmlExecutionProvider(const void*, OrtSessionOptions*, const DmlDevices&) {}

int32_t listAdapters(int32_t&) { return 0; }

char* adapterName(uint32_t) { return nullptr; }
