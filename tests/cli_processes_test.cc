// The feroq command-line tool, run as several processes on one farm file: an
// import killed part way, a watch printing another process's changes, and
// the queue of a killed watcher reclaimed.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "services/store/sqlite_farm_store.h"
#include "support/cli_fixture.h"

namespace feroq::testing {
namespace {

using nlohmann::json;

// Waits until the file `path`, which the running process `pid` writes,
// holds `text`; false when the process ends first.
bool WaitForOutput(pid_t pid, const std::string& path, const std::string& text) {
  for (;;) {
    if (ReadWholeFile(path).value_or("").find(text) != std::string::npos) return true;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != 0) {
      // Ended (and reaped): what it wrote last is in the file by now.
      return ReadWholeFile(path).value_or("").find(text) != std::string::npos;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Runs the tool with standard error on a terminal, so that it shows its
// progress, and sends it `signal` as soon as the progress shows `point`
// ("publishing 250/"). The tool cannot run far past the point: it waits on
// the terminal once the unread progress fills the terminal's buffer. True
// when the signal ended it.
// How an interrupted run ended: by the signal, by itself before the signal
// landed (a busy machine reads the progress late), or neither (the point was
// never shown, or the tool failed).
enum class Interrupted { kBySignal, kFinishedFirst, kNo };

// Runs the tool with standard error on a terminal and sends `signal` once
// the progress shows `point`.
Interrupted InterruptAt(const std::vector<std::string>& args, const std::string& point, int signal,
                        const std::string& out) {
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) return Interrupted::kNo;
  const pid_t pid = Start(args, out, ptsname(terminal), O_RDWR | O_NOCTTY);
  const bool started = pid > 0;
  bool sent = false;
  std::string shown;
  char buffer[4096];
  for (ssize_t got; started && !sent && (got = read(terminal, buffer, sizeof buffer)) > 0;) {
    shown.append(buffer, static_cast<std::size_t>(got));
    if (shown.find(point) != std::string::npos) sent = kill(pid, signal) == 0;
  }
  int status = 0;
  const bool ended = started && waitpid(pid, &status, 0) == pid;
  close(terminal);
  if (!sent || !ended) return Interrupted::kNo;
  if (WIFSIGNALED(status) && WTERMSIG(status) == signal) return Interrupted::kBySignal;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Interrupted::kFinishedFirst : Interrupted::kNo;
}

// An import of 1,000 files interrupted (SIGKILL and SIGINT) while it reads
// and while it publishes, at points taken at random: afterwards the farm
// holds none of it, folders included, the file passes SQLite's integrity
// check, and the same import then runs to the end.
// (Labelled slow and integration in CMakeLists.txt.)
TEST_F(CliTest, AKilledImportLeavesAllOrNoneAndRunsAgain) {
  constexpr int kFiles = 1000;
  constexpr int kInterruptions = 12;
  std::filesystem::create_directories(dir_.File("defs"));
  for (int i = 0; i < kFiles; ++i) {
    const std::string n = std::to_string(i);
    ASSERT_TRUE(WriteWholeFile(dir_.File("defs/app" + n + ".def"),
                               "BeginApplication\n    ObjectName = \"app" + n + "\"\n    DisplayName = \"App " + n +
                                   "\"\n    DefaultInitialProgram = \"C:\\app.exe\"\n    ParentFolder = \"\\Applications\\Bulk\\" +
                                   (i % 2 == 0 ? "Even" : "Odd") + "\"\n    ServerList =\n        \"APPSRV01\",.\n"
                                   "    UserList =\n        \"CORP\"/\"alice\".\nEndApplication\n"));
  }
  Ok({"farm", "init"}, Farm("model"));
  Ok({"server", "add", "APPSRV01"}, Farm("model"));
  Ok({"account", "add", "CORP\\alice"}, Farm("model"));
  const std::vector<std::string> import = {"import", "--create-folders", dir_.File("defs")};
  auto counts = [&](const std::string& farm) {
    const json info = Json({"farm", "info"}, farm);
    return std::make_pair(info.value("applications", -1), info.value("folders", -1));
  };
  const std::pair<int, int> none = {0, 1}, all = {kFiles, 4};  // folders: the root, Bulk, Even, Odd

  std::map<int, int> interrupted;  // runs the signal ended, by signal
  std::mt19937 random(20261206);
  std::uniform_int_distribution<int> step(1, kFiles * 9 / 10);
  for (int run = 0; run < kInterruptions; ++run) {
    const std::string point = (run % 3 == 0 ? "reading " : "publishing ") + std::to_string(step(random)) + "/";
    const int signal = run % 2 == 0 ? SIGKILL : SIGINT;
    SCOPED_TRACE(point + (signal == SIGKILL ? " SIGKILL" : " SIGINT"));
    const std::string name = "killed" + std::to_string(run);
    std::filesystem::copy_file(dir_.File("model.db"), dir_.File(name + ".db"));
    std::vector<std::string> args = import;
    args.insert(args.begin(), Farm(name));
    const Interrupted how = InterruptAt(args, point, signal, dir_.File("out.txt"));
    ASSERT_NE(how, Interrupted::kNo);
    std::string report;
    EXPECT_EQ(feroq::store::CheckSqliteFarmFile(dir_.File(name + ".db"), &report), 0u) << report;
    // An import the signal reached too late has committed all of it.
    EXPECT_EQ(counts(Farm(name)), how == Interrupted::kBySignal ? none : all);
    interrupted[signal] += how == Interrupted::kBySignal;
    Ok(import, Farm(name));
    EXPECT_EQ(counts(Farm(name)), all);
  }
  // A tool that let a signal pass would finish every run first.
  EXPECT_GT(interrupted[SIGKILL], 0);
  EXPECT_GT(interrupted[SIGINT], 0);
}

TEST_F(CliTest, WatchPrintsTheChangesOfAnotherProcess) {
  SetUpFarm();
  const std::string out = dir_.File("watch.out"), err = dir_.File("watch.err");
  pid_t watcher = Start({Farm(), "--json", "watch", "--count", "2", "--timeout", "120", "--mask", "apps"}, out, err);
  // The queue sees only changes made after it exists: its note says so.
  ASSERT_TRUE(WaitForOutput(watcher, err, "watching")) << ReadWholeFile(err).value_or("");
  Ok({"folder", "create", "\\Applications\\Games"});  // not selected
  PublishEditor();
  // The folder's new name reaches the application's name, and then the
  // application goes: however late the watcher prints, each event shows the
  // name the change itself had.
  Ok({"folder", "rename", "\\Applications\\Office\\Tools", "Kit"});
  Ok({"app", "delete", "\\Applications\\Office\\Kit\\Editor"});
  Result r = Finish(watcher, out, err);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<json> events;
  std::size_t start = 0;
  for (std::size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
    events.push_back(json::parse(r.out.substr(start, end - start)));
  }
  ASSERT_EQ(events.size(), 2u) << r.out;
  EXPECT_EQ(events[0]["event"], "app-published");
  EXPECT_EQ(events[0]["object"]["dn"], "\\Applications\\Office\\Tools\\Editor");
  EXPECT_EQ(events[0]["object"]["name_is_current"], false);
  EXPECT_EQ(events[1]["event"], "app-deleted");
  EXPECT_EQ(events[1]["object"]["id"], events[0]["object"]["id"]);
  EXPECT_EQ(events[1]["object"]["dn"], "\\Applications\\Office\\Kit\\Editor");
  EXPECT_EQ(events[1]["object"]["name_is_current"], false);
}

// A watcher killed outright leaves its queue in the farm file, holding the
// change log back; the next command that opens the farm removes the queue
// and the log is trimmed again.
TEST_F(CliTest, KilledWatchersQueueIsReclaimedWhenTheFarmOpens) {
  const std::string path = dir_.File("farm.db");
  const std::string out = dir_.File("watch.out"), err = dir_.File("watch.err");
  pid_t watcher = Start({Farm(), "watch", "--timeout", "120"}, out, err);
  ASSERT_TRUE(WaitForOutput(watcher, out, "watching")) << ReadWholeFile(err).value_or("");
  Ok({"folder", "create", "\\Applications\\Games"});
  ASSERT_EQ(kill(watcher, SIGKILL), 0);
  ASSERT_EQ(Finish(watcher, out, err).signal, SIGKILL);

  auto queues_and_entries = [&] {
    std::shared_ptr<feroq::store::FarmStore> store;
    std::pair<std::size_t, std::size_t> counts{99, 99};
    if (feroq::store::OpenSqliteFarmStore(path, &store) == 0) {
      store->Read([&](const feroq::store::FarmView& view) -> VSTATUS {
        counts = {view.ListEventQueues().size(), view.EventsAfter(0, 100).size()};
        return 0;
      });
    }
    return counts;
  };
  EXPECT_EQ(queues_and_entries(), (std::pair<std::size_t, std::size_t>{1, 1}));
  Ok({"server", "list"});
  EXPECT_EQ(queues_and_entries(), (std::pair<std::size_t, std::size_t>{0, 0}));
}

}  // namespace
}  // namespace feroq::testing
