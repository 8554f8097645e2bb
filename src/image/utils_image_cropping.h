// Cutting patches out of a full image with edge replication, pasting a
// rectangle of a patch back clipped to the full image, and the per-call
// thread split that the float paste uses.
#pragma once

#include <cstdint>
#include <functional>
#include <system_error>
#include <thread>

#include "image/image_records.h"

// Fills all of patchImage with the pixels of fullImage at (x + column, y + row),
// coordinates clamped into fullImage, so a patch reaching outside repeats the
// edge pixels. Leaves the patch untouched if fullImage has no buffer. Both
// images must have the same channel count.
void cropPatch(const ImageFloat& fullImage, ImageFloat patchImage, int32_t x, int32_t y);

// Float pastes of this many bytes or more are split over threads.
inline constexpr int64_t kPasteSplitBytes = int64_t{4} << 20;

// Copies the width x height rectangle at (patchX, patchY) of patchImage to
// (x, y) of fullImage, clipped to fullImage. A negative width or height means
// the patch's own. The rectangle must lie inside the patch. The float variant
// copies the rows of a large rectangle on several threads through parallelFor.
void pastePatch(ImageFloat fullImage, const ImageFloat& patchImage, int32_t x, int32_t y,
                int32_t patchX, int32_t patchY, int32_t width, int32_t height);
void pastePatch(ImageByte fullImage, const ImageByte& patchImage, int32_t x, int32_t y,
                int32_t patchX, int32_t patchY, int32_t width, int32_t height);

struct ParallelForConfig {
    bool enabled = true;     // false: the whole range runs on the calling thread
    int32_t maxThreads = 0;  // 0 or less: as many as the hardware offers
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
    ThreadStartError()
        : std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)) {}
    const char* what() const noexcept override { return "resource unavailable try again"; }
};

// Seams through which parallelFor learns the hardware thread count and starts
// its threads; tests replace them. Passing null restores the default
// (std::thread::hardware_concurrency, the std::thread constructor).
using HardwareThreadCountFn = unsigned (*)();
using ThreadStarterFn = std::thread (*)(std::function<void()> work);
void setHardwareThreadCountFn(HardwareThreadCountFn fn);
void setThreadStarterFn(ThreadStarterFn fn);
