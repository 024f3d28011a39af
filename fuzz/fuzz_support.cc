#include "fuzz_support.h"

#include <dirent.h>

#include <cstdio>
#include <cstdlib>

#include "farm/object_id_map.h"
#include "feroq/services/directory_services.h"
#include "feroq/services/zqapp.h"
#include "platform/platform.h"

namespace feroq::fuzzing {

void Fail(const char* target, const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", target, what.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string Narrow(const std::u16string& text) {
  std::string out;
  feroq::platform::AppendUtf16AsUtf8(text.data(), text.size(), &out, true);
  return out;
}

namespace {

void Require(VSTATUS status, const std::string& doing) {
  if (status != 0) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
    Fail("farm seeding", doing + " refused with " + code);
  }
}

}  // namespace

ULONG64 RootFolderId(FarmObject& farm) {
  auto* folders = static_cast<VORNCommonApplicationSAL*>(farm.GetAppFolderSAL());
  if (folders == nullptr) Fail("farm seeding", "the farm object has no folder service");
  ULONG64 root = 0;
  Require(folders->GetRootFolderID(root), "GetRootFolderID");
  return root;
}

ULONG64 AddFolder(FarmObject& farm, const std::u16string& name, ULONG64 parent) {
  auto* folders = static_cast<VORNCommonApplicationSAL*>(farm.GetAppFolderSAL());
  if (parent == 0) parent = RootFolderId(farm);
  std::u16string copy = name;
  ULONG64 created = 0;
  Require(folders->CreateFolder(parent, copy.data(), created), "creating folder " + Narrow(name));
  return created;
}

ULONG64 PublishApp(FarmObject& farm, const AppSeed& seed) {
  auto* store = static_cast<ZQAppSAL*>(farm.GetZQWinAppSAL());
  const std::string what = "publishing " + Narrow(seed.display_name);
  ZQApp record;
  Require(record.Initialize(kZQAppCurrentVersion), what);
  VORNString friendly(seed.display_name.c_str());
  const std::u16string browser_text = u"b-" + seed.display_name;
  VORNString browser(browser_text.c_str());
  VORNString program(u"C:\\Programs\\app.exe");
  VORNString description(seed.description.c_str());
  Require(record.SetFriendlyName(friendly), what);
  Require(record.SetBrowserName(browser), what);
  Require(record.SetDefaultInitialProgram(program), what);
  Require(record.SetDescription(description), what);
  Require(record.SetCommonAppFolder(seed.folder == 0 ? RootFolderId(farm) : seed.folder), what);
  for (ULONG64 server : seed.servers) {
    _ZQAPP_SERVER_CONFIG config;
    config.flags = 0;
    Require(record.AddServer(server, config), what);
  }
  for (const std::u16string& dn : seed.users) {
    VORNString name(dn.c_str());
    Require(record.AddUser(name), what);
  }
  ULONG64 id = 0;
  Require(store->Write(id, record, nullptr), what);
  return id;
}

std::size_t RegistrySize(FarmObject& farm) {
  auto* map = static_cast<feroq::ObjectIdMap*>(farm.GetObjectIDMap());
  return map == nullptr ? 0 : map->entries.size();
}

std::string RegistryContents(FarmObject& farm) {
  auto* map = static_cast<feroq::ObjectIdMap*>(farm.GetObjectIDMap());
  std::string text;
  if (map == nullptr) return text;
  for (const auto& [id, object] : map->entries) {
    char entry[96];
    std::snprintf(entry, sizeof entry, "%s0x%016llX (kind %u, count %u)", text.empty() ? "" : ", ",
                  static_cast<unsigned long long>(id), static_cast<unsigned>(ObjectKindOf(id)),
                  static_cast<unsigned>(object->GetRefCount()));
    text += entry;
  }
  return text;
}

int OpenFileDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

std::u16string DistinguishedNameOf(FarmObject& farm, CommonObject* object, HRESULT* result) {
  char16_t* dn = nullptr;
  *result = object->GetDistinguishedName(&dn);
  std::u16string text;
  if (*result == S_OK && dn != nullptr) text = dn;
  farm.FreeMemory(dn);
  return text;
}

}  // namespace feroq::fuzzing
