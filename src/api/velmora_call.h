// How every velmora* export runs its body: never letting an exception reach
// the host, with the context admitted for the call (or the call refused with
// words), and the host's records checked against their size rule.
#pragma once

#include <string>

#include "api/boundary.h"
#include "api/host_records.h"
#include "context/VelmoraClass.h"
#include "context/call_guard.h"

// Runs `body(context)` as an export named `who`; `failed` is the export's
// failure result. A call that runs the host's callback holds the context
// (`callsBack`) so that the callback may delete it.
template <typename Result, typename Body>
Result velmoraCall(VelmoraContext context, ContextCalls::Kind kind, const char* who, Result failed, Body&& body,
                   bool callsBack = false) {
    return boundary::withSafetyNet(
        [&]() -> Result {
            if (!context) return failed;
            VelmoraClass& c = *static_cast<VelmoraClass*>(context);
            // Ends after the admission, so that a context deleted from the
            // callback goes only once nothing of it is held.
            const VelmoraClass::HostCall held(c, callsBack);
            const ContextCall call(c.calls(), kind, VELMORA_THIS_FRAME, who);
            if (!call.admitted()) return failed;
            return body(c);
        },
        [&]() noexcept { return failed; });
}

// Whether the host's record is there and large enough; words if not.
template <typename Record>
bool recordFits(VelmoraClass& c, const char* who, const Record* record, const char* name) {
    if (hostRecordFits(record, sizeof(Record))) return true;
    c.report(who, recordSizeWords(name, record ? record->size : 0));
    return false;
}
