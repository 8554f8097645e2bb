#include "context/fresh_buffer.h"

// Windows gives large pages only to allocations made for them, with a
// privilege that a host process seldom holds: ordinary buffers stay as they are.
void preferLargePages(void*, size_t) {}
