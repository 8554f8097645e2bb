// A context on the runtime's backend whose settings come from an empty store,
// and what a model load adds: the session's pool is counted in the threads
// its creation adds to the process (a pool of n threads runs on the calling
// thread and n - 1 threads of its own).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/process_threads.h"
#include "backend/ModelLogicONNX.h"
#include "context/VelmoraClass.h"
#include "context/empty_settings.h"
#include "diagnostics/settings_store.h"
#include "support/model_files.h"

class ProcessorThreads : public testing::Test {
protected:
    ProcessorThreads() : model(readModel("identity_t16_c1.onnx")) {
        // ThreadSanitizer starts a thread of its own at the first thread the
        // process makes; let that happen before anything is counted.
        static const bool started = [] {
            std::thread([] {}).join();
            return true;
        }();
        (void)started;
    }

    // A context on the runtime's backend, initialised from the store.
    std::unique_ptr<VelmoraClass> initialisedContext() {
        auto context = std::make_unique<VelmoraClass>(std::make_unique<ModelLogicONNX>());
        char buffer[1000];
        context->initializeVelmora("tests", buffer);
        return context;
    }

    // Threads the load adds to the process: the new session's own.
    size_t threadsAddedByLoad(VelmoraClass& context) {
        const size_t before = processThreads();
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool loaded = context.loadModel(model.data(), static_cast<uint32_t>(model.size()), "input", "output");
        testing::internal::GetCapturedStdout();
        lastReport = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(loaded);
        return processThreads() - before;
    }

    EmptySettings store;
    std::vector<char> model;
    std::string lastReport;  // what the runtime wrote on standard error while making the session
};
