// What happens to an exception at the edge of the library. Every export runs
// its body through atBoundary or, for the few that never let an exception
// out, withSafetyNet; the policy lives here and nowhere else.
//
// Where the host shares the library's C++ runtime (Linux, or a Windows DLL
// built for hosts made with MinGW), an exception leaves unchanged. A Windows
// DLL built for hosts made with Microsoft's compiler cannot throw anything
// such a host would see, so the exception is caught here, the catch is left
// (releasing the exception and every frame inside the library), and only
// then is it raised again in the host's form.
#pragma once

#include <type_traits>

namespace boundary {

#if defined(VELMORA_RAISE_MSVC_EXCEPTIONS)
inline constexpr bool kRaisesInHostForm = true;
#else
inline constexpr bool kRaisesInHostForm = false;
#endif

// The kinds of exception a host can tell apart.
enum class Kind {
    refusal,      // VelmoraException: a second tiled prediction while one runs
    outOfMemory,  // std::bad_alloc and what derives from it
    other,        // everything else, as std::exception with its text
};

// An exception that reached the boundary, described without owning memory:
// `text` stays valid for the rest of the process.
struct Escaped {
    Kind kind;
    const char* text;
};

// Describes the exception being handled. Only valid inside a catch block.
// Never throws: when the text cannot be kept for lack of memory, the result
// is an outOfMemory with a fixed text.
Escaped describeCurrentException() noexcept;

// Raises the exception in the form that the host's compiler catches. The
// platform part, defined only where kRaisesInHostForm can be true. Returns
// only if the exception could not be raised.
void raiseInHostForm(const Escaped& escaped);

// Runs an export's body and applies the policy to any exception leaving it.
template <class Body>
std::invoke_result_t<Body&> atBoundary(Body&& body) {
    if constexpr (!kRaisesInHostForm) {
        return body();
    } else {
        Escaped escaped{Kind::other, nullptr};
        try {
            return body();
        } catch (...) {
            escaped = describeCurrentException();
        }
        // The catch has ended: nothing of the exception or of the body is
        // left to release when the raised exception skips these frames.
        raiseInHostForm(escaped);
        // Raising failed: the host gets the export's failure result (null,
        // false, the empty image) rather than a crash.
        return std::invoke_result_t<Body&>();
    }
}

// For exports that report failure in their result instead: any exception
// leaving the body is dropped and the export answers with onFailure().
template <class Body, class OnFailure>
std::invoke_result_t<Body&> withSafetyNet(Body&& body, OnFailure&& onFailure) noexcept {
    static_assert(std::is_nothrow_invocable_v<OnFailure>, "the answer to a failure must not fail");
    try {
        return body();
    } catch (...) {
        return onFailure();
    }
}

}  // namespace boundary
