#include "allocation_hooks.h"

#include <stddef.h>

namespace allocation_hooks {
namespace {

using Malloc = void*(__cdecl*)(size_t);
using Calloc = void*(__cdecl*)(size_t, size_t);
using Realloc = void*(__cdecl*)(void*, size_t);
using Free = void(__cdecl*)(void*);

Malloc realMalloc;
Calloc realCalloc;
Realloc realRealloc;
Free realFree;

long long failCountdown;  // >0: allocations left up to the failing one
bool failed;

bool failHere() {
    if (__atomic_load_n(&failCountdown, __ATOMIC_SEQ_CST) <= 0 ||
        __atomic_sub_fetch(&failCountdown, 1, __ATOMIC_SEQ_CST) != 0)
        return false;
    __atomic_store_n(&failed, true, __ATOMIC_SEQ_CST);
    return true;
}

// The blocks held since counting started: an open-addressing set of
// addresses, emptied slot by slot as blocks are freed.
constexpr size_t kSlots = size_t(1) << 16;
void* held[kSlots];
long long heldCount;
long long allocationCount;
bool counting;
bool overflowed;
SRWLOCK lock = SRWLOCK_INIT;

size_t slotOf(void* p) { return (reinterpret_cast<size_t>(p) >> 4) * 0x9E3779B97F4A7C15ull >> 48; }

void noteAllocated(void* p) {
    if (!p) return;
    AcquireSRWLockExclusive(&lock);
    if (counting) {
        ++allocationCount;
        if (heldCount + 1 >= static_cast<long long>(kSlots / 2)) {
            overflowed = true;
        } else {
            size_t i = slotOf(p);
            while (held[i] && held[i] != p) i = (i + 1) % kSlots;
            if (!held[i]) ++heldCount;
            held[i] = p;
        }
    }
    ReleaseSRWLockExclusive(&lock);
}

void noteFreed(void* p) {
    if (!p) return;
    AcquireSRWLockExclusive(&lock);
    size_t i = slotOf(p);
    while (held[i] && held[i] != p) i = (i + 1) % kSlots;
    if (held[i]) {
        // Removal from linear probing: move later members of the run back
        // so that every remaining address is still found from its home slot.
        held[i] = nullptr;
        --heldCount;
        for (size_t j = (i + 1) % kSlots; held[j]; j = (j + 1) % kSlots) {
            const size_t home = slotOf(held[j]);
            const bool movable = i <= j ? (home <= i || home > j) : (home <= i && home > j);
            if (movable) {
                held[i] = held[j];
                held[j] = nullptr;
                i = j;
            }
        }
    }
    ReleaseSRWLockExclusive(&lock);
}

void* __cdecl hookedMalloc(size_t size) {
    if (failHere()) return nullptr;
    void* p = realMalloc(size);
    noteAllocated(p);
    return p;
}

void* __cdecl hookedCalloc(size_t count, size_t size) {
    if (failHere()) return nullptr;
    void* p = realCalloc(count, size);
    noteAllocated(p);
    return p;
}

void* __cdecl hookedRealloc(void* old, size_t size) {
    if (size != 0 && failHere()) return nullptr;  // the old block stays valid, as on a real failure
    void* p = realRealloc(old, size);
    if (p || size == 0) noteFreed(old);
    noteAllocated(p);
    return p;
}

void __cdecl hookedFree(void* p) {
    noteFreed(p);
    realFree(p);
}

template <class Function>
void replace(IMAGE_THUNK_DATA64* slot, Function hook, Function& original) {
    DWORD protection = 0;
    VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection);
    original = reinterpret_cast<Function>(slot->u1.Function);
    slot->u1.Function = reinterpret_cast<ULONGLONG>(hook);
    VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
}

}  // namespace

bool install(HMODULE dll) {
    auto* base = reinterpret_cast<BYTE*>(dll);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    IMAGE_THUNK_DATA64 *mallocSlot = nullptr, *callocSlot = nullptr, *reallocSlot = nullptr, *freeSlot = nullptr;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), "msvcrt.dll") != 0) continue;
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA64*>(
            base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal)) continue;
            const char* name = reinterpret_cast<const char*>(
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
            if (lstrcmpA(name, "malloc") == 0) mallocSlot = slot;
            if (lstrcmpA(name, "calloc") == 0) callocSlot = slot;
            if (lstrcmpA(name, "realloc") == 0) reallocSlot = slot;
            if (lstrcmpA(name, "free") == 0) freeSlot = slot;
        }
    }
    if (!mallocSlot || !callocSlot || !reallocSlot || !freeSlot) return false;
    replace(freeSlot, &hookedFree, realFree);
    replace(mallocSlot, &hookedMalloc, realMalloc);
    replace(callocSlot, &hookedCalloc, realCalloc);
    replace(reallocSlot, &hookedRealloc, realRealloc);
    return true;
}

void startCounting() {
    AcquireSRWLockExclusive(&lock);
    for (void*& p : held) p = nullptr;
    heldCount = 0;
    allocationCount = 0;
    overflowed = false;
    counting = true;
    ReleaseSRWLockExclusive(&lock);
}

long long heldSinceStart() {
    AcquireSRWLockShared(&lock);
    const long long n = overflowed ? -1 : heldCount;
    ReleaseSRWLockShared(&lock);
    return n;
}

long long allocationsSinceStart() {
    AcquireSRWLockShared(&lock);
    const long long n = allocationCount;
    ReleaseSRWLockShared(&lock);
    return n;
}

void failAllocation(long long nth) {
    __atomic_store_n(&failed, false, __ATOMIC_SEQ_CST);
    __atomic_store_n(&failCountdown, nth, __ATOMIC_SEQ_CST);
}

bool failureHappened() {
    __atomic_store_n(&failCountdown, 0, __ATOMIC_SEQ_CST);
    return __atomic_load_n(&failed, __ATOMIC_SEQ_CST);
}

}  // namespace allocation_hooks
