// What every fuzzer of the tree shares: a scratch folder, quiet streams, and
// one way to report a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A fresh folder of this process, removed at exit: inside
// $VELMORA_FUZZ_SCRATCH when set (scripts/fuzz.sh removes that folder, also
// after a crash), else on /dev/shm when there is one, else in the temporary
// folder. The first call also points the library's settings store and log file
// there, so that fuzzing neither touches the user's settings nor waits for
// disk syncs, and two fuzzers never share a lock; the settings there give each
// runtime session one thread, once a context is initialised.
const std::filesystem::path& scratchFolder();

// Silences what the library and the runtime print through the C++ streams
// (a line per tile, the model's description, the runtime's log), unless
// VELMORA_FUZZ_VERBOSE is set. Findings and sanitizer reports still show.
void quietStreams();

// Reports a result that breaks what the library or the command promises and
// stops the process, so that the fuzzer keeps the input.
[[noreturn]] void finding(const std::string& what);

std::vector<uint8_t> readFileBytes(const std::filesystem::path& path);
