// The pieces of Microsoft's C++ runtime that its compiler links statically
// into every program, which this host has to supply itself: the global
// allocation functions (on the process heap) and type_info's virtual table.
#include <windows.h>

#include "msvc_abi.h"

void* operator new(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }
void operator delete(void* p) noexcept {
    if (p) HeapFree(GetProcessHeap(), 0, p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

type_info::~type_info() noexcept {}

namespace {
void* typeInfoDeletingDestructor(type_info* self, unsigned) { return self; }
}  // namespace

// Run-time type records point at this table; nothing calls through it.
extern "C" const void* const typeInfoVtable[1] __asm__("??_7type_info@@6B@");
extern "C" const void* const typeInfoVtable[1] = {reinterpret_cast<const void*>(&typeInfoDeletingDestructor)};
