// Running the feroq tool (or any program) as a child process, for the tests
// of the command line.
#ifndef FEROQ_TESTS_SUPPORT_TOOL_PROCESS_H_
#define FEROQ_TESTS_SUPPORT_TOOL_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace feroq::testing {

struct ProcessResult {
  int exit_code = -1;  // -1 when the process did not exit by itself
  int signal = 0;      // the signal that ended it, or 0
  std::string out;
  std::string err;
};

// Starts `program` with `args`, standard output and error going to the files
// `out` and `err` (replaced); the environment is this process's.
pid_t StartProcess(const std::string& program, const std::vector<std::string>& args, const std::string& out,
                   const std::string& err);
// Waits for `pid` and reads what it wrote.
ProcessResult FinishProcess(pid_t pid, const std::string& out, const std::string& err);

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_TOOL_PROCESS_H_
