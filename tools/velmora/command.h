// The command's two jobs: process an image, or describe the library and a model.
#pragma once

#include "options.h"

// Exit codes: 0 done, 1 failure (one line on standard error), 130 interrupted.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitInterrupted = 130;

int processImage(const Options& options);
int printInformation(const Options& options);
