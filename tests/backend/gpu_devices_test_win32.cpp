// Graphics adapters and devices on Windows, checked against what the system's
// own DXGI reports. Under a headless Wine there is no DXGI factory and no
// Direct3D 12 device, so the failure paths are the ones taken there; on a
// machine with a GPU the same tests check the names and the device path.
#include <gtest/gtest.h>
#include <windows.h>

#include <dxgi1_4.h>

#include <onnxruntime_c_api.h>

#include <optional>
#include <string>
#include <vector>

#include "backend/ModelLogicONNX.h"
#include "backend/dynamic_library.h"
#include "backend/gpu_devices.h"
#include "backend/runtime_loader.h"
#include "support/model_files.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// The adapter names in UTF-8 as DXGI lists them, or nothing when no factory
// can be made.
std::optional<std::vector<std::string>> systemAdapterNames() {
    using CreateFactory = HRESULT(WINAPI*)(REFIID, void**);
    HMODULE dxgi = LoadLibraryA("dxgi.dll");
    auto create =
        dxgi ? reinterpret_cast<CreateFactory>(reinterpret_cast<void*>(GetProcAddress(dxgi, "CreateDXGIFactory1")))
             : nullptr;
    IDXGIFactory1* factory = nullptr;
    if (!create || FAILED(create(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory)))) return std::nullopt;
    std::vector<std::string> names;
    IDXGIAdapter1* adapter = nullptr;
    for (UINT i = 0; SUCCEEDED(factory->EnumAdapters1(i, &adapter)); ++i) {
        DXGI_ADAPTER_DESC1 description{};
        adapter->GetDesc1(&description);
        char utf8[512] = {};
        WideCharToMultiByte(CP_UTF8, 0, description.Description, -1, utf8, sizeof utf8, nullptr, nullptr);
        names.emplace_back(utf8);
        adapter->Release();
    }
    factory->Release();
    return names;
}

bool runtimeOffersDirectML() {
    char** providers = nullptr;
    int count = 0;
    if (OrtStatus* status = ortApi->GetAvailableProviders(&providers, &count)) {
        ortApi->ReleaseStatus(status);
        return false;
    }
    bool found = false;
    for (int i = 0; i < count; ++i) found = found || std::string(providers[i]) == "DmlExecutionProvider";
    if (OrtStatus* status = ortApi->ReleaseAvailableProviders(providers, count)) ortApi->ReleaseStatus(status);
    return found;
}

struct ArrayText {
    char* text;
    ~ArrayText() { delete[] text; }
};

}  // namespace

TEST(GpuDevices, AdapterNamesAreThoseDxgiReports) {
    const auto expected = systemAdapterNames();
    CaptureStdout();
    CaptureStderr();
    std::vector<std::string> names;
    for (uint32_t i = 0; i < 16; ++i) {
        ArrayText name{adapterName(i)};
        if (!name.text) break;
        names.emplace_back(name.text);
    }
    const std::string out = GetCapturedStdout();
    const std::string err = GetCapturedStderr();
    if (!expected) {
        EXPECT_TRUE(names.empty());
        EXPECT_EQ(err, "Failed to create DXGI Factory!\n");
        EXPECT_EQ(out, "");
        return;
    }
    EXPECT_EQ(names, *expected);
    EXPECT_EQ(err, "");
    if (!names.empty()) {
        EXPECT_EQ(out.rfind("GPU 0: ", 0), 0u) << out;
    }

    // Past the last adapter: null, and nothing printed.
    CaptureStdout();
    EXPECT_EQ(adapterName(static_cast<uint32_t>(expected->size())), nullptr);
    EXPECT_EQ(adapterName(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(GpuDevices, EngineInformationCountsTheAdaptersOrTheFailure) {
    const auto expected = systemAdapterNames();
    ModelLogicONNX backend;
    int32_t count = -1;
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(backend.getEngineInfo(&count), "ONNX");
    const std::string out = GetCapturedStdout();
    const std::string err = GetCapturedStderr();
    if (!expected) {
        EXPECT_EQ(count, 0);
        EXPECT_EQ(backend.getErrorCount(), 1);
        EXPECT_EQ(err, "Failed to create DXGI Factory!\n");
        EXPECT_EQ(out, "");
    } else {
        EXPECT_EQ(count, static_cast<int32_t>(expected->size()));
        EXPECT_EQ(backend.getErrorCount(), 0);
        EXPECT_EQ(out.rfind("Available GPUs:\n", 0), 0u) << out;
    }

    // Without a count the hardware is not looked at.
    CaptureStderr();
    EXPECT_EQ(backend.getEngineInfo(nullptr), "ONNX");
    EXPECT_EQ(GetCapturedStderr(), "");
}

TEST(GpuDevices, WithoutADirectMLDeviceTheModelLoadsOnTheProcessor) {
    ASSERT_TRUE(runtimeOffersDirectML()) << "this runtime has no DirectML provider; the GPU path is never tried";
    DmlDevices probe;
    CaptureStdout();
    CaptureStderr();
    const HRESULT result = createDmlDevice(probe);
    GetCapturedStdout();
    const std::string probeErrors = GetCapturedStderr();
    if (probe.dmlDevice) {
        releaseDmlDevices(probe);
        GTEST_SKIP() << "a DirectML device can be made here";
    }
    // Each slot is filled only when its step worked, so the failing step is
    // the first empty slot, and its message is the one printed.
    EXPECT_TRUE(FAILED(result));
    const char* message = !probe.d3dDevice      ? "Failed to create D3D12 device.\n"
                          : !probe.commandQueue ? "Failed to create command queue.\n"
                                                : "Failed to create DML device.\n";
    EXPECT_EQ(probeErrors, message);
    releaseDmlDevices(probe);
    EXPECT_EQ(probe.d3dDevice, nullptr);
    EXPECT_EQ(probe.commandQueue, nullptr);

    const std::vector<char> model = readModel("scale2_64x3.onnx");
    ModelLogicONNX backend;
    CaptureStdout();
    CaptureStderr();
    const bool loaded = backend.loadModel(model.data(), static_cast<uint32_t>(model.size()), "input", "output");
    const std::string out = GetCapturedStdout();
    const std::string err = GetCapturedStderr();
    ASSERT_TRUE(loaded) << backend.getErrorText();
    EXPECT_EQ(backend.getErrorCount(), 0);
    EXPECT_NE(err.find(message), std::string::npos) << err;
    EXPECT_EQ(out.find("GPU ERROR"), std::string::npos) << out;

    std::vector<float> input(64 * 64 * 3, 1.25f);
    CaptureStdout();
    const ImageFloat result2 = backend.runModel(input.data(), 64, 64, 3);
    GetCapturedStdout();
    ASSERT_NE(result2.data, nullptr);
    EXPECT_EQ(result2.data[0], 2.5f);
}

TEST(LibraryFolder, IsTheFolderOfTheModuleHoldingTheCode) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::string exe(path, length);
    EXPECT_EQ(dynlib::libraryFolder(), exe.substr(0, exe.find_last_of('\\')));
}

TEST(LibraryFolder, ParentKeepsADriveRootWhole) {
    EXPECT_EQ(dynlib::parentFolder("C:\\Program Files\\Host\\velmora.dll"), "C:\\Program Files\\Host");
    EXPECT_EQ(dynlib::parentFolder("C:\\velmora.dll"), "C:\\");
    EXPECT_EQ(dynlib::parentFolder("D:\\plug-ins\\velmora.dll"), "D:\\plug-ins");
    EXPECT_EQ(dynlib::parentFolder("\\\\server\\share\\velmora.dll"), "\\\\server\\share");
    // The runtime's path then holds two separators in a row, which Windows reads as one.
    EXPECT_EQ(dynlib::parentFolder("C:\\velmora.dll") + dynlib::pathSeparator() + runtimeFileName(),
              "C:\\\\onnxruntime.dll");
}
