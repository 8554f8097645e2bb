#include "backend/runtime_log.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "backend/ort_call.h"
#include "diagnostics/host_sink.h"

namespace {

// The runtime calls this from any of its threads, for sessions and
// environments made while a sink was set; it reads the sink at each call.
void ORT_API_CALL forwardRuntimeLine(void*, OrtLoggingLevel level, const char* category, const char* logid,
                                     const char* location, const char* message) noexcept {
    const int32_t code = std::clamp<int32_t>(level, ORT_LOGGING_LEVEL_VERBOSE, ORT_LOGGING_LEVEL_FATAL);
    const char* text = message ? message : "";
    try {
        const std::string line = logid && *logid ? std::string(logid) + ": " + text : std::string(text);
        if (sendToHostSink(line, static_cast<Severity>(code), MessageSource::runtime)) return;
    } catch (...) {
        // No memory for the line: it goes to standard error as it is.
    }
    // The sink was removed: as the runtime's own logger would, without the time.
    std::fprintf(stderr, "[%c:%s:%s, %s] %s\n", "VIWEF"[code], category ? category : "", logid ? logid : "",
                 location ? location : "", text);
    std::fflush(stderr);
}

}  // namespace

OwnedEnv createRuntimeEnvironment() {
    OwnedEnv created;
    const HostSinkState sink = hostSinkState();
    if (sink.set) {
        throwOnError(ortApi->CreateEnvWithCustomLoggerAndGlobalThreadPools(
            forwardRuntimeLine, nullptr, static_cast<OrtLoggingLevel>(sink.runtimeLevel), "", nullptr, out(created)));
    } else {
        throwOnError(ortApi->CreateEnvWithGlobalThreadPools(ORT_LOGGING_LEVEL_WARNING, "", nullptr, out(created)));
    }
    return created;
}

bool routeSessionLogToHost(OrtSessionOptions* options) {
    const HostSinkState sink = hostSinkState();
    if (!sink.set) return false;
    throwOnError(ortApi->SetUserLoggingFunction(options, forwardRuntimeLine, nullptr));
    throwOnError(ortApi->SetSessionLogSeverityLevel(options, sink.runtimeLevel));
    return true;
}

OrtLoggingFunction runtimeLogFunction() { return forwardRuntimeLine; }
