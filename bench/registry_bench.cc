// The object registry: CreateWinAppFromID of an object the tool already
// holds (a registry hit) against a bare std::map lookup over the same
// identifiers, with 1,000, 10,000 and 100,000 objects held.
//
// A hit takes one more reference; the references are given back after the
// timed loop. Both loops look the identifiers up in the same shuffled order.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>

#include "support/bench_farm.h"

namespace feroq::bench {
namespace {

constexpr char kFarmUrl[] = "memory:registry";

// A CommonObject the reference map can point at without the registry.
class PlainObject : public CommonObject {
 public:
  using CommonObject::CommonObject;
  HRESULT GetParentFolder(FolderObject**) override { return E_NOTIMPL; }
};

std::vector<ULONG64> ShuffledIds(std::size_t count) {
  std::vector<ULONG64> ids;
  ids.reserve(count);
  for (std::size_t i = 1; i <= count; ++i) ids.push_back(ApplicationId(static_cast<ULONG>(i)));
  std::shuffle(ids.begin(), ids.end(), std::mt19937_64(42));
  return ids;
}

// `count` registered application objects (their records are not loaded:
// the registry does not need them).
std::vector<ZQWinAppObject*> HoldObjects(FarmObject& farm, std::size_t count) {
  std::vector<ZQWinAppObject*> held;
  held.reserve(count);
  for (std::size_t i = 1; i <= count; ++i) {
    ULONG64 id = ApplicationId(static_cast<ULONG>(i));
    ZQWinAppObject* app = nullptr;
    Require(farm.CreateWinAppFromID(id, &app) == S_OK, "registering an object");
    held.push_back(app);
  }
  return held;
}

void ReleaseAll(FarmObject& farm, std::vector<ZQWinAppObject*>& held) {
  for (ZQWinAppObject* app : held) {
    while (app->GetRefCount() > 1) Release(farm, app);
    Release(farm, app);
  }
  held.clear();
}

void BM_RegistryHit(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  FarmObject& farm = BenchFarm::Use(kFarmUrl).farm();
  std::vector<ZQWinAppObject*> held = HoldObjects(farm, count);
  std::vector<ULONG64> order = ShuffledIds(count);
  std::size_t next = 0;
  for (auto _ : state) {
    ZQWinAppObject* app = nullptr;
    farm.CreateWinAppFromID(order[next], &app);
    benchmark::DoNotOptimize(app);
    if (++next == count) next = 0;
  }
  if (RegistrySize(farm) != count) state.SkipWithError("the registry lost or gained objects");
  ReleaseAll(farm, held);
  if (RegistrySize(farm) != 0) state.SkipWithError("objects left registered");
  state.counters["held"] = static_cast<double>(count);
}

// The reference: a std::map<ULONG64, CommonObject*> of the same identifiers.
void BM_MapLookup(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  std::vector<std::unique_ptr<PlainObject>> objects;
  objects.reserve(count);
  std::map<ULONG64, CommonObject*> map;
  for (std::size_t i = 1; i <= count; ++i) {
    const ULONG64 id = ApplicationId(static_cast<ULONG>(i));
    objects.emplace_back(new PlainObject(FarmObjectWinApp, id));
    map.emplace(id, objects.back().get());
  }
  std::vector<ULONG64> order = ShuffledIds(count);
  std::size_t next = 0;
  for (auto _ : state) {
    auto found = map.find(order[next]);
    CommonObject* object = found != map.end() ? found->second : nullptr;
    benchmark::DoNotOptimize(object);
    if (++next == count) next = 0;
  }
  state.counters["held"] = static_cast<double>(count);
}

// Not a reference pair: what a miss costs (a new object registered, then
// released and unregistered), for comparison with the hit.
void BM_RegistryMissCreateAndFree(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  FarmObject& farm = BenchFarm::Use(kFarmUrl).farm();
  std::vector<ZQWinAppObject*> held = HoldObjects(farm, count);
  ULONG serial = static_cast<ULONG>(count) + 1;
  for (auto _ : state) {
    ULONG64 id = ApplicationId(serial);
    ZQWinAppObject* app = nullptr;
    farm.CreateWinAppFromID(id, &app);
    Release(farm, app);
  }
  ReleaseAll(farm, held);
  if (RegistrySize(farm) != 0) state.SkipWithError("objects left registered");
}

BENCHMARK(BM_RegistryHit)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_MapLookup)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_RegistryMissCreateAndFree)->Arg(1000)->Arg(100000);

}  // namespace
}  // namespace feroq::bench
