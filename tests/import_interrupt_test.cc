// An import of 1,000 definition files into a farm file, killed (SIGKILL and
// SIGINT) at random moments: afterwards the farm holds all of the import or
// none of it, folders included, the file passes SQLite's integrity check,
// and running the same import again completes.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "services/store/sqlite_farm_store.h"
#include "support/temp_files.h"
#include "support/tool_process.h"

namespace {

using feroq::testing::FinishProcess;
using feroq::testing::ProcessResult;
using feroq::testing::StartProcess;

constexpr int kFiles = 1000;
constexpr int kInterruptions = 12;

class ImportInterruptTest : public ::testing::Test {
 protected:
  ProcessResult Tool(const std::string& farm, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--farm=sqlite:" + farm};
    all.insert(all.end(), args.begin(), args.end());
    return FinishProcess(StartProcess(FEROQ_CLI, all, out_, err_), out_, err_);
  }
  // (applications, folders) of the farm file.
  std::pair<int, int> Counts(const std::string& farm) {
    const ProcessResult info = Tool(farm, {"--json", "farm", "info"});
    EXPECT_EQ(info.exit_code, 0) << info.err;
    const nlohmann::json counts = nlohmann::json::parse(info.out, nullptr, false);
    return {counts.value("applications", -1), counts.value("folders", -1)};
  }

  feroq::testing::ScratchDir dir_;
  const std::string out_ = dir_.File("out.txt");
  const std::string err_ = dir_.File("err.txt");
};

TEST_F(ImportInterruptTest, AKilledImportLeavesAllOrNoneAndRunsAgain) {
  const std::string files = dir_.File("defs");
  std::filesystem::create_directories(files);
  for (int i = 0; i < kFiles; ++i) {
    const std::string n = std::to_string(i);
    ASSERT_TRUE(feroq::testing::WriteWholeFile(
        files + "/app" + n + ".def",
        "BeginApplication\n    ObjectName = \"app" + n + "\"\n    DisplayName = \"App " + n +
            "\"\n    DefaultInitialProgram = \"C:\\app" + n + ".exe\"\n    ParentFolder = \"\\Applications\\Bulk\\" +
            (i % 2 == 0 ? "Even" : "Odd") + "\"\n    ServerList =\n        \"APPSRV01\",.\n"
            "    UserList =\n        \"CORP\"/\"alice\".\nEndApplication\n"));
  }
  const std::string model = dir_.File("model.db");
  ASSERT_EQ(Tool(model, {"farm", "init"}).exit_code, 0);
  ASSERT_EQ(Tool(model, {"server", "add", "APPSRV01"}).exit_code, 0);
  ASSERT_EQ(Tool(model, {"account", "add", "CORP\\alice"}).exit_code, 0);
  const std::vector<std::string> import = {"import", "--create-folders", files};

  // How long a whole import takes here: the kills fall within it.
  const std::string timed = dir_.File("timed.db");
  std::filesystem::copy_file(model, timed);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Tool(timed, import).exit_code, 0);
  const auto whole = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(Counts(timed), std::make_pair(kFiles, 4));  // the root, Bulk, Even, Odd

  std::mt19937 random(20261206);
  std::uniform_int_distribution<long long> moment(0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count());
  int interrupted = 0;
  for (int run = 0; run < kInterruptions; ++run) {
    SCOPED_TRACE(run);
    const std::string farm = dir_.File("farm" + std::to_string(run) + ".db");
    std::filesystem::copy_file(model, farm);
    const int signal = run % 2 == 0 ? SIGKILL : SIGINT;
    const pid_t pid = StartProcess(FEROQ_CLI, {"--farm=sqlite:" + farm, import[0], import[1], import[2]}, out_, err_);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    kill(pid, signal);
    const ProcessResult killed = FinishProcess(pid, out_, err_);
    interrupted += killed.signal == signal ? 1 : 0;

    std::string report;
    EXPECT_EQ(feroq::store::CheckSqliteFarmFile(farm, &report), 0u) << report;
    const auto [apps, folders] = Counts(farm);
    EXPECT_TRUE((apps == 0 && folders == 1) || (apps == kFiles && folders == 4)) << apps << " " << folders;
    EXPECT_EQ(Tool(farm, import).exit_code, 0);
    EXPECT_EQ(Counts(farm), std::make_pair(kFiles, 4));
  }
  // The kills fell while the tool ran, not after it had finished.
  EXPECT_GE(interrupted, kInterruptions / 2);
}

}  // namespace
