// The update driver: Main performs one update run from start to end over the platform seam.
#pragma once

#include <cstdint>

#include "platform/seam.h"
#include "update/protected_package.h"
#include "update/run_log.h"
#include "update/switches.h"

namespace qv {

// How a run ended. An error that leaves Main (a qv::Error) is the fifth way.
enum class RunOutcome {
  Updated,           // the version of QVApp.exe changed and the report was shown
  NotInstalled,      // the product key is missing; the not-installed message was shown
  Cancelled,         // the user cancelled the close-programs prompt
  VersionUnchanged,  // the patch left the version mark of QVApp.exe as it was
  // The patch package cannot be used; a message said why and nothing was changed:
  PackageUnusable,    // missing, unreadable or damaged
  PackageRejected,    // not the package the release was made for (another SHA-256)
  NoProtectedFolder,  // no folder only administrators can change could be made for its copy
};

struct RunContext {
  Text arguments;                // the command line without the program's own path
  int processBits = 32;          // the word size of the running program (32 or 64)
  Text exeName = u"QV3Update";   // the executable's file name without extension
  // The SHA-256 of the patch package the release was made for, as the build carries it; without
  // one (development and test builds) any package is applied, always from its protected copy.
  std::optional<Sha256Digest> packageSha256;
  // The switches of the command line (ParseSwitches(arguments)); what Main itself takes from them
  // is the installer's command line: /qn instead of /qb, /norestart, its verbose log.
  Switches switches;
  // Where the run's steps are logged (/log); null: nowhere.
  RunLog* log = nullptr;
  // The installer's verbose log (/l*v), where the run's own log could be made; none: no log.
  std::optional<Text> installerLog;
  // Filled as the run goes (the versions, the installer's exit code), so that a caller still
  // has them when an error ends the run; null: Main's own record only.
  struct RunResult* progress = nullptr;
};

// What a run came to: its outcome and, when the installer ran, its exit code.
struct RunResult {
  RunOutcome outcome = RunOutcome::VersionUnchanged;
  std::optional<std::uint32_t> installerExitCode;
  Text appVersionBefore, appVersionAfter;  // QVApp.exe's file version, "a.b.c.d" or "none"
  // What the run found: the install folder, the product's window, the package and its hash.
  Text installFolder;
  bool productRunning = false;
  Text package;
  std::optional<Sha256Digest> packageSha256;
  bool operator==(RunOutcome o) const { return outcome == o; }
  bool operator!=(RunOutcome o) const { return outcome != o; }
};
inline bool operator==(RunOutcome o, const RunResult& r) { return r == o; }

// The run's language: English when the arguments hold "/en" anywhere, without regard to case;
// German otherwise.
bool ChoosesEnglish(TextView arguments);

// Runs the update. Raises qv::Error (registry errors, a shortcut that cannot be replaced);
// catches none.
RunResult Main(win::Platform& platform, const RunContext& context);

// The process exit status for an outcome, in the Windows Installer's numbers that deployment
// tools understand.
constexpr int kExitUpdated = 0;
constexpr int kExitCancelled = 1602;    // ERROR_INSTALL_USEREXIT
constexpr int kExitError = 1603;        // ERROR_INSTALL_FAILURE
constexpr int kExitNotInstalled = 1605; // ERROR_UNKNOWN_PRODUCT
constexpr int kExitUnchanged = 1642;    // ERROR_PATCH_TARGET_NOT_FOUND
constexpr int kExitPackageUnusable = 1636;  // ERROR_PATCH_PACKAGE_INVALID
constexpr int kExitPackageRejected = 1643;  // ERROR_PATCH_PACKAGE_REJECTED: not the release's own
constexpr int kExitNoProtectedFolder = 1632;  // ERROR_INSTALL_TEMP_UNWRITABLE
int ExitStatus(RunOutcome outcome);
// The exit status of a run: the installer's own code where it is an error or a restart code
// (ERROR_SUCCESS_REBOOT_REQUIRED 3010 and ERROR_SUCCESS_REBOOT_INITIATED 1641 over success and
// over "version unchanged"), the outcome's otherwise.
int ExitStatus(const RunResult& result);
constexpr int kExitRebootRequired = 3010;   // ERROR_SUCCESS_REBOOT_REQUIRED
constexpr int kExitRebootInitiated = 1641;  // ERROR_SUCCESS_REBOOT_INITIATED
constexpr int kExitUsage = 1639;  // ERROR_INVALID_COMMAND_LINE: "/?", nothing was done

}  // namespace qv
