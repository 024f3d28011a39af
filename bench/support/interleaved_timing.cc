#include "support/interleaved_timing.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

extern char** environ;

namespace feroq::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// CPU seconds of the tool processes run so far (Run below adds each one's
// user and system time when it has ended).
double g_tool_cpu_seconds = 0;

// This thread's CPU time and that of the tool processes it ran.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 + g_tool_cpu_seconds;
}

// The CPU time of the process's other threads. The raw statements run on
// this thread alone, so every other thread is the farm's (the store's
// checkpoint thread): its time counts for the farm whenever it runs, also
// while a raw batch is timed or after the farm's batch has ended.
double OtherThreadsCpuSeconds() {
  timespec process{}, thread{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &process);
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &thread);
  return static_cast<double>(process.tv_sec - thread.tv_sec) + (process.tv_nsec - thread.tv_nsec) / 1e9;
}

// Waits until the farm's other threads have been idle for 50 ms (at most
// 5 s), so that a line does not start with the work an earlier line left
// behind (a checkpoint of its writes).
void SettleOtherThreads() {
  double before = OtherThreadsCpuSeconds();
  for (int i = 0; i < 100; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double now = OtherThreadsCpuSeconds();
    if (now - before < 1e-4) return;
    before = now;
  }
}

}  // namespace

PerOp TimeBatch(int ops, const std::function<bool()>& op) {
  const double cpu_start = ThreadCpuSeconds();
  const double others_start = OtherThreadsCpuSeconds();
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < ops; ++i) {
    if (!op()) return {};
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return {wall / ops, (ThreadCpuSeconds() - cpu_start) / ops, (OtherThreadsCpuSeconds() - others_start) / ops};
}

void Interleave(benchmark::State& state, int rounds, int farm_ops, const std::function<bool()>& farm,
                int raw_ops, const std::function<bool()>& raw) {
  SettleOtherThreads();
  std::vector<double> farm_wall, farm_cpu, farm_others, raw_wall, raw_cpu;
  for (int round = 0; round < rounds; ++round) {
    const PerOp f = TimeBatch(farm_ops, farm);
    if (f.wall < 0) return state.SkipWithError("the farm's operation failed");
    farm_wall.push_back(f.wall);
    double others = f.others * farm_ops;
    if (raw) {
      const PerOp r = TimeBatch(raw_ops, raw);
      if (r.wall < 0) return state.SkipWithError("the raw statement failed");
      raw_wall.push_back(r.wall);
      raw_cpu.push_back(r.cpu);
      others += r.others * raw_ops;
    }
    farm_cpu.push_back(f.cpu + others / farm_ops);
    farm_others.push_back(others / farm_ops);
  }
  const double farm_us = Median(farm_wall) * 1e6;
  state.counters["feroq_us"] = farm_us;
  state.counters["feroq_cpu_us"] = Median(farm_cpu) * 1e6;
  state.counters["feroq_others_cpu_us"] = Median(farm_others) * 1e6;
  if (raw) {
    state.counters["raw_us"] = Median(raw_wall) * 1e6;
    state.counters["raw_cpu_us"] = Median(raw_cpu) * 1e6;
    state.counters["of_raw"] = Median(raw_wall) / Median(farm_wall);
    state.counters["of_raw_cpu"] = Median(raw_cpu) / Median(farm_cpu);
  }
  state.SetIterationTime(farm_us / 1e6);
}

bool Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  rusage used{};
  if (wait4(child, &status, 0, &used) != child) return false;
  g_tool_cpu_seconds += static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
                        (used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace feroq::bench
