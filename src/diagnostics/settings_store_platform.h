// What the settings store needs from the platform: a key that can be opened
// (or created) and whose values can be queried and set.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics/settings_store.h"

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

    // Stores each text as a string value, all in one go where the platform
    // can. Per entry, the platform's error code when it was not stored (its
    // earlier value stays), or nothing when it was. By default one set each.
    virtual std::vector<std::optional<int32_t>> setAll(const std::vector<SettingsEntry>& entries) {
        std::vector<std::optional<int32_t>> failures(entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            int32_t errorCode = 0;
            if (!set(entries[i].first, entries[i].second, errorCode)) failures[i] = errorCode;
        }
        return failures;
    }
};

enum class KeyAccess { queryAndSet, setOnly };

// Opens the key below the current user's root, creating it when missing.
// Null with the platform's error code when it can be neither opened nor
// created.
std::unique_ptr<OpenKey> openKey(const std::string& keyPath, KeyAccess access, int32_t& errorCode);

}  // namespace settings_platform
