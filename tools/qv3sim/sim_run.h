// One run of the real update driver (qv::Main) on a described machine, with everything the
// machine saw: dialogs, child processes, registry and file changes, error-reporting exclusions
// and how the run ended.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "machine_desc.h"
#include "platform/sim/sim_machine.h"
#include "update/modQVUpdate.h"

namespace qv3sim {

struct EscapedError {
  std::int32_t number = 0;
  std::string description;  // UTF-8
  std::string source;
};

struct RunResult {
  std::unique_ptr<qv::sim::SimMachine> machine;  // the machine after the run
  std::optional<qv::RunOutcome> outcome;         // empty when the run ended by an error
  std::optional<EscapedError> error;             // a qv::Error that left Main
  std::string failure;  // any other exception that left Main (a defect), its message
  int exitStatus = 0;   // as the real program ends
  bool usage = false;   // "/?": the usage message was shown, nothing else happened
  bool quiet = false;   // "/quiet": no dialog was shown
  std::optional<std::uint32_t> installerExitCode;  // when the installer ran
};

// The command-line argument text and the program name the updater sees.
qv::RunContext ContextFor(const MachineDescription& machine);

// Builds the machine, runs Main on it and collects the result. Never throws for a problem of
// the run itself; those are in the result.
RunResult RunOnMachine(const MachineDescription& machine);

// "updated", "not installed", "cancelled", "version unchanged", "error", "failure".
std::string OutcomeName(const RunResult& result);

}  // namespace qv3sim
