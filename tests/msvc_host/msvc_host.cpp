// A host built with clang in Microsoft's C++ ABI, as an image editor's
// plug-in is built with Microsoft's compiler, catching what leaves the real
// velmora.dll. It has no C runtime start-up of its own: hostEntry is the
// entry point, and the exit code is 0 when every check passed.
#include <windows.h>

#include "allocation_hooks.h"
#include "checks.h"
#include "msvc_abi.h"
#include "velmora.h"

using checks::line;

extern "C" int _fltused = 0;  // float arithmetic without a C runtime start-up

namespace {

constexpr const char* kRefusalText = "Velmora exception: No multithreading allowed!!!";

// ---- What a host has around its calls -----------------------------------------

struct ModelBytes {
    void* data = nullptr;
    DWORD size = 0;
};

ModelBytes readModel(const char* name) {
    char path[MAX_PATH];
    lstrcpyA(path, VELMORA_TEST_MODELS "/");
    lstrcatA(path, name);
    ModelBytes model;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return model;
    model.size = GetFileSize(file, nullptr);
    model.data = HeapAlloc(GetProcessHeap(), 0, model.size);
    DWORD read = 0;
    if (!ReadFile(file, model.data, model.size, &read, nullptr) || read != model.size) model.size = 0;
    CloseHandle(file);
    return model;
}

// An image's worth of values, kept for the rest of the run.
float* pixels(int count) {
    auto* data = static_cast<float*>(HeapAlloc(GetProcessHeap(), 0, sizeof(float) * count));
    for (int i = 0; i < count; ++i) data[i] = static_cast<float>(i % 97) / 97.0f;
    return data;
}

// A context with a model, kept for the whole run (the model bytes too, as
// the library asks).
VelmoraContext contextWith(const char* modelName) {
    const VelmoraContext context = createContext(0, "msvc host");
    const ModelBytes model = readModel(modelName);
    if (!CHECK(model.size > 0) || !CHECK(loadModelEx(context, model.data, model.size, "input", "output", 1, 1)))
        line("    model ", modelName);
    return context;
}

// The texts a context holds for the host, fetched (and cleared) as a host does.
void fetchErrors(VelmoraContext context, char (&buffer)[512]) {
    buffer[sizeof buffer - 1] = 0;
    getErrorText(context, buffer, sizeof buffer);
}

constexpr int kSide = 64;
constexpr int kTile = 16;

ImageFloat tiledRun(VelmoraContext context, float* data, ProgressCallback callback = nullptr,
                    void* userData = nullptr) {
    return predictByTilesImageFloat(context, ImageFloat{kSide, kSide, 1, data}, kTile, kTile, 1, callback, userData);
}

// A tiled run on its own thread that waits in its first progress report
// until released: while it waits, every other tiled run is refused.
class HeldRun {
public:
    HeldRun(VelmoraContext context, float* data) : context(context), data(data) {
        inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread = CreateThread(nullptr, 0, &HeldRun::run, this, 0, nullptr);
        CHECK(WaitForSingleObject(inside, 60000) == WAIT_OBJECT_0);
    }
    ~HeldRun() { finish(); }

    // Lets the run go on and waits for it; its result.
    ImageFloat finish() {
        if (thread) {
            SetEvent(release);
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            CloseHandle(inside);
            CloseHandle(release);
            thread = nullptr;
        }
        return result;
    }

private:
    static bool hold(void* self, float) {
        auto* run = static_cast<HeldRun*>(self);
        SetEvent(run->inside);
        WaitForSingleObject(run->release, INFINITE);
        return false;
    }
    static DWORD WINAPI run(void* self) {
        auto* run = static_cast<HeldRun*>(self);
        run->result = tiledRun(run->context, run->data, &HeldRun::hold, run);
        return 0;
    }

    VelmoraContext context;
    float* data;
    HANDLE inside, release, thread;
    ImageFloat result{};
};

// ---- The cases ---------------------------------------------------------------------

void refusalIsCaughtAsItsOwnTypeAndAsStdException() {
    const VelmoraContext first = contextWith("identity_t16_c1.onnx");
    const VelmoraContext second = contextWith("identity_t16_c1.onnx");
    float* data = pixels(kSide * kSide);
    HeldRun held(first, data);

    int caught = 0;
    try {
        tiledRun(second, data);
        FAIL("the second tiled run was not refused");
    } catch (const std::bad_alloc&) {
        FAIL("the refusal was caught as std::bad_alloc");
    } catch (const VelmoraException& e) {
        ++caught;
        CHECK_TEXT(e.what(), kRefusalText);
    }
    try {
        tiledRun(second, data);
    } catch (const std::exception& e) {
        ++caught;
        CHECK_TEXT(e.what(), kRefusalText);
        CHECK(typeid(e) == typeid(VelmoraException));
        CHECK_TEXT(typeid(e).raw_name(), ".?AVVelmoraException@@");
        CHECK_TEXT(typeid(e).name(), "class VelmoraException");
        CHECK(dynamic_cast<const VelmoraException*>(&e) == &e);
    }
    try {
        tiledRun(second, data);
    } catch (...) {
        ++caught;
    }
    CHECK(caught == 3);

    const ImageFloat result = held.finish();
    CHECK(result.data != nullptr && result.width == kSide && result.height == kSide);
    for (int i = 0; result.data && i < kSide * kSide; ++i)
        if (!CHECK(result.data[i] == data[i])) break;

    // The refusals left no message behind, and the single-caller count was
    // given back each time: the refused context runs now.
    char errors[512], fresh[512];
    const VelmoraContext untouched = createContext(0, "msvc host");
    fetchErrors(second, errors);
    fetchErrors(untouched, fresh);
    CHECK_TEXT(errors, fresh);
    CHECK(tiledRun(second, data).data != nullptr);
    deleteContext(untouched);
    deleteContext(second);
    deleteContext(first);
}

void refusalIsCopiedForACatchByValueAndKeepsItsTextAfterwards() {
    const VelmoraContext first = contextWith("identity_t16_c1.onnx");
    const VelmoraContext second = contextWith("identity_t16_c1.onnx");
    float* data = pixels(kSide * kSide);
    HeldRun held(first, data);

    std::exception kept;
    try {
        tiledRun(second, data);
    } catch (VelmoraException e) {
        CHECK_TEXT(e.what(), kRefusalText);
        CHECK(typeid(e) == typeid(VelmoraException));
    }
    try {
        tiledRun(second, data);
    } catch (std::exception e) {
        CHECK_TEXT(e.what(), kRefusalText);
        kept = e;
    }
    // The copy outlives the exception it came from.
    CHECK_TEXT(kept.what(), kRefusalText);
    std::exception copied(kept);
    CHECK_TEXT(copied.what(), kRefusalText);

    CHECK(held.finish().data != nullptr);
    deleteContext(second);
    deleteContext(first);
}

void refusalCanBeRethrown() {
    const VelmoraContext first = contextWith("identity_t16_c1.onnx");
    const VelmoraContext second = contextWith("identity_t16_c1.onnx");
    float* data = pixels(kSide * kSide);
    HeldRun held(first, data);

    int inner = 0, outer = 0;
    try {
        try {
            tiledRun(second, data);
        } catch (const std::exception& e) {
            ++inner;
            CHECK_TEXT(e.what(), kRefusalText);
            throw;
        }
    } catch (const VelmoraException& e) {
        ++outer;
        CHECK_TEXT(e.what(), kRefusalText);
    }
    CHECK(inner == 1 && outer == 1);

    CHECK(held.finish().data != nullptr);
    CHECK(tiledRun(second, data).data != nullptr);
    deleteContext(second);
    deleteContext(first);
}

// A host may call the library again from its progress callback, while the
// library's own frames lie below: the refusal is caught in the callback and
// the run below goes on.
void refusalInsideAProgressCallbackIsCaughtThere() {
    struct Reentry {
        VelmoraContext other;
        float* data;
        int calls = 0, refusals = 0;
    };
    const VelmoraContext first = contextWith("identity_t16_c1.onnx");
    const VelmoraContext second = contextWith("identity_t16_c1.onnx");
    float* data = pixels(kSide * kSide);
    Reentry reentry{second, data};
    ProgressCallback callAgain = [](void* userData, float) {
        auto* r = static_cast<Reentry*>(userData);
        ++r->calls;
        try {
            tiledRun(r->other, r->data);
        } catch (const VelmoraException& e) {
            if (checks::sameText(e.what(), kRefusalText)) ++r->refusals;
        }
        return false;
    };
    const ImageFloat result = tiledRun(first, data, callAgain, &reentry);
    CHECK(result.data != nullptr);
    CHECK(reentry.calls > 1);
    CHECK(reentry.refusals == reentry.calls);
    CHECK(tiledRun(second, data).data != nullptr);
    deleteContext(second);
    deleteContext(first);
}

void tenThousandRefusalsHoldNoMemory() {
    const VelmoraContext first = contextWith("identity_t16_c1.onnx");
    const VelmoraContext second = contextWith("identity_t16_c1.onnx");
    float* data = pixels(kSide * kSide);
    HeldRun held(first, data);

    auto refuse = [&] {
        try {
            tiledRun(second, data);
        } catch (const VelmoraException&) {
            return true;
        }
        return false;
    };
    for (int i = 0; i < 10; ++i) refuse();  // whatever is made once, on first use
    allocation_hooks::startCounting();
    int refused = 0;
    for (int i = 0; i < 10000; ++i) refused += refuse();
    const long long stillHeld = allocation_hooks::heldSinceStart();
    const long long allocations = allocation_hooks::allocationsSinceStart();
    CHECK(refused == 10000);
    // Each refusal allocates (the library's own exception, at least), so the
    // hooks did see the refusals; a refusal that kept one block would leave
    // thousands held.
    CHECK(allocations >= 10000);
    CHECK(stillHeld >= 0 && stillHeld < 10);
    line("    10000 refusals: ", allocations, " allocations in the library, ", stillHeld, " blocks still held");

    CHECK(held.finish().data != nullptr);
    CHECK(tiledRun(second, data).data != nullptr);
    deleteContext(second);
    deleteContext(first);
}

void outOfMemoryIsCaughtAsBadAlloc() {
    // The next allocation in the library is the context itself.
    allocation_hooks::failAllocation(1);
    try {
        createContext(0, "msvc host");
        FAIL("no exception");
    } catch (const VelmoraException&) {
        FAIL("caught as VelmoraException");
    } catch (const std::bad_alloc& e) {
        CHECK(allocation_hooks::failureHappened());
        CHECK_TEXT(e.what(), "std::bad_alloc");
        CHECK_TEXT(typeid(e).raw_name(), ".?AVbad_alloc@std@@");
    }

    allocation_hooks::failAllocation(1);
    try {
        createContext(0, "msvc host");
    } catch (const std::exception& e) {
        CHECK(allocation_hooks::failureHappened());
        CHECK(dynamic_cast<const std::bad_alloc*>(&e) == &e);
        CHECK(dynamic_cast<const VelmoraException*>(&e) == nullptr);
    }

    allocation_hooks::failAllocation(1);
    try {
        createContext(0, "msvc host");
    } catch (std::bad_alloc e) {
        CHECK(allocation_hooks::failureHappened());
        CHECK_TEXT(e.what(), "std::bad_alloc");
    }

    allocation_hooks::failAllocation(1);
    int rethrown = 0;
    try {
        try {
            createContext(0, "msvc host");
        } catch (const std::bad_alloc&) {
            throw;
        }
    } catch (const std::exception& e) {
        ++rethrown;
        CHECK_TEXT(e.what(), "std::bad_alloc");
    }
    CHECK(rethrown == 1);

    // Memory is back: the library works as before.
    const VelmoraContext context = contextWith("identity_t16_c1.onnx");
    float* data = pixels(kSide * kSide);
    CHECK(tiledRun(context, data).data != nullptr);
    deleteContext(context);
}

void anyFailedAllocationInATiledRunLeavesTheLibraryWorking() {
    const VelmoraContext context = contextWith("identity_t16_c1.onnx");
    float* data = pixels(kSide * kSide);
    // Fails the first allocation of a run, then the second, and so on until a
    // run makes fewer allocations than the one asked to fail.
    long long results = 0, emptyResults = 0, badAllocs = 0, others = 0, brokenAfterwards = 0;
    long long nth = 1;
    for (;; ++nth) {
        allocation_hooks::failAllocation(nth);
        try {
            (tiledRun(context, data).data ? results : emptyResults)++;
        } catch (const std::bad_alloc&) {
            ++badAllocs;
        } catch (const std::exception& e) {
            ++others;
            line("    allocation ", nth, ": ", e.what());
        }
        const bool failed = allocation_hooks::failureHappened();
        char errors[512];
        fetchErrors(context, errors);
        // Whatever the failure did, the single-caller count is back and the
        // next run works.
        if (!tiledRun(context, data).data) {
            ++brokenAfterwards;
            line("    the run after failing allocation ", nth, " failed");
        }
        if (!failed) break;
    }
    line("    ", nth - 1, " allocations failed in turn: ", emptyResults, " empty results, ", badAllocs,
         " std::bad_alloc, ", others, " other exceptions");
    CHECK(nth > 10);
    CHECK(results == 1);  // the last run, with nothing failed
    CHECK(brokenAfterwards == 0);
    deleteContext(context);
}

void runtimeFailureIsCaughtAsStdExceptionWithItsText() {
    // The model looks each input value up in an eight-entry table; the
    // runtime refuses an index out of the table while it runs.
    const VelmoraContext context = contextWith("lookup8_4x4.onnx");
    float in[16];
    for (int i = 0; i < 16; ++i) in[i] = static_cast<float>(i % 8);
    const float* fine = predictFloat(context, in, 4, 4, 1, false);
    CHECK(fine != nullptr);

    in[5] = 1000.0f;
    int caught = 0;
    try {
        predictFloat(context, in, 4, 4, 1, false);
        FAIL("no exception");
    } catch (const VelmoraException&) {
        FAIL("caught as VelmoraException");
    } catch (const std::bad_alloc&) {
        FAIL("caught as std::bad_alloc");
    } catch (const std::exception& e) {
        ++caught;
        CHECK_TEXT(typeid(e).raw_name(), ".?AVexception@std@@");
        CHECK(checks::contains(e.what(), "1000"));
        line("    the runtime's text: ", e.what());
    }
    CHECK(caught == 1);

    in[5] = 5.0f;
    const float* again = predictFloat(context, in, 4, 4, 1, false);
    CHECK(again != nullptr);
    deleteContext(context);
}

// A host whose progress callback throws: the exception unwinds through the
// library in the host's form, skipping the library's own clean-ups. The
// calls that follow, on this context and on another, run all the same.
struct HostThrew {};

void aHostExceptionThroughTheCallbackLeavesTheLibraryWorking() {
    float* data = pixels(kSide * kSide);
    const VelmoraContext first = contextWith("identity_t16_c1.onnx");
    const VelmoraContext second = contextWith("identity_t16_c1.onnx");
    const ProgressCallback thrower = [](void*, float percent) -> bool {
        if (percent > 30.0f) throw HostThrew{};
        return false;
    };
    int caught = 0;
    try {
        tiledRun(first, data, thrower);
    } catch (const HostThrew&) {
        ++caught;
    }
    CHECK(caught == 1);
    const VelmoraContext both[] = {first, second};
    for (int round = 0; round < 5; ++round) {
        for (VelmoraContext context : both) {
            const ImageFloat result = tiledRun(context, data);
            if (!CHECK(result.data != nullptr)) {
                char errors[512];
                fetchErrors(context, errors);
                line("    round ", round, ": ", errors);
                continue;
            }
            CHECK(result.data[kSide * kSide - 1] == data[kSide * kSide - 1]);
        }
    }
    deleteContext(first);
    deleteContext(second);
}

struct Case {
    const char* name;
    void (*run)();
};

const Case kCases[] = {
    {"RefusalIsCaughtAsItsOwnTypeAndAsStdException", refusalIsCaughtAsItsOwnTypeAndAsStdException},
    {"RefusalIsCopiedForACatchByValueAndKeepsItsTextAfterwards",
     refusalIsCopiedForACatchByValueAndKeepsItsTextAfterwards},
    {"RefusalCanBeRethrown", refusalCanBeRethrown},
    {"RefusalInsideAProgressCallbackIsCaughtThere", refusalInsideAProgressCallbackIsCaughtThere},
    {"TenThousandRefusalsHoldNoMemory", tenThousandRefusalsHoldNoMemory},
    {"OutOfMemoryIsCaughtAsBadAlloc", outOfMemoryIsCaughtAsBadAlloc},
    {"AnyFailedAllocationInATiledRunLeavesTheLibraryWorking", anyFailedAllocationInATiledRunLeavesTheLibraryWorking},
    {"RuntimeFailureIsCaughtAsStdExceptionWithItsText", runtimeFailureIsCaughtAsStdExceptionWithItsText},
    {"AHostExceptionThroughTheCallbackLeavesTheLibraryWorking",
     aHostExceptionThroughTheCallbackLeavesTheLibraryWorking},
};

// An exception that nothing caught ends the run with a failure, not a
// debugger prompt.
LONG WINAPI unhandled(EXCEPTION_POINTERS* pointers) {
    line("unhandled exception, code ", static_cast<long long>(pointers->ExceptionRecord->ExceptionCode));
    ExitProcess(100);
}

}  // namespace

extern "C" int hostEntry() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(unhandled);
    if (!CHECK(allocation_hooks::install(GetModuleHandleA("velmora.dll")))) ExitProcess(1);
    for (const Case& c : kCases) {
        const int before = checks::failures;
        line("[ RUN      ] ", c.name);
        c.run();
        line(checks::failures == before ? "[       OK ] " : "[  FAILED  ] ", c.name);
    }
    if (checks::failures == 0)
        line("all cases passed");
    else
        line("checks failed: ", checks::failures);
    ExitProcess(checks::failures == 0 ? 0 : 1);
}
