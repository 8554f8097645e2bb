#include "api/boundary.h"

#include <exception>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include "context/VelmoraClass.h"

namespace boundary {
namespace {

constexpr const char* kUnknownText = "unknown exception";
constexpr const char* kTextLostText = "std::bad_alloc";

// A host may keep a copy of the exception, text pointer included, for as
// long as it likes, so each text is kept for the life of the process. Equal
// texts share one copy: a host that meets the same failure again and again
// costs nothing more.
const char* keepText(const char* text) {
    static std::mutex guard;
    static std::set<std::string, std::less<>> kept;
    const std::lock_guard lock(guard);
    return kept.emplace(text ? text : "").first->c_str();
}

Escaped describe(Kind kind, const char* text) noexcept {
    try {
        return Escaped{kind, keepText(text)};
    } catch (...) {
        return Escaped{Kind::outOfMemory, kTextLostText};
    }
}

}  // namespace

Escaped describeCurrentException() noexcept {
    try {
        throw;
    } catch (const VelmoraException& e) {
        // Its text is a literal: nothing to keep, nothing that can fail.
        return Escaped{Kind::refusal, e.what()};
    } catch (const std::bad_alloc& e) {
        return describe(Kind::outOfMemory, e.what());
    } catch (const std::exception& e) {
        return describe(Kind::other, e.what());
    } catch (...) {
        return Escaped{Kind::other, kUnknownText};
    }
}

}  // namespace boundary
