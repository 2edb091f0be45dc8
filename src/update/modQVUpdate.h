// The update driver: Main performs one update run from start to end over the platform seam.
#pragma once

#include <cstdint>

#include "platform/seam.h"
#include "update/protected_package.h"

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
};

// The run's language: English when the arguments hold "/en" anywhere, without regard to case;
// German otherwise.
bool ChoosesEnglish(TextView arguments);

// Runs the update. Raises qv::Error (registry errors, a shortcut that cannot be replaced);
// catches none.
RunOutcome Main(win::Platform& platform, const RunContext& context);

// The process exit status for an outcome, in the Windows Installer's numbers that deployment
// tools understand.
constexpr int kExitUpdated = 0;
constexpr int kExitCancelled = 1602;    // ERROR_INSTALL_USEREXIT
constexpr int kExitError = 1603;        // ERROR_INSTALL_FAILURE
constexpr int kExitNotInstalled = 1605; // ERROR_UNKNOWN_PRODUCT
constexpr int kExitUnchanged = 1642;    // ERROR_PATCH_TARGET_NOT_FOUND
constexpr int kExitPackageUnusable = 1636;  // ERROR_PATCH_PACKAGE_OPEN_FAILED
constexpr int kExitPackageRejected = 1643;  // ERROR_PATCH_PACKAGE_REJECTED: not the release's own
constexpr int kExitNoProtectedFolder = 1632;  // ERROR_INSTALL_TEMP_UNWRITABLE
int ExitStatus(RunOutcome outcome);

}  // namespace qv
