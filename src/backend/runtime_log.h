// Where the runtime's log lines go: to the host's sink while one is set
// (diagnostics/host_sink.h), otherwise to the runtime's own logger, as they
// always have.
#pragma once

#include <onnxruntime_c_api.h>

#include "backend/ort_owners.h"

// Makes (or, while one exists in the process, joins) the runtime's
// environment. With a host's sink set, a new environment logs through it at
// the level the host asked for; otherwise at warning level on the runtime's
// own logger. The runtime keeps the logger of the environment it made first
// for as long as any environment exists.
OwnedEnv createRuntimeEnvironment();

// Sends the log of sessions made with `options` to the host's sink, at the
// host's level, when a sink is set; true when it did. A session keeps this
// to the end: when the host later removes its sink, the session's lines go
// to standard error.
bool routeSessionLogToHost(OrtSessionOptions* options);

// The logging function the runtime is given: each line goes to the host's
// sink as it is at that moment, or, with none, to standard error.
OrtLoggingFunction runtimeLogFunction();
