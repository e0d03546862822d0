// One watchdog read (spawn pmset, read its report, parse it) against the floor: spawning
// /bin/true through the same code. Run both in one process so they share the machine's state.
#include <benchmark/benchmark.h>

#include "PmsetSleepBackend.hpp"
#include "Subprocess.hpp"

namespace {

using namespace std::chrono_literals;

void IsDisableSleepOn(benchmark::State& state) {
  wexla::kit::PmsetSleepBackend backend(WEXLA_FAKE_PMSET_PATH, 10s);
  for (auto _ : state) {
    if (!backend.isDisableSleepOn()) state.SkipWithError("the report was not read");
  }
}
BENCHMARK(IsDisableSleepOn)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void SpawnTrue(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(wexla::kit::runSubprocess("/bin/true", {}, 10s));
  }
}
BENCHMARK(SpawnTrue)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
