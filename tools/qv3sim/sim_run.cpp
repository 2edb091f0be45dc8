#include "sim_run.h"

#include <exception>

#include "platform/text.h"
#include "registry/error.h"
#include "update/session.h"

namespace qv3sim {

qv::RunContext ContextFor(const MachineDescription& machine) {
  qv::RunContext context;
  context.arguments = qv::Utf8ToText(machine.arguments);
  context.processBits = machine.updaterBits;
  // The executable's file name without folder and extension.
  std::string name = machine.updaterPath;
  const std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  if (!name.empty()) context.exeName = qv::Utf8ToText(name);
  // A release: made for the package with this SHA-256, or with this content.
  if (!machine.updaterPackage.empty()) {
    context.packageSha256 = qv::ParseSha256(machine.updaterPackage);
    if (!context.packageSha256)
      context.packageSha256 = qv::Sha256Of(machine.updaterPackage.data(), machine.updaterPackage.size());
  }
  return context;
}

RunResult RunOnMachine(const MachineDescription& machine) {
  RunResult result;
  result.machine = BuildMachine(machine);
  const qv::RunContext context = ContextFor(machine);
  try {
    // The whole run as the program makes it: its switches, its log and its event around Main.
    qv::win::Platform platform = result.machine->platform();
    qv::Session session(platform, context);
    result.exitStatus = session.Run();
    if (const auto& e = session.error())
      result.error = EscapedError{e->number, qv::TextToUtf8(e->description), qv::TextToUtf8(e->source)};
    else if (!session.switches().usage)
      result.outcome = session.result().outcome;
    result.usage = session.switches().usage;
    result.quiet = session.switches().quiet;
    result.installerExitCode = session.result().installerExitCode;
  } catch (const std::exception& e) {
    result.failure = e.what();
    if (result.failure.empty()) result.failure = "exception without a message";
    result.exitStatus = qv::kExitError;
  } catch (...) {
    result.failure = "exception of unknown type";
    result.exitStatus = qv::kExitError;
  }
  return result;
}

std::string OutcomeName(const RunResult& result) {
  if (result.error) return "error";
  if (!result.outcome) return "failure";
  switch (*result.outcome) {
    case qv::RunOutcome::Updated: return "updated";
    case qv::RunOutcome::NotInstalled: return "not installed";
    case qv::RunOutcome::Cancelled: return "cancelled";
    case qv::RunOutcome::VersionUnchanged: return "version unchanged";
    case qv::RunOutcome::PackageUnusable: return "package unusable";
    case qv::RunOutcome::PackageRejected: return "package rejected";
    case qv::RunOutcome::NoProtectedFolder: return "no protected folder";
  }
  return "?";
}

}  // namespace qv3sim
