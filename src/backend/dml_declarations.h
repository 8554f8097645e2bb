// The few DirectML declarations the library needs, written from their
// published binary interface: the toolchain ships no DirectML header, and the
// library calls DirectML only through DMLCreateDevice and the provider table
// that ONNX Runtime hands out for "DML".
#pragma once

#include <windows.h>

#include <onnxruntime_c_api.h>

struct ID3D12Device;
struct ID3D12CommandQueue;
struct IDMLDevice;

enum DML_CREATE_DEVICE_FLAGS : UINT { DML_CREATE_DEVICE_FLAG_NONE = 0 };

// {6dbd6437-96fd-423f-a98c-ae5e7c2a573f}
inline constexpr GUID kIidIdmlDevice = {0x6dbd6437, 0x96fd, 0x423f, {0xa9, 0x8c, 0xae, 0x5e, 0x7c, 0x2a, 0x57, 0x3f}};

// The DirectML.dll entry point.
using DmlCreateDeviceFn = HRESULT(WINAPI*)(ID3D12Device* d3d12Device, DML_CREATE_DEVICE_FLAGS flags, REFIID riid,
                                           void** device);

// ONNX Runtime's DirectML provider table, up to the one entry used; the
// runtime's table continues after it.
struct OrtDmlApi {
    OrtStatus*(ORT_API_CALL* SessionOptionsAppendExecutionProvider_DML)(OrtSessionOptions* options, int deviceId);
    OrtStatus*(ORT_API_CALL* SessionOptionsAppendExecutionProvider_DML1)(OrtSessionOptions* options,
                                                                         IDMLDevice* dmlDevice,
                                                                         ID3D12CommandQueue* commandQueue);
};

// The DMLCreateDevice entry found when the library was loaded; null when
// DirectML.dll or its entry is missing (the library then has no backend).
DmlCreateDeviceFn dmlCreateDeviceEntry();
