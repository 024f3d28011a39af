// The SQLite farm beside the raw SQLite statements that bound it, measured
// in one process and interleaved (a batch of the farm's operation, then a
// batch of the raw statement, round after round, so that both see the same
// machine load), with records of about 2 KB on both sides, in farms of
// 1,000, 10,000 and 100,000 applications in one folder:
//
//   publish (CreateZQWinApp)  vs  one autocommit INSERT of the same row
//   ZQWinAppObject::Load      vs  SELECT of one row by id, blob copied out
//   ZQWinAppObject::Save      vs  the smallest transaction with the same
//                                 guarantee: BEGIN, UPDATE of the row's
//                                 record, INSERT of the event row, COMMIT
//   EnumerateApps             vs  the folder's ids from a covering index
//   GetObjectByDN of the folder's last application (every sibling is
//     examined, so the figure is per sibling), and of an application three
//     levels down (\Applications\Deep\Deeper\Target) in the 100,000 farm
//
// and the tool, one process per command: `farm info`, `app publish` (beside
// the sqlite3 shell inserting one row into the raw table), and `import` of
// 1,000 definition files (beside reading those files and inserting their
// bytes as rows in one transaction, in this process).
//
// Every figure is the median over the rounds of the per-operation time of a
// batch; of_raw is raw time / feroq time (1 means as fast as raw). The CPU
// figures of the tool lines are the tool processes' own (user and system
// time of the children this process waited for). Farm
// files are seeded once and kept in FEROQ_BENCH_CACHE_DIR (build-bench/
// bench-cache), keyed by the farm file's schema version; each run works on
// copies.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <time.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include "services/store/farm_store.h"
#include "services/store/sqlite_farm_store.h"
#include "support/bench_farm.h"

extern char** environ;

namespace feroq::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// What fills an application's record to about 2 KB within the farm's limit
// of 259 units a text: a description, an initial program and a working
// directory of about 245 units each, and an icon (640 bytes).
struct LongTexts {
  std::u16string description;
  std::u16string program;
  std::u16string directory;
  _ZQWinAppIcon icon{};
};

const LongTexts& Filler() {
  static const LongTexts texts = [] {
    LongTexts t;
    while (t.description.size() < 245) t.description += u"An application published for the benchmarks. ";
    t.description.resize(245);
    t.directory = u"C:\\Programs";
    while (t.directory.size() < 230) t.directory += u"\\Benchmark Suite";
    t.directory.resize(230);
    t.program = t.directory + u"\\application.exe";
    for (std::size_t i = 0; i < sizeof(t.icon.colors); ++i) t.icon.colors[i] = static_cast<BYTE>(i * 37);
    for (std::size_t i = 0; i < sizeof(t.icon.mask); ++i) t.icon.mask[i] = static_cast<BYTE>(i * 11);
    return t;
  }();
  return texts;
}

store::AppRecordData FillerRecord() {
  store::AppRecordData record;
  record.description = Filler().description;
  record.initial_program = Filler().program;
  record.work_directory = Filler().directory;
  const auto* icon = reinterpret_cast<const BYTE*>(&Filler().icon);
  record.icon.assign(icon, icon + sizeof(_ZQWinAppIcon));
  return record;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// CPU seconds of the tool processes run so far (Run below adds each one's
// user and system time when it has ended).
double g_tool_cpu_seconds = 0;

// This thread's CPU time and that of the tool processes it ran.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 + g_tool_cpu_seconds;
}

// The CPU time of the process's other threads. The raw statements run on
// this thread alone, so every other thread is the farm's (the store's
// checkpoint thread): its time counts for the farm whenever it runs, also
// while a raw batch is timed or after the farm's batch has ended.
double OtherThreadsCpuSeconds() {
  timespec process{}, thread{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &process);
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &thread);
  return static_cast<double>(process.tv_sec - thread.tv_sec) + (process.tv_nsec - thread.tv_nsec) / 1e9;
}

// Waits until the farm's other threads have been idle for 50 ms (at most
// 5 s), so that a line does not start with the work an earlier line left
// behind (a checkpoint of its writes).
void SettleOtherThreads() {
  double before = OtherThreadsCpuSeconds();
  for (int i = 0; i < 100; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double now = OtherThreadsCpuSeconds();
    if (now - before < 1e-4) return;
    before = now;
  }
}

// Wall-clock and CPU seconds per operation: this thread's (with the tool
// processes it ran) and the other threads'.
struct PerOp {
  double wall = -1;
  double cpu = 0;
  double others = 0;
};

// Runs `op` `ops` times; a negative wall time when `op` fails.
PerOp TimeBatch(int ops, const std::function<bool()>& op) {
  const double cpu_start = ThreadCpuSeconds();
  const double others_start = OtherThreadsCpuSeconds();
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < ops; ++i) {
    if (!op()) return {};
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return {wall / ops, (ThreadCpuSeconds() - cpu_start) / ops, (OtherThreadsCpuSeconds() - others_start) / ops};
}

// Runs `rounds` rounds of a farm batch then a raw batch (the raw one left
// out when `raw` is empty) and reports medians in microseconds: wall-clock
// (feroq_us, raw_us, of_raw) and CPU time (feroq_cpu_us, raw_cpu_us,
// of_raw_cpu), which the machine's other load moves less; feroq_others_cpu_us
// is the part of feroq_cpu_us spent on the farm's other threads. A round's farm
// CPU is its batch's on this thread plus all the other threads did during
// the round (the raw batch included); the raw CPU is the raw batch's on
// this thread.
void Interleave(benchmark::State& state, int rounds, int farm_ops, const std::function<bool()>& farm,
                int raw_ops, const std::function<bool()>& raw) {
  SettleOtherThreads();
  std::vector<double> farm_wall, farm_cpu, farm_others, raw_wall, raw_cpu;
  for (int round = 0; round < rounds; ++round) {
    const PerOp f = TimeBatch(farm_ops, farm);
    if (f.wall < 0) return state.SkipWithError("the farm's operation failed");
    farm_wall.push_back(f.wall);
    double others = f.others * farm_ops;
    if (raw) {
      const PerOp r = TimeBatch(raw_ops, raw);
      if (r.wall < 0) return state.SkipWithError("the raw statement failed");
      raw_wall.push_back(r.wall);
      raw_cpu.push_back(r.cpu);
      others += r.others * raw_ops;
    }
    farm_cpu.push_back(f.cpu + others / farm_ops);
    farm_others.push_back(others / farm_ops);
  }
  const double farm_us = Median(farm_wall) * 1e6;
  state.counters["feroq_us"] = farm_us;
  state.counters["feroq_cpu_us"] = Median(farm_cpu) * 1e6;
  state.counters["feroq_others_cpu_us"] = Median(farm_others) * 1e6;
  if (raw) {
    state.counters["raw_us"] = Median(raw_wall) * 1e6;
    state.counters["raw_cpu_us"] = Median(raw_cpu) * 1e6;
    state.counters["of_raw"] = Median(raw_wall) / Median(farm_wall);
    state.counters["of_raw_cpu"] = Median(raw_cpu) / Median(farm_cpu);
  }
  state.SetIterationTime(farm_us / 1e6);
}

// ---- Raw SQLite ----------------------------------------------------------------

void Exec(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", sql, message != nullptr ? message : "?");
    Require(false, "raw SQLite statement");
  }
}

sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  Require(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK, sql);
  return statement;
}

bool StepDone(sqlite3_stmt* statement) {
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_reset(statement);
  return done;
}

// The raw table: an application row as small as it can be while it keeps
// what the farm needs (its folder, its name for lookups, unique in the
// folder, and the record), and the event log.
constexpr char kRawSchema[] =
    "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"
    "CREATE TABLE IF NOT EXISTS items(id INTEGER PRIMARY KEY, folder INTEGER NOT NULL, name TEXT NOT NULL,"
    " record BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS items_by_name ON items(folder, name);"
    "CREATE TABLE IF NOT EXISTS events(seq INTEGER PRIMARY KEY, type INTEGER NOT NULL, ids BLOB NOT NULL);";

sqlite3* OpenRaw(const std::string& path) {
  sqlite3* db = nullptr;
  Require(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                          nullptr) == SQLITE_OK,
          "opening a raw table's file");
  Exec(db, kRawSchema);
  return db;
}

std::string RecordBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::mt19937 random(seed);
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

// ---- The farms, seeded once ------------------------------------------------------

const std::string& CacheDir() {
  static const std::string dir = [] {
    const char* set = std::getenv("FEROQ_BENCH_CACHE_DIR");
    std::string path = set != nullptr && set[0] != '\0' ? set : FEROQ_BENCH_CACHE_DEFAULT;
    fs::create_directories(path);
    return path;
  }();
  return dir;
}

// The schema version of a farm file made by this build: cached files of
// another version are not used.
long SchemaVersion() {
  static const long version = [] {
    const std::string path = BenchTempDir() + "/version.db";
    {
      std::shared_ptr<store::FarmStore> file;
      Require(store::OpenSqliteFarmStore(path, &file) == 0, "creating a farm file");
    }
    sqlite3* db = nullptr;
    Require(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK, "reading a farm file");
    sqlite3_stmt* statement = Prepare(db, "PRAGMA user_version");
    Require(sqlite3_step(statement) == SQLITE_ROW, "the schema version");
    const long found = static_cast<long>(sqlite3_column_int64(statement, 0));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return found;
  }();
  return version;
}

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

// `apps` applications S-0 .. S-(apps-1) in the root folder, each with the
// long description, then \Deep\Deeper\Target.
void SeedFarm(const std::string& path, std::size_t apps) {
  BenchFarm::CloseCurrent();
  const store::AppRecordData pattern = FillerRecord();
  SeedSqliteFarmFile(path, apps, &pattern);
  BenchFarm farm("sqlite:" + path);
  const ULONG64 deep = farm.CreateFolder(farm.Root(), u"Deep");
  farm.PublishApp(farm.CreateFolder(deep, u"Deeper"), u"Target");
}

std::size_t FarmRecordBytes(const std::string& path) {
  sqlite3* db = nullptr;
  Require(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK, "reading the farm file");
  sqlite3_stmt* statement = nullptr;
  std::size_t bytes = 2048;  // when the schema keeps records elsewhere
  if (sqlite3_prepare_v2(db, "SELECT avg(length(record)) FROM applications", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    bytes = static_cast<std::size_t>(sqlite3_column_double(statement, 0) + 0.5);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return bytes;
}

void SeedRaw(const std::string& path, std::size_t rows, std::size_t record_bytes) {
  sqlite3* db = OpenRaw(path);
  Exec(db, "BEGIN");
  sqlite3_stmt* insert = Prepare(db, "INSERT INTO items(folder, name, record) VALUES (1, ?1, ?2)");
  const std::string record = RecordBytes(record_bytes, 1);
  for (std::size_t i = 0; i < rows; ++i) {
    const std::string name = "S-" + std::to_string(i);
    sqlite3_bind_text(insert, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 2, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
    Require(StepDone(insert), "seeding the raw table");
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

// The cached file `name` (made by `seed` when missing) copied to `copy`.
void FromCache(const std::string& name, const std::string& copy, const std::function<void(const std::string&)>& seed) {
  const std::string cached = CacheDir() + "/" + name;
  if (!fs::exists(cached)) {
    const std::string staging = cached + ".new";
    for (const char* suffix : {"", "-wal", "-shm", "-wake"}) fs::remove(staging + suffix);
    seed(staging);
    Require(!fs::exists(staging + "-wal") || fs::file_size(staging + "-wal") == 0, "a seeded file left its WAL");
    for (const char* suffix : {"-wal", "-shm", "-wake"}) fs::remove(staging + suffix);
    fs::rename(staging, cached);
  }
  for (const char* suffix : {"", "-wal", "-shm", "-wake"}) fs::remove(copy + suffix);
  fs::copy_file(cached, copy);
}

SizedFarm& Sized(std::size_t apps) {
  static std::map<std::size_t, SizedFarm> farms;
  auto found = farms.find(apps);
  if (found != farms.end()) return found->second;
  SizedFarm& entry = farms[apps];
  const std::string tag = "v" + std::to_string(SchemaVersion()) + "-" + std::to_string(apps);
  entry.farm_path = BenchTempDir() + "/farm-" + std::to_string(apps) + ".db";
  FromCache("farm-" + tag + ".db", entry.farm_path, [apps](const std::string& path) { SeedFarm(path, apps); });
  entry.record_bytes = FarmRecordBytes(entry.farm_path);
  entry.raw_path = BenchTempDir() + "/raw-" + std::to_string(apps) + ".db";
  FromCache("raw-" + std::to_string(entry.record_bytes) + "-" + std::to_string(apps) + ".db", entry.raw_path,
            [&](const std::string& path) { SeedRaw(path, apps, entry.record_bytes); });
  entry.raw = OpenRaw(entry.raw_path);

  BenchFarm& farm = BenchFarm::Use("sqlite:" + entry.farm_path);
  entry.root = farm.Root();
  ULONG64* children = nullptr;
  ULONG count = 0;
  Require(farm.folders().EnumerateFolder(entry.root, &children, count) == 0, "the root folder's children");
  std::mt19937_64 random(99);
  for (int i = 0; i < 256; ++i) {
    const std::size_t index = random() % count;
    entry.picked.push_back(children[index]);
    entry.raw_ids.push_back(static_cast<sqlite3_int64>(1 + random() % apps));
  }
  farm.folders().FreeMemory(reinterpret_cast<unsigned char*>(children));
  std::erase_if(entry.picked, [](ULONG64 id) { return (id >> 32) != kApplicationKind; });
  entry.last_app_dn = u"\\Applications\\" + Numbered(u"S-", apps - 1);
  return entry;
}

FarmObject& FarmOf(SizedFarm& entry) { return BenchFarm::Use("sqlite:" + entry.farm_path).farm(); }

std::vector<ZQWinAppObject*> LoadPicked(FarmObject& farm, const SizedFarm& entry) {
  std::vector<ZQWinAppObject*> apps;
  for (ULONG64 id : entry.picked) {
    ZQWinAppObject* app = nullptr;
    const HRESULT made = farm.CreateWinAppFromID(id, &app);
    const HRESULT loaded = made == S_OK ? app->Load() : made;
    if (loaded != S_OK) std::fprintf(stderr, "application 0x%llx: 0x%08X\n", static_cast<unsigned long long>(id), static_cast<unsigned>(loaded));
    Require(loaded == S_OK, "loading a picked application");
    apps.push_back(app);
  }
  return apps;
}

// ---- Operations ---------------------------------------------------------------------

void BM_Publish(benchmark::State& state) {
  SizedFarm& entry = Sized(static_cast<std::size_t>(state.range(0)));
  FarmObject& farm = FarmOf(entry);
  _ZQWinAppData data;
  std::memset(&data, 0, sizeof(data));
  data.version = kZQAppCurrentVersion;
  LongTexts texts = Filler();
  data.defaultInitialProgram = texts.program.data();
  data.defaultWorkingDirectory = texts.directory.data();
  data.description = texts.description.data();
  data.icon = texts.icon;
  data.useIcon = 1;
  static std::size_t published = 0;
  sqlite3_stmt* insert = Prepare(entry.raw, "INSERT INTO items(folder, name, record) VALUES (1, ?1, ?2)");
  const std::string record = RecordBytes(entry.record_bytes, 2);
  for (auto _ : state) {
    Interleave(
        state, 7, 40,
        [&] {
          std::u16string name = Numbered(u"P-", ++published);
          std::u16string browser = u"b-" + name;
          data.objectName = name.data();
          data.browserName = browser.data();
          ZQWinAppObject* app = nullptr;
          const HRESULT result = farm.CreateZQWinApp(&data, &app);
          if (result != S_OK) {
            std::fprintf(stderr, "CreateZQWinApp: 0x%08X\n", static_cast<unsigned>(result));
            return false;
          }
          Release(farm, app);
          return true;
        },
        40,
        [&] {
          const std::string name = "P-" + std::to_string(++published);
          sqlite3_bind_text(insert, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
          sqlite3_bind_blob(insert, 2, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
          return StepDone(insert);
        });
  }
  sqlite3_finalize(insert);
  state.counters["record_bytes"] = static_cast<double>(entry.record_bytes);
}

void BM_Load(benchmark::State& state) {
  SizedFarm& entry = Sized(static_cast<std::size_t>(state.range(0)));
  FarmObject& farm = FarmOf(entry);
  std::vector<ZQWinAppObject*> apps = LoadPicked(farm, entry);
  sqlite3_stmt* select = Prepare(entry.raw, "SELECT folder, name, record FROM items WHERE id = ?1");
  std::string copy;
  std::size_t next_app = 0;
  std::size_t next_row = 0;
  for (auto _ : state) {
    Interleave(
        state, 7, 400, [&] { return apps[next_app++ % apps.size()]->Load() == S_OK; }, 400,
        [&] {
          sqlite3_bind_int64(select, 1, entry.raw_ids[next_row++ % entry.raw_ids.size()]);
          if (sqlite3_step(select) != SQLITE_ROW) return false;
          const auto* blob = static_cast<const char*>(sqlite3_column_blob(select, 2));
          copy.assign(blob, static_cast<std::size_t>(sqlite3_column_bytes(select, 2)));
          benchmark::DoNotOptimize(copy.data());
          sqlite3_reset(select);
          return true;
        });
  }
  sqlite3_finalize(select);
  for (ZQWinAppObject* app : apps) Release(farm, app);
}

void BM_Save(benchmark::State& state) {
  SizedFarm& entry = Sized(static_cast<std::size_t>(state.range(0)));
  FarmObject& farm = FarmOf(entry);
  std::vector<ZQWinAppObject*> apps = LoadPicked(farm, entry);
  std::u16string descriptions[] = {Filler().description, Filler().description};
  descriptions[1].back() = u'!';
  sqlite3_stmt* begin = Prepare(entry.raw, "BEGIN IMMEDIATE");
  sqlite3_stmt* update = Prepare(entry.raw, "UPDATE items SET record = ?2 WHERE id = ?1");
  sqlite3_stmt* event = Prepare(entry.raw, "INSERT INTO events(type, ids) VALUES (4353, ?1)");
  sqlite3_stmt* commit = Prepare(entry.raw, "COMMIT");
  const std::string records[] = {RecordBytes(entry.record_bytes, 4), RecordBytes(entry.record_bytes, 5)};
  std::size_t next_app = 0;
  std::size_t next_row = 0;
  // Both sides start without the rows in their connection's page cache:
  // the farm's writer has not read them (the farm reads through a
  // connection of its own), while the raw connection has when the Load line
  // ran before, on the same rows, and would otherwise start warm.
  Exec(entry.raw, "PRAGMA shrink_memory");
  for (auto _ : state) {
    Interleave(
        state, 7, 60,
        [&] {
          const std::size_t k = next_app++;
          ZQWinAppObject* app = apps[k % apps.size()];
          return app->SetDescription(descriptions[(k / apps.size()) & 1].data()) == S_OK && app->Save() == S_OK;
        },
        60,
        [&] {
          const std::size_t k = next_row++;
          const sqlite3_int64 id = entry.raw_ids[k % entry.raw_ids.size()];
          const std::string& record = records[(k / entry.raw_ids.size()) & 1];
          sqlite3_bind_int64(update, 1, id);
          sqlite3_bind_blob(update, 2, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
          sqlite3_bind_blob(event, 1, &id, sizeof(id), SQLITE_STATIC);
          return StepDone(begin) && StepDone(update) && sqlite3_changes(entry.raw) == 1 && StepDone(event) &&
                 StepDone(commit);
        });
  }
  for (sqlite3_stmt* statement : {begin, update, event, commit}) sqlite3_finalize(statement);
  for (ZQWinAppObject* app : apps) Release(farm, app);
}

// Per application listed.
void BM_EnumerateApps(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  SizedFarm& entry = Sized(apps);
  FarmObject& farm = FarmOf(entry);
  sqlite3_stmt* scan = Prepare(entry.raw, "SELECT id FROM items WHERE folder = 1");
  const int rounds = apps >= 100000 ? 3 : 7;
  const int ops = apps >= 10000 ? 1 : 10;
  std::size_t listed = 0;
  for (auto _ : state) {
    Interleave(
        state, rounds, ops,
        [&] {
          CommonObject** objects = nullptr;
          ULONG count = 0;
          if (farm.EnumerateApps(&objects, &count) != S_OK || count < apps) return false;
          listed = count;
          for (ULONG i = 0; i < count; ++i) Release(farm, objects[i]);
          farm.FreeMemory(objects);
          return true;
        },
        ops,
        [&] {
          std::size_t rows = 0;
          sqlite3_int64 sum = 0;
          while (sqlite3_step(scan) == SQLITE_ROW) {
            sum += sqlite3_column_int64(scan, 0);
            ++rows;
          }
          benchmark::DoNotOptimize(sum);
          sqlite3_reset(scan);
          return rows >= apps;
        });
  }
  sqlite3_finalize(scan);
  // Per application (releasing the objects is part of a listing's cost).
  for (const char* name : {"feroq_us", "raw_us", "feroq_cpu_us", "raw_cpu_us"}) {
    state.counters[name] = state.counters[name] / static_cast<double>(listed);
  }
}

// Per sibling examined: the folder's last application.
void BM_GetObjectByDN(benchmark::State& state) {
  const auto apps = static_cast<std::size_t>(state.range(0));
  SizedFarm& entry = Sized(apps);
  FarmObject& farm = FarmOf(entry);
  std::u16string dn = entry.last_app_dn;
  const int rounds = apps >= 100000 ? 3 : 5;
  const int ops = apps >= 10000 ? 1 : 10;
  for (auto _ : state) {
    Interleave(
        state, rounds, ops,
        [&] {
          CommonObject* found = nullptr;
          if (farm.GetObjectByDN(nullptr, dn.data(), &found) != S_OK || found == nullptr) return false;
          farm.FreeObject(found);
          return true;
        },
        0, {});
  }
  // Every child of the root is examined: the applications published by the
  // benchmarks before this one too.
  ULONG64* children = nullptr;
  ULONG count = 0;
  Require(BenchFarm::Use("sqlite:" + entry.farm_path).folders().EnumerateFolder(entry.root, &children, count) == 0,
          "the root folder's children");
  BenchFarm::Use("sqlite:" + entry.farm_path).folders().FreeMemory(reinterpret_cast<unsigned char*>(children));
  state.counters["siblings"] = count;
  state.counters["lookup_us"] = state.counters["feroq_us"];
  state.counters["feroq_us"] = state.counters["feroq_us"] / static_cast<double>(count);
  state.counters["feroq_cpu_us"] = state.counters["feroq_cpu_us"] / static_cast<double>(count);
}

void BM_GetObjectByDN3Levels(benchmark::State& state) {
  SizedFarm& entry = Sized(static_cast<std::size_t>(state.range(0)));
  FarmObject& farm = FarmOf(entry);
  std::u16string dn = u"\\Applications\\Deep\\Deeper\\Target";
  // A first lookup sizes the batches: the whole run stays within seconds.
  const double first = TimeBatch(1, [&] {
    CommonObject* found = nullptr;
    if (farm.GetObjectByDN(nullptr, dn.data(), &found) != S_OK || found == nullptr) return false;
    farm.FreeObject(found);
    return true;
  }).wall;
  const int ops = first > 0 ? static_cast<int>(std::clamp(0.05 / first, 1.0, 200.0)) : 1;
  for (auto _ : state) {
    Interleave(
        state, first > 0.1 ? 3 : 7, ops,
        [&] {
          CommonObject* found = nullptr;
          if (farm.GetObjectByDN(nullptr, dn.data(), &found) != S_OK || found == nullptr) return false;
          farm.FreeObject(found);
          return true;
        },
        0, {});
  }
}

// ---- The tool, one process per command ------------------------------------------------

bool Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  rusage used{};
  if (wait4(child, &status, 0, &used) != child) return false;
  g_tool_cpu_seconds += static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
                        (used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

void BM_ToolFarmInfo(benchmark::State& state) {
  SizedFarm& entry = Sized(1000);
  BenchFarm::CloseCurrent();
  const std::vector<std::string> info = {FEROQ_TOOL_PATH, "--farm", "sqlite:" + entry.farm_path, "farm", "info"};
  const std::vector<std::string> nothing = {"/bin/true"};
  for (auto _ : state) {
    Interleave(state, 15, 2, [&] { return Run(info); }, 2, [&] { return Run(nothing); });
  }
}

void BM_ToolAppPublish(benchmark::State& state) {
  SizedFarm& entry = Sized(1000);
  BenchFarm::CloseCurrent();
  const std::string description = Narrow(Filler().description);
  const std::string program = Narrow(Filler().program);
  const std::string directory = Narrow(Filler().directory);
  const std::string record = std::string(entry.record_bytes, 'r');
  std::size_t published = 0;
  for (auto _ : state) {
    Interleave(
        state, 15, 2,
        [&] {
          const std::string name = "T-" + std::to_string(++published);
          return Run({FEROQ_TOOL_PATH, "--farm", "sqlite:" + entry.farm_path, "app", "publish", "--name", name,
                      "--browser-name", "b-" + name, "--program", program, "--dir", directory, "--description",
                      description});
        },
        2,
        [&] {
          return Run({"/usr/bin/sqlite3", entry.raw_path,
                      "INSERT INTO items(folder, name, record) VALUES (1, 'T-" + std::to_string(++published) +
                          "', CAST('" + record + "' AS BLOB));"});
        });
  }
}

// 1,000 definition files, exported once from the 1,000 farm.
const std::string& DefinitionDir() {
  static const std::string dir = [] {
    SizedFarm& entry = Sized(1000);
    BenchFarm::CloseCurrent();
    const std::string out = BenchTempDir() + "/definitions";
    Require(Run({FEROQ_TOOL_PATH, "--farm", "sqlite:" + entry.farm_path, "export-all", out}), "exporting");
    return out;
  }();
  return dir;
}

void BM_ToolImport(benchmark::State& state) {
  const std::string& definitions = DefinitionDir();
  std::vector<std::string> files;
  for (const auto& item : fs::recursive_directory_iterator(definitions)) {
    if (item.is_regular_file() && item.path().extension() == ".def") files.push_back(item.path().string());
  }
  std::sort(files.begin(), files.end());
  if (files.size() > 1000) files.resize(1000);
  const std::string empty_farm = BenchTempDir() + "/import-empty.db";
  BenchFarm::CloseCurrent();
  Require(Run({FEROQ_TOOL_PATH, "--farm", "sqlite:" + empty_farm, "farm", "init"}), "making an empty farm");
  const std::string farm_path = BenchTempDir() + "/import.db";
  const std::string raw_path = BenchTempDir() + "/import-raw.db";
  for (auto _ : state) {
    Interleave(
        state, 3, 1,
        [&] {
          for (const char* suffix : {"", "-wal", "-shm", "-wake"}) fs::remove(farm_path + suffix);
          fs::copy_file(empty_farm, farm_path);
          std::vector<std::string> args = {FEROQ_TOOL_PATH, "--farm", "sqlite:" + farm_path, "import",
                                           "--create-folders"};
          args.insert(args.end(), files.begin(), files.end());
          return Run(args);
        },
        1,
        [&] {
          for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(raw_path + suffix);
          sqlite3* db = OpenRaw(raw_path);
          Exec(db, "BEGIN");
          sqlite3_stmt* insert = Prepare(db, "INSERT INTO items(folder, name, record) VALUES (1, ?1, ?2)");
          bool ok = true;
          for (const std::string& file : files) {
            std::ifstream in(file, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            const std::string content = bytes.str();
            sqlite3_bind_text(insert, 1, file.data(), static_cast<int>(file.size()), SQLITE_STATIC);
            sqlite3_bind_blob(insert, 2, content.data(), static_cast<int>(content.size()), SQLITE_STATIC);
            ok = ok && StepDone(insert);
          }
          sqlite3_finalize(insert);
          Exec(db, "COMMIT");
          sqlite3_close(db);
          return ok;
        });
  }
  state.counters["files"] = static_cast<double>(files.size());
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1000)->Arg(10000)->Arg(100000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
}
void Once(benchmark::internal::Benchmark* b) { b->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond); }

BENCHMARK(BM_Publish)->Apply(Sizes);
BENCHMARK(BM_Load)->Apply(Sizes);
BENCHMARK(BM_Save)->Apply(Sizes);
BENCHMARK(BM_EnumerateApps)->Apply(Sizes);
BENCHMARK(BM_GetObjectByDN)->Apply(Sizes);
BENCHMARK(BM_GetObjectByDN3Levels)->Arg(100000)->Apply(Once);
BENCHMARK(BM_ToolFarmInfo)->Apply(Once);
BENCHMARK(BM_ToolAppPublish)->Apply(Once);
BENCHMARK(BM_ToolImport)->Apply(Once);

}  // namespace
}  // namespace feroq::bench
