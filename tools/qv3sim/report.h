// What qv3sim shows of a run: dialogs drawn as boxes, child processes, the registry changes as
// a regedit file, file changes, error-reporting exclusions and the outcome with the exit status
// of the real program. UTF-8 text for a terminal, or JSON.
#pragma once

#include <string>
#include <vector>

#include "machine_desc.h"
#include "sim_run.h"

namespace qv3sim {

// The registry changes of one view of the registry.
struct ViewChanges {
  std::string view;   // "64-bit view", "32-bit view" or "registry" (32-bit Windows)
  RegFile changed;    // keys created and values new, changed or deleted; final data
  std::vector<RegFileValue> rewritten;  // values written with the data they already had
  std::vector<std::string> rewrittenKeys;  // their keys, parallel to `rewritten`
  int valuesWritten = 0;  // every value write the program made here
};

// "32-bit view" when the physical path runs through a Wow6432Node key, otherwise "64-bit view"
// on 64-bit Windows and "registry" on 32-bit Windows.
std::string ViewOfPath(const std::string& physicalPath, int windowsBits);

// The changes the run made, per view (64-bit or only view first, then the 32-bit view); views
// without changes are left out.
std::vector<ViewChanges> CollectRegistryChanges(const qv::sim::SimRegistry& registry);

// A regedit file of the changes (UTF-8, LF): header, then per view a comment line and its
// sections; values rewritten unchanged are listed as comments.
std::string RegistryChangesFile(const std::vector<ViewChanges>& views);

// A dialog drawn as a box with its fields and the answer, for a terminal; the buttons Windows
// makes are labelled in the machine's UI language.
std::string DrawDialog(const qv::sim::DialogRecord& dialog, int number,
                       qv::win::LANGID uiLanguage = 0x0409);

// The whole report of a run.
std::string TextReport(const MachineDescription& machine, const RunResult& result);

// The same as a JSON document.
std::string JsonReport(const MachineDescription& machine, const RunResult& result);

// Display names of codes, for the report and tests.
std::string DialogResultName(int result);
std::string MessageBoxStyleText(unsigned style);
std::string TaskDialogFlagsText(unsigned flags);
std::string CommonButtonsText(unsigned buttons);

}  // namespace qv3sim
