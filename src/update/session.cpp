#include "update/session.h"

#include <optional>

#include "platform/ansi_text.h"
#include "registry/error.h"
#include "update/logged_registry.h"
#include "update/quiet_dialogs.h"
#include "update/whatif.h"
#include "update/whatif_report.h"
#include "winhelpers/winhelpers.h"

namespace qv {

namespace {

constexpr char kEventKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QV3Update";

Text TwoDigits(int v) { return (v < 10 ? u"0" : u"") + IntToText(v); }

Text OutcomeText(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Updated: return u"updated: the version of QVApp.exe changed";
    case RunOutcome::NotInstalled: return u"not installed: Quorvia 3 is not installed";
    case RunOutcome::Cancelled: return u"cancelled at the close-programs prompt";
    case RunOutcome::VersionUnchanged: return u"the version of QVApp.exe is unchanged";
    case RunOutcome::PackageUnusable: return u"refused: the patch package is missing or cannot be read";
    case RunOutcome::PackageRejected:
      return u"refused: the patch package is not the one this release was made for";
    case RunOutcome::NoProtectedFolder: return u"refused: no protected folder for the patch package";
  }
  return u"?";
}

win::WORD EventType(int status) {
  if (status == 0 || status == kExitRebootRequired || status == kExitRebootInitiated)
    return win::EVENTLOG_INFORMATION_TYPE;
  if (status == kExitCancelled || status == kExitUnchanged || status == kExitNotInstalled)
    return win::EVENTLOG_WARNING_TYPE;
  return win::EVENTLOG_ERROR_TYPE;
}

}  // namespace

Text ErrorReport(std::int32_t number, TextView description, TextView source) {
  Text report = u"Run-time error '" + IntToText(number) + u"':\r\n\r\n" + Text(description);
  if (!source.empty()) report += u"\r\n\r\nSource: " + Text(source);
  return report;
}

Text FailureReport(std::string_view message) {
  Text report = u"Run-time error:\r\n\r\n";
  report += message.empty() ? Text(u"Unexpected failure") : Utf8ToText(message);
  return report;
}

Text OutOfMemoryReport() { return ErrorReport(7, u"Out of memory", u""); }

// The seam as Main sees it in this run: the dialogs answered without a window under /quiet, and
// the dialogs and registry writes logged with /log.
struct Session::Layers {
  Layers(win::Platform& platform, const RunContext& context)
      : log(context.switches.logPath ? std::make_optional<FileRunLog>(platform, *context.switches.logPath)
                                     : std::nullopt),
        logged(context.switches.quiet ? static_cast<win::IDialogs&>(quiet) : platform.dialogs,
               *Log(), !context.switches.quiet),
        registry(platform.registry, platform.codePage, *Log(), context.processBits,
                 WindowsBits(platform, context.processBits)),
        seam{platform.codePage,
             log ? static_cast<win::IRegistry&>(registry) : platform.registry,
             platform.system,
             platform.processes,
             platform.windows,
             log ? static_cast<win::IDialogs&>(logged)
                 : context.switches.quiet ? static_cast<win::IDialogs&>(quiet) : platform.dialogs,
             platform.shell,
             platform.files,
             platform.security,
             platform.eventLog} {}

  RunLog* Log() { return log && log->IsOpen() ? static_cast<RunLog*>(&*log) : &none; }
  static int WindowsBits(win::Platform& platform, int processBits) {
    if (processBits == 64) return 64;
    win::BOOL wow64 = win::FALSE;
    platform.system.IsWow64Process(platform.system.GetCurrentProcess(), &wow64);
    return wow64 ? 64 : 32;
  }

  NoRunLog none;
  std::optional<FileRunLog> log;
  QuietDialogs quiet;
  LoggedDialogs logged;
  LoggedRegistry registry;
  win::Platform seam;
};

const char16_t kUpdaterVersion[] = QV_UPDATER_VERSION;

Session::Session(win::Platform& platform, RunContext context)
    : platform_(platform), context_(std::move(context)) {
  context_.switches = ParseSwitches(context_.arguments);
}

Session::~Session() = default;

Text Session::ProgramPath() {
  Text path(32768, u'\0');
  const win::DWORD n = platform_.system.GetModuleFileNameW(
      win::HINSTANCE{}, path.data(), static_cast<win::DWORD>(path.size()));
  path.resize(n < path.size() ? n : 0);
  return path;
}

void Session::Start() {
  layers_ = std::make_unique<Layers>(platform_, context_);
  context_.progress = &result_;
  if (!context_.switches.logPath || !layers_->log->IsOpen()) return;
  context_.log = layers_->Log();
  // The installer writes its log beside the run's, in the folder that now exists; where the run
  // could not make its own, the installer gets none (msiexec would fail on a log it cannot open).
  context_.installerLog = *context_.switches.logPath + u".msi.log";
  RunLog& log = *context_.log;
  win::SYSTEMTIME t{};
  platform_.system.GetSystemTime(&t);
  log.Line(u"QV3Update " + Text(kUpdaterVersion) + u" started " + IntToText(t.wYear) + u"-" +
           TwoDigits(t.wMonth) + u"-" + TwoDigits(t.wDay) + u" " + TwoDigits(t.wHour) + u":" +
           TwoDigits(t.wMinute) + u":" + TwoDigits(t.wSecond) + u" UTC");
  win::OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  WindowsLevel level;
  const bool known = platform_.system.GetVersionExA(&v) != win::FALSE;
  log.Line(u"Windows " + (known ? IntToText(v.dwMajorVersion) + u"." + IntToText(v.dwMinorVersion) +
                                      u" build " + IntToText(v.dwBuildNumber) +
                                      (v.szCSDVersion[0] ? u" " + Utf8ToText(v.szCSDVersion) : Text())
                                : Text(u"(version unknown)")) +
           u", level " + IntToText(GetWindowsLevel(platform_.system, level)) + u"; " +
           IntToText(Layers::WindowsBits(platform_, context_.processBits)) + u"-bit Windows, " +
           IntToText(context_.processBits) + u"-bit updater " + ProgramPath());
  log.Line(u"Arguments: " + context_.arguments);
  log.Line(u"Switches:" + Text(context_.switches.quiet ? u" /quiet" : u"") +
           (context_.switches.noRestart ? u" /norestart" : u"") + u" /log; the installer's log: " +
           *context_.switches.logPath + u".msi.log");
}

int Session::Run() {
  if (context_.switches.usage) {
    // Nothing is done, which a deployment tool must not count as success; no window under
    // /quiet.
    if (context_.switches.quiet) return kExitUsage;
    const bool english = ChoosesEnglish(context_.arguments);
    platform_.dialogs.MessageBoxW(
        win::HWND{},
        english ? u"QV3Update [/en] [/quiet] [/norestart] [/log PATH] [/whatif PATH] [/?]\r\n\r\n"
                  u"/en: English (also inside a path); /quiet: no window, the installer without "
                  u"its own and without a restart; /norestart: no restart; /log: the run's log "
                  u"at PATH, the installer's at PATH.msi.log; /whatif: what the run would do, "
                  u"written to PATH, nothing done.\r\nExit status: the Windows Installer's "
                  u"(docs/deployment.md)."
                : u"QV3Update [/en] [/quiet] [/norestart] [/log PFAD] [/whatif PFAD] [/?]\r\n\r\n"
                  u"/en: Englisch (auch in einem Pfad); /quiet: kein Fenster, das "
                  u"Installationsprogramm ohne seines und ohne Neustart; /norestart: kein "
                  u"Neustart; /log: Protokoll des Laufs in PFAD, das des Installationsprogramms in "
                  u"PFAD.msi.log; /whatif: was der Lauf täte, in PFAD, ohne etwas zu ändern.\r\n"
                  u"Exit-Status: der des Windows Installers (docs/deployment.md).",
        u"QV3Update", win::MB_OK | win::MB_ICONINFORMATION);
    return kExitUsage;
  }
  if (context_.switches.whatIfPath) return WhatIf();
  Start();
  try {
    Main(layers_->seam, context_);
  } catch (const Error& error) {
    error_ = CaughtError{error.number(), error.description(), error.source()};
    return Failed(ErrorReport(error.number(), error.description(), error.source()));
  }
  const int status = ExitStatus(result_);
  Text outcome = OutcomeText(result_.outcome);
  if (result_.installerExitCode && *result_.installerExitCode != 0)
    outcome += u"; the installer ended with " + IntToText(*result_.installerExitCode);
  // A run that ended before the installer changed nothing, and leaves the event source's
  // registration alone too: its event still carries its text, which the Event Viewer shows
  // after a note where no earlier run registered the source.
  const bool changed = result_.outcome == RunOutcome::Updated || result_.outcome == RunOutcome::VersionUnchanged;
  End(outcome, status, EventType(status), changed);
  return status;
}

int Session::Failed(const Text& report) {
  if (!layers_) Start();
  if (!context_.switches.quiet)
    platform_.dialogs.MessageBoxW(win::HWND{}, report.c_str(), u"QV3Update", win::MB_OK | win::MB_ICONERROR);
  End(u"error: " + ReplaceAll(report, u"\r\n", u" "), kExitError, win::EVENTLOG_ERROR_TYPE, true);
  return kExitError;
}

void Session::End(const Text& outcome, int status, win::WORD eventType, bool registerSource) {
  if (ended_) return;
  ended_ = true;
  if (context_.log) context_.log->Line(u"Outcome: " + outcome + u"; exit status " + IntToText(status));
  Text text = u"Quorvia 3 update: " + outcome + u". QVApp.exe version before: " +
              (result_.appVersionBefore.empty() ? Text(u"not read") : result_.appVersionBefore) +
              u", after: " + (result_.appVersionAfter.empty() ? Text(u"not read") : result_.appVersionAfter) +
              u". Exit status: " + IntToText(status) + u".";
  if (context_.switches.logPath) {
    const FileRunLog& log = *layers_->log;
    text += log.IsOpen() ? u" Log: " + *context_.switches.logPath
                         : u" The log " + *context_.switches.logPath + u" could not be written (error " +
                               IntToText(log.OpenError()) + u").";
  }
  WriteEvent(text, eventType, registerSource);
}

// The source's key names the program's own file as the one with its messages; written only
// where it says something else, so that the key is left alone after the first run.
void Session::RegisterEventSource(win::Platform& platform, const Text& program) {
  AnsiCodec codec(platform.codePage, u"");
  AnsiString path;
  if (program.empty() || !codec.TryToAnsi(program, path)) return;
  win::IRegistry& registry = platform.registry;
  win::HKEY key{};
  if (registry.RegCreateKeyExA(win::HKEY_LOCAL_MACHINE, kEventKey, 0, nullptr, 0,
                               win::KEY_QUERY_VALUE | win::KEY_SET_VALUE, nullptr, &key,
                               nullptr) != win::ERROR_SUCCESS)
    return;
  std::string current(path.bytes().size() + 2, '\0');
  win::DWORD type = 0, size = static_cast<win::DWORD>(current.size());
  const std::string& wanted = path.bytes();
  if (registry.RegQueryValueExA(key, "EventMessageFile", nullptr, &type,
                                reinterpret_cast<win::BYTE*>(current.data()), &size) != win::ERROR_SUCCESS ||
      type != win::REG_EXPAND_SZ || size != wanted.size() + 1 || current.compare(0, wanted.size(), wanted) != 0)
    registry.RegSetValueExA(key, "EventMessageFile", 0, win::REG_EXPAND_SZ,
                            reinterpret_cast<const win::BYTE*>(wanted.c_str()),
                            static_cast<win::DWORD>(wanted.size() + 1));
  win::DWORD types = 0;
  size = sizeof types;
  if (registry.RegQueryValueExA(key, "TypesSupported", nullptr, &type,
                                reinterpret_cast<win::BYTE*>(&types), &size) != win::ERROR_SUCCESS ||
      type != win::REG_DWORD || types != 7) {
    types = 7;  // errors, warnings, information
    registry.RegSetValueExA(key, "TypesSupported", 0, win::REG_DWORD,
                            reinterpret_cast<const win::BYTE*>(&types), sizeof types);
  }
  registry.RegCloseKey(key);
}

void Session::WriteEvent(const Text& text, win::WORD type, bool registerSource) {
  if (registerSource) RegisterEventSource(platform_, ProgramPath());
  win::IEventLog& events = platform_.eventLog;
  const win::HANDLE source = events.RegisterEventSourceW(nullptr, kEventSource);
  if (win::IsNull(source)) return;
  const win::WCHAR* strings[] = {text.c_str()};
  events.ReportEventW(source, type, 0, kEventMessageId, nullptr, 1, 0, strings, nullptr);
  events.DeregisterEventSource(source);
}

// What the run would do here: Main over the machine as it is, every change recorded.
int Session::WhatIf() {
  const int windowsBits = Layers::WindowsBits(platform_, context_.processBits);
  WhatIfPlatform whatif(platform_, context_.processBits, windowsBits);
  // As the real run with these switches would: the installer's log beside the run's.
  if (context_.switches.logPath) context_.installerLog = *context_.switches.logPath + u".msi.log";
  context_.progress = &result_;
  WhatIfFacts facts;
  facts.updater = ProgramPath();
  facts.arguments = context_.arguments;
  facts.processBits = context_.processBits;
  facts.windowsBits = windowsBits;
  facts.releaseSha256 = context_.packageSha256;
  facts.quiet = context_.switches.quiet;
  bool error = false;
  try {
    Main(whatif.platform(), context_);
  } catch (const Error& e) {
    facts.error = ErrorReport(e.number(), e.description(), e.source());
    error = true;
  }
  const bool installer = !error && (result_.outcome == RunOutcome::Updated ||
                                    result_.outcome == RunOutcome::VersionUnchanged);
  // A run that ends in an error or reaches the installer registers its event source at its end
  // (recorded here); every run writes an event there.
  if (error || installer) RegisterEventSource(whatif.platform(), facts.updater);
  if (error) {
    facts.exitStatus = kExitError;
    facts.outcome = u"an error would end the run (above)";
  } else if (installer) {
    facts.exitStatus = 0;
    facts.outcome = u"the installer would be started; whether the version of QVApp.exe changes is the installer's";
  } else {
    facts.exitStatus = ExitStatus(result_.outcome);
    facts.outcome = OutcomeText(result_.outcome) + u" (before the installer)";
  }
  facts.result = &result_;

  // The report, the one file the run writes (in CR LF lines).
  const Text path = *context_.switches.whatIfPath;
  std::string report = "\xEF\xBB\xBF";
  for (char c : WhatIfReport(platform_, whatif.record(), facts)) {
    if (c == '\n') report += '\r';
    report += c;
  }
  const std::size_t slash = path.find_last_of(u'\\');
  if (slash != Text::npos && slash > 2) CreateFolders(platform_.files, path.substr(0, slash));
  win::UniqueHandle file(platform_.processes);
  file.reset(platform_.files.CreateFileW(path.c_str(), win::GENERIC_WRITE, 0, nullptr,
                                         win::CREATE_ALWAYS, 0, win::HANDLE{}));
  win::DWORD written = 0;
  const bool saved = file && platform_.files.WriteFile(file.get(), report.data(),
                                                       static_cast<win::DWORD>(report.size()),
                                                       &written, nullptr) &&
                     written == report.size();
  const win::DWORD saveError = saved ? 0 : platform_.files.GetLastError();
  file.reset();
  if (!context_.switches.quiet) {
    Text message = saved ? u"What this update would do here is written to " : u"The report ";
    message += path;
    if (!saved) message += u" could not be written (error " + IntToText(saveError) + u").";
    message += u"\r\nNothing was changed.\r\n\r\n";
    message += WhatIfSummary(whatif.record(), facts);
    platform_.dialogs.MessageBoxW(win::HWND{}, message.c_str(), u"QV3Update what-if",
                                  win::MB_OK | (saved ? win::MB_ICONINFORMATION : win::MB_ICONERROR));
  }
  return facts.exitStatus;
}

}  // namespace qv
