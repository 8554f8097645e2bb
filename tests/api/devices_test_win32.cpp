// Graphics devices as a host sees them on Windows: adapter names by index and
// model loading when no DirectML device can be made (a headless Wine, or a
// machine without a Direct3D 12 adapter).
#include <gtest/gtest.h>
#include <windows.h>

#include <dxgi.h>

#include <memory>

#include "api/host.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// Whether DXGI gives this process a factory at all, and the first adapter's
// name in UTF-8 if there is one.
struct SystemAdapters {
    bool factory = false;
    std::unique_ptr<std::string> first;
};

SystemAdapters systemAdapters() {
    using CreateFactory = HRESULT(WINAPI*)(REFIID, void**);
    SystemAdapters found;
    HMODULE dxgi = LoadLibraryA("dxgi.dll");
    auto create =
        dxgi ? reinterpret_cast<CreateFactory>(reinterpret_cast<void*>(GetProcAddress(dxgi, "CreateDXGIFactory1")))
             : nullptr;
    IDXGIFactory1* factory = nullptr;
    if (!create || FAILED(create(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory)))) return found;
    found.factory = true;
    IDXGIAdapter1* adapter = nullptr;
    if (SUCCEEDED(factory->EnumAdapters1(0, &adapter))) {
        DXGI_ADAPTER_DESC1 description{};
        adapter->GetDesc1(&description);
        char utf8[512] = {};
        WideCharToMultiByte(CP_UTF8, 0, description.Description, -1, utf8, sizeof utf8, nullptr, nullptr);
        found.first = std::make_unique<std::string>(utf8);
        adapter->Release();
    }
    factory->Release();
    return found;
}

struct HostText {
    char* text;
    ~HostText() { delete[] text; }
};

}  // namespace

TEST(Devices, AdapterNameIsWhatDxgiReportsOrNull) {
    const SystemAdapters system = systemAdapters();
    HostContext context;
    CaptureStdout();
    CaptureStderr();
    HostText first{getDeviceNameByIndex(context, 0)};
    HostText none{getDeviceNameByIndex(context, -1)};
    const std::string out = GetCapturedStdout();
    const std::string err = GetCapturedStderr();
    EXPECT_EQ(none.text, nullptr);
    if (system.first) {
        ASSERT_NE(first.text, nullptr);
        EXPECT_EQ(std::string(first.text), *system.first);
        EXPECT_EQ(out.rfind("GPU 0: ", 0), 0u) << out;
    } else {
        EXPECT_EQ(first.text, nullptr);
        // A factory without adapters gives null silently.
        EXPECT_EQ(err, system.factory ? "" : "Failed to create DXGI Factory!\nFailed to create DXGI Factory!\n");
    }
    EXPECT_EQ(getDeviceNameByIndex(nullptr, 0), nullptr);
}

TEST(Devices, WithoutADirect3D12DeviceTheModelRunsOnTheProcessor) {
    if (systemAdapters().first) GTEST_SKIP() << "this machine has a graphics adapter";
    HostContext context;
    CaptureStdout();
    CaptureStderr();
    const bool loaded = context.load("scale2_64x3.onnx");
    const std::string out = GetCapturedStdout();
    const std::string err = GetCapturedStderr();
    ASSERT_TRUE(loaded) << context.errors();
    // Without an adapter the device is tried on the default one, which fails;
    // the processor then serves, with no error for the host.
    EXPECT_NE(err.find("Failed to create D3D12 device.\n"), std::string::npos) << err;
    EXPECT_EQ(out.find("GPU ERROR"), std::string::npos) << out;
    EXPECT_EQ(out.find("D3D12 device created successfully."), std::string::npos) << out;
    EXPECT_EQ(context.errors(), HostContext().errors());

    std::vector<float> input(64 * 64 * 3, 3.0f);
    const float* output = predictFloat(context, input.data(), 64, 64, 3, false);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output[64 * 64 * 3 - 1], 6.0f);
}
