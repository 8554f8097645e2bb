// The command's two jobs: process pictures, or describe the library and a model.
#pragma once

#include "options.h"

// Exit codes: 0 done, 1 failure (a line on standard error for each), 130 interrupted.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitInterrupted = 130;

int processImages(const Options& options);
int printInformation(const Options& options);
