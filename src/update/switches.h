// The command line's switches, found anywhere in it without regard to case, like "/en":
//   /quiet       no window of the updater's own; the prompt counts as confirmed; the installer
//                runs without its user interface (/qn) and restarts nothing (/norestart)
//   /norestart   the installer restarts nothing, also with its user interface
//   /log PATH    a log of the run (UTF-8) at PATH, the installer's verbose log beside it at
//                PATH.msi.log; PATH in double quotes, or up to the next blank
//   /whatif PATH what the run would do here, written to PATH, and nothing done (see whatif.h)
//   /?           a short usage message, and nothing else
// Anything else on the command line is ignored. "/en" keeps its own rule: anywhere, also inside
// a log's path.
#pragma once

#include <optional>

#include "platform/text.h"

namespace qv {

struct Switches {
  bool quiet = false;
  bool noRestart = false;
  bool usage = false;
  std::optional<Text> logPath;
  std::optional<Text> whatIfPath;
};

Switches ParseSwitches(TextView arguments);

// The path after the switch `name` ("/log"): in double quotes, or up to the next blank; nothing
// when the switch is not there or no path follows it.
std::optional<Text> SwitchPath(TextView arguments, TextView name);

}  // namespace qv
