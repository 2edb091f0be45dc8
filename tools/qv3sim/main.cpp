// qv3sim: what QV3Update would do on a given Windows machine, without Windows. Runs the real
// update driver on a simulated machine (the built-in default one, or one described in a JSON
// file) and reports every dialog, child process, registry change and file change, and how the run
// ends with the exit status the real program would give.
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <vector>

#include "machine_desc.h"
#include "matrix.h"
#include "report.h"
#include "sim_run.h"

namespace {

constexpr int kExitDescriptionError = 2;
constexpr int kExitOutputError = 1;

// This program's own path, for the driver to run the simulation side with.
std::string SelfPath(const char* argv0) {
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  return n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : std::string(argv0);
}

// Replaces this process by the Wine and HTML driver (python3 DRIVER --qv3sim SELF ...); returns
// only when it cannot be started.
int RunDriver(const char* argv0, const std::vector<std::string>& options) {
  const char* fromEnvironment = std::getenv("QV3SIM_WINE_DRIVER");
  const std::string driver = fromEnvironment && *fromEnvironment ? fromEnvironment : QV3SIM_WINE_DRIVER;
  std::vector<std::string> words = {"python3", driver, "--qv3sim", SelfPath(argv0)};
  words.insert(words.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  ::execvp("python3", argv.data());
  std::cerr << "qv3sim: error: cannot start python3 for " << driver << ": " << std::strerror(errno)
            << "\n";
  return kExitOutputError;
}

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
  bool wine = false, compare = false;
  std::string exe, html, work;
  app.add_flag("--wine", wine,
               "run the real QV3Update.exe under Wine on the machine (a fresh prefix staged from "
               "the description) and report what it did");
  app.add_flag("--compare", compare,
               "run the simulation and the real program under Wine, and compare them section by "
               "section (exit status 3 when they differ)");
  app.add_option("--exe", exe, "with --wine: the executable to run (default: the build's release "
                               "of the described updater_bits)");
  app.add_option("--html", html, "write the report as one self-contained HTML page, with a "
                                 "screenshot of every real dialog with --wine");
  app.add_option("--work", work, "with --wine: keep the prefix's observations in this folder");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitDescriptionError;
  }

  if (wine || compare || !html.empty()) {
    if (matrix || json || printMachine || !registryOut.empty()) {
      std::cerr << "qv3sim: --wine, --compare and --html go with --machine, --exe and --work "
                   "only\n";
      return kExitDescriptionError;
    }
    std::vector<std::string> options;
    if (!machineFile.empty()) options.insert(options.end(), {"--machine", machineFile});
    if (wine) options.push_back("--wine");
    if (compare) options.push_back("--compare");
    if (!exe.empty()) options.insert(options.end(), {"--exe", exe});
    if (!html.empty()) options.insert(options.end(), {"--html", html});
    if (!work.empty()) options.insert(options.end(), {"--work", work});
    return RunDriver(argv[0], options);
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
