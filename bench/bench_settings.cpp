// Storing the two values a completed tiled run writes ("tilessplit" and
// "Device"): one call each, as the run once did, against one call for both.
// On a key file every stored call is a synced write and a rename, so the
// figure follows the file system of the scratch folder ($TMPDIR, else /tmp):
// point TMPDIR at a folder on the disk the users' settings live on.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.h"
#include "diagnostics/settings_store.h"

namespace {

void BM_TwoValuesOneCallEach(benchmark::State& state) {
    bench::scratch();
    int32_t count = 0;
    for (auto _ : state) {
        ++count;
        writeRegistryString(settingsFolder, "tilessplit", std::to_string(count));
        writeRegistryString(settingsFolder, "Device", "Velmora ONNX");
    }
}
BENCHMARK(BM_TwoValuesOneCallEach)->Unit(benchmark::kMillisecond);

void BM_TwoValuesOneCall(benchmark::State& state) {
    bench::scratch();
    int32_t count = 0;
    for (auto _ : state) {
        ++count;
        writeRegistryStrings(settingsFolder, {{"tilessplit", std::to_string(count)}, {"Device", "Velmora ONNX"}});
    }
}
BENCHMARK(BM_TwoValuesOneCall)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
