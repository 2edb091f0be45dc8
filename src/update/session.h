// One run of QV3Update as it was started: the command line's switches, the run's log and its
// Application event around Main, for a person at the screen and for deployment tools alike.
//
//   /?        a short usage message, and nothing else (exit status 0)
//   /quiet    no window of the updater's own (QuietDialogs): the prompt counts as confirmed, no
//             message and no report is shown, the installer gets /qn /norestart
//   /log P    the run's log at P (FileRunLog), the installer's verbose log at P.msi.log; the
//             folder is made where it is missing. A log that cannot be created does not stop
//             the update; the run's event says so.
//   /whatif P the run over the machine as it is, every change recorded instead of made
//             (WhatIfPlatform), reported at P (the one file written); one message box at the end
//             that sums it up, none under /quiet. Its exit status is the real run's up to the
//             installer, 0 where it would start the installer.
// At the end, one event in the Application log (source "QV3Update", registered with the
// program's own message table by a run that reached the installer) with the outcome,
// QVApp.exe's versions and the exit status.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "update/modQVUpdate.h"

namespace qv {

// The updater's own file version, as its version block gives it ("3.10.0.68").
extern const char16_t kUpdaterVersion[];

// The event source and the message of the program's message table that carries one text (%1).
inline constexpr char16_t kEventSource[] = u"QV3Update";
inline constexpr win::DWORD kEventMessageId = 1;

// The top-level report of an error that left the update run: its number, description and
// source, with CR LF line breaks.
Text ErrorReport(std::int32_t number, TextView description, TextView source);
// The top-level report of a failure that is not one of the program's errors (a C++ exception
// with only a message; UTF-8 as the standard library gives it).
Text FailureReport(std::string_view message);
// The top-level report when memory ran out.
Text OutOfMemoryReport();

class Session {
 public:
  Session(win::Platform& platform, RunContext context);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  // The whole run: Main within the switches, the log and the event. An error that leaves Main
  // ends it as Failed does. Returns the exit status.
  int Run();
  // A failure that ended the run outside Main's own errors (`report`: its text): logged, shown
  // unless /quiet, written as the run's event; exit status 1603.
  int Failed(const Text& report);

  const Switches& switches() const { return context_.switches; }
  // What the run came to; its outcome is meaningless when an error ended it.
  const RunResult& result() const { return result_; }
  // The error that left Main, if one did.
  struct CaughtError {
    std::int32_t number = 0;
    Text description, source;
  };
  const std::optional<CaughtError>& error() const { return error_; }

 private:
  void Start();
  void End(const Text& outcome, int status, win::WORD eventType, bool registerSource);
  void WriteEvent(const Text& text, win::WORD type, bool registerSource);
  void RegisterEventSource(win::Platform& platform, const Text& program);
  int WhatIf();
  Text ProgramPath();

  struct Layers;
  win::Platform& platform_;
  RunContext context_;
  std::unique_ptr<Layers> layers_;
  RunResult result_;
  std::optional<CaughtError> error_;
  bool ended_ = false;
};

}  // namespace qv
