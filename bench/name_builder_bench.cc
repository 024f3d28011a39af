// The distinguished-name builder: GetDistinguishedName of an application 2,
// 8 and 64 folders deep (64 levels grow the builder's work buffer past its
// first 512 bytes), against the folder-service calls the builder makes (the
// root's identifier, each folder's name and parent, the root's name), done
// directly on the service.
#include <benchmark/benchmark.h>

#include <map>

#include "support/bench_farm.h"

namespace feroq::bench {
namespace {

struct ChainFarm {
  BenchFarm* farm = nullptr;
  FolderChain chain;
};

ChainFarm& Chain(int depth) {
  static std::map<int, ChainFarm> chains;
  ChainFarm& entry = chains[depth];
  entry.farm = &BenchFarm::Use("memory:names-" + std::to_string(depth), [&entry, depth](BenchFarm& farm) {
    entry.chain = BuildFolderChain(farm, depth, 2);
  });
  return entry;
}

void BM_GetDistinguishedName(benchmark::State& state) {
  const int depth = static_cast<int>(state.range(0));
  ChainFarm& entry = Chain(depth);
  FarmObject& farm = entry.farm->farm();
  ULONG64 id = entry.chain.deepest_apps.back();
  ZQWinAppObject* app = nullptr;
  Require(farm.CreateWinAppFromID(id, &app) == S_OK && app->Load() == S_OK, "loading the application");
  const std::u16string expected = entry.chain.last_app_dn;
  for (auto _ : state) {
    char16_t* dn = nullptr;
    if (app->GetDistinguishedName(&dn) != S_OK) state.SkipWithError("GetDistinguishedName failed");
    benchmark::DoNotOptimize(dn);
    farm.FreeMemory(dn);
  }
  char16_t* dn = nullptr;
  if (app->GetDistinguishedName(&dn) != S_OK || expected != dn) state.SkipWithError("wrong name");
  farm.FreeMemory(dn);
  Release(farm, app);
  state.counters["depth"] = depth;
  state.counters["dn_chars"] = static_cast<double>(expected.size());
}

// The same service calls, without the buffer, the object or the heap copies.
void BM_FolderServiceWalk(benchmark::State& state) {
  const int depth = static_cast<int>(state.range(0));
  ChainFarm& entry = Chain(depth);
  VORNCommonApplicationSAL& folders = entry.farm->folders();
  const ULONG64 parent = entry.chain.walk.back();
  for (auto _ : state) {
    ULONG64 root = 0;
    folders.GetRootFolderID(root);
    ULONG64 current = parent;
    std::size_t units = 0;
    while (current != root) {
      char16_t* name = nullptr;
      if (folders.GetFolderName(current, &name) != 0) {
        state.SkipWithError("GetFolderName failed");
        break;
      }
      units += std::char_traits<char16_t>::length(name);
      folders.FreeMemory(reinterpret_cast<unsigned char*>(name));
      folders.GetFolderParent(current, current);
    }
    char16_t* root_name = nullptr;
    folders.GetFolderName(root, &root_name);
    folders.FreeMemory(reinterpret_cast<unsigned char*>(root_name));
    benchmark::DoNotOptimize(units);
  }
  state.counters["depth"] = depth;
}

BENCHMARK(BM_GetDistinguishedName)->Arg(2)->Arg(8)->Arg(64);
BENCHMARK(BM_FolderServiceWalk)->Arg(2)->Arg(8)->Arg(64);

}  // namespace
}  // namespace feroq::bench
