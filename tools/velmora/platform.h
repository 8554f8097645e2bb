// The few things the command needs from the operating system.
#pragma once

#include <cstdio>
#include <filesystem>

// From now on an interrupt (Ctrl-C) only raises a flag that the progress
// callback hands to the library as its stop answer; a second one ends the
// process at once.
void watchForInterrupt();
bool interruptRequested();

bool isTerminal(std::FILE* stream);

// The running executable's own file, to find the files installed beside it.
std::filesystem::path executablePath();
