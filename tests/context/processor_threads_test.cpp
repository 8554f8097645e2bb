// The "threads" setting: read by initializeVelmora, it sizes the processor
// session that the next model load makes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend/ort_call.h"
#include "context/processor_threads_fixture.h"

namespace {

// Threads added to the process by a session made with the runtime's default
// options, as a user's own code makes it. A first session, kept while the
// second is counted, starts whatever the runtime starts once per process.
size_t defaultSessionThreads(const std::vector<char>& model) {
    OwnedEnv env;
    throwOnError(ortApi->CreateEnv(ORT_LOGGING_LEVEL_WARNING, "reference", out(env)));
    OwnedSessionOptions options;
    throwOnError(ortApi->CreateSessionOptions(out(options)));
    OwnedSession first, second;
    throwOnError(ortApi->CreateSessionFromArray(env.get(), model.data(), model.size(), options.get(), out(first)));
    const size_t before = processThreads();
    throwOnError(ortApi->CreateSessionFromArray(env.get(), model.data(), model.size(), options.get(), out(second)));
    return processThreads() - before;
}

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
