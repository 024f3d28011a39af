// Farms for the benchmarks: opening one, seeding it quickly, and the shapes
// of farm the benchmarks measure (flat farms of N applications, the
// 20-siblings-a-level chain, the 500-folder tree).
//
// The services connect a process to one farm at a time (FEROQ_FARM is read
// when the first farm object opens the connection), so the benchmarks go
// through BenchFarm::Use, which keeps at most one farm open and switches
// only when another is asked for. Memory farms live for the whole process;
// a seeding function runs once per farm name and process.
//
// Seeding goes through the services (ZQAppSAL::Write, the folder service) or,
// for farm files, through one store transaction (SeedSqliteFarmFile), never
// through the measured calls.
#ifndef FEROQ_BENCH_SUPPORT_BENCH_FARM_H_
#define FEROQ_BENCH_SUPPORT_BENCH_FARM_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "feroq/services/directory_services.h"
#include "feroq/feroq.h"
#include "feroq/services/zqapp.h"
#include "services/store/farm_store.h"

namespace feroq::bench {

// Application identifiers carry kind 9 in bits 32 to 47.
constexpr ULONG64 kApplicationKind = 9;
inline ULONG64 ApplicationId(ULONG serial) { return (kApplicationKind << 32) | serial; }

// Gives back one reference to an object of any class of the model.
template <typename T>
void Release(FarmObject& farm, T* object) {
  CommonObject* handle = object;
  if (handle != nullptr) farm.FreeObject(handle);
}

// One open farm: a farm object connected to it and its services.
class BenchFarm {
 public:
  // The farm at `url` ("memory:NAME" or "sqlite:PATH"), opened through a
  // new farm object. The first time a url is used in this process, `seed`
  // (if any) runs on it; a memory farm is emptied first. Closes the farm
  // open before when it is another one. Aborts the process when the farm
  // cannot be opened or seeded (a benchmark cannot go on without it).
  static BenchFarm& Use(const std::string& url, const std::function<void(BenchFarm&)>& seed = {});
  // Closes the open farm, if any (its farm object is destroyed).
  static void CloseCurrent();

  explicit BenchFarm(const std::string& url);
  ~BenchFarm();
  BenchFarm(const BenchFarm&) = delete;
  BenchFarm& operator=(const BenchFarm&) = delete;

  FarmObject& farm() { return *farm_; }
  ZQAppSAL& apps() { return *static_cast<ZQAppSAL*>(farm_->GetZQWinAppSAL()); }
  VORNCommonApplicationSAL& folders() {
    return *static_cast<VORNCommonApplicationSAL*>(farm_->GetAppFolderSAL());
  }
  const std::string& url() const { return url_; }

  ULONG64 Root();
  ULONG64 CreateFolder(ULONG64 parent, const std::u16string& name);
  // Publishes an application through ZQAppSAL::Write: display name `name`,
  // browser name "b-" + name, an initial program and a description.
  ULONG64 PublishApp(ULONG64 folder, const std::u16string& name);
  // `count` applications named prefix + index in `folder`.
  std::vector<ULONG64> PublishApps(ULONG64 folder, std::size_t count, const std::u16string& prefix);

 private:
  std::string url_;
  std::unique_ptr<FarmObject> farm_;
};

// The chain the lookup benchmarks walk: `depth` levels of folders below the
// root, `siblings` folders at each level named L<level>-<index>, the walk
// going down the last sibling of each level (so that every level's siblings
// are examined); the deepest folder on the walk holds `siblings`
// applications named A-<index>.
struct FolderChain {
  std::vector<ULONG64> walk;            // the folders on the walk, top down
  std::vector<ULONG64> deepest_apps;    // the applications of the deepest folder
  std::u16string deepest_folder_dn;     // \Applications\L1-..\...\L<depth>-..
  std::u16string last_app_dn;           // deepest_folder_dn + \A-<siblings-1>
};
FolderChain BuildFolderChain(BenchFarm& farm, int depth, int siblings);

// The farm shape of the object-model issue: `apps` applications spread
// evenly over `folder_count` folders that form a tree `depth` levels deep
// (each level twice as wide as the one above, the last level taking the
// rest). The names are unique over the farm.
struct FolderTree {
  std::vector<ULONG64> folders;           // every folder, top down
  std::vector<ULONG64> apps;
  std::vector<std::u16string> app_dns;    // the distinguished name of each app
};
FolderTree BuildFolderTree(BenchFarm& farm, std::size_t folder_count, int depth, std::size_t apps);

// Creates (or replaces) the farm file at `path` holding a new farm with
// `apps` applications S-0, S-1, ... in its root folder, written in one store
// transaction, each record as PublishApp would make it, or a copy of
// `pattern` (under its own names) when one is given. Aborts on failure.
void SeedSqliteFarmFile(const std::string& path, std::size_t apps,
                        const store::AppRecordData* pattern = nullptr);

// The number of objects the farm object's registry holds.
std::size_t RegistrySize(FarmObject& farm);

// A fresh directory under $TMPDIR (or /tmp) for this process's files,
// removed at exit.
const std::string& BenchTempDir();

// "prefix" + decimal `index` as a wide string.
std::u16string Numbered(const std::u16string& prefix, std::size_t index);

// Exits with a message when `ok` is false (setup must not fail silently).
void Require(bool ok, const char* what);

}  // namespace feroq::bench

#endif  // FEROQ_BENCH_SUPPORT_BENCH_FARM_H_
