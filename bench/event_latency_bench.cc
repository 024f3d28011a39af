// Event latency: from the start of a commit (ZQWinAppObject::Save of an
// application) to the moment a thread blocked in FarmObject::WaitForEvent
// returns with the event, measured with CLOCK_MONOTONIC over a bounded number
// of events; median, 99th percentile and maximum are reported as counters
// (p50_us, p99_us, max_us) and the median as the iteration time.
//
// - In-process, memory farm and SQLite farm: the waiter is a thread with a
//   farm object of its own; the commit is made through another farm object.
// - Across processes, SQLite farm: a forked child opens the farm file,
//   waits, and sends back the time it woke through a pipe. The commit wakes
//   it through the farm's change signal; commits are spaced by random pauses
//   so that, were the signal lost, the fallback poll's every phase would
//   show in the figures.
// The commit's own duration (until Save returns) is reported as save_p50_us.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "support/bench_farm.h"

namespace feroq::bench {
namespace {

constexpr int kInProcessEvents = 300;
constexpr int kCrossProcessEvents = 100;
constexpr LONG kWaitTimeoutMs = 5000;

std::int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SleepUs(std::int64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Report(benchmark::State& state, std::vector<double> latencies_us, int wanted) {
  if (static_cast<int>(latencies_us.size()) != wanted) {
    state.SkipWithError("events were lost or never arrived");
    return;
  }
  std::sort(latencies_us.begin(), latencies_us.end());
  const auto at = [&](double q) {
    return latencies_us[std::min(latencies_us.size() - 1, static_cast<std::size_t>(q * latencies_us.size()))];
  };
  state.counters["p50_us"] = at(0.5);
  state.counters["p99_us"] = at(0.99);
  state.counters["max_us"] = latencies_us.back();
  state.counters["events"] = static_cast<double>(latencies_us.size());
}

// Waits for one event on `queue` and gives back what it carried. Returns
// the wake time, or -1 when no event came.
std::int64_t WaitOnce(FarmObject& farm, LONG queue) {
  LONG type = 0;
  CommonObject* object = nullptr;
  CommonObject* second = nullptr;
  const HRESULT result = farm.WaitForEvent(queue, kWaitTimeoutMs, &type, &object, &second);
  const std::int64_t woke = MonotonicNs();
  if (object != nullptr) farm.FreeObject(object);
  if (second != nullptr) farm.FreeObject(second);
  return result == S_OK ? woke : -1;
}

// The application every commit saves: the first of the farm.
ZQWinAppObject* FirstApp(FarmObject& farm) {
  CommonObject** apps = nullptr;
  ULONG count = 1;
  Require(farm.EnumerateApps(&apps, &count) == S_OK && count >= 1, "an application to save");
  auto* app = static_cast<ZQWinAppObject*>(apps[0]);
  farm.FreeMemory(apps);
  Require(app->Load() == S_OK, "loading the application");
  return app;
}

void InProcess(benchmark::State& state, const std::string& url) {
  BenchFarm& bench = BenchFarm::Use(url, [](BenchFarm& farm) { farm.PublishApp(farm.Root(), u"Watched"); });
  FarmObject& waiter_farm = bench.farm();
  FarmObject committer;  // a second farm object on the same farm
  ZQWinAppObject* app = FirstApp(committer);
  std::mt19937 random(7);
  for (auto _ : state) {
    LONG queue = 0;
    Require(waiter_farm.CreateEventQueue(nullptr, 0, &queue) == S_OK, "an event queue");
    std::atomic<std::int64_t> woke{0};
    std::atomic<bool> stop{false};
    std::thread waiter([&] {
      while (!stop.load()) {
        const std::int64_t at = WaitOnce(waiter_farm, queue);
        if (at > 0) {
          woke.store(at);
        }
      }
    });
    std::vector<double> latencies;
    std::vector<double> saves;
    for (int i = 0; i < kInProcessEvents; ++i) {
      SleepUs(200 + random() % 800);  // the waiter is blocked again
      woke.store(0);
      const std::int64_t start = MonotonicNs();
      if (app->Save() != S_OK) break;
      saves.push_back((MonotonicNs() - start) / 1000.0);
      const std::int64_t deadline = start + 2'000'000'000;
      while (woke.load() == 0 && MonotonicNs() < deadline) std::this_thread::yield();
      if (woke.load() == 0) break;
      latencies.push_back((woke.load() - start) / 1000.0);
    }
    stop.store(true);
    app->Save();  // wakes the waiter so that it sees `stop`
    waiter.join();
    waiter_farm.DeleteEventQueue(queue);
    Report(state, latencies, kInProcessEvents);
    state.counters["save_p50_us"] = Median(saves);
    state.SetIterationTime(Median(latencies) / 1e6);
  }
  Release(committer, app);
}

void BM_EventLatencyInProcessMemory(benchmark::State& state) { InProcess(state, "memory:events"); }
void BM_EventLatencyInProcessSqlite(benchmark::State& state) {
  const std::string path = BenchTempDir() + "/events-in-process.db";
  SeedSqliteFarmFile(path, 0);  // the services open only a farm file that exists
  InProcess(state, "sqlite:" + path);
}

// The forked waiter: opens the farm file, makes its queue, says it is ready,
// then sends the wake time of each event. Never returns.
[[noreturn]] void RunChildWaiter(const std::string& url, int ready_fd, int times_fd) {
  setenv("FEROQ_FARM", url.c_str(), 1);
  int code = 0;
  {
    FarmObject farm;
    LONG queue = 0;
    if (farm.CreateEventQueue(nullptr, 0, &queue) != S_OK) _exit(3);
    const char ready = 'r';
    if (write(ready_fd, &ready, 1) != 1) _exit(4);
    for (int i = 0; i < kCrossProcessEvents; ++i) {
      const std::int64_t woke = WaitOnce(farm, queue);
      if (write(times_fd, &woke, sizeof(woke)) != sizeof(woke)) code = 5;
      if (woke < 0 || code != 0) break;
    }
    farm.DeleteEventQueue(queue);
  }
  _exit(code);
}

bool ReadWithTimeout(int fd, void* buffer, std::size_t size, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  if (poll(&entry, 1, timeout_ms) != 1) return false;
  return read(fd, buffer, size) == static_cast<ssize_t>(size);
}

void BM_EventLatencyCrossProcessSqlite(benchmark::State& state) {
  const std::string path = BenchTempDir() + "/events-cross-process.db";
  const std::string url = "sqlite:" + path;
  SeedSqliteFarmFile(path, 1);
  // The child must not inherit an open farm: close it before forking.
  BenchFarm::CloseCurrent();
  std::mt19937 random(11);
  for (auto _ : state) {
    int ready[2];
    int times[2];
    Require(pipe(ready) == 0 && pipe(times) == 0, "pipes");
    const pid_t child = fork();
    Require(child >= 0, "fork");
    if (child == 0) {
      close(ready[0]);
      close(times[0]);
      RunChildWaiter(url, ready[1], times[1]);
    }
    close(ready[1]);
    close(times[1]);
    char signal = 0;
    Require(ReadWithTimeout(ready[0], &signal, 1, 10000), "the waiting process did not start");
    FarmObject& farm = BenchFarm::Use(url).farm();
    ZQWinAppObject* app = FirstApp(farm);
    std::vector<double> latencies;
    std::vector<double> saves;
    for (int i = 0; i < kCrossProcessEvents; ++i) {
      SleepUs(1000 + random() % 25000);
      const std::int64_t start = MonotonicNs();
      if (app->Save() != S_OK) break;
      saves.push_back((MonotonicNs() - start) / 1000.0);
      std::int64_t woke = -1;
      if (!ReadWithTimeout(times[0], &woke, sizeof(woke), 5000) || woke < 0) break;
      latencies.push_back((woke - start) / 1000.0);
    }
    Release(farm, app);
    BenchFarm::CloseCurrent();
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    close(times[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("the waiting process failed");
    Report(state, latencies, kCrossProcessEvents);
    state.counters["save_p50_us"] = Median(saves);
    state.SetIterationTime(Median(latencies) / 1e6);
  }
}

BENCHMARK(BM_EventLatencyInProcessMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EventLatencyInProcessSqlite)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EventLatencyCrossProcessSqlite)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace feroq::bench
