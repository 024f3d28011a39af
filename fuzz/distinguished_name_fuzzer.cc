// Fuzzes lookup by distinguished name (FarmObject::GetObjectByDN and
// GetAppByDN) against a memory farm seeded once.
//
// Input: byte 0 picks the start folder (0 and every multiple of the number
// of seeded folders plus one: none; otherwise one of the seeded folders);
// the rest is the name as UTF-16LE (an odd last byte is dropped, a NUL ends
// the name early, as it would for the caller).
//
// Checked on every input, besides the sanitizers:
// - GetObjectByDN answers S_OK, S_FALSE or E_INVALIDARG, and writes its
//   output only on S_OK;
// - an object found other than the root folder (whose name the builder
//   cannot make: the root has no parent to start from) gives back a name
//   that, looked up from no start folder, finds the same object (the seeded
//   names hold no separator and are unique among their siblings, so every
//   object has one name);
// - GetAppByDN finds an application exactly when the name is one of the
//   application names the library builds, and then that application;
// - afterwards the registry holds what it held before and the platform heap
//   has as many live blocks as before: every reference and block handed out
//   on the way was given back.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "feroq/app_folder_object.h"
#include "feroq/services/farm_admin.h"
#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"
#include "fuzz_support.h"
#include "platform/platform.h"

namespace {

using feroq::fuzzing::AddFolder;
using feroq::fuzzing::AppSeed;
using feroq::fuzzing::DistinguishedNameOf;
using feroq::fuzzing::Narrow;
using feroq::fuzzing::PublishApp;
using feroq::fuzzing::ReleaseObject;

constexpr char kTarget[] = "distinguished_name_fuzzer";
constexpr char kFarmUrl[] = "memory:dn-fuzz";

struct SeededFarm {
  std::unique_ptr<FarmObject> farm;
  std::vector<ULONG64> folders;                  // start folder candidates, the root first
  std::map<std::u16string, ULONG64> app_names;  // every application's name
};

SeededFarm* the_farm = nullptr;

[[noreturn]] void Fail(const std::string& what, const std::u16string& dn) {
  feroq::fuzzing::Fail(kTarget, what + " (name \"" + Narrow(dn) + "\")");
}

// Applications / Office / Tools / {Editor, Viewer}, Office / {Report,
// Editor}, a folder named like the root, names with non-ASCII and
// surrogate pairs, a blank name, a chain of folders, and applications in the
// root. Display names are the applications' object names.
void Seed(SeededFarm& seeded) {
  FarmObject& farm = *seeded.farm;
  const ULONG64 office = AddFolder(farm, u"Office");
  const ULONG64 tools = AddFolder(farm, u"Tools", office);
  const ULONG64 same_as_root = AddFolder(farm, u"Applications");
  const ULONG64 unicode = AddFolder(farm, u"\u00DCbersicht \u65E5\u672C \U0001F600");
  const ULONG64 blank = AddFolder(farm, u" ");
  ULONG64 chain = unicode;
  std::vector<ULONG64> chain_folders;
  for (char16_t level = u'1'; level <= u'4'; ++level) {
    chain = AddFolder(farm, std::u16string(u"Level") + level, chain);
    chain_folders.push_back(chain);
  }
  seeded.folders = {feroq::fuzzing::RootFolderId(farm), office, tools, same_as_root, unicode, blank};
  seeded.folders.insert(seeded.folders.end(), chain_folders.begin(), chain_folders.end());

  const std::vector<std::pair<std::u16string, ULONG64>> apps = {
      {u"Editor", tools},   {u"Viewer", tools},  {u"Report", office}, {u"Office Editor", office},
      {u"Calc", 0},         {u"Tools", 0},       {u"Deep", chain},    {u"Applications", same_as_root},
      {u"\u00E9t\u00E9", blank}, {u"x", unicode},
  };
  for (const auto& [name, folder] : apps) {
    AppSeed app;
    app.display_name = name;
    app.folder = folder;
    PublishApp(farm, app);
  }

  // The names the library builds for the applications.
  CommonObject** listed = nullptr;
  ULONG count = 0;
  if (farm.EnumerateApps(&listed, &count) != S_OK || count != apps.size()) {
    Fail("the seeded applications cannot be listed", u"");
  }
  for (ULONG i = 0; i < count; ++i) {
    auto* app = static_cast<ZQWinAppObject*>(listed[i]);
    HRESULT result = app->Load();
    const std::u16string dn = result == S_OK ? DistinguishedNameOf(farm, app, &result) : u"";
    if (result != S_OK || dn.empty()) Fail("a seeded application has no name", u"");
    ULONG64 id = 0;
    app->GetObjectID(id);
    seeded.app_names[dn] = id;
    ReleaseObject(farm, app);
  }
  farm.FreeMemory(listed);
}

// Looks `dn` up from no start folder; the identifier found (0 for none).
ULONG64 LookUpFromRoot(FarmObject& farm, std::u16string dn) {
  CommonObject* found = nullptr;
  if (farm.GetObjectByDN(nullptr, dn.data(), &found) != S_OK || found == nullptr) return 0;
  ULONG64 id = 0;
  found->GetObjectID(id);
  ReleaseObject(farm, found);
  return id;
}

void CheckObjectLookup(SeededFarm& seeded, FolderObject* start, const std::u16string& dn) {
  FarmObject& farm = *seeded.farm;
  std::u16string copy = dn;
  auto* const kUnwritten = reinterpret_cast<CommonObject*>(0x10);
  CommonObject* found = kUnwritten;
  const HRESULT result = farm.GetObjectByDN(start, copy.data(), &found);
  if (copy != dn) Fail("GetObjectByDN changed the caller's name", dn);
  if (result != S_OK) {
    if (result != S_FALSE && result != E_INVALIDARG) Fail("GetObjectByDN answered an unexpected code", dn);
    if (found != kUnwritten) Fail("GetObjectByDN wrote its output on failure", dn);
    return;
  }
  if (found == kUnwritten) Fail("GetObjectByDN answered S_OK without writing its output", dn);
  if (found == nullptr) return;
  ULONG64 id = 0;
  found->GetObjectID(id);
  HRESULT named = S_OK;
  const std::u16string canonical = DistinguishedNameOf(farm, found, &named);
  ReleaseObject(farm, found);
  if (named != S_OK) {
    // The root folder's parent is none, so the folder service names no
    // folder for the builder to start from: the root has no name of its own.
    if (id == seeded.folders.front()) return;
    Fail("an object found has no distinguished name", dn);
  }
  if (LookUpFromRoot(farm, canonical) != id) {
    Fail("the name of the object found (\"" + Narrow(canonical) + "\") finds another object", dn);
  }
}

void CheckAppLookup(SeededFarm& seeded, const std::u16string& dn) {
  FarmObject& farm = *seeded.farm;
  std::u16string copy = dn;
  ZQWinAppObject* app = nullptr;
  const HRESULT result = farm.GetAppByDN(copy.data(), &app);
  const auto known = seeded.app_names.find(dn);
  if (known == seeded.app_names.end()) {
    if (result != E_INVALIDARG || app != nullptr) {
      ReleaseObject(farm, app);
      Fail("GetAppByDN found an application for a name no application has", dn);
    }
    return;
  }
  if (result != S_OK || app == nullptr) Fail("GetAppByDN missed an application's own name", dn);
  ULONG64 id = 0;
  app->GetObjectID(id);
  ReleaseObject(farm, app);
  if (id != known->second) Fail("GetAppByDN found another application", dn);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
#if defined(_WIN32)
  _putenv_s("FEROQ_FARM", kFarmUrl);
#else
  setenv("FEROQ_FARM", kFarmUrl, 1);
#endif
  if (feroq::admin::ResetMemoryFarm("dn-fuzz") != 0) Fail("the memory farm cannot be made", u"");
  the_farm = new SeededFarm;
  the_farm->farm = std::make_unique<FarmObject>();
  Seed(*the_farm);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  SeededFarm& seeded = *the_farm;
  FarmObject& farm = *seeded.farm;

  std::u16string dn;
  for (std::size_t i = 1; i + 1 < size; i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0) break;
    dn += unit;
  }

  const std::size_t registry_before = feroq::fuzzing::RegistrySize(farm);
  const std::int64_t blocks_before = feroq::platform::LiveHeapBlocks();
  {
    const std::size_t choice = data[0] % (seeded.folders.size() + 1);
    AppFolderObject* start = nullptr;
    if (choice > 0) {
      ULONG64 id = seeded.folders[choice - 1];
      if (farm.CreateAppFolderObject(id, &start, 0) != S_OK) Fail("a seeded folder cannot be had", dn);
    }
    CheckObjectLookup(seeded, start, dn);
    ReleaseObject(farm, start);
    CheckAppLookup(seeded, dn);
  }
  if (feroq::fuzzing::RegistrySize(farm) != registry_before) {
    Fail("the registry holds " + std::to_string(feroq::fuzzing::RegistrySize(farm)) +
             " objects after the lookups, " + std::to_string(registry_before) + " before: " +
             feroq::fuzzing::RegistryContents(farm),
         dn);
  }
  if (feroq::platform::LiveHeapBlocks() != blocks_before) {
    Fail(std::to_string(feroq::platform::LiveHeapBlocks() - blocks_before) +
             " platform heap blocks left allocated by the lookups",
         dn);
  }
  return 0;
}
