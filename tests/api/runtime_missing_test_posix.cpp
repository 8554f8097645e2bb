// The library loaded from a folder whose runtime is missing or unusable: the
// host survives, and every context explains why it cannot work.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <unistd.h>

#include "velmora.h"

namespace fs = std::filesystem;

namespace {

struct LoadedCopy {
    void* handle = nullptr;
    decltype(&::createContext) create = nullptr;
    decltype(&::deleteContext) destroy = nullptr;
    decltype(&::getErrorText) errorText = nullptr;
    decltype(&::loadModel) load = nullptr;
    decltype(&::predictFloat) run = nullptr;
    decltype(&::predictByTilesImageFloat) tiles = nullptr;

    // Copies the library (and, if given, a stand-in runtime) into `folder`.
    LoadedCopy(const fs::path& folder, const char* runtimeStandIn) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::copy_file(fs::path(VELMORA_TEST_BIN) / "libvelmora.so", folder / "libvelmora.so");
        if (runtimeStandIn)
            fs::copy_file(fs::path(VELMORA_TEST_FAKES) / runtimeStandIn, folder / "libonnxruntime.so.1");
        handle = dlopen((folder / "libvelmora.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        create = reinterpret_cast<decltype(create)>(dlsym(handle, "createContext"));
        destroy = reinterpret_cast<decltype(destroy)>(dlsym(handle, "deleteContext"));
        errorText = reinterpret_cast<decltype(errorText)>(dlsym(handle, "getErrorText"));
        load = reinterpret_cast<decltype(load)>(dlsym(handle, "loadModel"));
        run = reinterpret_cast<decltype(run)>(dlsym(handle, "predictFloat"));
        tiles = reinterpret_cast<decltype(tiles)>(dlsym(handle, "predictByTilesImageFloat"));
    }
    ~LoadedCopy() {
        if (handle) dlclose(handle);
    }

    std::string fetch(VelmoraContext context) const {
        char buffer[1024] = {};
        errorText(context, buffer, sizeof buffer);
        return buffer;
    }
};

void expectRefusal(const char* standIn, const std::string& prefix, const std::string& detail) {
    // A folder per case: a library copy may stay mapped after dlclose.
    const fs::path folder = fs::temp_directory_path() /
                            ("velmora-runtime-" + std::to_string(::getpid()) + "-" + (standIn ? standIn : "none"));
    {
        LoadedCopy copy(folder, standIn);
        ASSERT_NE(copy.handle, nullptr) << dlerror();
        ASSERT_TRUE(copy.create && copy.destroy && copy.errorText && copy.load && copy.run);
        VelmoraContext context = copy.create(0, "host");
        ASSERT_NE(context, nullptr);
        const std::string first = copy.fetch(context);
        EXPECT_EQ(first.rfind(prefix, 0), 0u) << first;
        EXPECT_NE(first.find(detail), std::string::npos) << first;

        const char bytes[] = "model";
        float data[16] = {};
        EXPECT_FALSE(copy.load(context, bytes, sizeof bytes, "input", "output"));
        EXPECT_EQ(copy.run(context, data, 4, 4, 1, false), nullptr);
        if (copy.tiles) {
            const ImageFloat result = copy.tiles(context, ImageFloat{4, 4, 1, data}, 4, 4, 1, nullptr, nullptr);
            EXPECT_EQ(result.data, nullptr);
        }
        // The reason stays: a later fetch still starts with it.
        EXPECT_EQ(copy.fetch(context).rfind(prefix, 0), 0u);
        copy.destroy(context);
    }
    fs::remove_all(folder);
}

}  // namespace

TEST(RuntimeMissing, NoRuntimeFileBesideTheLibrary) {
    expectRefusal(nullptr, "Library loading failed, OS reports: ", "libonnxruntime.so.1");
}

TEST(RuntimeMissing, RuntimeWithoutItsEntryPoint) {
    expectRefusal("libruntime_without_entry.so",
                  "Retrieving the functionpointer failed, OS reports: ", "OrtGetApiBase");
}

TEST(RuntimeMissing, RuntimeWithoutTheRequiredApiVersion) {
    expectRefusal("libruntime_without_api.so", "The ONNX Runtime library (version 0.1.0) does not offer API version 21",
                  "VelmoraClass: modelLogic is null!");
}
