// Calls a host makes on the same context from inside a running tiled call
// (from its progress callback), and from a second thread: whatever would
// disturb the running call is refused with words, the running call's result
// stays whole and right, and a result released meanwhile is never handed
// back or read.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "api/host.h"

namespace {

constexpr int kSide = 40, kTile = 16;  // 3 x 3 tiles, ten progress calls

enum class Outer { floats, bytes, plan };

struct Reentry {
    const char* name;
    // What the callback does at its call `at`; true when the inner call was
    // admitted (the outer one must then cope with what it did).
    std::function<bool(VelmoraContext)> call;
    int at;
    bool refused;         // with words naming the inner call
    const char* outcome;  // words the outer call ends with; empty: it succeeds
};

std::vector<float> pixels(int channels) {
    std::vector<float> v(static_cast<size_t>(kSide) * kSide * channels);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i % 97) / 97.0f;
    return v;
}

struct Callback {
    const Reentry& reentry;
    VelmoraContext context;
    int calls = 0;
    bool done = false;
    bool innerAdmitted = false;
    static bool progress(void* self, float) {
        auto* c = static_cast<Callback*>(self);
        if (c->calls++ == c->reentry.at && !c->done) {
            c->done = true;
            c->innerAdmitted = c->reentry.call(c->context);
        }
        return false;
    }
};

std::vector<Reentry> reentries() {
    static std::vector<float> image = pixels(3);
    static std::vector<unsigned char> rgb(kSide * kSide * 3, 50);
    return {
        {"predictByTiles",
         [](VelmoraContext c) {
             return predictByTiles(c, rgb.data(), kSide, kSide, 3, kTile, kTile, false, 1.0f / 255, 255.0f, 1, nullptr,
                                   nullptr) != nullptr;
         },
         3, true, ""},
        {"predictByTilesImageFloat",
         [](VelmoraContext c) {
             return predictByTilesImageFloat(c, ImageFloat{kSide, kSide, 3, image.data()}, kTile, kTile, 1, nullptr,
                                             nullptr)
                        .data != nullptr;
         },
         3, true, ""},
        {"predictFloat", [](VelmoraContext c) { return predictFloat(c, image.data(), kTile, kTile, 3, false); }, 3,
         true, ""},
        {"loadModel",
         [](VelmoraContext c) {
             static std::vector<char> model = readModel("identity_t16_c3.onnx");
             return loadModel(c, model.data(), static_cast<uint32_t>(model.size()), "", "");
         },
         3, true, ""},
        {"getErrorText",
         [](VelmoraContext c) {
             char text[64];
             getErrorText(c, text, sizeof text);
             return true;
         },
         3, false, ""},
        {"deallocateImage mid-run",
         [](VelmoraContext c) {
             deallocateImage(c);
             return true;
         },
         4, false, "the result was released (deallocateImage) during the run"},
        {"deallocateImage at the end",
         [](VelmoraContext c) {
             deallocateImage(c);
             return true;
         },
         9, false, "the result was released (deallocateImage) during the run"},
    };
}

}  // namespace

TEST(Reentry, WhatWouldDisturbTheRunningCallIsRefusedAndItsResultStaysRight) {
    const std::vector<float> image = pixels(3);
    const std::vector<unsigned char> rgb(kSide * kSide * 3, 70);
    for (Outer outer : {Outer::floats, Outer::bytes, Outer::plan}) {
        for (const Reentry& r : reentries()) {
            // A released result is the float calls' own.
            if (outer == Outer::bytes && std::string(r.name).rfind("deallocateImage", 0) == 0) continue;
            SCOPED_TRACE(std::string(r.name) + " from " +
                         (outer == Outer::floats  ? "float"
                          : outer == Outer::bytes ? "8-bit"
                                                  : "planned") +
                         " run");
            HostContext host;
            ASSERT_TRUE(host.load("identity_t16_c3.onnx"));
            Callback callback{r, host};
            testing::internal::CaptureStdout();
            bool gave = false, right = true;
            if (outer == Outer::bytes) {
                const unsigned char* out =
                    predictByTiles(host, const_cast<unsigned char*>(rgb.data()), kSide, kSide, 3, kTile, kTile, false,
                                   1.0f / 255, 255.0f, 1, &Callback::progress, &callback);
                gave = out != nullptr;
                for (size_t i = 0; gave && i < rgb.size(); ++i) right = right && out[i] == rgb[i];
            } else {
                ImageFloat out{0, 0, 0, nullptr};
                const ImageFloat in{kSide, kSide, 3, const_cast<float*>(image.data())};
                if (outer == Outer::floats) {
                    out = predictByTilesImageFloat(host, in, kTile, kTile, 1, &Callback::progress, &callback);
                } else {
                    VelmoraPlanRequest request{};
                    request.size = sizeof request;
                    request.width = request.height = kSide;
                    request.channels = 3;
                    request.tileSize = request.step = kTile;
                    VelmoraPlan plan{};
                    plan.size = sizeof plan;
                    ASSERT_TRUE(velmoraPlan(host, &request, &plan)) << host.errors();
                    out = velmoraPredict(host, in, &plan, &Callback::progress, &callback);
                }
                gave = out.data != nullptr;
                for (size_t i = 0; gave && i < image.size(); ++i) right = right && out.data[i] == image[i];
            }
            testing::internal::GetCapturedStdout();
            const std::string words = host.errors();
            EXPECT_TRUE(callback.done);
            EXPECT_EQ(callback.innerAdmitted, !r.refused);
            if (r.refused) {
                EXPECT_NE(words.find(std::string(r.name) + ": the context is in another call"), std::string::npos)
                    << words;
            }
            if (*r.outcome) {
                EXPECT_FALSE(gave);
                EXPECT_NE(words.find(r.outcome), std::string::npos) << words;
            } else {
                EXPECT_TRUE(gave) << words;
                EXPECT_TRUE(right);
            }
        }
    }
}

TEST(Reentry, ASecondThreadOnOneContextIsRefusedAndTheFirstRunsOn) {
    HostContext host;
    ASSERT_TRUE(host.load("identity_t16_c3.onnx"));
    const std::vector<unsigned char> rgb(kSide * kSide * 3, 90);
    // The first call waits inside its callback until the second has tried.
    struct Meeting {
        std::atomic<bool> inside{false}, tried{false};
        static bool progress(void* self, float) {
            auto* m = static_cast<Meeting*>(self);
            m->inside = true;
            while (!m->tried) std::this_thread::yield();
            return false;
        }
    } meeting;
    const unsigned char* first = nullptr;
    testing::internal::CaptureStdout();
    std::thread runner([&] {
        first = predictByTiles(host, const_cast<unsigned char*>(rgb.data()), kSide, kSide, 3, kTile, kTile, false,
                               1.0f / 255, 255.0f, 1, &Meeting::progress, &meeting);
    });
    while (!meeting.inside) std::this_thread::yield();
    std::vector<float> image = pixels(3);
    const bool secondRan =
        predictByTilesImageFloat(host, ImageFloat{kSide, kSide, 3, image.data()}, kTile, kTile, 1, nullptr, nullptr)
            .data != nullptr;
    meeting.tried = true;
    runner.join();
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(secondRan);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(first, first + rgb.size()), rgb);
    EXPECT_NE(host.errors().find("predictByTilesImageFloat: the context is in a call on another thread"),
              std::string::npos);
}
