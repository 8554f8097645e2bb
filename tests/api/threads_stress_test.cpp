// Two threads calling the library at once. On one context every call runs
// or is refused with words naming it; on two contexts both run, except that
// the process admits one tiled float prediction at a time and turns a
// second away with VelmoraException. Short, so that it stays quick under
// ThreadSanitizer.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <exception>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "api/host.h"

namespace {

constexpr int kSide = 40, kTile = 16, kRounds = 10;
constexpr const char* kBusy = "Velmora exception: No multithreading allowed!!!";

std::vector<float> picture(float scale) {
    std::vector<float> v(static_cast<size_t>(kSide) * kSide * 3);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i % 200) * scale;
    return v;
}

VelmoraPlan planFor(VelmoraContext context) {
    VelmoraPlanRequest request{};
    request.size = sizeof request;
    request.width = request.height = kSide;
    request.channels = 3;
    request.tileSize = request.step = kTile;
    VelmoraPlan plan{};
    plan.size = sizeof plan;
    EXPECT_TRUE(velmoraPlan(context, &request, &plan));
    return plan;
}

// Holds a tiled run inside its first progress call until the other thread
// has made its attempt, so that the two calls surely meet.
struct Meeting {
    std::atomic<bool> inside{false}, tried{false};
    static bool progress(void* self, float) {
        auto* m = static_cast<Meeting*>(self);
        m->inside = true;
        while (!m->tried) std::this_thread::yield();
        return false;
    }
    void waitInside() const {
        while (!inside) std::this_thread::yield();
    }
};

// One round of calls on a context shared with another thread. The results
// that belong to the context are not read: the other thread's next call may
// reuse them. Each failure is counted by the call's name.
void sharedRound(VelmoraContext c, const VelmoraPlan& plan, std::vector<float>& image, std::vector<float>& direct,
                 std::vector<unsigned char>& rgb, std::map<std::string, int>& failed, std::string& problems) {
    auto note = [&](bool ran, const char* who) {
        if (!ran) ++failed[who];
    };
    const ImageFloat in{kSide, kSide, 3, image.data()};
    note(predictByTilesImageFloat(c, in, kTile, kTile, 1, nullptr, nullptr).data, "predictByTilesImageFloat");
    note(predictByTiles(c, rgb.data(), kSide, kSide, 3, kTile, kTile, false, 1.0f / 255, 255.0f, 1, nullptr, nullptr),
         "predictByTiles");
    note(velmoraPredict(c, in, &plan, nullptr, nullptr).data, "velmoraPredict");
    note(predictFloat(c, direct.data(), kTile, kTile, 3, false), "predictFloat");
    // The 8-bit direct result is the caller's own, so it is checked.
    unsigned char* bytes = predict(c, direct.data(), kTile, kTile, 3, false);
    note(bytes, "predict");
    for (int i = 0; bytes && i < kTile * kTile * 3; ++i)
        if (bytes[i] != static_cast<unsigned char>(direct[static_cast<size_t>(i)]))
            problems += "predict gave a wrong byte\n";
    delete[] bytes;
    VelmoraModelInfo info{};
    info.size = sizeof info;
    note(velmoraDescribeModel(c, &info), "velmoraDescribeModel");
    VelmoraProfile profile{};
    profile.size = sizeof profile;
    note(velmoraGetProfile(c, &profile), "velmoraGetProfile");
    VelmoraPlan again = plan;
    VelmoraPlanRequest request{};
    request.size = sizeof request;
    request.width = request.height = kSide;
    request.channels = 3;
    request.tileSize = request.step = kTile;
    note(velmoraPlan(c, &request, &again), "velmoraPlan");
    char text[2048] = "";
    getModelInformation(c, nullptr, VELMORA_MODEL_DETAILS, text);
    note(std::strncmp(text, "Version:", 8) == 0, "getModelInformation");
}

int refusalsOf(const std::string& words, const std::string& who) {
    const std::string line = who + ": the context is in a call on another thread";
    int n = 0;
    for (size_t at = words.find(line); at != std::string::npos; at = words.find(line, at + 1))
        n += at == 0 || words[at - 1] == '\n';
    return n;
}

}  // namespace

TEST(Threads, OnOneContextEveryCallRunsOrIsRefusedWithWordsNamingIt) {
    HostContext host;
    ASSERT_TRUE(host.load("identity_t16_c3.onnx"));
    host.errors();
    const VelmoraPlan plan = planFor(host);
    testing::internal::CaptureStdout();
    std::array<std::map<std::string, int>, 2> failed;
    std::array<std::string, 2> problems;
    Meeting meeting;
    std::atomic<int> ready{0};
    auto work = [&](int t) {
        std::vector<float> image = picture(1.0f / 200), direct(static_cast<size_t>(kTile) * kTile * 3);
        for (size_t i = 0; i < direct.size(); ++i) direct[i] = static_cast<float>((i * 7 + t) % 200);
        std::vector<unsigned char> rgb(image.size(), static_cast<unsigned char>(60 + t));
        if (t == 0) {
            const ImageFloat in{kSide, kSide, 3, image.data()};
            if (!predictByTilesImageFloat(host, in, kTile, kTile, 1, &Meeting::progress, &meeting).data)
                ++failed[0]["predictByTilesImageFloat"];
        } else {
            meeting.waitInside();
            VelmoraModelInfo info{};
            info.size = sizeof info;
            if (velmoraDescribeModel(host, &info)) problems[1] += "a call met a running one and was admitted\n";
            ++failed[1]["velmoraDescribeModel"];
            meeting.tried = true;
        }
        // Together, one-tile calls in quick succession, so that calls also
        // meet as they begin and end; then rounds of every kind of call.
        ++ready;
        while (ready < 2) std::this_thread::yield();
        for (int i = 0; i < 300; ++i)
            if (!predictByTiles(host, rgb.data(), kTile, kTile, 3, kTile, kTile, false, 1.0f / 255, 255.0f, 1, nullptr,
                                nullptr))
                ++failed[t]["predictByTiles"];
        for (int round = 0; round < kRounds; ++round)
            sharedRound(host, plan, image, direct, rgb, failed[t], problems[t]);
    };
    std::thread other(work, 1);
    work(0);
    other.join();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(problems[0] + problems[1], "");
    // Every failure is a refusal, and every refusal has its words.
    const std::string words = host.errors();
    int refusals = 0;
    for (const char* who : {"predictByTilesImageFloat", "predictByTiles", "velmoraPredict", "predictFloat", "predict",
                            "velmoraDescribeModel", "velmoraGetProfile", "velmoraPlan", "getModelInformation"}) {
        const int count = failed[0][who] + failed[1][who];
        EXPECT_EQ(refusalsOf(words, who), count) << who << "\n" << words;
        refusals += count;
    }
    EXPECT_GE(refusals, 1);
    // The context still runs, and its result is right.
    std::vector<float> image = picture(1.0f / 200);
    const ImageFloat out =
        predictByTilesImageFloat(host, ImageFloat{kSide, kSide, 3, image.data()}, kTile, kTile, 1, nullptr, nullptr);
    ASSERT_NE(out.data, nullptr) << host.errors();
    EXPECT_EQ(std::vector<float>(out.data, out.data + image.size()), image);
}

TEST(Threads, OnTwoContextsBothRunAndASecondTiledFloatPredictionIsTurnedAway) {
    std::array<HostContext, 2> hosts;
    for (HostContext& h : hosts) ASSERT_TRUE(h.load("identity_t16_c3.onnx"));
    std::array<VelmoraPlan, 2> plans{planFor(hosts[0]), planFor(hosts[1])};
    testing::internal::CaptureStdout();
    std::array<std::string, 2> problems;
    Meeting meeting;
    auto work = [&](int t) {
        VelmoraContext c = hosts[static_cast<size_t>(t)];
        std::string& problem = problems[static_cast<size_t>(t)];
        std::vector<float> image = picture(1.0f / (200 + t));
        const ImageFloat in{kSide, kSide, 3, image.data()};
        std::vector<unsigned char> rgb(image.size());
        for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>((i * 3 + t) % 256);
        auto same = [&](const float* out, const char* who) {
            if (!out || std::memcmp(out, image.data(), image.size() * sizeof(float)) != 0)
                problem += std::string(who) + " did not give its input back\n";
        };
        // The tiled float call of one thread meets the other's in its first
        // progress call; then both run freely.
        if (t == 0) {
            same(predictByTilesImageFloat(c, in, kTile, kTile, 1, &Meeting::progress, &meeting).data,
                 "the held predictByTilesImageFloat");
        } else {
            meeting.waitInside();
            try {
                predictByTilesImageFloat(c, in, kTile, kTile, 1, nullptr, nullptr);
                problem += "a second tiled float prediction ran beside the first\n";
            } catch (const std::exception& e) {
                if (std::string(e.what()) != kBusy) problem += std::string("raised ") + e.what() + "\n";
            }
            meeting.tried = true;
        }
        for (int round = 0; round < kRounds; ++round) {
            try {
                same(predictByTilesImageFloat(c, in, kTile, kTile, 1, nullptr, nullptr).data,
                     "predictByTilesImageFloat");
            } catch (const std::exception& e) {
                // The other thread's may be running.
                if (std::string(e.what()) != kBusy) problem += std::string("raised ") + e.what() + "\n";
            }
            same(velmoraPredict(c, in, &plans[static_cast<size_t>(t)], nullptr, nullptr).data, "velmoraPredict");
            const unsigned char* bytes = predictByTiles(c, rgb.data(), kSide, kSide, 3, kTile, kTile, false, 1.0f / 255,
                                                        255.0f, 1, nullptr, nullptr);
            if (!bytes || std::memcmp(bytes, rgb.data(), rgb.size()) != 0)
                problem += "predictByTiles did not give its input back\n";
        }
    };
    std::thread other(work, 1);
    work(0);
    other.join();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(problems[0] + problems[1], "");
}
