// Timing a farm's operation beside the raw statement that bounds it, in one
// process: a batch of the farm's operation, then a batch of the raw
// statement, round after round, so that both see the same machine load,
// reported as medians in the benchmark's counters. The raw statements run on
// the benchmark's thread alone; the CPU time counted for the farm is its
// batch's on that thread, the tool processes run through Run, and whatever
// the process's other threads (the store's own) spend meanwhile.
#ifndef FEROQ_BENCH_SUPPORT_INTERLEAVED_TIMING_H_
#define FEROQ_BENCH_SUPPORT_INTERLEAVED_TIMING_H_

#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

namespace feroq::bench {

// Wall-clock and CPU seconds per operation: this thread's (with the tool
// processes it ran) and the other threads'.
struct PerOp {
  double wall = -1;
  double cpu = 0;
  double others = 0;
};

// Runs `op` `ops` times; a negative wall time when `op` fails.
PerOp TimeBatch(int ops, const std::function<bool()>& op);

// Runs `rounds` rounds of a farm batch then a raw batch (the raw one left
// out when `raw` is empty) and reports medians in microseconds: wall-clock
// (feroq_us, raw_us, of_raw) and CPU time (feroq_cpu_us, raw_cpu_us,
// of_raw_cpu), which the machine's other load moves less; feroq_others_cpu_us
// is the part of feroq_cpu_us spent on the farm's other threads. A round's farm
// CPU is its batch's on this thread plus all the other threads did during
// the round (the raw batch included); the raw CPU is the raw batch's on
// this thread.
void Interleave(benchmark::State& state, int rounds, int farm_ops, const std::function<bool()>& farm,
                int raw_ops, const std::function<bool()>& raw);

// Runs the program args[0] with `args`, its output discarded, and waits for
// it: true when it exited with 0. Its user and system time counts as this
// thread's CPU time in the batches timed afterwards.
bool Run(const std::vector<std::string>& args);

}  // namespace feroq::bench

#endif  // FEROQ_BENCH_SUPPORT_INTERLEAVED_TIMING_H_
