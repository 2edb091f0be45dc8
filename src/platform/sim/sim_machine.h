// A simulated Windows machine: every area of the platform seam, over one SimKernel (handles,
// call log, planned failures). Tests and the qv3sim tool describe a machine with the setters
// below, run the real Main on machine.platform(), then read back what happened.
//
// Paths, command lines and shortcut texts are kept in UTF-8, as the program's wide calls pass
// them; the file system compares them without regard to case. Registry names and data are
// bytes in the machine's ANSI code page, as the ANSI registry functions pass them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam.h"
#include "platform/sim/sim_kernel.h"
#include "platform/sim/sim_registry.h"

namespace qv::sim {

// a.b.c.d of a file version.
struct FileVersion {
  win::WORD a = 0, b = 0, c = 0, d = 0;
  bool operator==(const FileVersion& o) const {
    return a == o.a && b == o.b && c == o.c && d == o.d;
  }
};

// A shell link as the simulated IPersistFile::Save wrote it.
struct ShortcutData {
  std::string target;
  std::string workingDirectory;
  std::string arguments;
  std::string description;
  std::string iconPath;
  int iconIndex = 0;
  int showCommand = 0;
  bool resolved = false;  // Resolve was called before the save
};

struct SimFile {
  win::DWORD attributes = win::FILE_ATTRIBUTE_ARCHIVE;
  // Raw version data as GetFileVersionInfoW returns it (a VS_VERSIONINFO block); empty: none.
  std::vector<std::uint8_t> versionData;
  std::optional<ShortcutData> shortcut;  // set for .lnk files written by the shell link object
  std::string content;                   // the bytes ReadFile gives
};

// 64-bit Windows' folder of 32-bit system files beside this system folder ("C:\Windows\SysWOW64"
// for "C:\Windows\system32"), where a 32-bit program's accesses to the system folder go.
std::string SysWow64Folder(const std::string& systemDirectory);

// Builds the VS_VERSIONINFO block of a file with this version (file and product version).
std::vector<std::uint8_t> MakeVersionData(const FileVersion& v);

struct SimWindow {
  win::HWND parent{};      // 0 for top-level windows
  std::string className;
  std::string caption;
  win::DWORD threadId = 0;
  win::DWORD processId = 0;
  bool visible = true;
  int iconId = 0;  // windows the program created: the icon resource they carry (0: none)
};

// How the scripted user answers a dialog.
enum class Answer {
  Confirm,     // OK in a message box, the first own button (or the default one) in a task dialog
  Cancel,      // the Cancel button
  Escape,      // the Escape key (IDCANCEL where the dialog allows cancellation)
  CloseBox,    // the window's close box (as Escape)
  Close,       // the Close common button of a task dialog
  CannotShow,  // the dialog cannot be shown: MessageBoxW gives 0, TaskDialogIndirect fails
};

// Every field of a dialog as the program passed it, and what the user did.
struct DialogRecord {
  enum class Kind { MessageBox, TaskDialog } kind = Kind::MessageBox;
  // message box
  win::HWND owner{};
  Text text;
  Text caption;
  win::UINT type = 0;
  // task dialog
  win::UINT cbSize = 0;
  win::HWND hwndParent{};
  win::HINSTANCE hInstance{};
  win::DWORD dwFlags = 0;
  win::DWORD dwCommonButtons = 0;
  Text windowTitle;
  std::uintptr_t mainIcon = 0;  // handle or resource id, as the flags say
  Text mainInstruction;
  Text content;
  std::vector<std::pair<int, Text>> buttons;
  int nDefaultButton = 0;
  win::UINT cRadioButtons = 0;
  int nDefaultRadioButton = 0;
  bool hasVerificationText = false;
  bool hasExpandedInformation = false;
  bool hasExpandedControlText = false;
  bool hasCollapsedControlText = false;
  std::uintptr_t footerIcon = 0;
  Text footer;
  bool hasCallback = false;
  std::intptr_t lpCallbackData = 0;
  win::UINT cxWidth = 0;
  // both
  Answer answer = Answer::Confirm;
  int result = 0;         // MessageBoxW result, or the pressed button of the task dialog
  win::HRESULT hr = 0;    // TaskDialogIndirect result
};

// The buttons a dialog shows, in order, as (control id, label): a task dialog's own buttons
// with the program's texts, then its common buttons in Windows' order (OK alone when it has
// none); a message box's set by the low four bits of its style. Windows' own buttons are
// labelled in `language`.
std::vector<std::pair<int, Text>> ButtonsShown(const DialogRecord& dialog, win::LANGID language);

// A child process as CreateProcessW was asked to start it (texts in UTF-8).
struct ProcessRecord {
  std::optional<std::string> applicationName;
  std::optional<std::string> commandLine;
  bool inheritHandles = false;
  win::DWORD creationFlags = 0;
  bool environmentGiven = false;
  std::optional<std::string> currentDirectory;
  win::STARTUPINFOW startupInfo{};
  bool processAttributesGiven = false;
  bool threadAttributesGiven = false;
  // The executable Windows resolved, spelled as the file is named on the machine; empty when
  // it was not found.
  std::string imagePath;
  bool started = false;
  bool waitedFor = false;
  win::DWORD exitCode = 0;  // what GetExitCodeProcess gives once it has ended
  // The start-up record's texts (its pointers are the caller's and are not kept valid).
  std::optional<std::string> desktop;
  std::optional<std::string> title;
  win::DWORD processId = 0, threadId = 0;  // 0 when the program was not started
};

class SimMachine;
// What a started program does to the machine (runs when the program is started).
using ProcessEffect = std::function<void(SimMachine&, const ProcessRecord&)>;

// When the machine's standard user (the one who started the download, or any program of theirs)
// writes a file: before the run; right after the program copied a file (CopyFileW); right after
// it read a file to its end (ReadFile, the package's check); while the run's first dialog is
// shown (the close-programs prompt of a run that gets that far).
enum class UserMoment { BeforeRun, AfterCopy, AfterCheck, DuringPrompt };

// A file the standard user replaces (file set) or deletes, with the user's rights: it happens
// only where UserMayWrite allows. A path that starts with kNewFolder names a file in the folder
// the program created last.
struct UserWrite {
  UserMoment moment = UserMoment::BeforeRun;
  std::string path;
  std::optional<SimFile> file;
};
inline constexpr char kNewFolder[] = "<new folder>";

// An event the program wrote to the Application event log (ReportEventW).
struct EventRecord {
  std::string source;  // as RegisterEventSourceW was given it
  win::WORD type = 0;
  win::WORD category = 0;
  win::DWORD eventId = 0;
  std::vector<Text> strings;
};

struct MachineConfig {
  win::DWORD major = 6, minor = 1;  // the version GetVersionExA reports
  bool versionQueryFails = false;
  int windowsBits = 64;  // 32 or 64
  int processBits = 32;  // the updater's own word size
  std::string exePath = "C:\\Users\\User\\Downloads\\QV3Update.exe";
  std::string systemDirectory;  // default: "C:\\Windows\\system32"
  std::string windowsDirectory;  // default: the folder that holds the system folder
  // A Terminal Server's folder of the user's own that GetWindowsDirectoryW names for a program
  // not marked Terminal-Server-aware (GetSystemWindowsDirectoryW names the machine's all the
  // same); empty: no Terminal Server.
  std::string userWindowsDirectory;
  // The seed of the random bytes CryptGenRandom gives: one seed, one sequence.
  std::uint64_t randomSeed = 0x5157335570646174ull;
  win::DWORD processId = 4000, threadId = 4004;
  // The updater's current directory; default: the folder of exePath.
  std::string currentDirectory;
  // A new machine holds C:\Windows with its Temp folder, the system folder with msiexec.exe, the
  // updater's own executable (version 3.10.0.68) and the common Start-menu programs folder;
  // false: only C:\.
  bool standardFiles = true;
  // The system ANSI code page (GetACP): 1252 Western, 1250 Central European, 1251 Cyrillic,
  // 932 Japanese, 65001 UTF-8 ("Use Unicode UTF-8 for worldwide language support").
  win::UINT codePage = 1252;
  // The time GetSystemTime gives (UTC), and GetTickCount at the start.
  win::SYSTEMTIME now{2026, 1, 4, 15, 9, 30, 0, 0};
  win::DWORD tickCount = 3600000;
  // The user-interface language (sim_ui_language.h): the buttons Windows puts in dialogs, the
  // caption of a message box given none, and before Vista the profile folders' names.
  win::LANGID uiLanguage = 0x0409;  // en-US
};

class SimMachine {
 public:
  explicit SimMachine(MachineConfig config = {});
  ~SimMachine();
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  win::Platform platform();
  const MachineConfig& config() const { return config_; }
  SimKernel& kernel() { return kernel_; }
  SimRegistry& registry() { return *registry_; }

  // --- files (paths in UTF-8, compared without regard to case) ----------------------------
  void AddFile(const std::string& path, SimFile file = {});
  void AddFolder(const std::string& path);
  void AddExecutable(const std::string& path, std::optional<FileVersion> version);
  void SetFileVersion(const std::string& path, std::optional<FileVersion> version);
  const SimFile* FindFile(const std::string& path) const;
  // The file the updater reaches by `path`: on 64-bit Windows a 32-bit updater's accesses to the
  // system folder go to SysWOW64 (the file system redirector); otherwise `path` itself.
  std::string ReachedPath(const std::string& path) const;
  bool FolderExists(const std::string& path) const;
  void RemoveFile(const std::string& path);
  std::vector<std::string> FilePaths() const;  // every file, sorted
  // File changes of the run, in order: "deleted X", "created X", "replaced X" (a save over an
  // existing file), "created folder X", "moved X -> Y", "marked X for removal at the next
  // restart"; paths as the program spelled them.
  const std::vector<std::string>& FileLog() const { return fileLog_; }

  // What MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT marked for removal at the next restart,
  // in order (normalized paths): the simulation has no restart, so they stay.
  const std::vector<std::string>& PendingRemovals() const { return pendingRemovals_; }
  // Files the program holds open now (normalized paths).
  std::vector<std::string> OpenFiles() const;

  // The security descriptor (SDDL) a folder was created with; empty when it got none.
  std::string FolderSecurity(const std::string& path) const;

  // --- who may write where, and the standard user -------------------------------------------
  // Whether the standard user may create and replace files in this folder and, unless a folder
  // below says otherwise, below it. A new machine lets the user write in the updater's folder and
  // in the Windows folder's Temp, nowhere else. A folder created with a protected DACL that
  // grants the user nothing is closed to the user.
  void SetUserMayWrite(const std::string& folder, bool allowed);
  bool UserMayWrite(const std::string& path) const;  // a file at `path`
  // Before the run: done at once. The others: at their moment, once.
  void AddUserWrite(UserWrite write);
  // What the user did, in order: "replaced X", "deleted X", "could not replace X: access
  // denied", "could not delete X: not found".
  const std::vector<std::string>& UserLog() const { return userLog_; }

  // --- special folders -----------------------------------------------------------------------
  // SHGetFolderPathW for `csidl` gives S_OK and this path (created on demand when missing).
  void SetSpecialFolder(int csidl, const std::string& path);
  // SHGetFolderPathW for `csidl` gives this status (E_INVALIDARG, S_FALSE, E_FAIL, ...).
  void SetSpecialFolderResult(int csidl, win::HRESULT hr);

  // --- windows ----------------------------------------------------------------------------------
  win::HWND AddWindow(SimWindow window);
  void SetForegroundWindowOf(win::HWND hwnd);  // 0: no foreground window
  win::HWND ForegroundWindow() const;
  // AttachThreadInput and SetForegroundWindow calls with their arguments, in order, numbers in
  // decimal: "AttachThreadInput(4010,4004,1)", "SetForegroundWindow(264)".
  const std::vector<std::string>& ForegroundLog() const { return foregroundLog_; }
  // Pairs of threads whose input is attached now (AttachThreadInput without the detach).
  std::size_t AttachedInputCount() const;
  // A window as the machine knows it (also the program's own ones); null when unknown or
  // destroyed.
  const SimWindow* FindSimWindow(win::HWND hwnd) const;
  // Windows the program created and has not destroyed.
  std::size_t OwnWindowCount() const;

  // --- dialogs ----------------------------------------------------------------------------------
  // Answers for the coming dialogs, in order; when the queue is empty, Confirm (message box OK,
  // first own task dialog button, or Close of a report).
  void QueueAnswer(Answer answer);
  const std::vector<DialogRecord>& Dialogs() const { return dialogs_; }
  int InitCommonControlsCount() const;

  // --- processes -------------------------------------------------------------------------------
  // When a started program's resolved image path equals `imagePath` (without regard to case),
  // the effect runs. A program whose image file does not exist cannot be started.
  void OnProcessStart(const std::string& imagePath, ProcessEffect effect);
  // Starting this image fails although the file exists (e.g. a damaged executable).
  void FailProcessStart(const std::string& imagePath);
  // A started program of this image ends with this exit code (default 0) after this many
  // milliseconds (default 1000; the machine's tick count moves on by it when it is waited for).
  void SetProcessExit(const std::string& imagePath, win::DWORD exitCode, win::DWORD milliseconds = 1000);
  const std::vector<ProcessRecord>& Processes() const { return processes_; }

  // --- error reporting, COM -------------------------------------------------------------------
  // The events written, in order.
  const std::vector<EventRecord>& Events() const { return events_; }

  // WerAddExcludedApplication calls: (name, bAllUsers), in order.
  const std::vector<std::pair<Text, win::BOOL>>& WerExclusions() const { return werExclusions_; }
  bool ComInitialized() const { return comInitCount_ > 0; }
  void SetWerAvailable(bool available) { werAvailable_ = available; }      // false on XP
  void SetTaskDialogAvailable(bool available) { taskDialogAvailable_ = available; }
  void SetIsWow64ProcessAvailable(bool available) { isWow64Available_ = available; }

  // The environment for ExpandEnvironmentStringsA (names without regard to case).
  void SetEnvironment(const std::string& name, const std::string& value);

  // The error code the last failing simulated call left (GetLastError), 0 before any failure.
  win::DWORD LastError() const;
  // The instance handle of the updater's own module (GetModuleHandleA(NULL)).
  win::HINSTANCE ModuleHandle() const;

 private:
  friend class SimAreas;
  MachineConfig config_;
  SimKernel kernel_;
  std::unique_ptr<SimRegistry> registry_;
  std::unique_ptr<class SimAreas> areas_;
  std::vector<std::string> fileLog_;
  std::vector<std::string> pendingRemovals_;
  std::vector<std::string> foregroundLog_;
  std::vector<DialogRecord> dialogs_;
  std::vector<ProcessRecord> processes_;
  std::vector<std::pair<Text, win::BOOL>> werExclusions_;
  std::vector<EventRecord> events_;
  std::vector<UserWrite> userWrites_;
  std::vector<std::string> userLog_;
  int comInitCount_ = 0;
  bool werAvailable_ = true;
  bool taskDialogAvailable_ = true;
  bool isWow64Available_ = true;
};

}  // namespace qv::sim
