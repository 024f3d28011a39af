// farm_worker: a second process on a farm file, for the multi-process tests.
//
//   farm_worker publish PREFIX COUNT
//     Publishes COUNT applications "PREFIX-0", "PREFIX-1", ... through the
//     library (FarmObject::CreateZQWinApp) on the farm FEROQ_FARM names, and
//     after each publish that returned S_OK writes one line "ID NAME" to
//     standard output with a single write(2), so a reader never sees half a
//     line. Exit 0 when all were published, 1 otherwise.
//   farm_worker hold PATH
//     Opens the farm file PATH, starts a write transaction on it (the file's
//     write lock), writes "held" to standard output and keeps the
//     transaction open until a byte arrives on standard input (or it ends),
//     then commits. Exit 0 then.
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "feroq/feroq.h"
#include "services/store/sqlite_farm_store.h"

namespace {

bool WriteAll(const std::string& text) {
  return write(STDOUT_FILENO, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

int Publish(const char* prefix, long count) {
  FarmObject farm;
  for (long i = 0; i < count; ++i) {
    const std::string name = std::string(prefix) + "-" + std::to_string(i);
    const std::u16string wide(name.begin(), name.end());
    _ZQWinAppData data;
    std::memset(&data, 0, sizeof(data));
    data.version = 3;
    data.objectName = const_cast<char16_t*>(wide.c_str());
    data.browserName = const_cast<char16_t*>(wide.c_str());
    data.defaultInitialProgram = const_cast<char16_t*>(u"C:\\Apps\\tool.exe");
    data.defaultWorkingDirectory = const_cast<char16_t*>(u"C:\\Work");
    data.parentFolder = const_cast<char16_t*>(u"");
    ZQWinAppObject* app = nullptr;
    const HRESULT hr = farm.CreateZQWinApp(&data, &app);
    if (hr != S_OK) {
      std::fprintf(stderr, "publishing %s failed: 0x%08X\n", name.c_str(), static_cast<unsigned>(hr));
      return 1;
    }
    ULONG64 id = 0;
    static_cast<CommonObject*>(app)->GetObjectID(id);
    CommonObject* handle = app;
    farm.FreeObject(handle);
    if (!WriteAll(std::to_string(id) + " " + name + "\n")) return 1;
  }
  return 0;
}

int HoldWriteLock(const char* path) {
  std::shared_ptr<feroq::store::FarmStore> store;
  if (feroq::store::OpenSqliteFarmStore(path, &store) != 0) return 1;
  const VSTATUS status = store->Write([&](feroq::store::FarmTxn& txn) -> VSTATUS {
    txn.SetFarmName(u"held");  // the transaction writes, so it holds the lock
    if (!WriteAll("held\n")) return feroq::VORN_E_FAILURE;
    char release = 0;
    (void)read(STDIN_FILENO, &release, 1);
    return feroq::VORN_OK;
  });
  return status == feroq::VORN_OK ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "publish") == 0) return Publish(argv[2], std::atol(argv[3]));
  if (argc == 3 && std::strcmp(argv[1], "hold") == 0) return HoldWriteLock(argv[2]);
  std::fprintf(stderr, "usage: farm_worker publish PREFIX COUNT | events PATH COUNT | hold PATH\n");
  return 2;
}
