// The SQLite farm (FEROQ_FARM=sqlite:PATH) with 1,000, 10,000 and 100,000
// applications: CreateZQWinApp, ZQWinAppObject::Load and Save, each against
// the raw SQLite statement it costs, measured on a plain table in a file of
// its own with the farm's settings (WAL, synchronous=NORMAL) holding as many
// rows, each with a record blob and a key blob of the farm's average sizes
// and the farm's two secondary indexes:
//   CreateZQWinApp  vs  INSERT of one row (autocommit)
//   Load            vs  SELECT of one row by id, blob copied out
//   Save            vs  UPDATE of one row's blob by id
// and, without a raw reference, GetObjectByDN examining every application
// of a folder (per_sibling: seconds per application examined) and
// EnumerateApps (per_app).
// Reads and updates go round 256 identifiers picked at random, the same for
// the farm and the raw table.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <random>

#include "support/bench_farm.h"
#include "support/raw_sqlite.h"

namespace feroq::bench {
namespace {

constexpr std::size_t kPicked = 256;

std::string FarmPath(std::size_t apps) { return BenchTempDir() + "/farm-" + std::to_string(apps) + ".db"; }
std::string RawPath(std::size_t apps) { return BenchTempDir() + "/raw-" + std::to_string(apps) + ".db"; }

// Average sizes of the farm file's record and key blobs.
struct BlobSizes {
  int record = 0;
  int key = 0;
};

BlobSizes MeasureFarmBlobs(const std::string& path) {
  sqlite3* db = nullptr;
  Require(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK, "reading the farm file");
  sqlite3_stmt* statement = Prepare(db, "SELECT avg(length(record)), avg(length(name_key)) FROM applications");
  Require(sqlite3_step(statement) == SQLITE_ROW, "blob sizes");
  BlobSizes sizes{static_cast<int>(sqlite3_column_double(statement, 0) + 0.5),
                  static_cast<int>(sqlite3_column_double(statement, 1) + 0.5)};
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return sizes;
}

// `size` pseudo-random bytes, the same for the same seed (xorshift: cheap
// enough to make one key per seeded row).
std::vector<unsigned char> Bytes(int size, unsigned seed) {
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
  std::uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
  for (auto& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<unsigned char>(state >> 24);
  }
  return bytes;
}

// One size: the farm file, the raw table beside it, and the picked ids.
struct SizedFarm {
  BlobSizes blobs;
  sqlite3* raw = nullptr;
  std::vector<ULONG64> picked;  // serials 1..apps
  ULONG64 next_raw_key = 0;
};

SizedFarm& Prepared(std::size_t apps) {
  static std::map<std::size_t, SizedFarm> farms;
  auto found = farms.find(apps);
  if (found != farms.end()) return found->second;
  SizedFarm& entry = farms[apps];
  SeedSqliteFarmFile(FarmPath(apps), apps);
  entry.blobs = MeasureFarmBlobs(FarmPath(apps));

  Require(sqlite3_open_v2(RawPath(apps).c_str(), &entry.raw,
                          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK,
          "creating the raw table's file");
  Exec(entry.raw, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;");
  Exec(entry.raw,
       "CREATE TABLE items(id INTEGER PRIMARY KEY, folder INTEGER NOT NULL, name_key BLOB NOT NULL,"
       " record BLOB NOT NULL);"
       "CREATE INDEX items_by_folder ON items(folder, id);"
       "CREATE INDEX items_by_name ON items(name_key, id);");
  Exec(entry.raw, "BEGIN");
  sqlite3_stmt* insert = Prepare(entry.raw, "INSERT INTO items(folder, name_key, record) VALUES (1, ?1, ?2)");
  const std::vector<unsigned char> record = Bytes(entry.blobs.record, 1);
  for (std::size_t i = 0; i < apps; ++i) {
    const std::vector<unsigned char> key = Bytes(entry.blobs.key, static_cast<unsigned>(i + 7));
    sqlite3_bind_blob(insert, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 2, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
    Require(sqlite3_step(insert) == SQLITE_DONE, "seeding the raw table");
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(entry.raw, "COMMIT");
  entry.next_raw_key = apps + 1000;

  std::mt19937_64 random(99);
  for (std::size_t i = 0; i < kPicked; ++i) entry.picked.push_back(1 + random() % apps);
  return entry;
}

BenchFarm& OpenFarm(std::size_t apps) {
  Prepared(apps);
  return BenchFarm::Use("sqlite:" + FarmPath(apps));
}

// Loaded application objects for the picked identifiers.
std::vector<ZQWinAppObject*> PickedApps(FarmObject& farm, const SizedFarm& entry) {
  std::vector<ZQWinAppObject*> apps;
  for (ULONG64 serial : entry.picked) {
    ULONG64 id = ApplicationId(static_cast<ULONG>(serial));
    ZQWinAppObject* app = nullptr;
    Require(farm.CreateWinAppFromID(id, &app) == S_OK && app->Load() == S_OK, "loading a picked application");
    apps.push_back(app);
  }
  return apps;
}

void ReleaseAll(FarmObject& farm, std::vector<ZQWinAppObject*>& apps) {
  for (ZQWinAppObject* app : apps) Release(farm, app);
  apps.clear();
}

void BM_SqliteCreateZQWinApp(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  FarmObject& farm = OpenFarm(apps).farm();
  static std::size_t published = 0;
  _ZQWinAppData data;
  std::memset(&data, 0, sizeof(data));
  data.version = kZQAppCurrentVersion;
  data.defaultInitialProgram = const_cast<char16_t*>(u"C:\\Programs\\Benchmark\\app.exe");
  data.description = const_cast<char16_t*>(u"An application published for the benchmarks");
  for (auto _ : state) {
    std::u16string name = Numbered(u"N-", ++published);
    std::u16string browser = u"b-" + name;
    data.objectName = name.data();
    data.browserName = browser.data();
    ZQWinAppObject* app = nullptr;
    if (farm.CreateZQWinApp(&data, &app) != S_OK) {
      state.SkipWithError("CreateZQWinApp failed");
      break;
    }
    Release(farm, app);
  }
  state.counters["apps"] = static_cast<double>(apps);
}

void BM_SqliteLoad(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  FarmObject& farm = OpenFarm(apps).farm();
  std::vector<ZQWinAppObject*> picked = PickedApps(farm, Prepared(apps));
  std::size_t next = 0;
  for (auto _ : state) {
    if (picked[next]->Load() != S_OK) {
      state.SkipWithError("Load failed");
      break;
    }
    if (++next == picked.size()) next = 0;
  }
  ReleaseAll(farm, picked);
  state.counters["apps"] = static_cast<double>(apps);
}

void BM_SqliteSave(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  FarmObject& farm = OpenFarm(apps).farm();
  std::vector<ZQWinAppObject*> picked = PickedApps(farm, Prepared(apps));
  char16_t* descriptions[] = {const_cast<char16_t*>(u"An application published for the benchmarks"),
                           const_cast<char16_t*>(u"An application published for the benchmark run")};
  std::size_t next = 0;
  std::size_t round = 0;
  for (auto _ : state) {
    ZQWinAppObject* app = picked[next];
    if (app->SetDescription(descriptions[round & 1]) != S_OK || app->Save() != S_OK) {
      state.SkipWithError("Save failed");
      break;
    }
    if (++next == picked.size()) {
      next = 0;
      ++round;
    }
  }
  ReleaseAll(farm, picked);
  state.counters["apps"] = static_cast<double>(apps);
}

void BM_RawInsert(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  SizedFarm& entry = Prepared(apps);
  sqlite3_stmt* insert = Prepare(entry.raw, "INSERT INTO items(folder, name_key, record) VALUES (1, ?1, ?2)");
  const std::vector<unsigned char> record = Bytes(entry.blobs.record, 2);
  std::vector<unsigned char> key = Bytes(entry.blobs.key, 3);
  for (auto _ : state) {
    const ULONG64 unique = ++entry.next_raw_key;
    std::memcpy(key.data(), &unique, std::min(key.size(), sizeof(unique)));
    sqlite3_bind_blob(insert, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    sqlite3_bind_blob(insert, 2, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
    if (sqlite3_step(insert) != SQLITE_DONE) {
      state.SkipWithError("INSERT failed");
      break;
    }
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  state.counters["apps"] = static_cast<double>(apps);
}

void BM_RawPointRead(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  SizedFarm& entry = Prepared(apps);
  sqlite3_stmt* select = Prepare(entry.raw, "SELECT folder, record FROM items WHERE id = ?1");
  std::vector<unsigned char> copy;
  std::size_t next = 0;
  for (auto _ : state) {
    sqlite3_bind_int64(select, 1, static_cast<sqlite3_int64>(entry.picked[next]));
    if (sqlite3_step(select) != SQLITE_ROW) {
      state.SkipWithError("SELECT found nothing");
      break;
    }
    const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(select, 1));
    copy.assign(blob, blob + sqlite3_column_bytes(select, 1));
    benchmark::DoNotOptimize(copy.data());
    sqlite3_reset(select);
    if (++next == entry.picked.size()) next = 0;
  }
  sqlite3_finalize(select);
  state.counters["apps"] = static_cast<double>(apps);
}

void BM_RawUpdate(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  SizedFarm& entry = Prepared(apps);
  sqlite3_stmt* update = Prepare(entry.raw, "UPDATE items SET record = ?2 WHERE id = ?1");
  const std::vector<unsigned char> records[] = {Bytes(entry.blobs.record, 4), Bytes(entry.blobs.record, 5)};
  std::size_t next = 0;
  std::size_t round = 0;
  for (auto _ : state) {
    const std::vector<unsigned char>& record = records[round & 1];
    sqlite3_bind_int64(update, 1, static_cast<sqlite3_int64>(entry.picked[next]));
    sqlite3_bind_blob(update, 2, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
    if (sqlite3_step(update) != SQLITE_DONE || sqlite3_changes(entry.raw) != 1) {
      state.SkipWithError("UPDATE failed");
      break;
    }
    sqlite3_reset(update);
    if (++next == entry.picked.size()) {
      next = 0;
      ++round;
    }
  }
  sqlite3_finalize(update);
  state.counters["apps"] = static_cast<double>(apps);
  state.counters["record_bytes"] = entry.blobs.record;
}

// Not one of the statements above: the full-row replacement the farm's
// store issues for a save (INSERT OR REPLACE, so both index entries are
// rewritten), to tell the statement's cost from the rest of a save.
void BM_RawReplace(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  SizedFarm& entry = Prepared(apps);
  sqlite3_stmt* replace =
      Prepare(entry.raw, "INSERT OR REPLACE INTO items(id, folder, name_key, record) VALUES (?1, 1, ?2, ?3)");
  const std::vector<unsigned char> records[] = {Bytes(entry.blobs.record, 4), Bytes(entry.blobs.record, 5)};
  std::size_t next = 0;
  std::size_t round = 0;
  for (auto _ : state) {
    const std::vector<unsigned char>& record = records[round & 1];
    const std::vector<unsigned char> key = Bytes(entry.blobs.key, static_cast<unsigned>(entry.picked[next] + 6));
    sqlite3_bind_int64(replace, 1, static_cast<sqlite3_int64>(entry.picked[next]));
    sqlite3_bind_blob(replace, 2, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(replace, 3, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
    if (sqlite3_step(replace) != SQLITE_DONE) {
      state.SkipWithError("INSERT OR REPLACE failed");
      break;
    }
    sqlite3_reset(replace);
    if (++next == entry.picked.size()) {
      next = 0;
      ++round;
    }
  }
  sqlite3_finalize(replace);
  state.counters["apps"] = static_cast<double>(apps);
}

// GetObjectByDN of the last application of the root folder, which holds
// every application: the lookup examines each of them (siblings = apps).
void BM_SqliteGetObjectByDN(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  FarmObject& farm = OpenFarm(apps).farm();
  std::u16string dn = u"\\Applications\\" + Numbered(u"S-", apps - 1);
  for (auto _ : state) {
    CommonObject* found = nullptr;
    if (farm.GetObjectByDN(nullptr, dn.data(), &found) != S_OK || found == nullptr) {
      state.SkipWithError("GetObjectByDN did not find the application");
      break;
    }
    Release(farm, found);
  }
  state.counters["siblings"] = static_cast<double>(apps);
  state.counters["per_sibling"] =
      benchmark::Counter(static_cast<double>(apps), benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

// FarmObject::EnumerateApps of every application of the farm file (the
// seeded ones, and those the publish line added when it ran before).
void BM_SqliteEnumerateApps(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  FarmObject& farm = OpenFarm(apps).farm();
  ULONG listed = 0;
  for (auto _ : state) {
    CommonObject** objects = nullptr;
    ULONG count = 0;
    const HRESULT result = farm.EnumerateApps(&objects, &count);
    state.PauseTiming();
    for (ULONG i = 0; i < count; ++i) Release(farm, objects[i]);
    farm.FreeMemory(objects);
    if (result != S_OK || count < apps) {
      state.SkipWithError("EnumerateApps did not list every application");
      break;  // timing may not resume after an error
    }
    listed = count;
    state.ResumeTiming();
  }
  state.counters["per_app"] =
      benchmark::Counter(static_cast<double>(listed), benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1000)->Arg(10000)->Arg(100000)->UseRealTime()->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_SqliteCreateZQWinApp)->Apply(Sizes);
BENCHMARK(BM_RawInsert)->Apply(Sizes);
BENCHMARK(BM_SqliteLoad)->Apply(Sizes);
BENCHMARK(BM_RawPointRead)->Apply(Sizes);
BENCHMARK(BM_SqliteSave)->Apply(Sizes);
BENCHMARK(BM_RawUpdate)->Apply(Sizes);
BENCHMARK(BM_RawReplace)->Apply(Sizes);
BENCHMARK(BM_SqliteGetObjectByDN)->Arg(1000)->Arg(10000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteEnumerateApps)->Apply(Sizes);

}  // namespace
}  // namespace feroq::bench
