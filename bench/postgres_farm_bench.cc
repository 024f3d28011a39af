// The PostgreSQL farm beside the raw libpq statements that bound it, on a
// throwaway cluster this program starts (scripts/pg-test-cluster.sh) and
// stops, over the local Unix socket:
//
//   publish (ZQAppSAL::Write of a new application)  vs  one transaction
//       holding a single-row INSERT of a record of the same size
//   ZQAppSAL::Read of an application by id          vs  SELECT of the
//       record by id
//   a waiter on its own connection (WaitForEventAfter) woken by a commit
//       on another connection: p50 and p99 from the start of the commit to
//       the wake, as counters (p50_us, p99_us)
//
// Each figure is per operation (wall clock); the raw statements run on a
// table of their own in the same database, prepared once. The machine's
// load drifts between two benchmarks run one after the other, so the
// *BesideRaw lines run one operation and its raw statement in turn in the
// same loop and report the median of each (feroq_us, raw_us) and their
// ratio (of_raw, raw / feroq: 1 is as fast as raw).
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "feroq/services/farm_admin.h"
#include "services/store/postgres_farm_store.h"
#include "support/bench_farm.h"

namespace feroq::bench {
namespace {

using Clock = std::chrono::steady_clock;

// The cluster, started on first use and stopped when the program ends.
struct Cluster {
  std::string info;
  std::string url;  // the benchmark database, over the Unix socket
  Cluster() {
    info = "/tmp/feroq-pg-bench-" + std::to_string(getpid()) + ".env";
    const std::string start = std::string("bash '") + FEROQ_PG_CLUSTER_SCRIPT + "' start " + info;
    Require(std::system(start.c_str()) == 0, "starting the PostgreSQL cluster");
    std::map<std::string, std::string> settings;
    std::ifstream in(info);
    for (std::string line; std::getline(in, line);) {
      const std::size_t eq = line.find('=');
      if (eq != std::string::npos) settings[line.substr(0, eq)] = line.substr(eq + 1);
    }
    setenv("PGPASSFILE", settings["FEROQ_PG_PASSFILE"].c_str(), 1);
    const std::string base = "postgresql://" + settings["FEROQ_PG_USER"] + "@/";
    const std::string query = "?host=" + settings["FEROQ_PG_DIR"] + "&port=" + settings["FEROQ_PG_PORT"];
    PGconn* admin = PQconnectdb((base + "postgres" + query).c_str());
    PQclear(PQexec(admin, "CREATE DATABASE feroq_bench"));
    PQfinish(admin);
    url = base + "feroq_bench" + query;
    std::unique_ptr<admin::FarmAdmin> farm;
    Require(admin::FarmAdmin::Create(url, &farm) == 0, "making the farm");
  }
  ~Cluster() {
    BenchFarm::CloseCurrent();
    const std::string stop = std::string("bash '") + FEROQ_PG_CLUSTER_SCRIPT + "' stop " + info;
    if (std::system(stop.c_str()) != 0) std::fprintf(stderr, "stopping the cluster failed\n");
  }
};

Cluster& TheCluster() {
  static Cluster cluster;
  return cluster;
}

// A raw connection with the raw table and its two statements prepared.
PGconn* RawConnection() {
  PGconn* c = PQconnectdb(TheCluster().url.c_str());
  Require(PQstatus(c) == CONNECTION_OK, "a raw connection");
  PQclear(PQexec(c, "SET client_min_messages = warning"));
  PQclear(PQexec(c, "CREATE TABLE IF NOT EXISTS raw_apps(id int8 PRIMARY KEY, record bytea NOT NULL)"));
  PQclear(PQprepare(c, "insert", "INSERT INTO raw_apps VALUES ($1::int8, $2::bytea)", 0, nullptr));
  PQclear(PQprepare(c, "select", "SELECT record FROM raw_apps WHERE id = $1::int8", 0, nullptr));
  return c;
}

// The size of the record a published application of these benchmarks
// stores (with its keys and name), for the raw rows.
std::size_t RecordBytes(PGconn* c) {
  BenchFarm& farm = BenchFarm::Use(TheCluster().url);
  static std::size_t sized = 0;
  farm.PublishApp(farm.Root(), Numbered(u"Sized-", sized++));
  PGresult* r = PQexec(c, "SELECT length(record) + length(name) + length(name_key) + length(display_key)"
                          " FROM applications ORDER BY id DESC LIMIT 1");
  const std::size_t bytes = std::strtoul(PQgetvalue(r, 0, 0), nullptr, 10);
  PQclear(r);
  return bytes;
}

void BM_PostgresPublish(benchmark::State& state) {
  BenchFarm& farm = BenchFarm::Use(TheCluster().url);
  const ULONG64 root = farm.Root();
  static std::size_t serial = 0;
  for (auto _ : state) farm.PublishApp(root, Numbered(u"P-", serial++));
}

// The raw reference for a publish: one row of `record` under `id` in a
// transaction of its own.
void RawInsertTransaction(PGconn* c, std::int64_t id, const std::string& record) {
  const std::string key = std::to_string(id);
  const char* values[] = {key.c_str(), record.c_str()};
  PQclear(PQexec(c, "BEGIN"));
  PQclear(PQexecPrepared(c, "insert", 2, values, nullptr, nullptr, 0));
  PQclear(PQexec(c, "COMMIT"));
}

void BM_PostgresRawInsertTransaction(benchmark::State& state) {
  PGconn* c = RawConnection();
  const std::string record(RecordBytes(c), 'r');
  static std::int64_t id = 0;
  for (auto _ : state) {
    RawInsertTransaction(c, ++id, record);
  }
  PQfinish(c);
}

void BM_PostgresRead(benchmark::State& state) {
  BenchFarm& farm = BenchFarm::Use(TheCluster().url);
  // Benchmark runs this function more than once: publish once.
  static const ULONG64 id = farm.PublishApp(farm.Root(), u"Read");
  for (auto _ : state) {
    ZQApp record;
    Require(farm.apps().Read(id, record) == 0, "reading an application");
  }
}

void BM_PostgresRawSelect(benchmark::State& state) {
  PGconn* c = RawConnection();
  const std::string record(RecordBytes(c), 'r');
  const char* insert[] = {"-1", record.c_str()};
  PQclear(PQexec(c, "DELETE FROM raw_apps WHERE id = -1"));
  PQclear(PQexecPrepared(c, "insert", 2, insert, nullptr, nullptr, 0));
  const char* key[] = {"-1"};
  for (auto _ : state) {
    PGresult* r = PQexecPrepared(c, "select", 1, key, nullptr, nullptr, 1);
    benchmark::DoNotOptimize(PQgetvalue(r, 0, 0));
    PQclear(r);
  }
  PQfinish(c);
}

// Runs `feroq` and `raw` in turn, timing each; the iteration's time is
// their sum.
template <class Feroq, class Raw>
void InTurn(benchmark::State& state, Feroq&& feroq, Raw&& raw) {
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    const auto start = Clock::now();
    feroq();
    const auto middle = Clock::now();
    raw();
    const auto end = Clock::now();
    ours.push_back(std::chrono::duration<double, std::micro>(middle - start).count());
    theirs.push_back(std::chrono::duration<double, std::micro>(end - middle).count());
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
  }
  if (ours.empty()) return;
  auto median = [](std::vector<double>& v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
  };
  const double feroq_us = median(ours), raw_us = median(theirs);
  state.counters["feroq_us"] = feroq_us;
  state.counters["raw_us"] = raw_us;
  state.counters["of_raw"] = raw_us / feroq_us;
}

// A publish in turn with a raw line that writes a row of the same size
// under a fresh id, in a transaction of its own when `whole_transaction`,
// else as the INSERT alone, the strictest reference: the server runs it as
// a transaction of its own, one round trip, as a publish into a folder the
// last write used is. Each line names and numbers its rows apart.
void PublishBeside(benchmark::State& state, bool whole_transaction) {
  BenchFarm& farm = BenchFarm::Use(TheCluster().url);
  const ULONG64 root = farm.Root();
  PGconn* c = RawConnection();
  const std::string record(RecordBytes(c), 'r');
  static std::size_t serial[2] = {0, 0};
  static std::int64_t id[2] = {1000000000, 2000000000};
  const int line = whole_transaction ? 0 : 1;
  InTurn(
      state, [&] { farm.PublishApp(root, Numbered(whole_transaction ? u"T-" : u"A-", serial[line]++)); },
      [&] {
        if (whole_transaction) {
          RawInsertTransaction(c, ++id[line], record);
          return;
        }
        const std::string key = std::to_string(++id[line]);
        const char* values[] = {key.c_str(), record.c_str()};
        PQclear(PQexecPrepared(c, "insert", 2, values, nullptr, nullptr, 0));
      });
  PQfinish(c);
}

void BM_PostgresPublishBesideRaw(benchmark::State& state) { PublishBeside(state, true); }
void BM_PostgresPublishBesideAutocommit(benchmark::State& state) { PublishBeside(state, false); }

void BM_PostgresReadBesideRaw(benchmark::State& state) {
  BenchFarm& farm = BenchFarm::Use(TheCluster().url);
  static const ULONG64 app = farm.PublishApp(farm.Root(), u"ReadInTurn");
  PGconn* c = RawConnection();
  const std::string record(RecordBytes(c), 'r');
  const char* insert[] = {"-2", record.c_str()};
  PQclear(PQexec(c, "DELETE FROM raw_apps WHERE id = -2"));
  PQclear(PQexecPrepared(c, "insert", 2, insert, nullptr, nullptr, 0));
  const char* key[] = {"-2"};
  InTurn(
      state,
      [&] {
        ZQApp read;
        Require(farm.apps().Read(app, read) == 0, "reading an application");
      },
      [&] {
        PGresult* r = PQexecPrepared(c, "select", 1, key, nullptr, nullptr, 1);
        benchmark::DoNotOptimize(PQgetvalue(r, 0, 0));
        PQclear(r);
      });
  PQfinish(c);
}

// A commit on one connection waking a waiter on another.
void BM_PostgresEventWake(benchmark::State& state) {
  std::shared_ptr<store::FarmStore> waiter_store, writer_store;
  Require(store::OpenPostgresFarmStore(TheCluster().url, false, &waiter_store) == 0 &&
              store::OpenPostgresFarmStore(TheCluster().url, false, &writer_store) == 0,
          "two connections to the farm");
  std::vector<double> latencies;
  for (auto _ : state) {
    ULONG64 last = 0;
    waiter_store->Read([&](const store::FarmView& v) -> VSTATUS {
      last = v.LastEventSequence();
      return 0;
    });
    std::atomic<std::int64_t> woke{0};
    std::thread waiter([&] {
      if (waiter_store->WaitForEventAfter(last, 5000)) woke = Clock::now().time_since_epoch().count();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the waiter is asleep again
    const auto start = Clock::now();
    writer_store->Write([](store::FarmTxn& txn) -> VSTATUS {
      txn.AppendEvent(0x1101, std::vector<BYTE>(10, 0));
      return 0;
    });
    waiter.join();
    const double us = (woke.load() - start.time_since_epoch().count()) / 1000.0;
    latencies.push_back(us);
    state.SetIterationTime(us / 1e6);
  }
  std::sort(latencies.begin(), latencies.end());
  if (!latencies.empty()) {
    state.counters["p50_us"] = latencies[latencies.size() / 2];
    state.counters["p99_us"] = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
  }
}

BENCHMARK(BM_PostgresPublish)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PostgresRawInsertTransaction)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PostgresRead)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PostgresRawSelect)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PostgresPublishBesideRaw)->Unit(benchmark::kMicrosecond)->MinTime(4.0)->UseManualTime();
BENCHMARK(BM_PostgresPublishBesideAutocommit)->Unit(benchmark::kMicrosecond)->MinTime(4.0)->UseManualTime();
BENCHMARK(BM_PostgresReadBesideRaw)->Unit(benchmark::kMicrosecond)->MinTime(4.0)->UseManualTime();
BENCHMARK(BM_PostgresEventWake)->Iterations(300)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace feroq::bench
