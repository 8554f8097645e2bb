// The "threads" setting: read by initializeVelmora, it sizes the processor
// session that the next model load makes. The session's pool is counted in
// the threads its creation adds to the process: a pool of n threads runs on
// the calling thread and n - 1 threads of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "api/process_threads.h"
#include "backend/ModelLogicONNX.h"
#include "backend/ort_call.h"
#include "context/VelmoraClass.h"
#include "context/empty_settings.h"
#include "diagnostics/settings_store.h"
#include "support/model_files.h"

namespace {

constexpr const char* kModel = "identity_t16_c1.onnx";

// Threads added to the process by a session made with the runtime's default
// options, as a user's own code makes it.
size_t defaultSessionThreads(const std::vector<char>& model) {
    OwnedEnv env;
    throwOnError(ortApi->CreateEnv(ORT_LOGGING_LEVEL_WARNING, "reference", out(env)));
    OwnedSessionOptions options;
    throwOnError(ortApi->CreateSessionOptions(out(options)));
    const size_t before = processThreads();
    OwnedSession session;
    throwOnError(ortApi->CreateSessionFromArray(env.get(), model.data(), model.size(), options.get(), out(session)));
    return processThreads() - before;
}

// The size of one of the session's pools ("intra_op_param" or
// "inter_op_param") as the runtime reports it when it makes the session (its
// log severity is 0 on the processor); -1 when the report does not say.
int reportedPoolSize(const std::string& report, const std::string& pool) {
    const std::string key = pool + ":OrtThreadPoolParams { thread_pool_size: ";
    const size_t at = report.find(key);
    if (at == std::string::npos) return -1;
    return std::atoi(report.c_str() + at + key.size());
}

class ProcessorThreads : public testing::Test {
protected:
    ProcessorThreads() : model(readModel(kModel)) {}

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
    std::string lastReport;  // what the runtime said while making the session
};

}  // namespace

TEST_F(ProcessorThreads, AbsentNoneOrUnusableValuesLetTheRuntimeChoose) {
    const size_t runtimeChoice = defaultSessionThreads(model);
    {
        // Never initialised: nothing was read.
        VelmoraClass context(std::make_unique<ModelLogicONNX>());
        EXPECT_EQ(threadsAddedByLoad(context), runtimeChoice);
    }
    {
        // Absent: the first initialisation stores 0, as for the other values.
        auto context = initialisedContext();
        EXPECT_EQ(readRegistryString(settingsFolder, "threads", "absent"), "0");
        EXPECT_EQ(context->backend()->getProcessorThreads(), 0);
        EXPECT_EQ(threadsAddedByLoad(*context), runtimeChoice);
        // 0 is the runtime's word for "its own choice".
        EXPECT_EQ(reportedPoolSize(lastReport, "intra_op_param"), 0);
        EXPECT_EQ(reportedPoolSize(lastReport, "inter_op_param"), 0);
    }
    for (const char* stored : {"0", "-3", "many", ""}) {
        SCOPED_TRACE(stored);
        writeRegistryString(settingsFolder, "threads", stored);
        auto context = initialisedContext();
        EXPECT_EQ(threadsAddedByLoad(*context), runtimeChoice);
        EXPECT_EQ(readRegistryString(settingsFolder, "threads", "absent"), stored);  // never rewritten
    }
}

TEST_F(ProcessorThreads, ValueSetsTheIntraOperationCount) {
    for (int32_t count : {1, 2, 3, 5}) {
        SCOPED_TRACE(count);
        writeRegistryString(settingsFolder, "threads", std::to_string(count));
        auto context = initialisedContext();
        EXPECT_EQ(context->backend()->getProcessorThreads(), count);
        EXPECT_EQ(threadsAddedByLoad(*context), static_cast<size_t>(count - 1));
        EXPECT_EQ(reportedPoolSize(lastReport, "intra_op_param"), count);
        // Only a parallel execution mode starts the inter-operation pool; the
        // count is given to it too, so that 5 makes the former 5 and 5.
        EXPECT_EQ(reportedPoolSize(lastReport, "inter_op_param"), count);
    }
}

TEST_F(ProcessorThreads, ValueTakesEffectAtTheNextLoad) {
    writeRegistryString(settingsFolder, "threads", "3");
    auto context = initialisedContext();
    EXPECT_EQ(threadsAddedByLoad(*context), 2u);
    const size_t withThree = processThreads();

    // Read again with a model loaded: the running session keeps its pool.
    writeRegistryString(settingsFolder, "threads", "1");
    char buffer[1000];
    context->initializeVelmora("tests", buffer);
    EXPECT_EQ(processThreads(), withThree);
    // The next load replaces it by a session without threads of its own.
    threadsAddedByLoad(*context);
    EXPECT_EQ(processThreads(), withThree - 2);

    // A reload on the processor keeps the count too.
    auto* onnx = dynamic_cast<ModelLogicONNX*>(context->backend());
    ASSERT_NE(onnx, nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ASSERT_TRUE(onnx->reloadOnCpu());
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(processThreads(), withThree - 2);
}

TEST_F(ProcessorThreads, HugeCountsAreCapped) {
    writeRegistryString(settingsFolder, "threads", "2000000000");
    auto context = initialisedContext();
    EXPECT_EQ(threadsAddedByLoad(*context), static_cast<size_t>(kMostProcessorThreads - 1));
}
