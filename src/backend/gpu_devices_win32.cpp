// DXGI adapters, the Direct3D 12 device and queue, and the DirectML device.
// dxgi.dll and d3d12.dll are looked up at first use rather than imported, so
// that the library still loads (and serves on the processor) where they are
// missing or unusable.
#include <windows.h>

#include <d3d12.h>
#include <dxgi1_4.h>
#include <wrl/client.h>

#include <cwchar>
#include <iterator>
#include <string>

#include "backend/dml_declarations.h"
#include "backend/gpu_devices.h"
#include "backend/runtime_loader.h"
#include "diagnostics/console_sink.h"

using Microsoft::WRL::ComPtr;

namespace {

using CreateFactoryFn = HRESULT(WINAPI*)(REFIID riid, void** factory);

struct GraphicsEntries {
    CreateFactoryFn createFactory = nullptr;
    PFN_D3D12_CREATE_DEVICE createDevice = nullptr;
};

void* systemEntry(const char* library, const char* name) {
    // Only the system's own copies; never a file planted beside the host.
    HMODULE module = LoadLibraryExA(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

// Looked up once and kept: devices handed to the runtime outlive any call.
const GraphicsEntries& graphics() {
    static const GraphicsEntries entries = [] {
        GraphicsEntries found;
        found.createFactory = reinterpret_cast<CreateFactoryFn>(systemEntry("dxgi.dll", "CreateDXGIFactory1"));
        found.createDevice = reinterpret_cast<PFN_D3D12_CREATE_DEVICE>(systemEntry("d3d12.dll", "D3D12CreateDevice"));
        return found;
    }();
    return entries;
}

constexpr HRESULT kEntryMissing = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);

template <class Factory>
HRESULT createFactory(ComPtr<Factory>& factory) {
    const CreateFactoryFn create = graphics().createFactory;
    if (!create) return kEntryMissing;
    return create(__uuidof(Factory), reinterpret_cast<void**>(factory.ReleaseAndGetAddressOf()));
}

HRESULT createDevice(IUnknown* adapter, REFIID riid, void** device) {
    const PFN_D3D12_CREATE_DEVICE create = graphics().createDevice;
    if (!create) return kEntryMissing;
    return create(adapter, D3D_FEATURE_LEVEL_12_0, riid, device);
}

// The first hardware adapter that offers feature level 12_0, or null.
ComPtr<IDXGIAdapter1> chooseAdapter() {
    ComPtr<IDXGIFactory4> factory;
    if (FAILED(createFactory(factory))) return nullptr;  // as if no adapter was found
    for (UINT i = 0;; ++i) {
        ComPtr<IDXGIAdapter1> adapter;
        if (FAILED(factory->EnumAdapters1(i, &adapter))) return nullptr;  // past the last one
        DXGI_ADAPTER_DESC1 description{};
        if (FAILED(adapter->GetDesc1(&description))) continue;
        if (description.Flags & DXGI_ADAPTER_FLAG_SOFTWARE) continue;
        // A null output only asks whether the device could be made.
        if (FAILED(createDevice(adapter.Get(), __uuidof(ID3D12Device1), nullptr))) continue;
        consoleLine("D3D12 device created successfully.");
        return adapter;
    }
}

void release(void*& slot) {
    if (slot) static_cast<IUnknown*>(slot)->Release();
    slot = nullptr;
}

void printAdapterLine(const wchar_t* prefix, UINT index, const wchar_t* name) {
    consoleWideLine(prefix + std::to_wstring(index) + L": " + name);
}

}  // namespace

int32_t createDmlDevice(DmlDevices& devices) {
    const ComPtr<IDXGIAdapter1> adapter = chooseAdapter();

    ComPtr<ID3D12Device1> device;
    HRESULT result =
        createDevice(adapter.Get(), __uuidof(ID3D12Device1), reinterpret_cast<void**>(device.GetAddressOf()));
    if (FAILED(result)) {
        consoleLine("Failed to create D3D12 device.", Severity::error, ConsoleStream::error);
        return result;
    }

    ComPtr<ID3D12CommandQueue> queue;
    D3D12_COMMAND_QUEUE_DESC queueDescription{};  // direct, normal priority, no flags, node 0
    result = device->CreateCommandQueue(&queueDescription, __uuidof(ID3D12CommandQueue),
                                        reinterpret_cast<void**>(queue.GetAddressOf()));
    if (FAILED(result)) {
        devices.d3dDevice = device.Detach();
        consoleLine("Failed to create command queue.", Severity::error, ConsoleStream::error);
        return result;
    }

    void* dmlDevice = nullptr;
    const DmlCreateDeviceFn createDml = dmlCreateDeviceEntry();
    result =
        createDml ? createDml(device.Get(), DML_CREATE_DEVICE_FLAG_NONE, kIidIdmlDevice, &dmlDevice) : kEntryMissing;
    devices.d3dDevice = device.Detach();
    devices.commandQueue = queue.Detach();
    if (FAILED(result)) {
        consoleLine("Failed to create DML device.", Severity::error, ConsoleStream::error);
        return result;
    }
    devices.dmlDevice = dmlDevice;
    return result;
}

void releaseDmlDevices(DmlDevices& devices) {
    release(devices.commandQueue);
    release(devices.dmlDevice);
    release(devices.d3dDevice);
}

void appendDmlExecutionProvider(const void* dmlProviderApi, OrtSessionOptions* options, const DmlDevices& devices) {
    const auto* api = static_cast<const OrtDmlApi*>(dmlProviderApi);
    if (!api || !api->SessionOptionsAppendExecutionProvider_DML1) return;
    OrtStatus* status = api->SessionOptionsAppendExecutionProvider_DML1(
        options, static_cast<IDMLDevice*>(devices.dmlDevice), static_cast<ID3D12CommandQueue*>(devices.commandQueue));
    if (status) ortApi->ReleaseStatus(status);
}

int32_t listAdapters(int32_t& errorCount) {
    ComPtr<IDXGIFactory1> factory;
    if (FAILED(createFactory(factory))) {
        consoleLine("Failed to create DXGI Factory!", Severity::error, ConsoleStream::error);
        ++errorCount;
        return 0;
    }
    consoleLine("Available GPUs:");
    UINT count = 0;
    for (;; ++count) {
        ComPtr<IDXGIAdapter1> adapter;
        if (FAILED(factory->EnumAdapters1(count, &adapter))) break;
        DXGI_ADAPTER_DESC1 description{};
        adapter->GetDesc1(&description);
        printAdapterLine(L"   GPU ", count, description.Description);
    }
    return static_cast<int32_t>(count);
}

char* adapterName(uint32_t index) {
    ComPtr<IDXGIFactory1> factory;
    if (FAILED(createFactory(factory))) {
        consoleLine("Failed to create DXGI Factory!", Severity::error, ConsoleStream::error);
        return nullptr;
    }
    ComPtr<IDXGIAdapter1> adapter;
    if (FAILED(factory->EnumAdapters1(index, &adapter))) return nullptr;  // no such adapter
    DXGI_ADAPTER_DESC1 description{};
    if (FAILED(adapter->GetDesc1(&description))) return nullptr;
    printAdapterLine(L"GPU ", index, description.Description);

    // The description is a fixed array; a name that fills it has no zero.
    const int length = static_cast<int>(wcsnlen(description.Description, std::size(description.Description)));
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, description.Description, length, nullptr, 0, nullptr, nullptr);
    if (bytes == 0 && length > 0) return nullptr;
    char* name = new char[static_cast<size_t>(bytes) + 1];
    WideCharToMultiByte(CP_UTF8, 0, description.Description, length, name, bytes, nullptr, nullptr);
    name[bytes] = '\0';
    return name;
}
