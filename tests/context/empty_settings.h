// The settings store as a first run sees it: while an EmptySettings lives,
// the library reads and writes a store of its own, and the user's settings
// are left alone and come back unchanged afterwards.
#pragma once

#include <memory>

class EmptySettings {
public:
    EmptySettings();
    ~EmptySettings();
    EmptySettings(const EmptySettings&) = delete;
    EmptySettings& operator=(const EmptySettings&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};
