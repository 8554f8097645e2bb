// The runtime's own report of the session's pools. On the processor the
// session logs at severity 0, and the runtime writes its options, the pool
// sizes among them, on standard error when it makes the session (the
// Windows runtime does not write there).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "context/processor_threads_fixture.h"

namespace {

// The size of one of the session's pools ("intra_op_param" or
// "inter_op_param") as the runtime reports it; -1 when the report does not say.
int reportedPoolSize(const std::string& report, const std::string& pool) {
    const std::string key = pool + ":OrtThreadPoolParams { thread_pool_size: ";
    const size_t at = report.find(key);
    if (at == std::string::npos) return -1;
    return std::atoi(report.c_str() + at + key.size());
}

}  // namespace

TEST_F(ProcessorThreads, TheRuntimeReportsTheCountsItWasGiven) {
    {
        // 0 is the runtime's word for "its own choice".
        auto context = initialisedContext();
        threadsAddedByLoad(*context);
        EXPECT_EQ(reportedPoolSize(lastReport, "intra_op_param"), 0) << lastReport.substr(0, 2000);
        EXPECT_EQ(reportedPoolSize(lastReport, "inter_op_param"), 0);
    }
    for (int32_t count : {1, 3, 5}) {
        SCOPED_TRACE(count);
        writeRegistryString(settingsFolder, "threads", std::to_string(count));
        auto context = initialisedContext();
        threadsAddedByLoad(*context);
        EXPECT_EQ(reportedPoolSize(lastReport, "intra_op_param"), count);
        // Only a parallel execution mode starts the inter-operation pool; the
        // count is given to it too, so that 5 makes the former 5 and 5.
        EXPECT_EQ(reportedPoolSize(lastReport, "inter_op_param"), count);
    }
}

TEST_F(ProcessorThreads, SpinningIsSwitchedThroughTheSessionConfiguration) {
    auto backend = std::make_unique<ModelLogicONNX>();
    ModelLogicONNX& onnx = *backend;
    VelmoraClass context(std::move(backend));
    for (const bool spinning : {false, true}) {
        onnx.setSpinning(spinning);
        threadsAddedByLoad(context);
        EXPECT_EQ(lastReport.find("session.intra_op.allow_spinning: 0") != std::string::npos, !spinning)
            << lastReport.substr(0, 2000);
    }
}
