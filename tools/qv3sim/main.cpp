// qv3sim: what QV3Update would do on a given Windows machine, without Windows. Runs the real
// update driver on a simulated machine (the built-in default one, or one described in a JSON
// file) and reports every dialog, child process, registry change and file change, and how the run
// ends with the exit status the real program would give.
//
// Exit status (the same table for the Wine driver, tools/qv3sim/wine/qv3sim_wine.py):
//   0  the run was made (whatever the updater's outcome; the report gives its exit status); with
//      --compare: the simulation and the real run agree
//   1  qv3sim itself failed (a defect, or the system refused what it needs); the message says what
//   2  a mistake in the command, the description or a file it names, or a description Wine
//      cannot stage; nothing was run
//   3  --compare: the simulation and the real run differ
//   4  the real run cannot happen on this machine (Wine, the i386 kernel support or a build
//      missing); the message says why
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <algorithm>
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
#include "tool_files.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitInput = 2;

int InputError(const std::string& message) {
  std::cerr << "qv3sim: error: " << message << "\n";
  return kExitInput;
}

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
            << " (scripts/setup.sh base installs it)\n";
  return kExitFailed;
}

// The first option given that does not go with the others, and why; "" when they all go together.
// One option may choose what qv3sim does (--matrix, --print-machine, --wine, --compare, --html);
// the others must be among those it takes.
std::string OptionMisfit(const std::vector<std::pair<std::string, bool>>& given) {
  auto has = [&given](const std::string& name) {
    for (const auto& [n, g] : given)
      if (n == name && g) return true;
    return false;
  };
  const bool wineRun = has("--wine") || has("--compare");
  std::string mode;
  std::vector<std::string> takes = {"--machine", "--registry-out", "--json", "--quiet"};
  for (const char* m : {"--matrix", "--print-machine", "--wine", "--compare", "--html"}) {
    if (!has(m)) continue;
    mode = m;
    if (mode == "--matrix") takes = {};
    else if (mode == "--print-machine") takes = {"--machine"};
    else takes = {"--machine", "--quiet", "--wine", "--compare", "--html", "--exe", "--work", "--whatif"};
    break;
  }
  for (const auto& [name, isGiven] : given) {
    if (!isGiven || name == mode) continue;
    if ((name == "--exe" || name == "--work" || name == "--whatif") && !wineRun &&
        (mode.empty() || mode == "--html"))
      return name + " goes only with --wine or --compare";
    if (std::find(takes.begin(), takes.end(), name) == takes.end())
      return name + " does not go with " + mode +
             " (docs/qv3sim.md lists the options that go together)";
  }
  if (has("--json") && has("--quiet"))
    return "--quiet does not go with --json (each chooses what the report shows)";
  return "";
}

int Run(int argc, char** argv) {
  CLI::App app{
      "qv3sim: runs the real QV3Update driver on a simulated Windows machine and reports what it "
      "does there (dialogs, child processes, registry changes, file changes, outcome). Exit "
      "status: 0 run made (--compare: agree), 1 qv3sim failed, 2 mistake in the command or the "
      "description, 3 --compare: differ, 4 cannot run here."};
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
  app.add_option("--exe", exe, "with --wine or --compare: the executable to run (default: the "
                               "build's release of the described updater_bits)");
  app.add_option("--html", html, "write the report as one self-contained HTML page, with a "
                                 "screenshot of every real dialog with --wine");
  app.add_option("--work", work, "with --wine or --compare: keep the run's files in this folder");
  bool whatif = false;
  app.add_flag("--whatif", whatif,
               "with --wine or --compare: run the updater's what-if (/whatif) first in the same "
               "prefix, and show and compare its report as a third column");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    return InputError(std::string(e.what()) + " (qv3sim --help lists the options)");
  }

  const std::string misfit = OptionMisfit(
      {{"--machine", !machineFile.empty()}, {"--registry-out", !registryOut.empty()},
       {"--json", json}, {"--quiet", quiet}, {"--matrix", matrix},
       {"--print-machine", printMachine}, {"--wine", wine}, {"--compare", compare},
       {"--html", !html.empty()}, {"--exe", !exe.empty()}, {"--work", !work.empty()},
       {"--whatif", whatif}});
  if (!misfit.empty()) return InputError(misfit);
  const bool driver = wine || compare || !html.empty();
  if (!registryOut.empty()) {
    const std::string problem = qv3sim::OutputFileProblem(registryOut);
    if (!problem.empty()) return InputError("--registry-out " + registryOut + ": " + problem);
  }
  if (!html.empty()) {
    const std::string problem = qv3sim::OutputFileProblem(html);
    if (!problem.empty()) return InputError("--html " + html + ": " + problem);
  }

  if (matrix) {
    const qv3sim::MatrixSummary summary = qv3sim::RunMatrix(std::cout);
    return summary.failures == 0 ? 0 : kExitFailed;
  }

  qv3sim::MachineDescription machine;
  try {
    machine = machineFile.empty() ? qv3sim::DefaultMachine()
                                  : qv3sim::ReadDescriptionFile(machineFile);
  } catch (const qv3sim::DescriptionError& e) {
    std::cerr << e.what() << "\n";
    return kExitInput;
  }
  // An output never takes the place of a file the run reads.
  auto inputs = machine.inputFiles;
  inputs.emplace_back("qv3sim itself", SelfPath(argv[0]));
  if (const auto* input = registryOut.empty() ? nullptr : qv3sim::InputAt(registryOut, inputs))
    return InputError("--registry-out " + registryOut + ": it is " + input->first + " (" +
                      input->second + "), which this run reads; name another file");
  if (printMachine) {
    std::cout << qv3sim::DescriptionToJson(machine);
    return 0;
  }
  if (driver) {
    std::vector<std::string> options;
    if (!machineFile.empty()) options.insert(options.end(), {"--machine", machineFile});
    if (wine) options.push_back("--wine");
    if (compare) options.push_back("--compare");
    if (quiet) options.push_back("--quiet");
    if (!exe.empty()) options.insert(options.end(), {"--exe", exe});
    if (!html.empty()) options.insert(options.end(), {"--html", html});
    if (!work.empty()) options.insert(options.end(), {"--work", work});
    if (whatif) options.push_back("--whatif");
    return RunDriver(argv[0], options);
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
    out.close();
    if (!out)
      return InputError("--registry-out " + registryOut + ": the file could not be written: " +
                        std::strerror(errno));
  }
  if (!result.failure.empty()) {
    std::cerr << "qv3sim: error: the simulated run ended by an unexpected exception (a defect of "
                 "the updater or the simulation): "
              << result.failure << "\n";
    return kExitFailed;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "qv3sim: error: unexpected failure (a defect of qv3sim): " << e.what() << "\n";
  } catch (...) {
    std::cerr << "qv3sim: error: unexpected failure (a defect of qv3sim)\n";
  }
  return kExitFailed;
}
