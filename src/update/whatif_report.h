// The report of a what-if run (/whatif PATH): UTF-8 text in the sections of qv3sim's report, for
// the machine the updater ran on.
#pragma once

#include <optional>
#include <string>

#include "platform/seam.h"
#include "update/modQVUpdate.h"
#include "update/whatif.h"

namespace qv {

// What the report says besides what the run recorded.
struct WhatIfFacts {
  Text updater;        // the updater's own path
  Text arguments;
  int processBits = 32, windowsBits = 32;
  std::optional<Sha256Digest> releaseSha256;  // a release: the package it was made for
  const RunResult* result = nullptr;  // what the run found
  Text error;           // the report of an error that ended the run, if one did
  Text outcome;         // how the run would end
  int exitStatus = 0;
  bool quiet = false;  // /quiet: the run shows no dialog, it answers each one as the record has it
};

// The report; the Windows facts are read from `machine` (read only).
std::string WhatIfReport(win::Platform& machine, const WhatIfRecord& record, const WhatIfFacts& facts);

// Three lines that sum the report up: the product, the package, the changes and the status.
Text WhatIfSummary(const WhatIfRecord& record, const WhatIfFacts& facts);

}  // namespace qv
