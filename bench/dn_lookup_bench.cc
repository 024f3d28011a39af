// FarmObject::GetObjectByDN down a chain of folders with `siblings` folders
// a level (the walk takes the last sibling, so every sibling is examined):
// 8 levels with 20 siblings, and 2 and 4 levels, 5 and 80 siblings, to show
// how the cost grows with the children walked. Looked up: the deepest
// folder, and an application among 20 (or 5, 80) in it.
//
// The reference is the same walk done on the services directly: each
// level's children listed by the folder service, each child folder's name
// read, each child application's record read, names compared; no objects.
#include <benchmark/benchmark.h>

#include <map>

#include "support/bench_farm.h"

namespace feroq::bench {
namespace {

struct ChainFarm {
  BenchFarm* farm = nullptr;
  FolderChain chain;
};

ChainFarm& Chain(int depth, int siblings) {
  static std::map<std::pair<int, int>, ChainFarm> chains;
  ChainFarm& entry = chains[{depth, siblings}];
  const std::string url = "memory:chain-" + std::to_string(depth) + "-" + std::to_string(siblings);
  entry.farm = &BenchFarm::Use(url, [&entry, depth, siblings](BenchFarm& farm) {
    entry.chain = BuildFolderChain(farm, depth, siblings);
  });
  return entry;
}

void Lookup(benchmark::State& state, bool application) {
  const int depth = static_cast<int>(state.range(0));
  const int siblings = static_cast<int>(state.range(1));
  ChainFarm& entry = Chain(depth, siblings);
  FarmObject& farm = entry.farm->farm();
  std::u16string dn = application ? entry.chain.last_app_dn : entry.chain.deepest_folder_dn;
  const ULONG64 expected = application ? entry.chain.deepest_apps.back() : entry.chain.walk.back();
  for (auto _ : state) {
    CommonObject* found = nullptr;
    const HRESULT result = farm.GetObjectByDN(nullptr, dn.data(), &found);
    ULONG64 id = 0;
    if (result != S_OK || found == nullptr || (found->GetObjectID(id), id != expected)) {
      state.SkipWithError("GetObjectByDN did not find the object");
      break;
    }
    farm.FreeObject(found);
  }
  if (RegistrySize(farm) != 0) state.SkipWithError("objects left registered");
  state.counters["depth"] = depth;
  state.counters["siblings"] = siblings;
}

void BM_GetObjectByDN_Folder(benchmark::State& state) { Lookup(state, false); }
void BM_GetObjectByDN_App(benchmark::State& state) { Lookup(state, true); }

// The child of `folder` named `name` through the services, or 0.
ULONG64 FindChild(BenchFarm& farm, ULONG64 folder, const std::u16string& name) {
  ULONG64* children = nullptr;
  ULONG count = 0;
  if (farm.folders().EnumerateFolder(folder, &children, count) != 0) return 0;
  ULONG64 match = 0;
  for (ULONG i = 0; i < count; ++i) {
    const ULONG64 child = children[i];
    if ((child >> 32) == kApplicationKind) {
      ZQApp record;
      if (farm.apps().Read(child, record) != 0) break;
      VORNString friendly;
      record.GetFriendlyName(friendly);
      if (name == friendly.c_str()) match = child;
    } else {
      char16_t* folder_name = nullptr;
      if (farm.folders().GetFolderName(child, &folder_name) != 0) break;
      if (name == folder_name) match = child;
      farm.folders().FreeMemory(reinterpret_cast<unsigned char*>(folder_name));
    }
  }
  farm.folders().FreeMemory(reinterpret_cast<unsigned char*>(children));
  return match;
}

void ServiceWalk(benchmark::State& state, bool application) {
  const int depth = static_cast<int>(state.range(0));
  const int siblings = static_cast<int>(state.range(1));
  ChainFarm& entry = Chain(depth, siblings);
  BenchFarm& farm = *entry.farm;
  // The components below the root.
  std::vector<std::u16string> components;
  for (int level = 1; level <= depth; ++level) {
    components.push_back(Numbered(Numbered(u"L", level) + u"-", siblings - 1));
  }
  if (application) components.push_back(Numbered(u"A-", siblings - 1));
  const ULONG64 expected = application ? entry.chain.deepest_apps.back() : entry.chain.walk.back();
  for (auto _ : state) {
    ULONG64 current = farm.Root();
    for (const std::u16string& component : components) current = FindChild(farm, current, component);
    if (current != expected) {
      state.SkipWithError("the service walk did not find the object");
      break;
    }
  }
  state.counters["depth"] = depth;
  state.counters["siblings"] = siblings;
}

void BM_ServiceWalk_Folder(benchmark::State& state) { ServiceWalk(state, false); }
void BM_ServiceWalk_App(benchmark::State& state) { ServiceWalk(state, true); }

void Shapes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"depth", "siblings"});
  b->Args({8, 20})->Args({2, 20})->Args({4, 20})->Args({8, 5})->Args({8, 80});
}

BENCHMARK(BM_GetObjectByDN_Folder)->Apply(Shapes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ServiceWalk_Folder)->Apply(Shapes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetObjectByDN_App)->Args({8, 20})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ServiceWalk_App)->Args({8, 20})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace feroq::bench
