// Who is inside a context's calls. A context takes one call at a time: a
// call from another thread while one runs is refused, and so is a call that
// would disturb the running one made from inside it (from the host's
// progress callback). A call whose clean-up an exception skipped (a host's
// exception thrown through the library, where the host's compiler unwinds
// without the library's clean-ups) leaves a mark that the next call on its
// thread recognises as stale and clears: a call is inside a running one only
// while the library is calling out to the host deeper on the same stack.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// The address of the frame this is written in; deeper frames lie lower on
// the stack.
#define VELMORA_THIS_FRAME reinterpret_cast<uintptr_t>(__builtin_frame_address(0))

// While alive, the library is calling out to the host on this thread from
// the frame at `frame`.
class Callout {
public:
    explicit Callout(uintptr_t frame);
    ~Callout();
    Callout(const Callout&) = delete;
    Callout& operator=(const Callout&) = delete;

private:
    uintptr_t saved_;
};

// Whether a call whose frame is at `frame` runs inside a callout of the
// library's on this thread; forgets a callout the stack has left.
bool insideCallout(uintptr_t frame);

class ContextCalls {
public:
    enum class Kind {
        Exclusive,  // runs models or changes what runs: never inside another call
        Shared,     // reads, or releases what a running call checks for: also from the host's callback
    };
    // Admits a call made at `frame`, or refuses it (false) and keeps the
    // words that say so, naming the call `who`.
    bool enter(Kind kind, uintptr_t frame, const char* who);
    void leave();
    // The words of the refusals since the last take: a refused call may come
    // from another thread than the one the context's own words belong to.
    std::string takeRefusals();

private:
    std::mutex mutex_;
    std::thread::id thread_;
    int depth_ = 0;
    std::string refusals_;
};

// A call held for its length; `admitted()` false when refused.
class ContextCall {
public:
    ContextCall(ContextCalls& calls, ContextCalls::Kind kind, uintptr_t frame, const char* who)
        : calls_(calls), admitted_(calls.enter(kind, frame, who)) {}
    ~ContextCall() {
        if (admitted_) calls_.leave();
    }
    ContextCall(const ContextCall&) = delete;
    ContextCall& operator=(const ContextCall&) = delete;
    bool admitted() const { return admitted_; }

private:
    ContextCalls& calls_;
    bool admitted_;
};
