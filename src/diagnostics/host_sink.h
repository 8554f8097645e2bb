// The host's message sink (velmoraSetMessageSink), one for the whole process.
// The library's console lines and the runtime's log lines go to it while it
// is set. Lines are handed over under a shared lock, so that any number of
// threads call the sink at once while setting a new one waits until no
// thread is still in the old one: a host may free what the old sink used as
// soon as velmoraSetMessageSink returns.
#pragma once

#include <cstdint>
#include <string_view>

#include "velmora.h"

// The runtime's own numbers, as the public header gives them.
enum class Severity : int32_t {
    verbose = VELMORA_SEVERITY_VERBOSE,
    info = VELMORA_SEVERITY_INFO,
    warning = VELMORA_SEVERITY_WARNING,
    error = VELMORA_SEVERITY_ERROR,
    fatal = VELMORA_SEVERITY_FATAL,
};

enum class MessageSource : int32_t { library = VELMORA_FROM_LIBRARY, runtime = VELMORA_FROM_RUNTIME };

// Sets the sink, or removes it when null. The runtime level is clamped to
// the runtime's severities (verbose to fatal).
void setHostSink(VelmoraMessageSink sink, void* userData, int32_t runtimeLevel) noexcept;

struct HostSinkState {
    bool set = false;
    int32_t runtimeLevel = 0;  // meaningful only while set
};
HostSinkState hostSinkState() noexcept;

// Hands one line to the sink: line ends inside the text become spaces and
// those at its end are dropped. False, having done nothing, when no sink is
// set (or the line could not be made for lack of memory).
bool sendToHostSink(std::string_view text, Severity severity, MessageSource source) noexcept;
