// The farm of the object-model issue: 10,000 applications in 500 folders,
// 8 levels deep (and 1,000 applications in 50 folders, to show growth), in
// the memory store. EnumerateApps lists every application; GetObjectByDN
// and GetAppByDN find each application of a sample of 100 (one lookup an
// iteration, going round the sample). GetAppByDN loads every application of
// the farm and builds its name, so it is O(farm) by design: its runs are
// bounded to a fixed number of lookups. After each benchmark every object
// has been released and the registry must be empty.
#include <benchmark/benchmark.h>

#include <map>

#include "support/bench_farm.h"

namespace feroq::bench {
namespace {

constexpr std::size_t kSampleSize = 100;
constexpr int kTreeDepth = 8;
constexpr std::size_t kAppsPerFolder = 20;

struct TreeFarm {
  BenchFarm* farm = nullptr;
  FolderTree tree;
  std::vector<std::size_t> sample;  // indexes into tree.apps
};

TreeFarm& Tree(std::size_t apps) {
  static std::map<std::size_t, TreeFarm> farms;
  TreeFarm& entry = farms[apps];
  entry.farm = &BenchFarm::Use("memory:tree-" + std::to_string(apps), [&entry, apps](BenchFarm& farm) {
    entry.tree = BuildFolderTree(farm, apps / kAppsPerFolder, kTreeDepth, apps);
    for (std::size_t i = 0; i < kSampleSize; ++i) entry.sample.push_back(i * apps / kSampleSize + i % 7);
  });
  return entry;
}

void BM_TreeEnumerateApps(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  FarmObject& farm = Tree(apps).farm->farm();
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

void BM_TreeGetObjectByDN(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  TreeFarm& entry = Tree(apps);
  FarmObject& farm = entry.farm->farm();
  std::size_t next = 0;
  for (auto _ : state) {
    const std::size_t index = entry.sample[next];
    std::u16string dn = entry.tree.app_dns[index];
    CommonObject* found = nullptr;
    ULONG64 id = 0;
    if (farm.GetObjectByDN(nullptr, dn.data(), &found) != S_OK || found == nullptr ||
        (found->GetObjectID(id), id != entry.tree.apps[index])) {
      state.SkipWithError("GetObjectByDN did not find a sampled application");
      break;
    }
    farm.FreeObject(found);
    if (++next == entry.sample.size()) next = 0;
  }
  if (RegistrySize(farm) != 0) state.SkipWithError("objects left registered");
  state.counters["apps"] = static_cast<double>(apps);
}

void BM_TreeGetAppByDN(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  TreeFarm& entry = Tree(apps);
  FarmObject& farm = entry.farm->farm();
  std::size_t next = 0;
  for (auto _ : state) {
    const std::size_t index = entry.sample[next];
    std::u16string dn = entry.tree.app_dns[index];
    ZQWinAppObject* found = nullptr;
    ULONG64 id = 0;
    if (farm.GetAppByDN(dn.data(), &found) != S_OK || found == nullptr ||
        (found->GetObjectID(id), id != entry.tree.apps[index])) {
      state.SkipWithError("GetAppByDN did not find a sampled application");
      break;
    }
    Release(farm, found);
    if (++next == entry.sample.size()) next = 0;
  }
  if (RegistrySize(farm) != 0) state.SkipWithError("objects left registered");
  state.counters["apps"] = static_cast<double>(apps);
}

BENCHMARK(BM_TreeEnumerateApps)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TreeGetObjectByDN)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
// O(farm): a fixed number of lookups.
BENCHMARK(BM_TreeGetAppByDN)->Arg(1000)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TreeGetAppByDN)->Arg(10000)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace feroq::bench
