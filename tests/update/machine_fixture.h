// A standard simulated machine with Quorvia 3 installed, for the update driver's tests and the
// tools that reuse them. Header-only.
//
// The standard machine: 64-bit Windows 7 (level 2) unless told otherwise; the product key in the
// 32-bit view of HKEY_LOCAL_MACHINE with AppPath "C:\Program Files (x86)\Quorvia 3\" (on 32-bit
// Windows "C:\Program Files\Quorvia 3\"); QVApp.exe 3.10.0.68, QVInit.exe and QVSync.exe in that
// folder; qvupdate.msp beside the updater; msiexec.exe in the system folder, whose run raises
// QVApp.exe to 3.10.0.69; the synchronisation shortcut in the common programs folder in the
// languages asked for.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/sim/sim_machine.h"
#include "update/modQVUpdate.h"

namespace qv::test {

inline constexpr char kUpdaterPath[] = "C:\\Users\\User\\Downloads\\QV3Update.exe";
inline constexpr char kUpdaterFolder[] = "C:\\Users\\User\\Downloads\\";
inline constexpr char kSystemFolder[] = "C:\\Windows\\system32";
inline constexpr char kMsiexecPath[] = "C:\\Windows\\system32\\msiexec.exe";
// The installer a 32-bit updater reaches under WOW64 (64-bit Windows): the file system redirector
// sends its accesses to the system folder to SysWOW64.
inline constexpr char kWow64MsiexecPath[] = "C:\\Windows\\SysWOW64\\msiexec.exe";
inline constexpr char kCommonPrograms[] =
    "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
inline constexpr char kEnglishLinkName[] = "\\Quorvia 3\\Synchronizing.lnk";
inline constexpr char kGermanLinkName[] = "\\Querlix 3\\Synchronisation zweier Sammlungen.lnk";
inline constexpr char kCommunicatorCaption[] = "QVShellCommunicator2006";
inline constexpr win::DWORD kProductProcessId = 3100, kProductThreadId = 3104;
inline constexpr win::DWORD kExplorerProcessId = 1200, kExplorerThreadId = 1204;

// The Windows situations a run distinguishes.
struct WindowsKind {
  const char* name;
  win::DWORD major, minor;
  int windowsBits;
};
inline constexpr WindowsKind kWindows2000{"Windows2000", 5, 0, 32};
inline constexpr WindowsKind kWindowsXp{"WindowsXP", 5, 1, 32};
inline constexpr WindowsKind kWindows7x86{"Windows7x86", 6, 1, 32};
inline constexpr WindowsKind kWindows7x64{"Windows7x64", 6, 1, 64};

struct MachineOptions {
  WindowsKind windows = kWindows7x64;
  int processBits = 32;          // the updater's word size (64 only on 64-bit Windows)
  bool productInstalled = true;  // the product key exists
  bool appPathValue = true;      // the key holds AppPath
  std::string installFolder;     // UTF-8; default: by the Windows word size (see InstallFolder)
  std::optional<sim::FileVersion> appVersion = sim::FileVersion{3, 10, 0, 68};
  std::optional<sim::FileVersion> patchedVersion = sim::FileVersion{3, 10, 0, 69};
  bool communicatorRunning = false;  // the product's main program shows its communicator form
  bool englishShortcut = true;       // "\Quorvia 3\Synchronizing.lnk" exists
  bool germanShortcut = false;       // "\Querlix 3\Synchronisation zweier Sammlungen.lnk" exists
  win::UINT codePage = 1252;         // the system ANSI code page
  std::string updaterFolder = kUpdaterFolder;    // with its trailing "\"
  std::string commonPrograms = kCommonPrograms;  // the common Start-menu programs folder
  std::string windowsDirectory;      // default: the folder above the system folder
  std::string userWindowsDirectory;  // a Terminal Server's folder of the user's own
  // The content of qvupdate.msp.
  std::string packageContent = "Quorvia 3 patch 3.10.0.69";
  // A release: the content of the package it was made for; none: a development build.
  std::optional<std::string> releasePackage;
};

inline std::string DefaultInstallFolder(int windowsBits) {
  return windowsBits == 64 ? "C:\\Program Files (x86)\\Quorvia 3\\"
                           : "C:\\Program Files\\Quorvia 3\\";
}

// The physical path of the product key as regedit shows it.
inline std::string ProductKeyPath(int windowsBits) {
  return windowsBits == 64 ? "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\orvanta\\Quorvia"
                           : "HKEY_LOCAL_MACHINE\\SOFTWARE\\orvanta\\Quorvia";
}

// REG_SZ data as the registry stores it: ANSI bytes with the terminating zero.
inline sim::RegValue RegSz(const std::string& ansi) {
  sim::RegValue v;
  v.type = win::REG_SZ;
  v.data.assign(ansi.begin(), ansi.end());
  v.data.push_back(0);
  return v;
}

inline sim::RegValue RegDword(win::DWORD value) {
  sim::RegValue v;
  v.type = win::REG_DWORD;
  for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return v;
}

class StandardMachine {
 public:
  explicit StandardMachine(MachineOptions options = {}) : options_(std::move(options)) {
    if (options_.installFolder.empty())
      options_.installFolder = DefaultInstallFolder(options_.windows.windowsBits);
    sim::MachineConfig config;
    config.major = options_.windows.major;
    config.minor = options_.windows.minor;
    config.windowsBits = options_.windows.windowsBits;
    config.processBits = options_.processBits;
    config.exePath = options_.updaterFolder + "QV3Update.exe";
    config.systemDirectory = kSystemFolder;
    config.codePage = options_.codePage;
    config.windowsDirectory = options_.windowsDirectory;
    config.userWindowsDirectory = options_.userWindowsDirectory;
    machine_ = std::make_unique<sim::SimMachine>(config);
    Populate();
  }

  sim::SimMachine& machine() { return *machine_; }
  sim::SimMachine* operator->() { return machine_.get(); }
  const MachineOptions& options() const { return options_; }
  const std::string& installFolder() const { return options_.installFolder; }
  std::string appExe() const { return options_.installFolder + "QVApp.exe"; }
  std::string shortcutPath(bool english) const {
    return options_.commonPrograms + (english ? kEnglishLinkName : kGermanLinkName);
  }

  // The communicator form of the product's main program (and its text box).
  win::HWND communicatorTextBox() const { return communicatorTextBox_; }
  // The window in the foreground when the run starts (a folder window of Explorer).
  win::HWND explorerWindow() const { return explorerWindow_; }

  RunContext Context(const Text& arguments) const {
    RunContext context;
    context.arguments = arguments;
    context.processBits = options_.processBits;
    context.exeName = u"QV3Update";
    if (options_.releasePackage)
      context.packageSha256 = Sha256Of(options_.releasePackage->data(), options_.releasePackage->size());
    return context;
  }

  // Runs Main on this machine.
  RunOutcome Run(const Text& arguments) {
    win::Platform platform = machine_->platform();
    const RunContext context = Context(arguments);
    return Main(platform, context).outcome;
  }

  // The shortcut as the standard machine has it before a run.
  static sim::ShortcutData OldShortcut(const std::string& target) {
    sim::ShortcutData data;
    data.target = target;
    data.description = "old shortcut";
    data.iconPath = target;
    data.showCommand = win::SW_SHOWNORMAL;
    return data;
  }

 private:
  void Populate() {
    sim::SimMachine& m = *machine_;
    const int bits = options_.windows.windowsBits;
    const std::string& folder = options_.installFolder;

    if (options_.productInstalled) {
      m.registry().CreateKey(ProductKeyPath(bits));
      // The registry holds the folder in the machine's ANSI code page; the files are named in
      // UTF-8.
      if (options_.appPathValue)
        m.registry().SetValue(ProductKeyPath(bits), "AppPath",
                              RegSz(sim::SimCodePage(m.config().codePage)
                                        .ToAnsi(Utf8ToText(folder))
                                        .bytes()));
    }
    m.AddFolder(folder);
    m.AddExecutable(folder + "QVApp.exe", options_.appVersion);
    m.AddExecutable(folder + "QVInit.exe", sim::FileVersion{3, 10, 0, 68});
    m.AddExecutable(folder + "QVSync.exe", sim::FileVersion{3, 10, 0, 68});
    sim::SimFile package;
    package.content = options_.packageContent;
    m.AddFile(options_.updaterFolder + "qvupdate.msp", package);

    if (!m.FindFile(m.ReachedPath(kMsiexecPath)))
      m.AddExecutable(m.ReachedPath(kMsiexecPath), sim::FileVersion{5, 0, 7601, 0});
    const std::string app = appExe();
    const std::optional<sim::FileVersion> patched = options_.patchedVersion;
    m.OnProcessStart(kMsiexecPath,
                     [app, patched](sim::SimMachine& target, const sim::ProcessRecord&) {
                       target.SetFileVersion(app, patched);
                     });

    m.SetSpecialFolder(win::CSIDL_COMMON_PROGRAMS, options_.commonPrograms);
    const std::string target = folder + "QVSync.exe";
    for (bool english : {true, false}) {
      if (english ? !options_.englishShortcut : !options_.germanShortcut) continue;
      sim::SimFile lnk;
      lnk.shortcut = OldShortcut(target);
      m.AddFile(shortcutPath(english), lnk);
    }

    sim::SimWindow explorer;
    explorer.className = "CabinetWClass";
    explorer.caption = "Downloads";
    explorer.processId = kExplorerProcessId;
    explorer.threadId = kExplorerThreadId;
    explorerWindow_ = m.AddWindow(explorer);
    m.SetForegroundWindowOf(explorerWindow_);

    if (options_.communicatorRunning) {
      sim::SimWindow form;
      form.className = "ThunderRT6FormDC";
      form.caption = kCommunicatorCaption;
      form.processId = kProductProcessId;
      form.threadId = kProductThreadId;
      form.visible = false;
      const win::HWND hForm = m.AddWindow(form);
      sim::SimWindow textBox;
      textBox.parent = hForm;
      textBox.className = "ThunderRT6TextBox";
      textBox.processId = kProductProcessId;
      textBox.threadId = kProductThreadId;
      textBox.visible = false;
      communicatorTextBox_ = m.AddWindow(textBox);
    }
  }

  MachineOptions options_;
  std::unique_ptr<sim::SimMachine> machine_;
  win::HWND communicatorTextBox_{};
  win::HWND explorerWindow_{};
};

}  // namespace qv::test
