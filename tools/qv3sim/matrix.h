// The matrix: the updater run on every combination of the main variations of a machine
// (Windows level and word sizes, language, product running, shortcut present, the user's answer,
// the installer raising the version or not), one line per run.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "machine_desc.h"
#include "sim_run.h"

namespace qv3sim {

struct MatrixCase {
  std::string windowsVersion;  // "5.0", "5.1" or "6.1"
  int windowsBits = 32;
  int updaterBits = 32;
  bool english = true;
  bool running = true;
  bool shortcut = true;
  qv::sim::Answer answer = qv::sim::Answer::Confirm;
  bool raised = true;
  unsigned codePage = 1252;  // the system ANSI code page
};

// Every combination, in a fixed order.
std::vector<MatrixCase> MatrixCases();

// The machine of one combination: the default machine with the folders, registry layout and
// Start menu of that Windows.
MachineDescription MachineFor(const MatrixCase& c);

// "6.1/64 u32 en running shortcut confirm raised", with " cp932" for another code page
std::string CaseName(const MatrixCase& c);

// One line: the combination, the outcome and exit status, the dialogs, the programs started,
// the registry value writes per view.
std::string MatrixLine(const MatrixCase& c, const RunResult& result);

struct MatrixSummary {
  std::size_t runs = 0;
  std::size_t failures = 0;  // runs that ended by an exception that is not a qv::Error
  double seconds = 0;
};

// What the matrix runs and what each word of its lines means, printed before the lines.
std::string MatrixLegend(std::size_t runs);

// Runs every combination, writing the legend, one line per run, then the number of runs and
// runs per second.
MatrixSummary RunMatrix(std::ostream& out);

}  // namespace qv3sim
