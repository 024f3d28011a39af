#include "support/bench_farm.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "farm/object_id_map.h"
#include "feroq/services/farm_admin.h"
#include "services/store/farm_store.h"
#include "services/store/sqlite_farm_store.h"

namespace feroq::bench {
namespace {

constexpr char16_t kProgram[] = u"C:\\Programs\\Benchmark\\app.exe";
constexpr char16_t kDescription[] = u"An application published for the benchmarks";

BenchFarm*& Current() {
  static BenchFarm* current = nullptr;
  return current;
}

std::set<std::string>& PreparedUrls() {
  static auto* prepared = new std::set<std::string>;
  return *prepared;
}

void RemoveTempDir() {
  BenchFarm::CloseCurrent();
  std::error_code ignored;
  std::filesystem::remove_all(BenchTempDir(), ignored);
}

}  // namespace

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "benchmark setup failed: %s\n", what);
  std::_Exit(2);
}

std::u16string Numbered(const std::u16string& prefix, std::size_t index) {
  std::u16string text = prefix;
  const std::string digits = std::to_string(index);
  text.append(digits.begin(), digits.end());
  return text;
}

const std::string& BenchTempDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != 0 ? base : "/tmp") + "/feroq-bench-XXXXXX";
    Require(mkdtemp(pattern.data()) != nullptr, "temporary directory");
    return pattern;
  }();
  static const bool registered = [] { return std::atexit(RemoveTempDir) == 0; }();
  (void)registered;
  return dir;
}

BenchFarm& BenchFarm::Use(const std::string& url, const std::function<void(BenchFarm&)>& seed) {
  BenchFarm*& current = Current();
  if (current != nullptr && current->url() == url) return *current;
  CloseCurrent();
  const bool first_use = PreparedUrls().insert(url).second;
  if (first_use && url.rfind("memory:", 0) == 0) {
    Require(feroq::admin::ResetMemoryFarm(url.substr(7)) == 0, "emptying a memory farm");
  }
  current = new BenchFarm(url);
  if (first_use && seed) seed(*current);
  return *current;
}

void BenchFarm::CloseCurrent() {
  BenchFarm*& current = Current();
  delete current;
  current = nullptr;
}

BenchFarm::BenchFarm(const std::string& url) : url_(url) {
  Require(setenv("FEROQ_FARM", url.c_str(), 1) == 0, "setting FEROQ_FARM");
  farm_ = std::make_unique<FarmObject>();
  char16_t* name = nullptr;
  Require(farm_->GetFarmName(&name) == S_OK, "opening the farm");
  farm_->FreeMemory(name);
}

BenchFarm::~BenchFarm() = default;

ULONG64 BenchFarm::Root() {
  ULONG64 root = 0;
  Require(folders().GetRootFolderID(root) == 0, "root folder");
  return root;
}

ULONG64 BenchFarm::CreateFolder(ULONG64 parent, const std::u16string& name) {
  std::u16string copy = name;
  ULONG64 created = 0;
  Require(folders().CreateFolder(parent, copy.data(), created) == 0, "creating a folder");
  return created;
}

ULONG64 BenchFarm::PublishApp(ULONG64 folder, const std::u16string& name) {
  ZQApp record;
  Require(record.Initialize(kZQAppCurrentVersion) == 0, "record version");
  VORNString friendly(name.c_str());
  const std::u16string browser = u"b-" + name;
  VORNString browser_name(browser.c_str());
  VORNString program(kProgram);
  VORNString description(kDescription);
  Require(record.SetFriendlyName(friendly) == 0 && record.SetBrowserName(browser_name) == 0 &&
              record.SetDefaultInitialProgram(program) == 0 && record.SetDescription(description) == 0 &&
              record.SetCommonAppFolder(folder) == 0,
          "filling a record");
  ULONG64 id = 0;
  Require(apps().Write(id, record, nullptr) == 0, "publishing an application");
  return id;
}

std::vector<ULONG64> BenchFarm::PublishApps(ULONG64 folder, std::size_t count, const std::u16string& prefix) {
  std::vector<ULONG64> ids;
  ids.reserve(count);
  for (std::size_t i = 0; i < count; ++i) ids.push_back(PublishApp(folder, Numbered(prefix, i)));
  return ids;
}

FolderChain BuildFolderChain(BenchFarm& farm, int depth, int siblings) {
  FolderChain chain;
  std::u16string dn = u"\\Applications";
  ULONG64 parent = farm.Root();
  for (int level = 1; level <= depth; ++level) {
    const std::u16string prefix = Numbered(u"L", level) + u"-";
    ULONG64 last = 0;
    for (int i = 0; i < siblings; ++i) last = farm.CreateFolder(parent, Numbered(prefix, i));
    chain.walk.push_back(last);
    dn += u"\\" + Numbered(prefix, siblings - 1);
    parent = last;
  }
  chain.deepest_apps = farm.PublishApps(parent, siblings, u"A-");
  chain.deepest_folder_dn = dn;
  chain.last_app_dn = dn + u"\\" + Numbered(u"A-", siblings - 1);
  return chain;
}

FolderTree BuildFolderTree(BenchFarm& farm, std::size_t folder_count, int depth, std::size_t apps) {
  Require(folder_count >= static_cast<std::size_t>(depth) && depth > 0, "tree shape");
  FolderTree tree;
  std::vector<std::u16string> folder_dns;
  std::vector<ULONG64> above{farm.Root()};
  std::vector<std::u16string> above_dns{u"\\Applications"};
  std::size_t remaining = folder_count;
  std::size_t width = 1;
  for (int level = 1; level <= depth; ++level) {
    const std::size_t levels_after = static_cast<std::size_t>(depth - level);
    width *= 2;
    const std::size_t this_level = level == depth ? remaining : std::min(width, remaining - levels_after);
    std::vector<ULONG64> made;
    std::vector<std::u16string> made_dns;
    for (std::size_t i = 0; i < this_level; ++i) {
      const std::size_t parent = i % above.size();
      const std::u16string name = Numbered(Numbered(u"F", level) + u"-", i);
      made.push_back(farm.CreateFolder(above[parent], name));
      made_dns.push_back(above_dns[parent] + u"\\" + name);
    }
    tree.folders.insert(tree.folders.end(), made.begin(), made.end());
    folder_dns.insert(folder_dns.end(), made_dns.begin(), made_dns.end());
    remaining -= this_level;
    above = std::move(made);
    above_dns = std::move(made_dns);
  }
  for (std::size_t k = 0; k < apps; ++k) {
    const std::size_t folder = k % tree.folders.size();
    const std::u16string name = Numbered(u"T-", k);
    tree.apps.push_back(farm.PublishApp(tree.folders[folder], name));
    tree.app_dns.push_back(folder_dns[folder] + u"\\" + name);
  }
  return tree;
}

void SeedSqliteFarmFile(const std::string& path, std::size_t apps, const store::AppRecordData* pattern) {
  if (Current() != nullptr && Current()->url() == "sqlite:" + path) BenchFarm::CloseCurrent();
  for (const char* suffix : {"", "-wal", "-shm", "-wake"}) std::remove((path + suffix).c_str());
  std::shared_ptr<store::FarmStore> file;
  Require(store::OpenSqliteFarmStore(path, &file) == 0, "creating a farm file");
  const VSTATUS status = file->Write([&](store::FarmTxn& txn) -> VSTATUS {
    store::InitializeNewFarm(txn);
    const ULONG64 root = txn.RootFolderId();
    for (std::size_t i = 0; i < apps; ++i) {
      store::ApplicationRecord row;
      row.id = txn.AllocateId(static_cast<ULONG>(kApplicationKind));
      row.folder_id = root;
      if (pattern != nullptr) row.data = *pattern;
      row.data.version = kZQAppCurrentVersion;
      row.data.friendly_name = Numbered(u"S-", i);
      row.data.browser_name = u"b-" + row.data.friendly_name;
      if (pattern == nullptr) {
        row.data.initial_program = kProgram;
        row.data.description = kDescription;
      }
      txn.PutApplication(row);
    }
    return 0;
  });
  Require(status == 0, "seeding a farm file");
}

std::size_t RegistrySize(FarmObject& farm) {
  auto* map = static_cast<feroq::ObjectIdMap*>(farm.GetObjectIDMap());
  return map == nullptr ? 0 : map->entries.size();
}

}  // namespace feroq::bench
