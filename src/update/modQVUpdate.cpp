// Main: one update run of Quorvia 3, from the installation check to the completion report.
#include "update/modQVUpdate.h"

#include <algorithm>
#include <optional>
#include <string>

#include "platform/handles.h"
#include "registry/cRegistry.h"
#include "registry/error.h"
#include "winhelpers/frmForIconDummy.h"
#include "winhelpers/modTaskDialog.h"
#include "winhelpers/winhelpers.h"

namespace qv {

namespace {

// Predefined root keys as the registry key object takes them (32-bit numbers).
constexpr std::int32_t kHkeyClassesRoot = static_cast<std::int32_t>(0x80000000u);
constexpr std::int32_t kHkeyCurrentUser = static_cast<std::int32_t>(0x80000001u);
constexpr std::int32_t kHkeyLocalMachine = static_cast<std::int32_t>(0x80000002u);
constexpr std::int32_t kRegSz = 1;
constexpr std::int32_t kRegDword = 4;

constexpr char16_t kCrLf[] = u"\r\n";

constexpr char16_t kProductKey[] = u"Software\\orvanta\\Quorvia";
constexpr char16_t kCommunicatorCaption[] = u"QVShellCommunicator2006";
constexpr int kCsidlCommonPrograms = 23;

// The number and text of the classic run-time error for a file that cannot be replaced.
constexpr std::int32_t kErrPathFileAccess = 75;
constexpr char16_t kErrPathFileAccessText[] = u"Path/File access error";

// One row of feature-control values: every listed program gets the same number.
struct FeatureRow {
  const char16_t* keyPath;
  std::initializer_list<const char16_t*> programs;
  std::int16_t data;  // 0 for the browser emulation row: chosen by Windows level
};

struct AddIn {
  const char16_t* classId;
  const char16_t* englishName;
  const char16_t* germanName;
};

constexpr AddIn kAddIns[] = {
    {u"{3A5C1E70-2B4D-4F61-9E83-0C7D5A1B2E91}", u"Quorvia Toolbar", u"Querlix-Symbolleiste"},
    {u"{6D2E8B14-9C0A-4B7F-A3D5-1E6F7A8B9C02}", u"Quorvia Editing Bar",
     u"Querlix-Bearbeitungsleiste"},
    {u"{9B4F2A63-5E1C-4D8A-B7F0-2C3D4E5F6A13}", u"Quorvia Explorer Bar",
     u"Querlix-Explorer-Leiste"},
    {u"{C7E1D052-8A3B-4C6E-9F14-3B4C5D6E7F24}", u"Quorvia Browser Helper Object",
     u"Querlix-Browserhilfsobjekt"},
};

constexpr const char16_t* kErrorReportingExclusions[] = {u"QVApp.exe", u"QVGet.exe", u"QVSaver.exe",
                                                         u"QVSync.exe", u"QVThumbs.exe"};

// COM on this thread (single-threaded apartment) for as long as the shell link object is used.
class ComApartment {
 public:
  explicit ComApartment(win::IShell& shell)
      : shell_(shell),
        initialised_(win::SUCCEEDED(shell.CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED))) {
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialised_) shell_.CoUninitialize();
  }

 private:
  win::IShell& shell_;
  bool initialised_;
};

// A path that names its drive or share: "X:\..." or "\\server\...".
bool IsFullPath(const Text& path) {
  const bool drive = path.size() >= 3 && path[1] == u':' && path[2] == u'\\' &&
                     ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
  const bool share = path.size() >= 3 && path[0] == u'\\' && path[1] == u'\\' && path[2] != u'\\';
  return drive || share;
}

// The fourth number of the file version (the low word of dwFileVersionLS), sign-extended.
std::int32_t RevisionOf(const win::VS_FIXEDFILEINFO& info) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(info.dwFileVersionLS & 0xFFFFu));
}

class UpdateRun {
 public:
  UpdateRun(win::Platform& platform, const RunContext& context)
      : platform_(platform),
        context_(context),
        oRegistry_(platform.codePage, platform.registry, context.exeName, context.processBits),
        package_(platform) {}

  RunResult Run() {
    result_.outcome = Steps();
    return result_;
  }

 private:
  RunOutcome Steps() {
    Log(u"Phase: start-up");
    StartUp();
    Log(u"Phase: installation check");
    if (!ProductInstalled()) return RunOutcome::NotInstalled;
    ReadInstallFolder();
    StartUpProbes();
    Log(u"Phase: the patch package");
    if (const std::optional<RunOutcome> refused = ProtectPackage()) return *refused;
    Log(u"Phase: close-programs prompt");
    PrepareTexts();
    if (!ClosePrograms()) {
      Log(u"The prompt was cancelled.");
      return RunOutcome::Cancelled;
    }
    Log(u"Phase: patch");
    ApplyPatch();
    Log(u"Phase: browser settings");
    ConfigureBrowser();
    Log(u"Phase: add-in names, error-reporting exclusions, shortcut");
    NameAddIns();
    ExcludeFromErrorReporting();
    RenewSyncShortcut();
    Log(u"Phase: version comparison and completion report");
    return CompletionReport();
  }

  void Log(const Text& line) {
    if (context_.log) context_.log->Line(line);
  }
  static Text VersionText(const win::VS_FIXEDFILEINFO& info) {
    if (info.dwSignature != win::VS_FFI_SIGNATURE) return u"none";
    return IntToText(info.dwFileVersionMS >> 16) + u"." + IntToText(info.dwFileVersionMS & 0xFFFF) +
           u"." + IntToText(info.dwFileVersionLS >> 16) + u"." +
           IntToText(info.dwFileVersionLS & 0xFFFF);
  }

  std::int32_t Level() { return GetWindowsLevel(platform_.system, windowsLevel_); }
  Text Lang(const char16_t* english, const char16_t* german) const {
    return Text(bEnglish ? english : german);
  }
  int MessageBox(const Text& text, const Text& caption, win::UINT style) {
    return platform_.dialogs.MessageBoxW(win::HWND{}, text.c_str(), caption.c_str(), style);
  }

  // Phase 1: common controls, foreground activation, language.
  void StartUp() {
    platform_.dialogs.InitCommonControls();
    {
      frmForIconDummy form(platform_.windows, platform_.system.GetModuleHandleA(nullptr));
      ForceForeground(platform_.windows, form.hWnd());
      form.Unload();
    }
    bEnglish = ChoosesEnglish(context_.arguments);
  }

  // Phase 2: the product key, looked for in the 32-bit view (the key object sees to that).
  bool ProductInstalled() {
    oRegistry_.ClassKey(kHkeyLocalMachine);
    oRegistry_.SectionKey(kProductKey);
    if (oRegistry_.KeyExists()) return true;
    Log(u"Refused: Quorvia 3 is not installed (no key HKEY_LOCAL_MACHINE\\Software\\orvanta\\Quorvia; exit status 1605).");
    MessageBox(Lang(u"Quorvia 3 is not installed. This update is only valid for Quorvia 3 and "
                    u"not for earlier Quorvia versions.",
                    u"Querlix 3 ist nicht installiert. Dieses Update ist nur für Querlix 3 "
                    u"geeignet und nicht für ältere Querlix-Versionen."),
               Lang(u"Quorvia 3 Update Installation", u"Querlix 3-Update-Installation"),
               win::MB_OK | win::MB_ICONERROR);
    return false;
  }

  // Phase 3: the install folder, used as a prefix exactly as stored.
  void ReadInstallFolder() {
    oRegistry_.ValueKey(u"AppPath");
    oRegistry_.ValueType(kRegSz);
    oRegistry_.Default(Variant(Text()));
    sInstallFolder = oRegistry_.Value().ToText();
    // A zero character inside the value would end every path at the ANSI functions and make
    // them name whatever lies before it; the folder ends where a zero-terminated string would.
    sInstallFolder.resize(std::min(sInstallFolder.size(), sInstallFolder.find(u'\0')));
  }

  void StartUpProbes() {
    if (Level() >= 2) {
      if (context_.processBits == 64) {
        // A 64-bit program runs only on 64-bit Windows, where the 32-bit program it stands in
        // for would run under WOW64 (IsWow64Process says FALSE for a 64-bit process).
        bIsWow64 = true;
      } else {
        win::BOOL flag = win::FALSE;
        platform_.system.IsWow64Process(platform_.system.GetCurrentProcess(), &flag);
        bIsWow64 = flag != win::FALSE;
      }
    }
    GetFileVersionInfoBlock(platform_, sInstallFolder + u"QVApp.exe", versionRecord_);
    iAppRevision = RevisionOf(versionRecord_);
    result_.appVersionBefore = VersionText(versionRecord_);
    result_.installFolder = sInstallFolder;
    if (context_.log)
      Log(u"Install folder: " + sInstallFolder + u"; Windows level " + IntToText(Level()) +
          (bIsWow64 ? u", under WOW64" : u"") + u"; QVApp.exe version before: " +
          result_.appVersionBefore);
  }

  // Before anything of the update: the package beside the updater, copied where only
  // administrators can change it and checked there. One that cannot be used ends the run with a
  // message that says why; the run has changed nothing then (the copy and its folder, if made,
  // are gone again when Main returns).
  std::optional<RunOutcome> ProtectPackage() {
    sUpdaterFolder = UpdaterFolder();
    // Without the updater's own folder there is no package to name: a bare name would be read
    // from the current folder.
    const Text package = sUpdaterFolder + u"qvupdate.msp";
    const PackageProblem problem =
        sUpdaterFolder.empty() ? PackageProblem::Missing
                               : package_.Prepare(package, context_.packageSha256);
    result_.package = package;
    result_.packageSha256 = package_.Digest();
    if (package_.Digest())
      Log(u"Package: " + package + u" copied to " + (package_.Path().empty() ? Text(u"(gone)") : package_.Path()) +
          u", SHA-256 " + Utf8ToText(DigestHex(*package_.Digest())) +
          (context_.packageSha256 ? (problem == PackageProblem::None ? u", the release's own"
                                                                     : u", not the release's own (" +
                                                                           Utf8ToText(DigestHex(*context_.packageSha256)) + u")")
                                  : u" (a development build: any package)"));
    if (problem == PackageProblem::None) return std::nullopt;
    package_.Remove();
    const Text text = PackageProblemText(problem, package, package_.Detail()) + kCrLf + kCrLf +
                      Lang(u"Nothing has been changed on this computer. Please download the "
                           u"update again.",
                           u"Auf diesem Computer wurde nichts geändert. Bitte laden Sie das "
                           u"Update erneut herunter.");
    MessageBox(text, Lang(u"Quorvia 3 Update Installation", u"Querlix 3-Update-Installation"),
               win::MB_OK | win::MB_ICONERROR);
    const RunOutcome outcome = problem == PackageProblem::NoProtectedFolder ? RunOutcome::NoProtectedFolder
                               : problem == PackageProblem::OtherPackage    ? RunOutcome::PackageRejected
                                                                            : RunOutcome::PackageUnusable;
    Log(u"Refused: " + ReplaceAll(text, kCrLf, u" ") + u" (exit status " +
        IntToText(ExitStatus(outcome)) + u")");
    return outcome;
  }

  // The first paragraph of the refusal: what is wrong with which package.
  Text PackageProblemText(PackageProblem problem, const Text& package, std::int64_t detail) const {
    const Text start = Lang(u"The update package \"", u"Das Update-Paket \"") + package + u"\"";
    const Text number = IntToText(detail);
    switch (problem) {
      case PackageProblem::Missing:
        return start + Lang(u" was not found.", u" wurde nicht gefunden.");
      case PackageProblem::Unreadable:
        return start + Lang(u" cannot be read (error ", u" kann nicht gelesen werden (Fehler ") +
               number + u").";
      case PackageProblem::NoProtectedFolder:
        return start +
               Lang(u" cannot be copied to a protected folder (error ",
                    u" kann nicht in einen geschützten Ordner kopiert werden (Fehler ") +
               number + u").";
      case PackageProblem::OtherPackage:
      case PackageProblem::None:
        break;
    }
    return start + Lang(u" is not the package this update was made for.",
                        u" ist nicht das Paket, für das dieses Update erstellt wurde.");
  }

  // Phase 4: the texts of the prompt and of the report.
  void PrepareTexts() {
    const bool bProductRunning =
        !win::IsNull(FindCommunicatorWindow(platform_, kCommunicatorCaption));
    result_.productRunning = bProductRunning;
    sProductTitle = Lang(u"Quorvia 3", u"Querlix 3");
    sUpdateTitle = Lang(u"Quorvia 3 Update", u"Querlix 3-Update");
    sIntroText =
        Lang(u"This program updates your Quorvia 3 installation to the latest version.",
             u"Dieses Programm aktualisiert Ihre Querlix 3-Installation auf die neueste Version.");
    sInstallButtonText = Lang(u"Install update now", u"Update jetzt installieren");

    sProgramList = Lang(
        u"Exit the following programs now so that the update can be installed "
        u"without a Windows restart required:",
        u"Damit das Update ohne Windows-Neustart installiert werden kann, beenden "
        u"Sie jetzt bitte folgende Programme:");
    sProgramList += kCrLf;
    sProgramList += kCrLf;
    if (bProductRunning) {
      sProgramList += Lang(
          u"- Quorvia (right-click its icon in the notification area of the "
          u"taskbar, and then click Exit Quorvia.)",
          u"- Querlix (klicken Sie mit der rechten Maustaste auf sein Symbol im "
          u"Infobereich der Taskleiste und danach auf \"Querlix beenden\")");
      sProgramList += kCrLf;
    }
    sProgramList += u"- Internet Explorer";
    sProgramList += kCrLf;
    sProgramList += Lang(u"- Microsoft Outlook (if you use the Quorvia Outlook Add-in)",
                         u"- Microsoft Outlook (sofern Sie das Querlix Outlook Add-In verwenden)");
    // Folder windows hold the product's shell extension only on 32-bit Windows.
    if (!bIsWow64) {
      sProgramList += kCrLf;
      sProgramList += Lang(u"- all open folder windows", u"- alle geöffneten Ordnerfenster");
    }

    sSuccessHeadline = Lang(u"Quorvia 3 update successfully installed",
                            u"Querlix 3-Update erfolgreich installiert");
    if (bEnglish) {
      sSuccessText = Text(u"You're now using the latest version of Quorvia 3.") + kCrLf + kCrLf +
                     u"Thank you very much for using and recommending Quorvia!";
    } else {
      sSuccessText = Text(u"Sie verwenden jetzt die neueste Querlix 3-Version.") + kCrLf +
                     u"Vielen Dank, dass Sie Querlix nutzen und weiterempfehlen!";
    }
  }

  // The close-programs prompt; false when the user cancelled.
  bool ClosePrograms() {
    if (Level() < 2) {
      const Text text = sIntroText + kCrLf + kCrLf + kCrLf + sProgramList;
      const int result = MessageBox(
          text, sUpdateTitle, win::MB_OKCANCEL | win::MB_ICONINFORMATION | win::MB_SETFOREGROUND);
      return result != win::IDCANCEL;
    }

    int pressed = 0;
    {
      const win::UniqueIcon icon(
          platform_.windows, platform_.windows.LoadIconW(platform_.system.GetModuleHandleA(nullptr),
                                                         win::MAKEINTRESOURCEW(1)));
      const win::TASKDIALOG_BUTTON button{win::IDYES, sInstallButtonText.c_str()};
      win::TASKDIALOGCONFIG config{};
      config.cbSize = sizeof(win::TASKDIALOGCONFIG);
      config.dwFlags = win::TDF_USE_HICON_MAIN | win::TDF_ALLOW_DIALOG_CANCELLATION;
      config.dwCommonButtons = win::TDCBF_CANCEL_BUTTON;
      config.pszWindowTitle = sProductTitle.c_str();
      config.hMainIcon = icon.get();
      config.pszMainInstruction = sUpdateTitle.c_str();
      config.pszContent = sIntroText.c_str();
      config.cButtons = 1;
      config.pButtons = &button;
      config.pszFooterIcon = win::MAKEINTRESOURCEW(MakeResourceId(-1));
      config.pszFooter = sProgramList.c_str();
      config.cxWidth = 245;
      int radio = 0;
      win::BOOL verification = win::FALSE;
      platform_.dialogs.TaskDialogIndirect(&config, &pressed, &radio, &verification);
      // The icon is destroyed here, whatever the user chose.
    }
    // Cancel, Escape and the close box give IDCANCEL; a dialog that could not be shown leaves 0.
    return pressed != win::IDCANCEL;
  }

  // The updater's own folder, always ending with "\". Read in UTF-16: the ANSI form would
  // best-fit a folder name the code page lacks (a fullwidth quotation mark becomes '"') and so
  // name another file, or put the user's folder name into the installer's arguments.
  Text UpdaterFolder() {
    Text buffer(win::MAX_PATH, u'\0');
    win::DWORD length = 0;
    for (;;) {
      length = platform_.system.GetModuleFileNameW(win::HINSTANCE{}, buffer.data(),
                                                   static_cast<win::DWORD>(buffer.size()));
      if (length < buffer.size() || buffer.size() >= 32768) break;
      buffer.resize(buffer.size() * 2);  // truncated: try a longer buffer
    }
    // A path that does not fit even the longest buffer is no path to build on.
    if (length >= buffer.size()) return Text();
    buffer.resize(length);
    const std::size_t slash = buffer.rfind(u'\\');
    if (slash == Text::npos) return Text();
    // The folder with one trailing "\", which for a drive root is its own ("C:\").
    Text folder = buffer.substr(0, slash);
    if (folder.empty() || folder.back() != u'\\') folder += u'\\';
    return folder;
  }

  Text SystemFolder() {
    Text buffer(win::MAX_PATH, u'\0');
    win::UINT length =
        platform_.system.GetSystemDirectoryW(buffer.data(), static_cast<win::UINT>(buffer.size()));
    if (length >= buffer.size()) {
      buffer.assign(length + 1, u'\0');
      length = platform_.system.GetSystemDirectoryW(buffer.data(),
                                                    static_cast<win::UINT>(buffer.size()));
      if (length >= buffer.size()) length = 0;
    }
    buffer.resize(length);
    return buffer;
  }

  // Starts a program in `sFolder`, waits for its end, closes its handles. Nothing is tested: the
  // exit code is read where the program ran, and the run goes on whatever it is.
  // Never in the updater's own current folder, usually the download folder: Windows 2000 and XP
  // before SP2 search a program's current folder for its DLLs before the system folder.
  std::optional<std::uint32_t> RunAndWait(const Text& sApplicationName, const Text& sCommandLine,
                                          const Text& sFolder) {
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    Text commandLine = sCommandLine;
    win::STARTUPINFOW startup{};
    startup.cb = sizeof(win::STARTUPINFOW);
    win::PROCESS_INFORMATION process{};
    const win::DWORD started = context_.log ? platform_.system.GetTickCount() : 0;
    platform_.processes.CreateProcessW(sApplicationName.c_str(), commandLine.data(), nullptr,
                                       nullptr, win::TRUE, win::NORMAL_PRIORITY_CLASS, nullptr,
                                       sFolder.c_str(), &startup, &process);
    const win::DWORD startError = platform_.files.GetLastError();
    win::UniqueHandle hProcess(platform_.processes, process.hProcess);
    win::UniqueHandle hThread(platform_.processes, process.hThread);
    std::optional<std::uint32_t> exitCode;
    if (!win::IsNull(hProcess.get())) {
      platform_.processes.WaitForSingleObject(hProcess.get(), win::INFINITE);
      win::DWORD code = 0;
      if (platform_.processes.GetExitCodeProcess(hProcess.get(), &code)) exitCode = code;
    }
    hThread.reset();
    hProcess.reset();
    if (context_.log) {
      const win::DWORD ms = platform_.system.GetTickCount() - started;
      Log(u"Program: " + sApplicationName + u" in " + sFolder + u": " + sCommandLine + u" -- " +
          (win::IsNull(process.hProcess)
               ? u"could not be started (error " + IntToText(startError) + u")"
               : u"exit code " + (exitCode ? IntToText(*exitCode) : Text(u"unknown")) + u" after " +
                     IntToText(ms / 1000) + u"." + IntToText(ms % 1000 / 100) + u" s"));
    }
    return exitCode;
  }

  // The installer's command line: the protected copy, with its user interface reduced to a
  // progress bar, or none at all under /quiet (which never restarts Windows either), and its
  // verbose log beside the run's own.
  Text InstallerCommandLine() const {
    const Switches& s = context_.switches;
    Text line = s.quiet ? u"msiexec.exe /qn" : u"msiexec.exe /qb";
    if (s.quiet || s.noRestart) line += u" /norestart";
    line += u" /p \"" + package_.Path() + u"\"";
    if (context_.installerLog) line += u" /l*v \"" + *context_.installerLog + u"\"";
    return line;
  }

  // Phase 5: the patch, from its protected copy, then (Windows Vista and later) the shell item.
  void ApplyPatch() {
    // The installer is started by its full path in the system folder: a bare name would be
    // searched in the updater's own (download) folder first.
    // Without the system folder there is no safe path to start it by: a relative name would be
    // taken from the current (download) folder, so the installer is not started at all.
    const Text systemFolder = SystemFolder();
    if (!systemFolder.empty()) {
      Text msiexec = systemFolder;
      if (msiexec.back() != u'\\') msiexec += u'\\';
      msiexec += u"msiexec.exe";
      result_.installerExitCode = RunAndWait(msiexec, InstallerCommandLine(), systemFolder);
    }
    // The installer has ended: its copy of the package and the folder go.
    package_.Remove();

    if (Level() == 2) {
      // Only from a full install folder: with an empty or relative one (AppPath missing or
      // unreadable) the name would be resolved in the current, that is the download, folder,
      // where a planted QVInit.exe would run with administrator rights.
      if (IsFullPath(sInstallFolder)) {
        // Quoted, so an install folder with spaces cannot start another program.
        const Text qvInit = sInstallFolder + u"QVInit.exe";
        RunAndWait(qvInit, u"\"" + qvInit + u"\" /RegisterQVGetShellItem", sInstallFolder);
      }
    }
  }

  // Phase 6: feature control for the companion programs, start-up entry, isolation.
  void ConfigureBrowser() {
    const FeatureRow rows[] = {
        {u"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION",
         {u"QVApp.exe", u"QVGet.exe", u"QVSaver.exe", u"QVThumbs.exe"},
         0},
        {u"Software\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl\\FEATURE_GPU_RENDERING",
         {u"QVApp.exe", u"QVGet.exe", u"QVSaver.exe", u"QVThumbs.exe"},
         1},
        {u"Software\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl\\"
         u"FEATURE_DISABLE_NAVIGATION_SOUNDS",
         {u"QVApp.exe", u"QVGet.exe", u"QVSaver.exe", u"QVThumbs.exe"},
         1},
        {u"Software\\Microsoft\\Internet "
         u"Explorer\\MAIN\\FeatureControl\\FEATURE_USE_LEGACY_JSCRIPT",
         {u"QVApp.exe"},
         1},
        {u"Software\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl\\"
         u"FEATURE_MAXCONNECTIONSPERSERVER",
         {u"QVApp.exe", u"QVGet.exe", u"QVSaver.exe"},
         6},
    };

    oRegistry_.ClassKey(kHkeyLocalMachine);
    bool first = true;
    for (const FeatureRow& row : rows) {
      oRegistry_.SectionKey(row.keyPath);
      if (!oRegistry_.KeyExists()) oRegistry_.CreateKey();
      oRegistry_.ValueType(kRegDword);
      std::int16_t data = row.data;
      if (first) {
        // Internet Explorer 8 standards mode on Windows XP, 11 elsewhere.
        data = Level() == 1 ? std::int16_t{8000} : std::int16_t{11000};
        first = false;
      }
      for (const char16_t* program : row.programs) {
        oRegistry_.ValueKey(program);
        oRegistry_.Value(Variant(data));
      }
    }

    if (Level() != 2) return;

    oRegistry_.SectionKey(u"Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    oRegistry_.ValueType(kRegSz);
    oRegistry_.ValueKey(u"QuorviaStartupInit");
    oRegistry_.Value(Variant(u"\"" + sInstallFolder + u"QVGet.exe\" /StartupCheck"));

    const Text mainKey = u"Software\\Microsoft\\Internet Explorer\\Main";
    oRegistry_.SectionKey(mainKey);
    oRegistry_.ValueType(kRegSz);
    oRegistry_.ValueKey(u"Isolation");
    if (bIsWow64) {
      // The machine-wide values belong to the 64-bit browser's view.
      oRegistry_.Value64bit(Variant(Text(u"PMIL")));
      oRegistry_.ValueType(kRegDword);
      oRegistry_.ValueKey(u"Isolation64Bit");
      oRegistry_.Value64bit(Variant(std::int32_t{0}));
    } else {
      oRegistry_.Value(Variant(Text(u"PMIL")));
    }

    oRegistry_.ClassKey(kHkeyCurrentUser);
    oRegistry_.SectionKey(mainKey);
    oRegistry_.ValueType(kRegSz);
    oRegistry_.ValueKey(u"Isolation");
    oRegistry_.Value(Variant(Text(u"PMIL")));
    if (bIsWow64) {
      oRegistry_.ValueType(kRegDword);
      oRegistry_.ValueKey(u"Isolation64Bit");
      oRegistry_.Value(Variant(std::int32_t{0}));
    }
  }

  // Phase 7, first part: the add-ins' display names in the run's language.
  void NameAddIns() {
    oRegistry_.ClassKey(kHkeyClassesRoot);
    oRegistry_.SectionKey(Text(u"CLSID\\") + kAddIns[0].classId);
    oRegistry_.ValueKey(Text());
    oRegistry_.ValueType(kRegSz);
    bool first = true;
    for (const AddIn& addIn : kAddIns) {
      if (!first) oRegistry_.SectionKey(Text(u"CLSID\\") + addIn.classId);
      first = false;
      oRegistry_.Value(Variant(Lang(addIn.englishName, addIn.germanName)));
    }
  }

  void ExcludeFromErrorReporting() {
    if (Level() != 2) return;
    for (const char16_t* program : kErrorReportingExclusions)
      platform_.shell.WerAddExcludedApplication(program, win::TRUE);
  }

  // Phase 7, last part: the synchronisation shortcut, renewed only where it exists.
  void RenewSyncShortcut() {
    const Text folder = GetSpecialFolder(platform_, kCsidlCommonPrograms);
    // Without the folder the link name alone would name a path at the root of the drive.
    if (folder.empty()) return;
    const Text sSyncShortcutPath =
        folder + Lang(u"\\Quorvia 3\\Synchronizing.lnk",
                      u"\\Querlix 3\\Synchronisation zweier Sammlungen.lnk");
    const Text sSyncShortcutDescription = Lang(
        u"Syncs two Quorvia data files.", u"Gleicht zwei Querlix-Datendateien miteinander ab.");
    if (!IsOrdinaryFile(platform_, sSyncShortcutPath)) return;

    // The new shortcut is written beside the old one and replaces it only once it has been
    // saved, so a failing write never costs the user the shortcut.
    const Text sTempPath = sSyncShortcutPath + u".new";
    platform_.files.DeleteFileW(sTempPath.c_str());  // left over from an interrupted run

    const Text sTarget = sInstallFolder + u"QVSync.exe";
    bool saved = false;
    {
      const ComApartment apartment(platform_.shell);
      saved = CreateShortcut(platform_, sTempPath, sTarget, Text(), Text(),
                             sSyncShortcutDescription, sTarget, 0, win::SW_SHOWNORMAL);
    }
    if (!saved) {
      platform_.files.DeleteFileW(sTempPath.c_str());
      return;
    }
    if (!platform_.files.MoveFileExW(sTempPath.c_str(), sSyncShortcutPath.c_str(),
                                     win::MOVEFILE_REPLACE_EXISTING)) {
      platform_.files.DeleteFileW(sTempPath.c_str());
      throw Error(kErrPathFileAccess, context_.exeName, kErrPathFileAccessText);
    }
  }

  // Phase 8: report success when the fourth number of QVApp.exe's version changed.
  RunOutcome CompletionReport() {
    // The record still holds the first read, so a failing read compares equal.
    GetFileVersionInfoBlock(platform_, sInstallFolder + u"QVApp.exe", versionRecord_);
    result_.appVersionAfter = VersionText(versionRecord_);
    Log(u"QVApp.exe version after: " + result_.appVersionAfter);
    if (RevisionOf(versionRecord_) == iAppRevision) return RunOutcome::VersionUnchanged;

    if (Level() < 2) {
      const Text firstLine = Lang(u"The Quorvia 3 update has been successfully installed.",
                                  u"Das Querlix 3-Update wurde erfolgreich installiert.");
      const Text crlf(kCrLf);
      const Text text = firstLine + crlf + crlf + ReplaceAll(sSuccessText, crlf + crlf, crlf);
      MessageBox(text, sProductTitle, win::MB_OK | win::MB_ICONINFORMATION);
      return RunOutcome::Updated;
    }

    const Text content = kCrLf + sSuccessText;
    win::TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(win::TASKDIALOGCONFIG);
    config.dwFlags = win::TDF_ALLOW_DIALOG_CANCELLATION;
    config.dwCommonButtons = win::TDCBF_CLOSE_BUTTON;
    config.pszWindowTitle = sProductTitle.c_str();
    config.pszMainIcon = win::MAKEINTRESOURCEW(MakeResourceId(-3));
    config.pszMainInstruction = sSuccessHeadline.c_str();
    config.pszContent = content.c_str();
    config.cxWidth = 220;
    int pressed = 0;
    int radio = 0;
    win::BOOL verification = win::FALSE;
    platform_.dialogs.TaskDialogIndirect(&config, &pressed, &radio, &verification);
    return RunOutcome::Updated;
  }

  win::Platform& platform_;
  const RunContext& context_;
  WindowsLevel windowsLevel_;
  cRegistry oRegistry_;
  // Removed on every way out of the run, an error included.
  ProtectedPackage package_;
  Text sUpdaterFolder;

  bool bEnglish = false;
  Text sInstallFolder;
  bool bIsWow64 = false;
  std::int32_t iAppRevision = 0;
  win::VS_FIXEDFILEINFO versionRecord_{};

  Text sProductTitle;
  Text sUpdateTitle;
  Text sIntroText;
  Text sInstallButtonText;
  Text sProgramList;
  Text sSuccessHeadline;
  Text sSuccessText;
  RunResult own_;
  RunResult& result_ = context_.progress ? *context_.progress : own_;
};

}  // namespace

// Called from two places (the run and the what-if): not inlined into both.
[[gnu::noinline]] RunResult Main(win::Platform& platform, const RunContext& context) {
  UpdateRun run(platform, context);
  return run.Run();
}

bool ChoosesEnglish(TextView arguments) { return ToLower(arguments).find(u"/en") != Text::npos; }

int ExitStatus(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Updated:
      return kExitUpdated;
    case RunOutcome::NotInstalled:
      return kExitNotInstalled;
    case RunOutcome::Cancelled:
      return kExitCancelled;
    case RunOutcome::VersionUnchanged:
      return kExitUnchanged;
    case RunOutcome::PackageUnusable:
      return kExitPackageUnusable;
    case RunOutcome::PackageRejected:
      return kExitPackageRejected;
    case RunOutcome::NoProtectedFolder:
      return kExitNoProtectedFolder;
  }
  return kExitError;
}

int ExitStatus(const RunResult& result) {
  if (result.installerExitCode) {
    const std::uint32_t code = *result.installerExitCode;
    if (code == kExitRebootRequired || code == kExitRebootInitiated) return static_cast<int>(code);
    // Any other failure of the installer is the run's, never turned into success.
    if (code != 0) return static_cast<int>(code);
  }
  return ExitStatus(result.outcome);
}

}  // namespace qv
