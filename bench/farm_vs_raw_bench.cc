// The SQLite farm beside the raw SQLite statements that bound it, measured
// in one process and interleaved (a batch of the farm's operation, then a
// batch of the raw statement, round after round, so that both see the same
// machine load), with records of about 2 KB on both sides, in farms of
// 1,000, 10,000 and 100,000 applications in one folder:
//
//   publish (CreateZQWinApp)  vs  one autocommit INSERT of the same row
//   the floor under publish   vs  the same INSERT: no farm, only the
//                                 smallest transaction with a publish's
//                                 guarantees (BEGIN, INSERT of the row under
//                                 both unique name keys, INSERT of the event
//                                 row, COMMIT)
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
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/bench_farm.h"
#include "support/interleaved_timing.h"
#include "support/raw_sqlite.h"
#include "support/sized_farms.h"

namespace feroq::bench {
namespace {

namespace fs = std::filesystem;

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
  sqlite3_stmt* insert = Prepare(entry.raw, kInsertItem);
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
          return InsertItem(insert, "P-" + std::to_string(++published), record);
        });
  }
  sqlite3_finalize(insert);
  state.counters["record_bytes"] = static_cast<double>(entry.record_bytes);
}

// The floor under publish: no farm at all, only the smallest transaction
// that keeps a publish's guarantees (the row with both name keys under
// their unique indexes, and the event row, committed together), timed
// where the farm's publish is, beside the same autocommit INSERT. Its
// of_raw is the best a publish could reach.
void BM_PublishFloor(benchmark::State& state) {
  SizedFarm& entry = Sized(static_cast<std::size_t>(state.range(0)));
  sqlite3_stmt* begin = Prepare(entry.raw, "BEGIN IMMEDIATE");
  sqlite3_stmt* guarded = Prepare(entry.raw, kInsertGuarded);
  sqlite3_stmt* event = Prepare(entry.raw, "INSERT INTO events(type, ids) VALUES (4353, ?1)");
  sqlite3_stmt* commit = Prepare(entry.raw, "COMMIT");
  sqlite3_stmt* insert = Prepare(entry.raw, kInsertItem);
  const std::string record = RecordBytes(entry.record_bytes, 2);
  static std::size_t published = 0;
  for (auto _ : state) {
    Interleave(
        state, 7, 40,
        [&] {
          const std::string name = "F-" + std::to_string(++published);
          const sqlite3_int64 id = static_cast<sqlite3_int64>(published);
          sqlite3_bind_blob(event, 1, &id, sizeof(id), SQLITE_STATIC);
          return StepDone(begin) && InsertGuarded(guarded, name, record) && StepDone(event) && StepDone(commit);
        },
        40,
        [&] {
          return InsertItem(insert, "F-" + std::to_string(++published), record);
        });
  }
  for (sqlite3_stmt* statement : {begin, guarded, event, commit, insert}) sqlite3_finalize(statement);
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
BENCHMARK(BM_PublishFloor)->Apply(Sizes);
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
