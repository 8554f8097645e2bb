// Splitting a range of row indices over short-lived threads.
#pragma once

#include <cstdint>
#include <functional>
#include <system_error>
#include <thread>

// Where parallelFor gets its threads: the hardware's thread count and a way
// to start one. Tests and benchmarks pass their own.
struct ThreadSource {
    using HardwareThreadsFn = unsigned (*)();
    using StartFn = std::thread (*)(std::function<void()> work);

    static unsigned hardwareThreadsOfTheMachine() { return std::thread::hardware_concurrency(); }
    static std::thread startStdThread(std::function<void()> work) { return std::thread(std::move(work)); }

    HardwareThreadsFn hardwareThreads = hardwareThreadsOfTheMachine;
    StartFn start = startStdThread;
};

struct ParallelForConfig {
    bool enabled = true;     // false: the whole range runs on the calling thread
    int32_t maxThreads = 0;  // 0 or less: as many as the hardware offers
    ThreadSource threads{};
};

// Runs body(from, to) over the inclusive range [first, last] cut into at most
// one chunk per hardware thread (or maxThreads), all but the last on newly
// started threads; the last runs on the calling thread, which then joins the
// others in order. body gets inclusive bounds and must do nothing for an empty
// range (from > to); it must not throw on a worker thread. Returns false,
// running nothing, if last < first.
//
// If a thread cannot be started, throws ThreadStartError. That, or an
// exception from body on the calling thread, propagates after the threads
// already started have been joined.
bool parallelFor(const ParallelForConfig& config, int64_t first, int64_t last,
                 const std::function<void(int64_t from, int64_t to)>& body);

class ThreadStartError : public std::system_error {
public:
    ThreadStartError() : std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)) {}
    const char* what() const noexcept override { return "resource unavailable try again"; }
};
