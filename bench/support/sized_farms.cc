#include "support/sized_farms.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <utility>

#include "services/store/farm_store.h"
#include "services/store/sqlite_farm_store.h"
#include "support/raw_sqlite.h"

namespace feroq::bench {
namespace {

namespace fs = std::filesystem;

store::AppRecordData FillerRecord() {
  store::AppRecordData record;
  record.description = Filler().description;
  record.initial_program = Filler().program;
  record.work_directory = Filler().directory;
  const auto* icon = reinterpret_cast<const BYTE*>(&Filler().icon);
  record.icon.assign(icon, icon + sizeof(_ZQWinAppIcon));
  return record;
}

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
  const std::string record = RecordBytes(record_bytes, 1);
  // One table after the other, so that each lies in pages of its own.
  for (auto [sql, insert] : {std::pair{kInsertItem, &InsertItem}, std::pair{kInsertGuarded, &InsertGuarded}}) {
    sqlite3_stmt* statement = Prepare(db, sql);
    for (std::size_t i = 0; i < rows; ++i) Require(insert(statement, "S-" + std::to_string(i), record), "seeding");
    sqlite3_finalize(statement);
  }
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

}  // namespace

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

SizedFarm& Sized(std::size_t apps) {
  static std::map<std::size_t, SizedFarm> farms;
  auto found = farms.find(apps);
  if (found != farms.end()) return found->second;
  SizedFarm& entry = farms[apps];
  // Appended rather than "v" + ...: GCC 12 at -O3 warns of an overlapping
  // copy inside std::string that cannot happen.
  const std::string tag = std::string("v").append(std::to_string(SchemaVersion())) + "-" + std::to_string(apps);
  entry.farm_path = BenchTempDir() + "/farm-" + std::to_string(apps) + ".db";
  FromCache("farm-" + tag + ".db", entry.farm_path, [apps](const std::string& path) { SeedFarm(path, apps); });
  entry.record_bytes = FarmRecordBytes(entry.farm_path);
  entry.raw_path = BenchTempDir() + "/raw-" + std::to_string(apps) + ".db";
  FromCache("raw2-" + std::to_string(entry.record_bytes) + "-" + std::to_string(apps) + ".db", entry.raw_path,
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

}  // namespace feroq::bench
