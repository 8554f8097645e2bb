// The execution providers that the loaded runtime was built with, by name.
#pragma once

#include <string>
#include <vector>

#include "diagnostics/expected.h"

// Fails when no runtime is loaded or the runtime cannot list them.
Expected<std::vector<std::string>> availableProviders();
