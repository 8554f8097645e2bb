// What the settings store needs from the platform: a key that can be opened
// (or created) and whose values can be queried and set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace settings_platform {

// An open key of the per-user store. Destroying it closes the key and
// releases whatever the platform held for it.
class OpenKey {
public:
    virtual ~OpenKey() = default;

    // Copies the stored bytes of the value, with the terminating zero of a
    // text, into buffer and sets size to the count copied. False when the
    // value is absent or needs more than capacity bytes.
    virtual bool query(const std::string& name, char* buffer, uint32_t capacity, uint32_t& size) = 0;

    // Stores the text as a string value. False with the platform's error
    // code on failure.
    virtual bool set(const std::string& name, const std::string& text, int32_t& errorCode) = 0;
};

enum class KeyAccess { queryAndSet, setOnly };

// Opens the key below the current user's root, creating it when missing.
// Null with the platform's error code when it can be neither opened nor
// created.
std::unique_ptr<OpenKey> openKey(const std::string& keyPath, KeyAccess access, int32_t& errorCode);

}  // namespace settings_platform
