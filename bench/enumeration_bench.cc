// FarmObject::EnumerateApps of a farm of 1,000, 10,000 and 100,000
// applications (memory farm), against the service call it is built on
// (ZQAppSAL::EnumApps listing the same identifiers). The timed part is the
// call; giving back the objects and the array is done with the timer
// paused, and the registry must be empty afterwards.
#include <benchmark/benchmark.h>

#include "support/bench_farm.h"

namespace feroq::bench {
namespace {

BenchFarm& FlatFarm(std::size_t apps) {
  return BenchFarm::Use("memory:flat-" + std::to_string(apps), [apps](BenchFarm& farm) {
    farm.PublishApps(farm.Root(), apps, u"E-");
  });
}

void BM_EnumerateApps(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  FarmObject& farm = FlatFarm(apps).farm();
  for (auto _ : state) {
    CommonObject** objects = nullptr;
    ULONG count = 0;
    const HRESULT result = farm.EnumerateApps(&objects, &count);
    state.PauseTiming();
    if (result != S_OK || count != apps) state.SkipWithError("EnumerateApps did not list every application");
    for (ULONG i = 0; i < count; ++i) Release(farm, objects[i]);
    farm.FreeMemory(objects);
    state.ResumeTiming();
  }
  if (RegistrySize(farm) != 0) state.SkipWithError("objects left registered");
  state.counters["apps"] = static_cast<double>(apps);
}

void BM_EnumAppsService(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  BenchFarm& bench = FlatFarm(apps);
  for (auto _ : state) {
    ULONG64* ids = nullptr;
    ULONG count = 0;
    const VSTATUS status = bench.apps().EnumApps(&ids, count, 0);
    benchmark::DoNotOptimize(ids);
    if (status != 0 || count != apps) state.SkipWithError("EnumApps did not list every application");
    ::operator delete(ids);
  }
  state.counters["apps"] = static_cast<double>(apps);
}

// The warm-up keeps the first run's page faults (the heap growing to hold
// every object once) out of the figures; 100,000 applications get a few
// runs of their own for the same reason.
BENCHMARK(BM_EnumerateApps)->Arg(1000)->Arg(10000)->MinWarmUpTime(0.3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EnumerateApps)->Arg(100000)->MinWarmUpTime(0.3)->MinTime(2.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EnumAppsService)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace feroq::bench
