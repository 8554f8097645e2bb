#include "context/call_guard.h"

namespace {
// The frame from which the library called out to the host last on this
// thread; 0 when it is not calling out.
thread_local uintptr_t calloutFrame = 0;
}  // namespace

Callout::Callout(uintptr_t frame) : saved_(calloutFrame) { calloutFrame = frame; }

Callout::~Callout() { calloutFrame = saved_; }

bool insideCallout(uintptr_t frame) {
    // Stacks grow down: a call made from the host's callback lies below the
    // frame that called it. A callout whose frame lies below this call's has
    // ended without its clean-up.
    if (calloutFrame != 0 && frame >= calloutFrame) calloutFrame = 0;
    return calloutFrame != 0;
}

bool ContextCalls::enter(Kind kind, uintptr_t frame, const char* who) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (depth_ > 0 && thread_ != self) {
        refusals_ +=
            std::string(who) + ": the context is in a call on another thread; a context takes one call at a time\n";
        return false;
    }
    if (depth_ > 0 && !insideCallout(frame)) depth_ = 0;  // left by a call no longer running
    if (depth_ > 0 && kind == Kind::Exclusive) {
        refusals_ += std::string(who) +
                     ": the context is in another call (this one comes from its progress callback); a context takes "
                     "one call at a time\n";
        return false;
    }
    thread_ = self;
    ++depth_;
    return true;
}

std::string ContextCalls::takeRefusals() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::string taken;
    taken.swap(refusals_);
    return taken;
}

void ContextCalls::leave() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (depth_ > 0) --depth_;
}
