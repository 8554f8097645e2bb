#include "image/parallel_for.h"

#include <algorithm>
#include <vector>

namespace {

// Joins, in the order they were started, whatever threads it holds when the
// split ends, normally or by an exception.
class JoinAll {
public:
    explicit JoinAll(size_t expected) { threads_.reserve(expected); }
    ~JoinAll() {
        for (std::thread& t : threads_)
            if (t.joinable()) t.join();
    }
    void add(std::thread t) { threads_.push_back(std::move(t)); }

private:
    std::vector<std::thread> threads_;
};

}  // namespace

bool parallelFor(const ParallelForConfig& config, int64_t first, int64_t last,
                 const std::function<void(int64_t from, int64_t to)>& body) {
    if (last < first) return false;
    if (!config.enabled) {
        body(first, last);
        return true;
    }
    const int64_t hardware = config.threads.hardwareThreads();
    int64_t budget = config.maxThreads > 0 && config.maxThreads < hardware ? config.maxThreads : hardware;
    if (budget == 0) budget = 2;

    const int64_t n = last - first + 1;
    const int64_t chunks = std::min(n, budget);
    const int64_t length = (n - 1 + chunks) / chunks;
    auto chunkFrom = [&](int64_t i) { return first + i * length; };
    auto chunkTo = [&](int64_t i) { return std::min(last, first + (i + 1) * length - 1); };

    JoinAll started(static_cast<size_t>(chunks - 1));
    for (int64_t i = 0; i + 1 < chunks; ++i) {
        const int64_t from = chunkFrom(i), to = chunkTo(i);
        std::thread t;
        try {
            t = config.threads.start([&body, from, to] { body(from, to); });
        } catch (const std::system_error&) {
            throw ThreadStartError();
        }
        started.add(std::move(t));
    }
    body(chunkFrom(chunks - 1), chunkTo(chunks - 1));
    return true;
}
