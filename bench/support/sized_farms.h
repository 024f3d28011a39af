// The farms of the farm-vs-raw benchmarks, each beside raw tables of as many
// rows: 1,000, 10,000 or 100,000 applications of about 2 KB in the root
// folder, then \Deep\Deeper\Target. Farm files are seeded once and kept in
// FEROQ_BENCH_CACHE_DIR (build-bench/bench-cache unless set), keyed by the
// farm file's schema version; each run works on copies.
#ifndef FEROQ_BENCH_SUPPORT_SIZED_FARMS_H_
#define FEROQ_BENCH_SUPPORT_SIZED_FARMS_H_

#include <sqlite3.h>

#include <cstddef>
#include <string>
#include <vector>

#include "support/bench_farm.h"

namespace feroq::bench {

// What fills an application's record to about 2 KB within the farm's limit
// of 259 units a text: a description, an initial program and a working
// directory of about 245 units each, and an icon (640 bytes).
struct LongTexts {
  std::u16string description;
  std::u16string program;
  std::u16string directory;
  _ZQWinAppIcon icon{};
};

// The texts and icon above, made once.
const LongTexts& Filler();

struct SizedFarm {
  std::string farm_path;  // a working copy
  std::string raw_path;
  sqlite3* raw = nullptr;
  std::size_t record_bytes = 0;
  std::vector<ULONG64> picked;  // applications loaded and saved, the same rows raw
  std::vector<sqlite3_int64> raw_ids;
  ULONG64 root = 0;
  std::u16string last_app_dn;
};

// The farm of `apps` applications and its raw tables, copied from the cache
// (seeded there first when missing) and opened on the first call for
// `apps`; the same entry afterwards.
SizedFarm& Sized(std::size_t apps);

// The farm object of `entry`'s farm (the one farm the process has open).
FarmObject& FarmOf(SizedFarm& entry);

// The picked applications of `entry`, each as a loaded object; aborts when
// one cannot be loaded.
std::vector<ZQWinAppObject*> LoadPicked(FarmObject& farm, const SizedFarm& entry);

}  // namespace feroq::bench

#endif  // FEROQ_BENCH_SUPPORT_SIZED_FARMS_H_
