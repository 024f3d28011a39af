// feroq-example: opens the farm, prints its name, versions and servers, and
// the folder tree with every application's distinguished name, servers and
// users. On a farm without servers it first sets up a small demonstration
// farm (servers and accounts through the services' admin interface, folders
// and applications through the library).
//
// The farm is the services' own setting (FEROQ_FARM; see the README).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "feroq/services/farm_admin.h"
#include "feroq/feroq.h"
#include "feroq/services/user_service.h"

namespace {

using feroq::ToUtf8;

void Release(FarmObject& farm, CommonObject* object) { farm.FreeObject(object); }

// Sets up servers, accounts, folders and two applications.
bool SetUpDemonstrationFarm(FarmObject& farm) {
  std::unique_ptr<feroq::admin::FarmAdmin> admin;
  if (feroq::admin::FarmAdmin::OpenCurrent(&admin) != 0) return false;
  ULONG64 id = 0;
  admin->AddServer(u"APPSRV01", &id);
  admin->AddServer(u"APPSRV02", &id);
  admin->AddAccount({u"NT", u"CORP", u"alice", feroq::kAccountKindUser, u"CN=alice,DC=corp"});
  admin->AddAccount(
      {u"NT", u"CORP", u"Accounting", feroq::kAccountKindGroup, u"CN=Accounting,DC=corp"});

  FolderObject* root = nullptr;
  if (farm.GetRootFolder(FarmObjectAppFolder, &root) != S_OK) return false;
  FolderObject* office = nullptr;
  FolderObject* tools = nullptr;
  if (root->CreateSubFolder(const_cast<char16_t*>(u"Office"), &office) == S_OK) {
    if (office->CreateSubFolder(const_cast<char16_t*>(u"Tools"), &tools) == S_OK) Release(farm, tools);
    Release(farm, office);
  }
  Release(farm, root);

  auto publish = [&](const char16_t* name, const char16_t* browser, const char16_t* program,
                     const char16_t* parent, bool with_lists) {
    auto data = std::make_unique<_ZQWinAppData>();
    std::memset(data.get(), 0, sizeof(*data));
    data->version = 3;
    data->objectName = const_cast<char16_t*>(name);
    data->browserName = const_cast<char16_t*>(browser);
    data->defaultInitialProgram = const_cast<char16_t*>(program);
    data->defaultWorkingDirectory = const_cast<char16_t*>(u"C:\\Work");
    data->parentFolder = const_cast<char16_t*>(parent);
    data->defaultEncryptionLevel = ZQEncryptionRC5_128Bit;
    data->defaultSoundType = ZQSoundBasic;
    data->defaultWindowColor = ZQWindowColorTrue;
    data->defaultWindowType = ZQWindow1024x768;
    data->desktopIntegrate = feroq::kDesktopIntegrateStartMenu;
    _ZQServerConfigBlock servers{};
    _UserAccountInfoBlock users{};
    if (with_lists) {
      servers.servers[0].serverName = const_cast<char16_t*>(u"APPSRV01");
      servers.servers[1].serverName = const_cast<char16_t*>(u"APPSRV02");
      servers.servers[1].initialProgram = const_cast<char16_t*>(u"D:\\Apps\\editor.exe");
      servers.count = 2;
      users.users[0] = {0, feroq::kUserAuthorityWindowsDomain,
                        static_cast<LONG>(feroq::kAccountKindUser), const_cast<char16_t*>(u"CORP"),
                        const_cast<char16_t*>(u"alice")};
      users.users[1] = {0, feroq::kUserAuthorityWindowsDomain,
                        static_cast<LONG>(feroq::kAccountKindGroup), const_cast<char16_t*>(u"CORP"),
                        const_cast<char16_t*>(u"Accounting")};
      users.count = 2;
      data->servers = &servers;
      data->users = &users;
    }
    ZQWinAppObject* app = nullptr;
    HRESULT hr = farm.CreateZQWinApp(data.get(), &app);
    if (hr != S_OK) {
      std::printf("publishing %s failed: 0x%08X\n", ToUtf8(name).c_str(), static_cast<unsigned>(hr));
      return false;
    }
    Release(farm, app);
    return true;
  };
  return publish(u"Editor", u"editor", u"C:\\Apps\\editor.exe", u"\\Applications\\Office\\Tools", true) &&
         publish(u"Calculator", u"calc", u"C:\\Windows\\calc.exe", u"", false);
}

void PrintApplication(FarmObject& farm, ZQWinAppObject* app, int depth) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  app->Load();
  char16_t* dn = nullptr;
  if (app->GetDistinguishedName(&dn) == S_OK) {
    std::printf("%s%s\n", indent.c_str(), ToUtf8(dn).c_str());
    farm.FreeMemory(dn);
  }
  _ZQServerConfig server{};
  for (HRESULT hr = app->GetFirstServer(&server); hr == S_OK; hr = app->GetNextServer(&server)) {
    std::printf("%s  server %s%s%s\n", indent.c_str(), ToUtf8(server.serverName).c_str(),
                server.initialProgram ? " runs " : "", ToUtf8(server.initialProgram).c_str());
    farm.FreeMemory(server.serverName);
    farm.FreeMemory(server.initialProgram);
    farm.FreeMemory(server.workingDirectory);
  }
  _UserAccountInfo user{};
  for (HRESULT hr = app->GetFirstUser(&user); hr == S_OK; hr = app->GetNextUser(&user)) {
    std::printf("%s  user %s\\%s\n", indent.c_str(), ToUtf8(user.domain).c_str(),
                ToUtf8(user.accountName).c_str());
    farm.FreeMemory(user.domain);
    farm.FreeMemory(user.accountName);
  }
}

void PrintFolder(FarmObject& farm, FolderObject* folder, int depth) {
  // The root folder has no parent, so no distinguished name: show its name.
  char16_t* dn = nullptr;
  if (folder->GetDistinguishedName(&dn) == S_OK || folder->GetObjectName(&dn) == S_OK) {
    std::printf("%s%s\n", std::string(static_cast<std::size_t>(depth) * 2, ' ').c_str(), ToUtf8(dn).c_str());
    farm.FreeMemory(dn);
  }
  CommonObject** children = nullptr;
  LONG count = 0;
  if (FAILED(folder->EnumerateChildren(&children, &count))) return;
  for (LONG i = 0; i < count; ++i) {
    _FarmObjectType type;
    children[i]->GetObjectType(&type);
    if (type == FarmObjectAppFolder) {
      PrintFolder(farm, static_cast<FolderObject*>(children[i]), depth + 1);
    } else {
      PrintApplication(farm, static_cast<ZQWinAppObject*>(children[i]), depth + 1);
    }
    Release(farm, children[i]);
  }
  farm.FreeMemory(children);
}

// ---- Watch mode: `feroq-example watch [COUNT]` ----
// Makes an event queue for every event and prints each event (its mask bit
// and the names and distinguished names of its objects) until interrupted
// (Ctrl-C) or COUNT events have arrived. A memory farm sees only this
// process's changes; a farm file (FEROQ_FARM=sqlite:PATH) also those of
// other processes.

volatile std::sig_atomic_t watch_interrupted = 0;

void OnInterrupt(int) { watch_interrupted = 1; }

const char* EventName(LONG mask) {
  switch (mask) {
    case 0x10: return "folder created";
    case 0x20: return "folder deleted";
    case 0x40: return "folder renamed";
    case 0x80: return "folder moved";
    case 0x100: return "application published";
    case 0x200: return "application deleted";
    case 0x400: return "application changed";
    case 0x800: return "application moved";
    default: return "unknown event";
  }
}

void PrintEventObject(FarmObject& farm, const char* role, CommonObject* object) {
  if (object == nullptr) return;
  _FarmObjectType type;
  object->GetObjectType(&type);
  // An application object may not have read its record yet; once the
  // application is deleted there is none to read.
  if (type == FarmObjectWinApp) static_cast<ZQWinAppObject*>(object)->Load();
  ULONG64 id = 0;
  object->GetObjectID(id);
  char16_t* name = nullptr;
  char16_t* dn = nullptr;
  object->GetObjectName(&name);
  object->GetDistinguishedName(&dn);
  std::printf("  %s: %s %016llX \"%s\" %s\n", role, type == FarmObjectWinApp ? "application" : "folder",
              static_cast<unsigned long long>(id), ToUtf8(name).c_str(), dn ? ToUtf8(dn).c_str() : "(no distinguished name)");
  farm.FreeMemory(name);
  farm.FreeMemory(dn);
}

int Watch(long count) {
  FarmObject farm;
  LONG queue = 0;
  HRESULT hr = farm.CreateEventQueue(nullptr, 0, &queue);
  if (hr != S_OK) {
    std::printf("no event queue: 0x%08X\n", static_cast<unsigned>(hr));
    return 1;
  }
  std::signal(SIGINT, OnInterrupt);
  std::printf("watching the farm (queue %d)\n", static_cast<int>(queue));
  std::fflush(stdout);
  for (long seen = 0; !watch_interrupted && (count <= 0 || seen < count);) {
    LONG mask = 0;
    CommonObject* object = nullptr;
    CommonObject* second = nullptr;
    // A short timeout, so that an interruption is noticed; E_FAIL means
    // that nothing arrived in time.
    hr = farm.WaitForEvent(queue, 250, &mask, &object, &second);
    if (hr == E_FAIL) continue;
    ++seen;
    std::printf("event 0x%03X %s", static_cast<unsigned>(mask), EventName(mask));
    if (hr != S_OK) std::printf(" (0x%08X)", static_cast<unsigned>(hr));
    std::printf("\n");
    PrintEventObject(farm, "object", object);
    PrintEventObject(farm, mask == 0x40 ? "old name" : "old parent", second);
    if (object != nullptr) Release(farm, object);
    if (second != nullptr) Release(farm, second);
    std::fflush(stdout);
  }
  farm.DeleteEventQueue(queue);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "watch") == 0) {
    return Watch(argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0);
  }
  FarmObject farm;
  char16_t* name = nullptr;
  HRESULT hr = farm.GetFarmName(&name);
  if (hr != S_OK) {
    std::printf("the farm cannot be reached (0x%08X)\n", static_cast<unsigned>(hr));
    return 1;
  }
  std::printf("farm: %s\n", ToUtf8(name).c_str());
  farm.FreeMemory(name);

  LONG version = 0;
  farm.GetVersion(&version);
  std::printf("library version: %ld\n", static_cast<long>(version));
  if (farm.GetAppSubsysVersion(&version) == S_OK) {
    std::printf("application store version: %ld\n", static_cast<long>(version));
  }

  char16_t* servers = nullptr;
  ULONG count = 0;
  if (farm.EnumerateServers(&servers, &count) == S_OK && count == 0) {
    farm.FreeMemory(servers);
    std::printf("an empty farm: setting up a demonstration farm\n");
    if (!SetUpDemonstrationFarm(farm)) return 1;
    servers = nullptr;
    if (farm.EnumerateServers(&servers, &count) != S_OK) return 1;
  }
  std::printf("servers: %lu\n", static_cast<unsigned long>(count));
  for (const char16_t* p = servers; p != nullptr && *p != 0; p += std::char_traits<char16_t>::length(p) + 1) {
    std::printf("  %s\n", ToUtf8(p).c_str());
  }
  farm.FreeMemory(servers);

  std::printf("folders and applications:\n");
  FolderObject* root = nullptr;
  if (farm.GetRootFolder(FarmObjectAppFolder, &root) != S_OK) return 1;
  PrintFolder(farm, root, 1);
  Release(farm, root);
  return 0;
}
