// The policy at the exported functions, in the build that hands exceptions
// to the host in another form. The platform's raise is replaced here by a
// stand-in that records what it was given and what was still alive.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "api/boundary.h"
#include "context/VelmoraClass.h"

namespace {

// Fails every global operator new while set.
std::atomic<bool> refuseNew{false};

struct Raise {
    boundary::Escaped escaped;
    bool insideACatch;     // an exception was still being handled
    int bodyObjectsAlive;  // objects of the body not yet destroyed
};

std::mutex raisesGuard;
std::vector<Raise> raises;
bool raiseFails = false;
std::atomic<int> bodyObjectsAlive{0};

// Thrown by the stand-in, as a real raise leaves the export.
struct Raised {};

struct BodyObject {
    BodyObject() { ++bodyObjectsAlive; }
    ~BodyObject() { --bodyObjectsAlive; }
};

class Boundary : public testing::Test {
protected:
    void SetUp() override {
        raises.clear();
        raiseFails = false;
    }

    // Runs a body that throws `thrown` through the boundary; what the
    // stand-in was given.
    template <class Exception>
    static boundary::Escaped escapedFrom(Exception thrown) {
        const size_t before = raises.size();
        EXPECT_THROW(boundary::atBoundary([&]() -> int {
                         BodyObject alive;
                         throw thrown;
                     }),
                     Raised);
        EXPECT_EQ(raises.size(), before + 1);
        return raises.empty() ? boundary::Escaped{} : raises.back().escaped;
    }
};

}  // namespace

// Kept out of line: inlined into a delete expression, free() would look to
// the compiler like the wrong partner of new.
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (refuseNew) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

void boundary::raiseInHostForm(const Escaped& escaped) {
    refuseNew = false;
    {
        const std::lock_guard lock(raisesGuard);
        raises.push_back(Raise{escaped, std::current_exception() != nullptr, bodyObjectsAlive.load()});
    }
    if (!raiseFails) throw Raised{};
}

TEST_F(Boundary, RaisesOnlyAfterTheCatchHasEndedAndTheBodyIsGone) {
    escapedFrom(std::runtime_error("gone"));
    ASSERT_EQ(raises.size(), 1u);
    EXPECT_FALSE(raises[0].insideACatch);
    EXPECT_EQ(raises[0].bodyObjectsAlive, 0);
    EXPECT_EQ(std::uncaught_exceptions(), 0);
}

TEST_F(Boundary, TellsTheKindsApartAndKeepsTheirTexts) {
    boundary::Escaped e = escapedFrom(VelmoraException());
    EXPECT_EQ(e.kind, boundary::Kind::refusal);
    EXPECT_STREQ(e.text, "Velmora exception: No multithreading allowed!!!");

    e = escapedFrom(std::bad_alloc());
    EXPECT_EQ(e.kind, boundary::Kind::outOfMemory);
    EXPECT_STREQ(e.text, std::bad_alloc().what());

    e = escapedFrom(std::bad_array_new_length());
    EXPECT_EQ(e.kind, boundary::Kind::outOfMemory);
    EXPECT_STREQ(e.text, std::bad_array_new_length().what());

    e = escapedFrom(std::logic_error("no backend"));
    EXPECT_EQ(e.kind, boundary::Kind::other);
    EXPECT_STREQ(e.text, "no backend");

    e = escapedFrom(7);
    EXPECT_EQ(e.kind, boundary::Kind::other);
    EXPECT_STREQ(e.text, "unknown exception");
}

TEST_F(Boundary, TextsOutliveTheirExceptionsAndEqualTextsShareOneCopy) {
    std::string text(200, 'x');
    const boundary::Escaped first = escapedFrom(std::runtime_error(text));
    text.back() = 'y';
    const boundary::Escaped other = escapedFrom(std::runtime_error(text));
    text.back() = 'x';
    const boundary::Escaped again = escapedFrom(std::runtime_error(text));

    // The exceptions and the strings they were made from are gone.
    EXPECT_EQ(std::string(first.text), std::string(199, 'x') + 'x');
    EXPECT_EQ(std::string(other.text), std::string(199, 'x') + 'y');
    EXPECT_EQ(first.text, again.text);
    EXPECT_NE(first.text, other.text);
}

TEST_F(Boundary, TextThatCannotBeKeptBecomesAnAllocationFailure) {
    const std::runtime_error thrown("a text never seen before, too long to be stored in place");
    EXPECT_THROW(boundary::atBoundary([&]() -> int {
                     refuseNew = true;
                     throw thrown;
                 }),
                 Raised);
    refuseNew = false;
    ASSERT_EQ(raises.size(), 1u);
    EXPECT_EQ(raises[0].escaped.kind, boundary::Kind::outOfMemory);
    EXPECT_STREQ(raises[0].escaped.text, "std::bad_alloc");
}

TEST_F(Boundary, WhenRaisingFailsTheExportAnswersWithItsFailureResult) {
    raiseFails = true;
    struct Record {
        int32_t width, height, numChannels;
        float* data;
    };
    static float pixel;
    EXPECT_EQ(boundary::atBoundary([]() -> float* { throw std::runtime_error("x"); }), nullptr);
    EXPECT_FALSE(boundary::atBoundary([]() -> bool { throw VelmoraException(); }));
    const Record empty = boundary::atBoundary([]() -> Record { throw std::bad_alloc(); });
    EXPECT_EQ(empty.width, 0);
    EXPECT_EQ(empty.height, 0);
    EXPECT_EQ(empty.numChannels, 0);
    EXPECT_EQ(empty.data, nullptr);
    boundary::atBoundary([] { throw 1; });
    EXPECT_EQ(raises.size(), 4u);

    // Without an exception the body's own result passes unchanged.
    EXPECT_EQ(boundary::atBoundary([]() { return Record{3, 4, 5, &pixel}; }).data, &pixel);
    EXPECT_EQ(raises.size(), 4u);
}

TEST_F(Boundary, SafetyNetAnswersEveryExceptionWithItsFailureAnswer) {
    auto answer = [](auto body) { return boundary::withSafetyNet(body, []() noexcept { return -1; }); };
    EXPECT_EQ(answer([] { return 5; }), 5);
    EXPECT_EQ(answer([]() -> int { throw VelmoraException(); }), -1);
    EXPECT_EQ(answer([]() -> int { throw std::bad_alloc(); }), -1);
    EXPECT_EQ(answer([]() -> int { throw std::runtime_error("x"); }), -1);
    EXPECT_EQ(answer([]() -> int { throw 1; }), -1);
    EXPECT_TRUE(raises.empty());  // nothing reaches the host
}

TEST_F(Boundary, TextsAreKeptSafelyFromManyThreads) {
    constexpr int kThreads = 4, kEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i) {
                try {
                    boundary::atBoundary(
                        [&]() -> int { throw std::runtime_error("failure number " + std::to_string((t + i) % 10)); });
                } catch (const Raised&) {}
            }
        });
    for (std::thread& thread : threads) thread.join();
    ASSERT_EQ(raises.size(), static_cast<size_t>(kThreads * kEach));
    std::vector<const char*> byText(10, nullptr);
    for (const Raise& r : raises) {
        const std::string text = r.escaped.text;
        const int n = text.back() - '0';
        ASSERT_EQ(text, "failure number " + std::to_string(n));
        if (!byText[n]) byText[n] = r.escaped.text;
        EXPECT_EQ(r.escaped.text, byText[n]);
    }
}
