// Raising an exception that code built with Microsoft's compiler catches.
//
// Such code sees a C++ exception as a structured exception with the code
// 0xE06D7363 and four parameters: a magic number, the thrown object, a record
// describing what it can be caught as (the "throw info") and the base address
// of the module that holds that record. On x64 every reference between the
// records is an offset from that base, so the records live here, in this DLL.
// A catch clause is matched by the decorated type name in the records (by
// string comparison when the records are not the clause's own), which is how
// a host's `catch (const std::exception&)` comes to accept our object.
//
// The object is laid out as Microsoft's std::exception: a virtual table
// pointer (scalar deleting destructor, what), the text, a "free the text"
// flag. The virtual table is preceded by run-time type records, so that
// typeid and dynamic_cast in the host work on it too.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "api/boundary.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace boundary {
namespace {

constexpr DWORD kMsvcExceptionCode = 0xE06D7363;  // 0xE0000000 | "msc"
constexpr ULONG_PTR kMsvcExceptionMagic = 0x19930520;

int32_t imageOffset(const void* p) {
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(&__ImageBase));
}
template <class Function>
int32_t imageOffset(Function* f) {
    return imageOffset(reinterpret_cast<const void*>(f));
}

// ---- The object --------------------------------------------------------------

struct ExceptionObject {
    const void* const* vtable;
    const char* text;
    bool freeText;  // always false: every text lives for the whole process
};
static_assert(sizeof(ExceptionObject) == 24 && offsetof(ExceptionObject, text) == 8 &&
              offsetof(ExceptionObject, freeText) == 16);

// The object owns nothing. Objects are never made with our allocator (they
// live in the raising frame, or in memory of the host's runtime for copies),
// so the deleting form frees nothing either.
void destroyObject(ExceptionObject*) {}
void* deletingDestructor(ExceptionObject* object, unsigned) {
    destroyObject(object);
    return object;
}
const char* what(const ExceptionObject* object) { return object->text ? object->text : "Unknown exception"; }

// ---- Records of Microsoft's C++ ABI (x64) -----------------------------------

// Where a base sits inside the object; single inheritance puts each at 0.
struct Displacement {
    int32_t member = 0;
    int32_t virtualBasePointer = -1;
    int32_t inVirtualBaseTable = 0;
};

// type_info as the host's runtime sees it. The runtime may cache the
// undecorated name in the second field, so descriptors are writable.
template <size_t N>
struct TypeDescriptor {
    const void* typeInfoVtable;
    void* undecoratedName;
    char decoratedName[N];
};

struct BaseClassDescriptor {
    int32_t type;
    uint32_t containedBases;
    Displacement where;
    uint32_t attributes;
    int32_t hierarchy;
};
constexpr uint32_t kHasHierarchy = 0x40;

struct ClassHierarchyDescriptor {
    uint32_t signature;
    uint32_t attributes;  // 0: single, non-virtual inheritance
    uint32_t baseCount;   // the class itself included
    int32_t bases;
};

struct CompleteObjectLocator {
    uint32_t signature;  // 1: the offsets below are image-relative
    uint32_t offset;
    uint32_t constructorDisplacementOffset;
    int32_t type;
    int32_t hierarchy;
    int32_t self;
};

struct CatchableType {
    uint32_t properties;  // 0: a class, caught by value or by reference
    int32_t type;
    Displacement thisDisplacement;
    int32_t size;
    int32_t copyFunction;  // copy constructor: (this, const source&)
};

template <size_t N>
struct CatchableTypeArray {
    int32_t count;
    int32_t types[N];
};

struct ThrowInfo {
    uint32_t attributes;
    int32_t destructor;
    int32_t forwardCompatibility;
    int32_t catchableTypes;
};

// A type_info virtual table for the descriptors. Nothing in the host calls
// through it, but a harmless function is better there than nothing.
void* typeInfoDestructor(void* self, unsigned) { return self; }
const void* const typeInfoVtable[] = {reinterpret_cast<const void*>(&typeInfoDestructor)};

// One class of the hierarchy: its type and run-time type records, its
// virtual table, and how a catch clause of its type copies an object.
template <size_t NameSize, size_t BaseCount>
struct ClassRecords {
    TypeDescriptor<NameSize> type;
    BaseClassDescriptor asBase;
    int32_t bases[BaseCount];
    ClassHierarchyDescriptor hierarchy;
    CompleteObjectLocator locator;
    const void* vtable[3];  // locator, scalar deleting destructor, what
    CatchableType catchable;

    const void* const* vtablePointer() const { return &vtable[1]; }

    // `ancestors`: the records of the bases, nearest first.
    void fill(const char (&name)[NameSize], std::initializer_list<const BaseClassDescriptor*> ancestors,
              void (*copy)(ExceptionObject*, const ExceptionObject*)) {
        type.typeInfoVtable = typeInfoVtable;
        type.undecoratedName = nullptr;
        for (size_t i = 0; i < NameSize; ++i) type.decoratedName[i] = name[i];
        asBase = BaseClassDescriptor{imageOffset(&type), BaseCount - 1, {}, kHasHierarchy, imageOffset(&hierarchy)};
        bases[0] = imageOffset(&asBase);
        size_t i = 1;
        for (const BaseClassDescriptor* ancestor : ancestors) bases[i++] = imageOffset(ancestor);
        hierarchy = ClassHierarchyDescriptor{0, 0, BaseCount, imageOffset(bases)};
        locator = CompleteObjectLocator{1, 0, 0, imageOffset(&type), imageOffset(&hierarchy), imageOffset(&locator)};
        vtable[0] = &locator;
        vtable[1] = reinterpret_cast<const void*>(&deletingDestructor);
        vtable[2] = reinterpret_cast<const void*>(&what);
        catchable = CatchableType{0, imageOffset(&type), {}, sizeof(ExceptionObject), imageOffset(copy)};
    }
};

template <size_t N>
struct Thrown {
    CatchableTypeArray<N> catchableTypes;
    ThrowInfo info;

    // `types`: the most derived first, as a catch clause is tried against them in order.
    void fill(std::initializer_list<const CatchableType*> types) {
        catchableTypes.count = N;
        size_t i = 0;
        for (const CatchableType* type : types) catchableTypes.types[i++] = imageOffset(type);
        info = ThrowInfo{0, imageOffset(&destroyObject), 0, imageOffset(&catchableTypes)};
    }
};

// ---- Our three classes -------------------------------------------------------

struct Records {
    ClassRecords<sizeof ".?AVexception@std@@", 1> exception;
    ClassRecords<sizeof ".?AVbad_alloc@std@@", 2> badAlloc;
    ClassRecords<sizeof ".?AVVelmoraException@@", 2> refusal;
    Thrown<1> thrownException;
    Thrown<2> thrownBadAlloc;
    Thrown<2> thrownRefusal;
};

Records records;

// A catch by value of type T copies the object as a T: a catch of a base
// type gets the base's virtual table, as a copy constructor would give it.
template <auto Member>
void copyAs(ExceptionObject* to, const ExceptionObject* from) {
    to->vtable = (records.*Member).vtablePointer();
    to->text = from->text;
    to->freeText = false;
}

// Offsets are only known once the DLL is mapped, so the records are filled
// in while it loads, before any export can run.
const bool filled = [] {
    Records& r = records;
    r.exception.fill(".?AVexception@std@@", {}, &copyAs<&Records::exception>);
    r.badAlloc.fill(".?AVbad_alloc@std@@", {&r.exception.asBase}, &copyAs<&Records::badAlloc>);
    r.refusal.fill(".?AVVelmoraException@@", {&r.exception.asBase}, &copyAs<&Records::refusal>);
    r.thrownException.fill({&r.exception.catchable});
    r.thrownBadAlloc.fill({&r.badAlloc.catchable, &r.exception.catchable});
    r.thrownRefusal.fill({&r.refusal.catchable, &r.exception.catchable});
    return true;
}();

}  // namespace

void raiseInHostForm(const Escaped& escaped) {
    const Records& r = records;
    const void* const* vtable = r.exception.vtablePointer();
    const ThrowInfo* info = &r.thrownException.info;
    if (escaped.kind == Kind::refusal) {
        vtable = r.refusal.vtablePointer();
        info = &r.thrownRefusal.info;
    } else if (escaped.kind == Kind::outOfMemory) {
        vtable = r.badAlloc.vtablePointer();
        info = &r.thrownBadAlloc.info;
    }
    // The object stays in this frame: the host's runtime runs its catch
    // blocks before it lets the stack go, as it does for its own throws.
    ExceptionObject object{vtable, escaped.text, false};
    const ULONG_PTR arguments[4] = {kMsvcExceptionMagic, reinterpret_cast<ULONG_PTR>(&object),
                                    reinterpret_cast<ULONG_PTR>(info), reinterpret_cast<ULONG_PTR>(&__ImageBase)};
    if (filled) RaiseException(kMsvcExceptionCode, EXCEPTION_NONCONTINUABLE, 4, arguments);
}

}  // namespace boundary
