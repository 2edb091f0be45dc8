// sim_runs_bench: how many runs of the update driver on qv3sim's built-in default machine
// (a fresh simulated machine each time, the whole update, the same as `qv3sim` without
// arguments) this computer does per second.
//
// Usage: sim_runs_bench [SECONDS]   (default 2; at least 10 runs)
// Prints "runs N", "seconds S" and "runs_per_second R". Ends with status 1 when a run does not
// end the way the default machine's run does (updated, exit status 0), so the figure is that
// of real, complete runs.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "machine_desc.h"
#include "sim_run.h"

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
  const qv3sim::MachineDescription machine = qv3sim::DefaultMachine();
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  long runs = 0;
  double elapsed = 0;
  do {
    const qv3sim::RunResult result = qv3sim::RunOnMachine(machine);
    if (result.exitStatus != 0 || !result.failure.empty() || !result.outcome) {
      std::fprintf(stderr, "sim_runs_bench: run %ld ended with status %d (%s)\n", runs + 1,
                   result.exitStatus, qv3sim::OutcomeName(result).c_str());
      return 1;
    }
    ++runs;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (runs < 10 || elapsed < seconds);
  std::printf("runs %ld\nseconds %.3f\nruns_per_second %.1f\n", runs, elapsed, runs / elapsed);
  return 0;
}
