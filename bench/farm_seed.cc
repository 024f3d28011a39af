// Writes a farm file for the tool's memory and time measurements
// (scripts/memory-bench.sh): `apps` applications of about 2 KB each (texts
// near the record's 259-unit limit, an icon, one server, one user), 100 to
// a folder, the folders 32 to a group folder below the root:
//
//   \Applications\G-<g>\F-<f>\A-<n>
//
// so the largest folder any command must hold is the same at every size.
// Everything goes in through the farm store in one transaction.
//
// Usage: farm_seed PATH APPS
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "feroq/services/zqapp.h"
#include "services/store/farm_store.h"
#include "services/store/sqlite_farm_store.h"

namespace {

constexpr std::size_t kAppsPerFolder = 100;
constexpr std::size_t kFoldersPerGroup = 32;

std::u16string Numbered(const char16_t* prefix, std::size_t n) {
  std::u16string text = prefix;
  for (char c : std::to_string(n)) text += static_cast<char16_t>(c);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace feroq;
  using namespace feroq::store;
  if (argc != 3) {
    std::fprintf(stderr, "usage: farm_seed PATH APPS\n");
    return 2;
  }
  const std::string path = argv[1];
  const std::size_t apps = std::strtoull(argv[2], nullptr, 10);
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
  std::shared_ptr<FarmStore> file;
  if (OpenSqliteFarmStore(path, &file) != 0) {
    std::fprintf(stderr, "farm_seed: cannot create %s\n", path.c_str());
    return 1;
  }
  // Texts of a record hold at most 259 UTF-16 units each.
  auto text_of = [](std::u16string text, std::size_t units) {
    while (text.size() < units) text += u" and more";
    return text.substr(0, units);
  };
  const std::u16string description = text_of(u"An application published for the memory measurements", 250);
  const std::u16string program = text_of(u"C:\\Programs\\Measured\\app.exe /profile:measurement", 120);
  const std::u16string directory = text_of(u"C:\\Work\\Measured", 120);
  const std::u16string folder_text = text_of(u"Measured applications", 100);
  std::vector<BYTE> icon(sizeof(_WLICON_V1));
  for (std::size_t i = 0; i < icon.size(); ++i) icon[i] = static_cast<BYTE>(i * 7);
  const VSTATUS status = file->Write([&](FarmTxn& txn) -> VSTATUS {
    InitializeNewFarm(txn);
    const ULONG64 server = txn.AllocateId(kObjectKindServer);
    txn.PutServer(ServerRecord{server, u"APPSRV01"});
    const std::u16string user = u"CN=alice,OU=CORP";
    txn.PutAccount(AccountRecord{u"NT", u"CORP", u"alice", 0, user});
    ULONG64 serial = 2;
    ULONG64 group = 0, folder = 0;
    for (std::size_t i = 0; i < apps; ++i) {
      const std::size_t folder_index = i / kAppsPerFolder;
      if (i % kAppsPerFolder == 0) {
        if (folder_index % kFoldersPerGroup == 0) {
          group = txn.AllocateId(kObjectKindFolder);
          txn.PutFolder(FolderRecord{group, txn.RootFolderId(), Numbered(u"G-", folder_index / kFoldersPerGroup), serial++});
        }
        folder = txn.AllocateId(kObjectKindFolder);
        txn.PutFolder(FolderRecord{folder, group, Numbered(u"F-", folder_index), serial++});
      }
      ApplicationRecord row;
      row.id = txn.AllocateId(kObjectKindApplication);
      row.folder_id = folder;
      row.data.version = kZQAppCurrentVersion;
      row.data.friendly_name = Numbered(u"A-", i);
      row.data.browser_name = Numbered(u"app-", i);
      row.data.initial_program = program;
      row.data.work_directory = directory;
      row.data.folder_text = folder_text;
      row.data.description = description;
      row.data.icon = icon;
      row.data.servers.push_back(AppServerData{server, 0, u"", u""});
      row.data.users.push_back(user);
      txn.PutApplication(row);
    }
    return 0;
  });
  if (status != 0) {
    std::fprintf(stderr, "farm_seed: seeding %s failed: 0x%08X\n", path.c_str(), static_cast<unsigned>(status));
    return 1;
  }
  return 0;
}
