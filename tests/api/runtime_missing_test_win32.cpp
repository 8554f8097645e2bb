// The DLL loaded, as a host loads it, from a folder whose runtime files are
// missing or unusable: the host survives, and every context explains why it
// cannot work. With both files present they are loaded with the DLL itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "support/model_files.h"
#include "velmora.h"

namespace fs = std::filesystem;

namespace {

const fs::path kBin = VELMORA_TEST_BIN;
const fs::path kFakes = VELMORA_TEST_FAKES;

// The system's text for an error code, as the library appends it.
std::string systemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message(text ? text : "", text ? length : 0);
    LocalFree(text);
    return message;
}

template <class Function>
Function entry(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A copy of velmora.dll in its own folder, with the given files beside it
// (target name, source path), loaded with LoadLibrary.
class LoadedCopy {
public:
    LoadedCopy(const std::string& name, std::initializer_list<std::pair<const char*, fs::path>> companions)
        : folder(fs::temp_directory_path() / ("velmora-load-" + std::to_string(GetCurrentProcessId()) + "-" + name)) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        fs::create_directories(folder);
        fs::copy_file(kBin / "velmora.dll", folder / "velmora.dll");
        for (const auto& [target, source] : companions) fs::copy_file(source, folder / target);
        module = LoadLibraryA((folder / "velmora.dll").string().c_str());
        if (!module) return;
        create = entry<decltype(&::createContext)>(module, "createContext");
        destroy = entry<decltype(&::deleteContext)>(module, "deleteContext");
        errorText = entry<decltype(&::getErrorText)>(module, "getErrorText");
        load = entry<decltype(&::loadModel)>(module, "loadModel");
        run = entry<decltype(&::predictFloat)>(module, "predictFloat");
    }
    ~LoadedCopy() {
        if (module) FreeLibrary(module);
        // The DLL keeps itself loaded, so its files may stay locked until the
        // process ends; the folder is then left for the next run to clear.
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    bool companionLoaded(const char* file) const {
        return GetModuleHandleA((folder / file).string().c_str()) != nullptr;
    }

    std::string fetch(VelmoraContext context) const {
        char buffer[1024] = {};
        errorText(context, buffer, sizeof buffer);
        return buffer;
    }

    fs::path folder;
    HMODULE module = nullptr;
    decltype(&::createContext) create = nullptr;
    decltype(&::deleteContext) destroy = nullptr;
    decltype(&::getErrorText) errorText = nullptr;
    decltype(&::loadModel) load = nullptr;
    decltype(&::predictFloat) run = nullptr;
};

void expectRefusal(const LoadedCopy& copy, const std::string& expected) {
    ASSERT_NE(copy.module, nullptr) << "LoadLibrary failed with " << GetLastError();
    ASSERT_TRUE(copy.create && copy.destroy && copy.errorText && copy.load && copy.run);
    VelmoraContext context = copy.create(0, "host");
    ASSERT_NE(context, nullptr);
    const std::string first = copy.fetch(context);
    EXPECT_EQ(first.rfind(expected, 0), 0u) << first;

    const char bytes[] = "model";
    float data[16] = {};
    EXPECT_FALSE(copy.load(context, bytes, sizeof bytes, "input", "output"));
    EXPECT_EQ(copy.run(context, data, 4, 4, 1, false), nullptr);
    // The reason stays: a later fetch still starts with it.
    EXPECT_EQ(copy.fetch(context).rfind(expected, 0), 0u);
    copy.destroy(context);
}

const std::string kLoadFailed = "Library loading failed, OS reports: ";
const std::string kEntryFailed = "Retrieving the functionpointer failed, OS reports: ";

}  // namespace

TEST(RuntimeMissing, NoRuntimeBesideTheDll) {
    LoadedCopy copy("none", {});
    expectRefusal(copy, kLoadFailed + systemMessage(ERROR_MOD_NOT_FOUND));
}

TEST(RuntimeMissing, DirectMLMissingStopsEvenTheProcessor) {
    LoadedCopy copy("no-directml", {{"onnxruntime.dll", kBin / "onnxruntime.dll"}});
    EXPECT_TRUE(copy.companionLoaded("onnxruntime.dll"));
    expectRefusal(copy, kLoadFailed + systemMessage(ERROR_MOD_NOT_FOUND));
}

TEST(RuntimeMissing, RuntimeWithoutItsEntryPoint) {
    LoadedCopy copy("no-entry", {{"onnxruntime.dll", kFakes / "libruntime_without_entry.dll"},
                                 {"DirectML.dll", kBin / "DirectML.dll"}});
    expectRefusal(copy, kEntryFailed + systemMessage(ERROR_PROC_NOT_FOUND));
}

TEST(RuntimeMissing, RuntimeWithoutTheRequiredApiVersion) {
    LoadedCopy copy("no-api", {{"onnxruntime.dll", kFakes / "libruntime_without_api.dll"},
                               {"DirectML.dll", kBin / "DirectML.dll"}});
    expectRefusal(copy, "The ONNX Runtime library (version 0.1.0) does not offer API version 21");
}

TEST(RuntimeMissing, DirectMLWithoutItsEntryPoint) {
    LoadedCopy copy("no-dml-entry", {{"onnxruntime.dll", kBin / "onnxruntime.dll"},
                                     {"DirectML.dll", kFakes / "libruntime_without_entry.dll"}});
    expectRefusal(copy, kEntryFailed + systemMessage(ERROR_PROC_NOT_FOUND));
}

TEST(RuntimeLoading, BothFilesAreLoadedWithTheDllAndServeTheFirstContext) {
    LoadedCopy copy("both", {{"onnxruntime.dll", kBin / "onnxruntime.dll"}, {"DirectML.dll", kBin / "DirectML.dll"}});
    ASSERT_NE(copy.module, nullptr) << "LoadLibrary failed with " << GetLastError();
    // Loaded by the DLL's own start-up, before any export has run.
    EXPECT_TRUE(copy.companionLoaded("onnxruntime.dll"));
    EXPECT_TRUE(copy.companionLoaded("DirectML.dll"));

    testing::internal::CaptureStdout();
    VelmoraContext context = copy.create(0, "host");
    ASSERT_NE(context, nullptr);
    const std::vector<char> model = readModel("scale2_64x3.onnx");
    const bool loaded = copy.load(context, model.data(), static_cast<uint32_t>(model.size()), "input", "output");
    std::vector<float> input(64 * 64 * 3, 0.75f);
    const float* output = loaded ? copy.run(context, input.data(), 64, 64, 3, false) : nullptr;
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(loaded) << copy.fetch(context);
    ASSERT_NE(output, nullptr) << copy.fetch(context);
    EXPECT_EQ(output[0], 1.5f);
    copy.destroy(context);
}
