// Several processes on one farm file: publishing at once, events crossing
// from one process to another, and a process killed in the middle of a bulk
// publish. The other processes run tests/workers/farm_worker.cc.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "feroq/services/farm_admin.h"
#include "feroq/feroq.h"
#include "platform/platform.h"
#include "services/store/sqlite_farm_store.h"
#include "support/handles.h"
#include "support/temp_files.h"

extern char** environ;

namespace feroq::store {
namespace {

// How long any one step may take before the test gives up (a safety net
// against a hung child, not a speed requirement).
constexpr int kSafetyTimeoutMs = 60000;

struct Child {
  pid_t pid = -1;
  int output = -1;  // the child's standard output
  int input = -1;   // the child's standard input
  std::string pending;  // output read but not yet split into lines
  bool ended = false;   // its output reached end of file
};

// Starts farm_worker with `args`, FEROQ_FARM set to `farm_url`.
Child Spawn(const std::vector<std::string>& args, const std::string& farm_url) {
  int out_pipe[2], in_pipe[2];
  Child child;
  if (pipe(out_pipe) != 0 || pipe(in_pipe) != 0) return child;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
  for (int fd : {out_pipe[0], out_pipe[1], in_pipe[0], in_pipe[1]}) {
    posix_spawn_file_actions_addclose(&actions, fd);
  }
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("FEROQ_FARM=", 0) != 0) env_strings.push_back(*e);
  }
  env_strings.push_back("FEROQ_FARM=" + farm_url);
  std::vector<char*> env;
  for (std::string& s : env_strings) env.push_back(s.data());
  env.push_back(nullptr);
  std::vector<std::string> argv_strings{FEROQ_FARM_WORKER};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), env.data()) != 0) child.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(in_pipe[0]);
  child.output = out_pipe[0];
  child.input = in_pipe[1];
  return child;
}

// Reads what the children have written, waiting at most `timeout_ms`;
// complete lines go to `lines` (one list per child). Returns false when the
// wait ran out without any child writing or ending.
bool ReadSome(std::vector<Child*> children, std::vector<std::vector<std::string>>* lines, int timeout_ms) {
  std::vector<pollfd> fds;
  std::vector<std::size_t> owner;
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (!children[i]->ended) {
      fds.push_back({children[i]->output, POLLIN, 0});
      owner.push_back(i);
    }
  }
  if (fds.empty()) return true;
  if (poll(fds.data(), fds.size(), timeout_ms) <= 0) return false;
  for (std::size_t k = 0; k < fds.size(); ++k) {
    if (fds[k].revents == 0) continue;
    Child& child = *children[owner[k]];
    char buffer[4096];
    const ssize_t got = read(child.output, buffer, sizeof(buffer));
    if (got <= 0) {
      child.ended = true;
      continue;
    }
    child.pending.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; (end = child.pending.find('\n')) != std::string::npos;) {
      (*lines)[owner[k]].push_back(child.pending.substr(0, end));
      child.pending.erase(0, end + 1);
    }
  }
  return true;
}

// Reads until every child's output ended.
void ReadToEnd(std::vector<Child*> children, std::vector<std::vector<std::string>>* lines) {
  for (;;) {
    bool all_ended = true;
    for (Child* c : children) all_ended = all_ended && c->ended;
    if (all_ended) return;
    ASSERT_TRUE(ReadSome(children, lines, kSafetyTimeoutMs)) << "a worker stopped answering";
  }
}

int WaitExit(Child& child) {
  int status = 0;
  waitpid(child.pid, &status, 0);
  close(child.output);
  close(child.input);
  return status;
}

// "ID NAME" lines of the publish worker, as name -> id.
std::map<std::string, ULONG64> Published(const std::vector<std::string>& lines) {
  std::map<std::string, ULONG64> out;
  for (const std::string& line : lines) {
    std::istringstream in(line);
    ULONG64 id = 0;
    std::string name;
    in >> id >> name;
    out[name] = id;
  }
  return out;
}

class MultiProcessFarmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A new farm, made as the services make it.
    std::unique_ptr<admin::FarmAdmin> admin;
    ASSERT_EQ(admin::FarmAdmin::Create(url(), &admin), 0u);
  }
  std::string url() const { return "sqlite:" + path_; }

  // Every application in `published` is in the farm under its browser name.
  void ExpectPublished(FarmStore& store, const std::map<std::string, ULONG64>& published) {
    store.Read([&](const FarmView& v) -> VSTATUS {
      for (const auto& [name, id] : published) {
        std::optional<ApplicationRecord> app = v.GetApplication(id);
        EXPECT_TRUE(app.has_value()) << name;
        if (!app) continue;
        EXPECT_EQ(app->data.browser_name, std::u16string(name.begin(), name.end()));
        EXPECT_EQ(app->folder_id, v.RootFolderId());
      }
      return 0;
    });
  }

  testing::ScratchDir scratch_;
  const std::string& dir_ = scratch_.path();
  const std::string path_ = scratch_.File("farm.db");
};

TEST_F(MultiProcessFarmTest, TwoProcessesPublishingAtOnceGetDistinctIdentifiers) {
  constexpr int kEach = 300;
  Child a = Spawn({"publish", "A", std::to_string(kEach)}, url());
  Child b = Spawn({"publish", "B", std::to_string(kEach)}, url());
  ASSERT_GT(a.pid, 0);
  ASSERT_GT(b.pid, 0);
  std::vector<std::vector<std::string>> lines(2);
  ReadToEnd({&a, &b}, &lines);
  const int status_a = WaitExit(a), status_b = WaitExit(b);
  EXPECT_TRUE(WIFEXITED(status_a) && WEXITSTATUS(status_a) == 0);
  EXPECT_TRUE(WIFEXITED(status_b) && WEXITSTATUS(status_b) == 0);

  std::map<std::string, ULONG64> published = Published(lines[0]);
  std::map<std::string, ULONG64> from_b = Published(lines[1]);
  ASSERT_EQ(published.size(), std::size_t{kEach});
  ASSERT_EQ(from_b.size(), std::size_t{kEach});
  published.insert(from_b.begin(), from_b.end());
  std::set<ULONG64> ids;
  for (const auto& entry : published) {
    EXPECT_EQ(ObjectKindOf(entry.second), kObjectKindApplication);
    ids.insert(entry.second);
  }
  EXPECT_EQ(ids.size(), std::size_t{2 * kEach});

  std::shared_ptr<FarmStore> store;
  ASSERT_EQ(OpenSqliteFarmStore(path_, &store), 0u);
  ExpectPublished(*store, published);
  EXPECT_EQ(store->Read([](const FarmView& v) -> VSTATUS {
    return static_cast<VSTATUS>(v.ApplicationCount());
  }),
            VSTATUS{2 * kEach});
}

// Through the library: a queue made here receives the creation events of
// applications another process publishes.
TEST_F(MultiProcessFarmTest, EventQueueReceivesPublishesOfAnotherProcess) {
  testing::EnvOverride farm_url("FEROQ_FARM", url());
  {
    FarmObject farm;
    LONG mask = 0x100;  // application published
    LONG queue = 0;
    ASSERT_EQ(farm.CreateEventQueue(&mask, 1, &queue), S_OK);
    constexpr int kApps = 3;
    Child child = Spawn({"publish", "E", std::to_string(kApps)}, url());
    ASSERT_GT(child.pid, 0);
    std::set<ULONG64> delivered;
    for (int i = 0; i < kApps; ++i) {
      LONG type = 0;
      CommonObject* object = nullptr;
      CommonObject* second = nullptr;
      ASSERT_EQ(farm.WaitForEvent(queue, kSafetyTimeoutMs, &type, &object, &second), S_OK);
      EXPECT_EQ(type, 0x100);
      ULONG64 id = 0;
      if (object != nullptr) {
        object->GetObjectID(id);
        farm.FreeObject(object);
      }
      if (second != nullptr) farm.FreeObject(second);
      delivered.insert(id);
    }
    std::vector<std::vector<std::string>> lines(1);
    ReadToEnd({&child}, &lines);
    const int status = WaitExit(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::set<ULONG64> published;
    for (const auto& entry : Published(lines[0])) published.insert(entry.second);
    EXPECT_EQ(delivered, published);
    EXPECT_EQ(farm.DeleteEventQueue(queue), S_OK);
  }
}

TEST_F(MultiProcessFarmTest, KilledInTheMiddleOfABulkPublishLeavesASoundFarm) {
  std::map<std::string, ULONG64> published;
  // Killed at a different point of the work each round; each round adds to
  // the same farm.
  int round = 0;
  for (std::size_t kill_after : {15u, 60u}) {
    SCOPED_TRACE(kill_after);
    Child child = Spawn({"publish", "K" + std::to_string(round++), "100000"}, url());
    ASSERT_GT(child.pid, 0);
    std::vector<std::vector<std::string>> lines(1);
    while (lines[0].size() < kill_after && !child.ended) {
      ASSERT_TRUE(ReadSome({&child}, &lines, kSafetyTimeoutMs)) << "the worker stopped publishing";
    }
    ASSERT_FALSE(child.ended) << "the worker ended before it was killed";
    ASSERT_EQ(kill(child.pid, SIGKILL), 0);
    // What it reported before it died: each line was written after the
    // publish returned S_OK.
    ReadToEnd({&child}, &lines);
    const int status = WaitExit(child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    std::map<std::string, ULONG64> reported = Published(lines[0]);
    EXPECT_GE(reported.size(), kill_after);
    published.insert(reported.begin(), reported.end());

    std::string report;
    EXPECT_EQ(CheckSqliteFarmFile(path_, &report), 0u);
    EXPECT_EQ(report, "ok");
    std::shared_ptr<FarmStore> store;
    ASSERT_EQ(OpenSqliteFarmStore(path_, &store), 0u);
    ExpectPublished(*store, published);
    // The farm takes new work, and no identifier comes back.
    ULONG64 next = 0;
    ASSERT_EQ(store->Write([&](FarmTxn& txn) -> VSTATUS {
      next = txn.AllocateId(kObjectKindApplication);
      return 0;
    }),
              0u);
    for (const auto& entry : published) EXPECT_GT(next, entry.second);
  }
}

TEST_F(MultiProcessFarmTest, ReadersDoNotWaitForAWriterOfAnotherProcess) {
  Child publisher = Spawn({"publish", "R", "3"}, url());
  std::vector<std::vector<std::string>> lines(1);
  ReadToEnd({&publisher}, &lines);
  ASSERT_EQ(WaitExit(publisher), 0);
  Child holder = Spawn({"hold", path_}, url());
  lines = std::vector<std::vector<std::string>>(1);
  while (lines[0].empty() && !holder.ended) ASSERT_TRUE(ReadSome({&holder}, &lines, kSafetyTimeoutMs));
  ASSERT_EQ(lines[0], std::vector<std::string>{"held"});

  // What `farm info`, `server list`, `folder tree` and `app show` do, in a
  // process that opens the farm while the other one holds its write lock
  // until it is told to let go: a reader that waited for the writer would
  // fail with FARM_BUSY after the busy timeout instead.
  testing::EnvOverride farm_url("FEROQ_FARM", url());
  std::unique_ptr<admin::FarmAdmin> admin;
  ASSERT_EQ(admin::FarmAdmin::Open(url(), &admin), 0u);
  std::vector<admin::ServerInfo> servers;
  EXPECT_EQ(admin->ListServers(&servers), 0u);
  std::u16string name;
  ASSERT_EQ(admin->GetFarmName(&name), 0u);
  EXPECT_EQ(name, u"feroq");  // the holder's change is not committed
  {
    FarmObject farm;
    CommonObject** apps = nullptr;
    ULONG count = 0;
    ASSERT_EQ(farm.EnumerateApps(&apps, &count), S_OK);
    EXPECT_EQ(count, 3u);
    for (ULONG i = 0; i < count; ++i) farm.FreeObject(apps[i]);
    farm.FreeMemory(apps);
    std::u16string dn = u"\\Applications\\R-1";
    CommonObject* found = nullptr;
    ASSERT_EQ(farm.GetObjectByDN(nullptr, dn.data(), &found), S_OK);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(static_cast<ZQWinAppObject*>(found)->Load(), S_OK);
    farm.FreeObject(found);
  }
  // The writer held its lock all along, and commits once let go.
  int status = 0;
  EXPECT_EQ(waitpid(holder.pid, &status, WNOHANG), 0);
  ASSERT_EQ(write(holder.input, "x", 1), 1);
  EXPECT_EQ(WaitExit(holder), 0);
  ASSERT_EQ(admin->GetFarmName(&name), 0u);
  EXPECT_EQ(name, u"held");
}

// Runs `steps` in a child process, as an ordinary user when this one is root
// (whose access the system does not check), and returns its exit code: the
// number of the first step that failed, 0 when all passed.
int InChildProcess(const std::function<int()>& steps) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
    _exit(steps());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(MultiProcessFarmTest, AFarmTheUserCanOnlyReadIsReadAndLeavesNoFileBehindWithTheWrongMode) {
  const std::string folder = dir_ + "/shared";
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
  if (getuid() == 0) {  // the child's user owns it
    ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  }
  const std::string file = folder + "/farm.db", farm_url = "sqlite:" + file;
  auto servers = [&](int* count) {
    std::unique_ptr<admin::FarmAdmin> admin;
    std::vector<admin::ServerInfo> list;
    if (admin::FarmAdmin::Open(farm_url, &admin) != 0 || admin->ListServers(&list) != 0) return false;
    *count = static_cast<int>(list.size());
    return true;
  };
  const int failed_step = InChildProcess([&]() -> int {
    {
      std::unique_ptr<admin::FarmAdmin> admin;
      ULONG64 id = 0;
      if (admin::FarmAdmin::Create(farm_url, &admin) != 0 || admin->AddServer(u"FIRST", &id) != 0) return 1;
    }
    if (chmod(file.c_str(), 0400) != 0) return 2;
    int count = 0;
    if (!servers(&count) || count != 1) return 3;
    {
      std::unique_ptr<admin::FarmAdmin> admin;
      if (admin::FarmAdmin::Open(farm_url, &admin) != 0 || admin->SetFarmName(u"x") != admin::kFarmReadOnly) return 4;
    }
    for (const char* suffix : {"-wal", "-shm"}) {
      struct stat info {};
      if (stat((file + suffix).c_str(), &info) == 0 && (info.st_mode & 0777) != 0600) return 5;
    }
    // Writable again: every command works.
    if (chmod(file.c_str(), 0600) != 0) return 6;
    {
      std::unique_ptr<admin::FarmAdmin> admin;
      ULONG64 id = 0;
      if (admin::FarmAdmin::Open(farm_url, &admin) != 0 || admin->AddServer(u"SECOND", &id) != 0) return 7;
    }
    // In a folder the user cannot write: readable when the -wal and -shm
    // files are there, refused with its own code when they are not.
    for (const char* suffix : {"-wal", "-shm"}) unlink((file + suffix).c_str());
    if (chmod(folder.c_str(), 0500) != 0) return 8;
    std::unique_ptr<admin::FarmAdmin> refused;
    if (admin::FarmAdmin::Open(farm_url, &refused) != admin::kFarmCompanionsMissing) return 9;
    if (chmod(folder.c_str(), 0700) != 0) return 10;
    for (const char* suffix : {"-wal", "-shm"}) {
      if (platform::CreateOwnerOnlyFile(file + suffix) != platform::CreateFileResult::kCreated) return 11;
    }
    if (chmod(folder.c_str(), 0500) != 0) return 12;
    const bool read = servers(&count) && count == 2;
    chmod(folder.c_str(), 0700);
    return read ? 0 : 13;
  });
  EXPECT_EQ(failed_step, 0);
}

}  // namespace
}  // namespace feroq::store
