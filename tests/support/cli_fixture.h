// CliTest: a gtest fixture that runs the feroq tool (the program FEROQ_CLI
// names) as a process of its own, on a farm file of the test's own in a
// scratch directory, and gives back its exit code, its standard output and
// its standard error; Start and Finish run it that way outside the fixture.
#ifndef FEROQ_TESTS_SUPPORT_CLI_FIXTURE_H_
#define FEROQ_TESTS_SUPPORT_CLI_FIXTURE_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/temp_files.h"

extern char** environ;

namespace feroq::testing {

struct Result {
  int exit_code = -1;  // -1 when the tool did not exit by itself
  int signal = 0;      // the signal that ended it, or 0
  std::string out;
  std::string err;
};

// Starts the tool with `args`, standard output and error going to files
// (standard error opened with `err_flags`, so that it can be a terminal).
inline pid_t Start(const std::vector<std::string>& args, const std::string& out, const std::string& err,
                   int err_flags = O_WRONLY | O_CREAT | O_TRUNC) {
  std::vector<std::string> all = {FEROQ_CLI};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), err_flags, 0600);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

inline Result Finish(pid_t pid, const std::string& out, const std::string& err) {
  Result result;
  int status = 0;
  if (waitpid(pid, &status, 0) == pid) {
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  result.out = ReadWholeFile(out).value_or("");
  result.err = ReadWholeFile(err).value_or("");
  return result;
}

class CliTest : public ::testing::Test {
 protected:
  std::string Farm(const std::string& name = "farm") const { return "--farm=sqlite:" + dir_.File(name + ".db"); }

  // Runs the tool on the test's farm file (unless args name another farm).
  Result Run(std::vector<std::string> args, const std::string& farm = "") {
    args.insert(args.begin(), farm.empty() ? Farm() : farm);
    const std::string out = dir_.File("out.txt"), err = dir_.File("err.txt");
    return Finish(Start(args, out, err), out, err);
  }

  // Runs and expects success; returns standard output.
  std::string Ok(std::vector<std::string> args, const std::string& farm = "") {
    Result r = Run(std::move(args), farm);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
  }

  // Runs and expects exit `code` with each of `said` on standard error.
  Result Fails(std::vector<std::string> args, const std::vector<std::string>& said, int code = 1,
               const std::string& farm = "") {
    Result r = Run(std::move(args), farm);
    EXPECT_EQ(r.exit_code, code);
    for (const std::string& text : said) EXPECT_NE(r.err.find(text), std::string::npos) << text << " in: " << r.err;
    return r;
  }

  nlohmann::json Json(std::vector<std::string> args, const std::string& farm = "") {
    args.insert(args.begin(), "--json");
    std::string out = Ok(std::move(args), farm);
    try {
      return nlohmann::json::parse(out);
    } catch (const nlohmann::json::exception& e) {
      ADD_FAILURE() << "not JSON: " << out;
      return nlohmann::json();
    }
  }

  // A new farm file (every command but `farm init` wants one that exists).
  void SetUp() override { Ok({"farm", "init"}); }

  // A farm file with servers, accounts and (unless told otherwise) folders.
  void SetUpFarm(const std::string& farm = "", bool folders = true) {
    Ok({"farm", "init"}, farm);
    Ok({"server", "add", "APPSRV01", "APPSRV02", "--if-missing"}, farm);
    Ok({"account", "add", "CORP\\alice", "--if-missing"}, farm);
    Ok({"account", "add", "CORP\\Accounting", "--kind", "group", "--if-missing"}, farm);
    if (folders) Ok({"folder", "create", "-p", "\\Applications\\Office\\Tools"}, farm);
  }

  void PublishEditor(const std::string& farm = "") {
    Ok({"app", "publish", "--name", "Editor", "--browser-name", "editor", "--program", "C:\\Apps\\editor.exe",
        "--dir", "C:\\Work", "--folder", "\\Applications\\Office\\Tools", "--encryption", "RC5_128Bit",
        "--sound", "Basic", "--color", "0x1000000", "--window-type", "1024X768", "--desktop-integrate",
        "StartMenu,Desktop", "--wl-attributes", "MinimumSound", "--publishing-flags", "NoBrowserEnum,NoWLEnum",
        "--server", "APPSRV01", "--server", "APPSRV02:D:\\Apps\\editor.exe:D:\\Work", "--user", "CORP\\alice",
        "--user", "CORP\\Accounting:group", "--description", "A text editor"},
       farm);
  }

  ScratchDir dir_;
};

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_CLI_FIXTURE_H_
