// On Windows the store is the registry key: keep its values aside meanwhile.
#include "context/empty_settings.h"
#include "support/registry_key.h"

struct EmptySettings::Saved {
    SavedRegistryKey key;
};

EmptySettings::EmptySettings() : saved_(std::make_unique<Saved>()) {}

EmptySettings::~EmptySettings() = default;
