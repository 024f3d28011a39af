// Fuzzes opening and reading a damaged farm file.
//
// At start-up a small farm file is made (a farm name, two servers, two
// accounts, a few folders and applications that list servers and users,
// and the change log those writes leave), rewritten with 512-byte pages (a
// page size SQLite reads like any other; it makes the file about a tenth
// of its usual size, so that patches land on the farm's records more
// often) and kept in memory. With FEROQ_FUZZ_WRITE_SEED=PATH set, the
// target writes that file to PATH as a whole-file input (corpus seed). Each input
// makes the farm file the target opens:
//   byte 0 even: the rest of the input is the whole file;
//   byte 0 odd:  the made file, with patches from the rest of the input:
//                three bytes of offset (little-endian, taken modulo the
//                file's size), one byte of length, that many bytes written
//                there; with bit 1 of byte 0 set the file is cut after the
//                first patch's offset instead of being patched there.
// The file is opened through FarmAdmin::Open and through a FarmObject
// (FEROQ_FARM=sqlite:...), and everything is read: the farm name, the
// folder, server and account lists, the folder tree with every
// application's properties, servers, users, icon and name, and the
// server and application enumerations.
//
// Checked on every input, besides the sanitizers: the open fails with one of
// the farm file codes or succeeds, every later call answers success or one
// of those codes (HRESULT calls: a failure code, never a crash), and after
// everything is released no registry entry, platform heap block or file
// descriptor is left behind (so the farm file was closed).
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "feroq/app_folder_object.h"
#include "feroq/services/farm_admin.h"
#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"
#include "fuzz_support.h"
#include "platform/platform.h"

namespace {

using feroq::admin::FarmAdmin;
using feroq::fuzzing::ReleaseObject;

constexpr char kTarget[] = "sqlite_farm_fuzzer";
// Bounds on the walk, so that a damaged tree (a folder listed below
// itself) cannot make the target itself loop.
constexpr std::size_t kMaxObjectsWalked = 400;
constexpr int kMaxDepth = 32;

std::string the_dir;             // this process's scratch directory
std::string the_path;            // the farm file each input becomes
std::vector<std::uint8_t> the_seed;  // the farm file made at start-up

[[noreturn]] void Fail(const std::string& what) { feroq::fuzzing::Fail(kTarget, what); }

std::string Hex(std::uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

// What a call on a damaged farm file may answer besides success. "Full"
// too: SQLite answers it for the first write into some damaged files (the
// sizes it goes by are the file's own), and opening a farm writes when it
// must make the farm or reclaim abandoned queues. "Read-only" too: SQLite
// opens a file whose header names a write format it does not know for
// reading only.
bool IsFarmFileCode(VSTATUS code) {
  return code == feroq::admin::kFarmFileUnavailable || code == feroq::admin::kFarmFileNotAFarm ||
         code == feroq::admin::kFarmFileTooNew || code == feroq::admin::kFarmFileCorrupt ||
         code == feroq::admin::kFarmDiskFull || code == feroq::admin::kFarmReadOnly ||
         code == feroq::VORN_E_OUTOFMEMORY;
}

void RequireCleanStatus(VSTATUS code, const char* call) {
  if (code != 0 && !IsFarmFileCode(code)) Fail(std::string(call) + " answered " + Hex(code));
}

void RemoveFarmFiles(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) unlink((path + suffix).c_str());
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) Fail("cannot write " + path);
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written <= 0) Fail("cannot write " + path);
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  close(fd);
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Makes the start-up farm file at `path` through the farm admin and the
// services, and closes it again (the last connection folds the WAL into the
// file).
void MakeSeedFarm(const std::string& path) {
  const std::string url = "sqlite:" + path;
  setenv("FEROQ_FARM", url.c_str(), 1);
  std::unique_ptr<FarmAdmin> admin;
  RequireCleanStatus(FarmAdmin::Create(url, &admin), "FarmAdmin::Create of the new farm");
  if (!admin) Fail("the seed farm cannot be made");
  ULONG64 alpha = 0, beta = 0;
  if (admin->SetFarmName(u"Fuzz farm") != 0 || admin->AddServer(u"ALPHA", &alpha) != 0 ||
      admin->AddServer(u"beta-\u00E9", &beta) != 0 ||
      admin->AddAccount({u"NT", u"CORP", u"alice", 0, u"CN=alice,DC=corp"}) != 0 ||
      admin->AddAccount({u"NT", u"CORP", u"staff", 1, u"CN=staff,DC=corp"}) != 0) {
    Fail("the seed farm refused its servers or accounts");
  }
  {
    FarmObject farm;
    const ULONG64 office = feroq::fuzzing::AddFolder(farm, u"Office");
    const ULONG64 tools = feroq::fuzzing::AddFolder(farm, u"Tools", office);
    feroq::fuzzing::AddFolder(farm, u"Empty \u65E5\u672C");
    feroq::fuzzing::AppSeed editor;
    editor.display_name = u"Editor";
    editor.folder = tools;
    editor.description = u"Edits text";
    editor.servers = {alpha, beta};
    editor.users = {u"CN=alice,DC=corp", u"CN=staff,DC=corp"};
    feroq::fuzzing::PublishApp(farm, editor);
    feroq::fuzzing::AppSeed calc;
    calc.display_name = u"Calc";
    calc.servers = {beta};
    feroq::fuzzing::PublishApp(farm, calc);
  }
}

// Rewrites the closed farm file at `path` with 512-byte pages. VACUUM keeps
// the text encoding, the application id and the schema version.
void ShrinkPages(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_exec(db,
                   "PRAGMA journal_mode = DELETE; PRAGMA page_size = 512; VACUUM;"
                   " PRAGMA journal_mode = WAL;",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail(std::string("cannot rewrite the seed farm file: ") + sqlite3_errmsg(db));
  }
  sqlite3_close(db);
}

// Builds the farm file for one input at the_path.
void MakeFarmFile(const std::uint8_t* data, std::size_t size) {
  RemoveFarmFiles(the_path);
  if (size == 0 || (data[0] & 1) == 0) {
    WriteFile(the_path, size == 0 ? data : data + 1, size == 0 ? 0 : size - 1);
    return;
  }
  std::vector<std::uint8_t> file = the_seed;
  const bool truncate = (data[0] & 2) != 0;
  std::size_t at = 1;
  while (at + 4 <= size && !file.empty()) {
    const std::size_t offset =
        (data[at] | (data[at + 1] << 8) | (static_cast<std::size_t>(data[at + 2]) << 16)) % file.size();
    std::size_t length = data[at + 3];
    at += 4;
    if (truncate) {
      file.resize(offset);
      break;
    }
    length = std::min({length, size - at, file.size() - offset});
    std::copy(data + at, data + at + length, file.begin() + offset);
    at += length;
  }
  WriteFile(the_path, file.data(), file.size());
}

void ReadThroughAdmin(FarmAdmin& admin) {
  std::u16string name;
  RequireCleanStatus(admin.GetFarmName(&name), "FarmAdmin::GetFarmName");
  std::vector<feroq::admin::FolderInfo> folders;
  RequireCleanStatus(admin.ListFolders(&folders), "FarmAdmin::ListFolders");
  std::vector<feroq::admin::ServerInfo> servers;
  RequireCleanStatus(admin.ListServers(&servers), "FarmAdmin::ListServers");
  std::vector<feroq::admin::AccountInfo> accounts;
  RequireCleanStatus(admin.ListAccounts(&accounts), "FarmAdmin::ListAccounts");
}

void FreeServerConfig(FarmObject& farm, _ZQServerConfig& config) {
  farm.FreeMemory(config.serverName);
  farm.FreeMemory(config.initialProgram);
  farm.FreeMemory(config.workingDirectory);
  config = {};
}

void FreeUserInfo(FarmObject& farm, _UserAccountInfo& user) {
  farm.FreeMemory(user.domain);
  farm.FreeMemory(user.accountName);
  user = {};
}

// Reads every property of an application the library offers.
void ReadApplication(FarmObject& farm, ZQWinAppObject* app) {
  if (app->Load() != S_OK) return;
  char16_t* text = nullptr;
  for (HRESULT (ZQWinAppObject::*get)(char16_t**) :
       {&ZQWinAppObject::GetObjectName, &ZQWinAppObject::GetDistinguishedName,
        &ZQWinAppObject::GetBrowserName, &ZQWinAppObject::GetDefaultInitialProgram,
        &ZQWinAppObject::GetDescription}) {
    (app->*get)(&text);
    farm.FreeMemory(text);
    text = nullptr;
  }
  app->GetDefaultWorkingDirectory(text);
  farm.FreeMemory(text);
  text = nullptr;
  app->GetWLFolder(text);
  farm.FreeMemory(text);
  LONG value = 0;
  for (HRESULT (ZQWinAppObject::*get)(LONG*) :
       {&ZQWinAppObject::GetDefaultWindowHeight, &ZQWinAppObject::GetDefaultWindowWidth,
        &ZQWinAppObject::GetDefaultWindowScale, &ZQWinAppObject::GetDesktopIntegrate,
        &ZQWinAppObject::GetZQAttributes, &ZQWinAppObject::GetWLAttributes,
        &ZQWinAppObject::GetPublishingFlags, &ZQWinAppObject::GetServerCount,
        &ZQWinAppObject::GetUserCount}) {
    (app->*get)(&value);
  }
  _ZQEncryptionLevel level;
  app->GetDefaultEncryptionLevel(&level);
  _ZQSoundType sound;
  app->GetDefaultSoundType(&sound);
  _ZQWindowColor color;
  app->GetDefaultWindowColor(&color);
  _ZQWindowType type;
  app->GetDefaultWindowType(&type);
  int flag = 0;
  app->GetEnabled(&flag);
  app->GetReadOnly(&flag);

  _ZQServerConfig server{};
  for (HRESULT step = app->GetFirstServer(&server); step == S_OK; step = app->GetNextServer(&server)) {
    FreeServerConfig(farm, server);
  }
  FreeServerConfig(farm, server);
  _UserAccountInfo user{};
  for (HRESULT step = app->GetFirstUser(&user); step == S_OK; step = app->GetNextUser(&user)) {
    FreeUserInfo(farm, user);
  }
  FreeUserInfo(farm, user);
  _ZQWinAppIcon* icon = nullptr;
  if (app->GetIcon(icon) == S_OK) farm.FreeMemory(icon);
  app->Validate();
}

// Walks the folder tree below `folder`, reading every object once.
void Walk(FarmObject& farm, FolderObject* folder, int depth, std::set<ULONG64>& seen) {
  char16_t* text = nullptr;
  folder->GetObjectName(&text);
  farm.FreeMemory(text);
  text = nullptr;
  folder->GetDistinguishedName(&text);
  farm.FreeMemory(text);
  CommonObject** children = nullptr;
  LONG count = 0;
  if (folder->EnumerateChildren(&children, &count) != S_OK) return;
  for (LONG i = 0; i < count; ++i) {
    CommonObject* child = children[i];
    ULONG64 id = 0;
    child->GetObjectID(id);
    _FarmObjectType type;
    child->GetObjectType(&type);
    const bool first_visit = seen.insert(id).second;
    if (first_visit && seen.size() <= kMaxObjectsWalked) {
      if (type == FarmObjectWinApp) {
        ReadApplication(farm, static_cast<ZQWinAppObject*>(child));
      } else if (depth < kMaxDepth) {
        Walk(farm, static_cast<FolderObject*>(child), depth + 1, seen);
      }
    }
    ReleaseObject(farm, child);
  }
  farm.FreeMemory(children);
}

void ReadThroughObjectModel() {
  FarmObject farm;
  const std::size_t registry_start = feroq::fuzzing::RegistrySize(farm);
  char16_t* name = nullptr;
  if (farm.GetFarmName(&name) == S_OK) farm.FreeMemory(name);
  FolderObject* root = nullptr;
  if (farm.GetRootFolder(FarmObjectAppFolder, &root) == S_OK && root != nullptr) {
    std::set<ULONG64> seen;
    Walk(farm, root, 0, seen);
    ReleaseObject(farm, root);
  }
  CommonObject** apps = nullptr;
  ULONG count = 0;
  if (farm.EnumerateApps(&apps, &count) == S_OK) {
    for (ULONG i = 0; i < count; ++i) {
      if (i < kMaxObjectsWalked) ReadApplication(farm, static_cast<ZQWinAppObject*>(apps[i]));
      ReleaseObject(farm, apps[i]);
    }
    farm.FreeMemory(apps);
  }
  char16_t* servers = nullptr;
  ULONG server_count = 0;
  farm.EnumerateServers(&servers, &server_count);
  farm.FreeMemory(servers);
  if (feroq::fuzzing::RegistrySize(farm) != registry_start) {
    Fail("the registry holds " + std::to_string(feroq::fuzzing::RegistrySize(farm)) +
         " objects after everything was released, " + std::to_string(registry_start) +
         " before: " + feroq::fuzzing::RegistryContents(farm));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/feroq-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Fail("cannot make a scratch directory");
  the_dir = pattern;
  const std::string seed_path = the_dir + "/seed.db";
  MakeSeedFarm(seed_path);
  ShrinkPages(seed_path);
  the_seed = ReadFile(seed_path);
  if (the_seed.empty()) Fail("the seed farm file is empty");
  if (const char* out = getenv("FEROQ_FUZZ_WRITE_SEED")) {
    std::vector<std::uint8_t> whole = {0};
    whole.insert(whole.end(), the_seed.begin(), the_seed.end());
    WriteFile(out, whole.data(), whole.size());
  }
  RemoveFarmFiles(seed_path);
  the_path = the_dir + "/farm.db";
  setenv("FEROQ_FARM", ("sqlite:" + the_path).c_str(), 1);
  // The scratch directory goes when the run ends normally.
  atexit([] {
    RemoveFarmFiles(the_path);
    rmdir(the_dir.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MakeFarmFile(data, size);
  const int descriptors_before = feroq::fuzzing::OpenFileDescriptors();
  const std::int64_t blocks_before = feroq::platform::LiveHeapBlocks();
  {
    std::unique_ptr<FarmAdmin> admin;
    const VSTATUS opened = FarmAdmin::Open("sqlite:" + the_path, &admin);
    RequireCleanStatus(opened, "FarmAdmin::Open");
    if (opened == 0) {
      if (!admin) Fail("FarmAdmin::Open succeeded without an admin");
      ReadThroughAdmin(*admin);
    }
    // Also when the open failed: the object model then meets the failure
    // through its services.
    ReadThroughObjectModel();
  }
  if (feroq::platform::LiveHeapBlocks() != blocks_before) {
    Fail(std::to_string(feroq::platform::LiveHeapBlocks() - blocks_before) +
         " platform heap blocks left allocated");
  }
  if (feroq::fuzzing::OpenFileDescriptors() != descriptors_before) {
    Fail("file descriptors left open (" + std::to_string(descriptors_before) + " before, " +
         std::to_string(feroq::fuzzing::OpenFileDescriptors()) + " after)");
  }
  return 0;
}
