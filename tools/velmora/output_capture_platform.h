// What capturing standard output and error needs from the platform: file
// descriptors duplicated, redirected and closed, and a temporary file that
// nobody else sees and that goes away with the process.
#pragma once

#include <cstdio>
#include <string>

namespace capture_platform {

// A temporary file for reading and writing, removed when closed (or already
// unlinked); -1 when none can be made.
int openTemporaryFile();

// A new descriptor for the same file, not inherited by child processes; -1
// on failure.
int duplicate(int descriptor);

// Makes `target` refer to the file of `source`; false on failure.
bool redirect(int source, int target);

void closeDescriptor(int descriptor);

// A stream that writes to the descriptor and owns it; null on failure.
std::FILE* writingStream(int descriptor);

// Everything the file holds, which is then emptied so that the next write
// lands at its start again.
std::string takeContents(int descriptor);

}  // namespace capture_platform
