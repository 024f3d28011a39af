// What one application object costs in memory: the heap in use (glibc's
// mallinfo2, the heap's kept blocks given back first) before and
// after EnumerateApps makes an object for each of 10,000 applications of a
// memory farm, and again after every object is loaded, divided by the
// count; and the sizes of the parts an object is made of. The farm's own
// rows are in memory before the first reading, so only the objects are
// counted. Prints a small Markdown table (README, "What an application
// object costs").
#include <malloc.h>

#include <cstdio>

#include "farm/object_id_map.h"
#include "feroq/services/zqapp.h"
#include "platform/platform.h"
#include "support/bench_farm.h"

namespace feroq::bench {
namespace {

constexpr std::size_t kApps = 10000;

// What the C library has handed out, once the released blocks the farm
// heap keeps for reuse (in use for the C library, free for the farm) have
// gone back to it.
std::size_t HeapInUse() {
  platform::ReleaseKeptHeapBlocks();
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

int Run() {
  BenchFarm& bench = BenchFarm::Use("memory:object-cost", [](BenchFarm& farm) {
    farm.PublishApps(farm.Root(), kApps, u"Cost-");
  });
  FarmObject& farm = bench.farm();
  const std::size_t start = HeapInUse();
  CommonObject** apps = nullptr;
  ULONG count = 0;
  Require(farm.EnumerateApps(&apps, &count) == S_OK && count == kApps, "listing the applications");
  const std::size_t made = HeapInUse();
  for (ULONG i = 0; i < count; ++i) {
    Require(static_cast<ZQWinAppObject*>(apps[i])->Load() == S_OK, "loading an application");
  }
  const std::size_t loaded = HeapInUse();
  for (ULONG i = 0; i < count; ++i) Release(farm, apps[i]);
  farm.FreeMemory(apps);
  const std::size_t released = HeapInUse();

  auto per_app = [](std::size_t from, std::size_t to) { return static_cast<double>(to - from) / kApps; };
  std::printf("| Part | Bytes |\n|---|---|\n");
  std::printf("| an object, not loaded (heap in use per application after EnumerateApps) | %.0f |\n",
              per_app(start, made));
  std::printf("| loading it (heap added per application by Load) | %.0f |\n", per_app(made, loaded));
  std::printf("| left after every object is released (whole run) | %zd |\n",
              static_cast<std::ptrdiff_t>(released) - static_cast<std::ptrdiff_t>(start));
  std::printf("| sizeof(ZQWinAppObject) | %zu |\n", sizeof(ZQWinAppObject));
  std::printf("| sizeof(ZQApp), the record | %zu |\n", sizeof(ZQApp));
  std::printf("| of which sizeof(USERTABLE) | %zu |\n", sizeof(USERTABLE));
  std::printf("| of which sizeof(SERVERTABLE) | %zu |\n", sizeof(SERVERTABLE));
  std::printf("| of which six sizeof(VORNString) | %zu |\n", 6 * sizeof(VORNString));
  std::printf("| sizeof(_WLICON_V1), the icon | %zu |\n", sizeof(_WLICON_V1));
  std::printf("| a registry entry's key and value | %zu |\n",
              sizeof(decltype(feroq::ObjectIdMap::entries)::value_type));
  return 0;
}

}  // namespace
}  // namespace feroq::bench

int main() { return feroq::bench::Run(); }
