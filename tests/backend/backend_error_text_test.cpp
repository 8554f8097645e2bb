// The process-wide error text stays within its bound.
#include "backend/backend_error_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "backend/ModelLogicONNX.h"
#include "diagnostics/host_sink.h"
#include "support/model_files.h"

namespace {

void require(bool holds, const char* what) {
    if (holds) return;
    const std::string text = backendErrorTextCopy();
    std::fprintf(stderr, "%s (text of %zu bytes, ending \"%s\")\n", what, text.size(),
                 text.substr(text.size() > 80 ? text.size() - 80 : 0).c_str());
    std::exit(1);
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// 10,000 failed loads. Under Wine each load first tries for a Direct3D
// device (about 40 ms), so there the text of all but a few is appended as a
// failed load leaves it.
#ifdef _WIN32
constexpr int kRealLoads = 5;
#else
constexpr int kRealLoads = 10000;
#endif

void fillPastTheBound() {
    // The runtime's words on each session it refuses would fill the report.
    setHostSink([](void*, int32_t, int32_t, const char*) {}, nullptr, VELMORA_SEVERITY_ERROR);
    ModelLogicONNX backend;
    const auto junk = readModel("not_a_model.onnx");
    auto failLoad = [&] { return backend.loadModel(junk.data(), static_cast<uint32_t>(junk.size()), "a", "b"); };
    const size_t before = backendErrorTextCopy().size();
    require(!failLoad(), "bytes that are not a model load");
    const std::string words = backendErrorTextCopy().substr(before);
    for (int i = 1; i < 10000 - kRealLoads; ++i) appendBackendErrorText(words);
    for (int i = 0; i < kRealLoads; ++i) failLoad();
    require(backendErrorTextCopy().size() <= kBackendErrorTextLimit, "10000 failed loads go past the bound");
    require(endsWith(backendErrorTextCopy(), "protobuf parsing failed."), "the last failed load is not at the end");
    backend.loadModel(nullptr, 0, "a", "b");
    require(endsWith(backendErrorTextCopy(), "(null pointer or size 0)\n\n"), "the newest message is not at the end");

    // Whole lines go from the front, no more than needed.
    for (int i = 0; i < 20000; ++i) appendBackendErrorText("line " + std::to_string(i) + "\n");
    std::string text = backendErrorTextCopy();
    require(text.size() <= kBackendErrorTextLimit && text.size() > kBackendErrorTextLimit - 12,
            "lines are not dropped to just within the bound");
    require(text.rfind(text[0] == '\n' ? "\nline " : "line ", 0) == 0 && endsWith(text, "\nline 19999\n\n"),
            "the text does not keep whole lines");

    // A message longer than the bound alone keeps its end.
    const std::string longest = "start" + std::string(kBackendErrorTextLimit, 'x') + "end";
    appendBackendErrorText(longest);
    require(backendErrorTextCopy() == longest.substr(longest.size() - kBackendErrorTextLimit),
            "a message over the bound does not keep its end");
    std::exit(0);
}

}  // namespace

// In a process of its own: the full text it leaves would shift the places at
// which other tests of this program read what they added.
TEST(BackendErrorTextDeathTest, StaysWithinTheBoundKeepingTheNewest) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(fillPastTheBound(), testing::ExitedWithCode(0), "");
}
