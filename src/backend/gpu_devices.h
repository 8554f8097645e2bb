// Graphics devices for the DirectML execution provider, and the adapter
// listing offered to hosts. Only Windows has them; elsewhere there is no
// device and the processor serves.
#pragma once

#include <cstdint>
#include <string>

struct OrtApi;
struct OrtSessionOptions;

struct DmlDevices;

// Releases the queue, the DirectML device and the device, in that order, and
// empties their slots.
void releaseDmlDevices(DmlDevices& devices);

// The devices a DirectML session runs on, released when it goes.
struct DmlDevices {
    void* d3dDevice = nullptr;     // ID3D12Device1
    void* commandQueue = nullptr;  // ID3D12CommandQueue
    void* dmlDevice = nullptr;     // IDMLDevice

    DmlDevices() = default;
    ~DmlDevices() { releaseDmlDevices(*this); }
    DmlDevices(const DmlDevices&) = delete;
    DmlDevices& operator=(const DmlDevices&) = delete;
};

// Fills each slot whose step succeeds; returns the platform result code
// (HRESULT) of the last step attempted.
int32_t createDmlDevice(DmlDevices& devices);

// Appends the DirectML provider through the provider API table that the
// runtime returned for "DML"; errors are ignored.
void appendDmlExecutionProvider(const void* dmlProviderApi, OrtSessionOptions* options, const DmlDevices& devices);

// Lists the adapters on the console and counts them; a failed listing adds one
// to `errorCount` and gives 0.
int32_t listAdapters(int32_t& errorCount);

// The name of adapter `index` in UTF-8 from array new, or null.
char* adapterName(uint32_t index);
