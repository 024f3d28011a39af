// ZQWinAppObject::ExportFile of one application (3 servers, 3 users, an
// icon, a description) to a file in a temporary directory: the definition
// file (written by the library, the icon inside it), the launch file and
// the HTML page (composed by the application store). The reference of each
// is writing the same bytes, read back from the exported file, with plain
// stdio (fopen, fwrite, fclose).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "feroq/services/farm_admin.h"
#include "support/bench_farm.h"

namespace feroq::bench {
namespace {

constexpr char kFarmUrl[] = "memory:export";

struct ExportFarm {
  BenchFarm* farm = nullptr;
  ZQWinAppObject* app = nullptr;
};

void PublishExportedApp(BenchFarm& bench, ExportFarm& entry) {
  std::unique_ptr<admin::FarmAdmin> admin;
  Require(admin::FarmAdmin::Open(kFarmUrl, &admin) == 0, "farm admin");
  const char16_t* servers[] = {u"ALPHA", u"BETA", u"GAMMA"};
  const char16_t* accounts[] = {u"alice", u"bob", u"staff"};
  for (const char16_t* server : servers) {
    ULONG64 id = 0;
    Require(admin->AddServer(server, &id) == 0, "adding a server");
  }
  for (const char16_t* account : accounts) {
    Require(admin->AddAccount({u"NT", u"CORP", account, 0, u"CN=" + std::u16string(account) + u",DC=corp"}) == 0,
            "adding an account");
  }

  auto data = std::make_unique<_ZQWinAppData>();
  std::memset(data.get(), 0, sizeof(*data));
  data->version = kZQAppCurrentVersion;
  data->objectName = const_cast<char16_t*>(u"Spreadsheet");
  data->browserName = const_cast<char16_t*>(u"spreadsheet");
  data->defaultInitialProgram = const_cast<char16_t*>(u"C:\\Program Files\\Office\\sheet.exe");
  data->defaultWorkingDirectory = const_cast<char16_t*>(u"C:\\Users\\Shared");
  data->description = const_cast<char16_t*>(u"The office spreadsheet, published for every office user");
  data->defaultWindowColor = ZQWindowColor256;
  data->defaultWindowType = ZQWindow800x600;
  _ZQServerConfigBlock server_block{};
  for (int i = 0; i < 3; ++i) server_block.servers[i].serverName = const_cast<char16_t*>(servers[i]);
  server_block.count = 3;
  _UserAccountInfoBlock user_block{};
  for (int i = 0; i < 3; ++i) {
    user_block.users[i] = _UserAccountInfo{0, kUserAuthorityWindowsDomain, 0, const_cast<char16_t*>(u"CORP"),
                                           const_cast<char16_t*>(accounts[i])};
  }
  user_block.count = 3;
  data->servers = &server_block;
  data->users = &user_block;
  data->useIcon = 1;
  for (std::size_t i = 0; i < sizeof(data->icon.mask); ++i) data->icon.mask[i] = static_cast<BYTE>(i * 7);
  for (std::size_t i = 0; i < sizeof(data->icon.colors); ++i) data->icon.colors[i] = static_cast<BYTE>(i * 13);
  Require(bench.farm().CreateZQWinApp(data.get(), &entry.app) == S_OK, "publishing the exported application");
}

ExportFarm& Farm() {
  static ExportFarm entry;
  entry.farm = &BenchFarm::Use(kFarmUrl, [](BenchFarm& bench) { PublishExportedApp(bench, entry); });
  return entry;
}

std::string FilePath(int type) { return BenchTempDir() + "/export-" + std::to_string(type) + ".out"; }

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// The options record of each file type.
_LaunchFileOptions launch_options{800, 600, 0, 24, ZQEncryptionBasic, 0, 0, 1, 1, nullptr, 1494, 0};
_HTMLFileOptions html_options{640, 0, 0, 1, 1, 1};

void* OptionsOf(int type) {
  if (type == ZQWinAppLaunchFile) return &launch_options;
  if (type == ZQWinAppHTMLFile) return &html_options;
  return nullptr;  // the definition file: the icon goes into the file
}

void BM_ExportFile(benchmark::State& state) {
  const auto type = static_cast<_ZQWinAppFileType>(state.range(0));
  ZQWinAppObject* app = Farm().app;
  std::u16string path = Wide(FilePath(type));
  for (auto _ : state) {
    if (app->ExportFile(type, nullptr, path.data(), OptionsOf(type)) != S_OK) {
      state.SkipWithError("ExportFile failed");
      break;
    }
  }
  std::ifstream written(FilePath(type), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
  state.counters["bytes"] = static_cast<double>(bytes.size());
  if (bytes.empty()) state.SkipWithError("nothing exported");
}

void BM_StdioWrite(benchmark::State& state) {
  const auto type = static_cast<_ZQWinAppFileType>(state.range(0));
  std::u16string path = Wide(FilePath(type));
  Require(Farm().app->ExportFile(type, nullptr, path.data(), OptionsOf(type)) == S_OK, "exporting once");
  std::ifstream written(FilePath(type), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
  const std::string copy = FilePath(type) + ".stdio";
  for (auto _ : state) {
    std::FILE* file = std::fopen(copy.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      state.SkipWithError("stdio write failed");
      if (file != nullptr) std::fclose(file);
      break;
    }
    std::fclose(file);
  }
  state.counters["bytes"] = static_cast<double>(bytes.size());
}

void FileTypes(benchmark::internal::Benchmark* b) {
  b->ArgName("type")->Arg(ZQWinAppDefinitionFile)->Arg(ZQWinAppLaunchFile)->Arg(ZQWinAppHTMLFile);
}

BENCHMARK(BM_ExportFile)->Apply(FileTypes)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdioWrite)->Apply(FileTypes)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace feroq::bench
