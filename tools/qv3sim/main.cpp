// qv3sim: what QV3Update would do on a given Windows machine, without Windows. Runs the real
// update driver on a simulated machine (the built-in default one, or one described in a JSON
// file) and reports every dialog, child process, registry change and file change, and how the run
// ends with the exit status the real program would give.
#include <CLI/CLI.hpp>
#include <exception>
#include <fstream>
#include <iostream>

#include "machine_desc.h"
#include "matrix.h"
#include "report.h"
#include "sim_run.h"

namespace {

constexpr int kExitDescriptionError = 2;
constexpr int kExitOutputError = 1;

int Run(int argc, char** argv) {
  CLI::App app{
      "qv3sim: runs the real QV3Update driver on a simulated Windows machine and reports what it "
      "does there (dialogs, child processes, registry changes, file changes, outcome)."};
  std::string machineFile;
  std::string registryOut;
  bool matrix = false, json = false, quiet = false, printMachine = false;
  app.add_option("-m,--machine", machineFile,
                 "machine description (JSON); without it, the built-in default machine");
  app.add_option("--registry-out", registryOut,
                 "write the registry changes as a .reg file (UTF-16LE, as regedit exports)");
  app.add_flag("--matrix", matrix, "run every combination of the main variations, one line each");
  app.add_flag("--json", json, "print the report as JSON");
  app.add_flag("-q,--quiet", quiet, "print only the outcome and exit status");
  app.add_flag("--print-machine", printMachine,
               "print the machine description as JSON (a start for a new description) and stop");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitDescriptionError;
  }

  if (matrix) {
    const qv3sim::MatrixSummary summary = qv3sim::RunMatrix(std::cout);
    return summary.failures == 0 ? 0 : kExitOutputError;
  }

  qv3sim::MachineDescription machine;
  try {
    machine = machineFile.empty() ? qv3sim::DefaultMachine()
                                  : qv3sim::ReadDescriptionFile(machineFile);
  } catch (const qv3sim::DescriptionError& e) {
    std::cerr << e.what() << "\n";
    return kExitDescriptionError;
  }
  if (printMachine) {
    std::cout << qv3sim::DescriptionToJson(machine);
    return 0;
  }

  const qv3sim::RunResult result = qv3sim::RunOnMachine(machine);
  if (json) {
    std::cout << qv3sim::JsonReport(machine, result);
  } else if (quiet) {
    std::cout << "Outcome: " << qv3sim::OutcomeName(result) << "\nExit status: "
              << result.exitStatus << "\n";
  } else {
    std::cout << qv3sim::TextReport(machine, result);
  }
  if (!registryOut.empty()) {
    const qv3sim::AnsiCodePageScope codePageScope(machine.codePage);
    const auto views = qv3sim::CollectRegistryChanges(result.machine->registry());
    std::ofstream out(registryOut, std::ios::binary);
    out << qv3sim::ToRegeditBytes(qv3sim::RegistryChangesFile(views));
    if (!out) {
      std::cerr << registryOut << ": error: cannot write the registry file\n";
      return kExitOutputError;
    }
  }
  return result.failure.empty() ? 0 : kExitOutputError;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "qv3sim: error: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "qv3sim: error: unexpected failure\n";
  }
  return kExitOutputError;
}
