// Inside the simulated machine: one object implements every non-registry area of the seam over
// the machine's kernel, file system, windows and dialog queue. Only sim/*.cpp include this.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"

namespace qv::sim {

// Windows error codes the simulation gives that win_types.h does not name.
constexpr win::DWORD kErrorInvalidFunction = 1;
constexpr win::DWORD kErrorBadExeFormat = 193;
constexpr win::DWORD kErrorDirectory = 267;
constexpr win::DWORD kErrorModNotFound = 126;
constexpr win::DWORD kErrorProcNotFound = 127;
constexpr win::DWORD kErrorResourceNameNotFound = 1814;
constexpr win::DWORD kErrorInvalidWindowHandle = 1400;
constexpr win::DWORD kErrorInvalidIconHandle = 1402;
constexpr win::HRESULT kEPointer = static_cast<win::HRESULT>(0x80004003u);
constexpr win::HRESULT kRpcEChangedMode = static_cast<win::HRESULT>(0x80010106u);

// Texts of the wide functions as the simulation keeps them: UTF-8.
std::string U8(const win::WCHAR* text);      // "" for null
std::string ShowW(const win::WCHAR* text);   // "(null)" for null, for the call log
// Copies `text` (UTF-8) with its terminator into a buffer of `size` UTF-16 characters, the way
// the functions that report a length do: the length without terminator when it fits, else the
// size needed.
win::DWORD CopyOutW(const std::string& text, win::WCHAR* buffer, win::DWORD size);

// What a security descriptor in SDDL says about the standard user's rights.
struct ParsedDacl {
  bool protectedDacl = false;
  bool userMayWrite = false;  // an allow ACE gives users, or everyone, a write right
};
// 0, or the error Windows refuses the text with: ERROR_INVALID_PARAMETER for a part it does not
// know, ERROR_INVALID_ACL for an entry it cannot read.
win::DWORD ParseDacl(const std::string& sddl, ParsedDacl& out);

// Path helpers: UTF-8 paths, compared without regard to case as Windows compares file names.
std::string FoldCase(const std::string& path);
// The absolute form of `path` (backslashes, no "." or ".." parts, no doubled or trailing
// separators except after a drive), relative paths taken from `currentDirectory`.
std::string NormalizePath(const std::string& path, const std::string& currentDirectory);
std::string ParentOf(const std::string& normalized);  // "" for a drive root
std::string FileNameOf(const std::string& path);

class SimAreas final : public win::ISystem,
                       public win::IProcesses,
                       public win::IWindows,
                       public win::IDialogs,
                       public win::IShell,
                       public win::IFiles,
                       public win::ISecurity,
                       public win::IEventLog {
 public:
  explicit SimAreas(SimMachine& machine);
  ~SimAreas() override;

  // --- ISystem
  win::BOOL GetVersionExA(win::OSVERSIONINFOA* lpVersionInformation) override;
  win::HANDLE GetCurrentProcess() override;
  win::BOOL IsWow64Process(win::HANDLE hProcess, win::BOOL* Wow64Process) override;
  win::DWORD GetModuleFileNameW(win::HINSTANCE hModule, win::WCHAR* lpFilename,
                                win::DWORD nSize) override;
  win::UINT GetSystemDirectoryW(win::WCHAR* lpBuffer, win::UINT uSize) override;
  win::UINT GetWindowsDirectoryW(win::WCHAR* lpBuffer, win::UINT uSize) override;
  win::UINT GetSystemWindowsDirectoryW(win::WCHAR* lpBuffer, win::UINT uSize) override;
  win::HINSTANCE GetModuleHandleA(const char* lpModuleName) override;
  void GetSystemTime(win::SYSTEMTIME* lpSystemTime) override;
  win::DWORD GetTickCount() override;
  win::LANGID GetUserDefaultUILanguage() override;

  // --- IProcesses
  win::BOOL CreateProcessW(const win::WCHAR* lpApplicationName, win::WCHAR* lpCommandLine,
                           const win::SECURITY_ATTRIBUTES* lpProcessAttributes,
                           const win::SECURITY_ATTRIBUTES* lpThreadAttributes,
                           win::BOOL bInheritHandles, win::DWORD dwCreationFlags,
                           void* lpEnvironment, const win::WCHAR* lpCurrentDirectory,
                           win::STARTUPINFOW* lpStartupInfo,
                           win::PROCESS_INFORMATION* lpProcessInformation) override;
  win::DWORD WaitForSingleObject(win::HANDLE hHandle, win::DWORD dwMilliseconds) override;
  win::BOOL GetExitCodeProcess(win::HANDLE hProcess, win::DWORD* lpExitCode) override;
  win::BOOL CloseHandle(win::HANDLE hObject) override;

  // --- IWindows
  win::HWND FindWindowExA(win::HWND hWndParent, win::HWND hWndChildAfter, const char* lpszClass,
                          const char* lpszWindow) override;
  win::HWND GetForegroundWindow() override;
  win::DWORD GetWindowThreadProcessId(win::HWND hWnd, win::DWORD* lpdwProcessId) override;
  win::BOOL AttachThreadInput(win::DWORD idAttach, win::DWORD idAttachTo,
                              win::BOOL fAttach) override;
  win::BOOL SetForegroundWindow(win::HWND hWnd) override;
  win::HWND CreateFormWindow(win::HINSTANCE hInstance, const win::WCHAR* caption,
                             int iconId) override;
  win::BOOL DestroyWindow(win::HWND hWnd) override;
  win::HICON LoadIconW(win::HINSTANCE hInstance, const win::WCHAR* lpIconName) override;
  win::BOOL DestroyIcon(win::HICON hIcon) override;

  // --- IDialogs
  void InitCommonControls() override;
  int MessageBoxW(win::HWND hWnd, const win::WCHAR* lpText, const win::WCHAR* lpCaption,
                  win::UINT uType) override;
  win::HRESULT TaskDialogIndirect(const win::TASKDIALOGCONFIG* pTaskConfig, int* pnButton,
                                  int* pnRadioButton, win::BOOL* pfVerificationFlagChecked) override;

  // --- IShell
  win::HRESULT CoInitializeEx(void* pvReserved, win::DWORD dwCoInit) override;
  void CoUninitialize() override;
  win::HRESULT CoCreateShellLink(win::IShellLinkW** ppv) override;
  win::HRESULT SHGetFolderPathW(win::HWND hwnd, int csidl, win::HANDLE hToken,
                                win::DWORD dwFlags, win::WCHAR* pszPath) override;
  win::HRESULT WerAddExcludedApplication(const win::WCHAR* pwzExeName,
                                         win::BOOL bAllUsers) override;

  // --- IFiles
  win::DWORD GetFileAttributesW(const win::WCHAR* lpFileName) override;
  win::BOOL DeleteFileW(const win::WCHAR* lpFileName) override;
  win::BOOL MoveFileExW(const win::WCHAR* lpExistingFileName, const win::WCHAR* lpNewFileName,
                        win::DWORD dwFlags) override;
  win::DWORD GetFileVersionInfoSizeW(const win::WCHAR* lptstrFilename,
                                     win::DWORD* lpdwHandle) override;
  win::BOOL GetFileVersionInfoW(const win::WCHAR* lptstrFilename, win::DWORD dwHandle,
                                win::DWORD dwLen, void* lpData) override;
  win::BOOL VerQueryValueW(const void* pBlock, const win::WCHAR* lpSubBlock, void** lplpBuffer,
                           win::UINT* puLen) override;
  win::BOOL CreateDirectoryW(const win::WCHAR* lpPathName,
                             const win::SECURITY_ATTRIBUTES* lpSecurityAttributes) override;
  win::BOOL CopyFileW(const win::WCHAR* lpExistingFileName, const win::WCHAR* lpNewFileName,
                      win::BOOL bFailIfExists) override;
  win::BOOL SetFileAttributesW(const win::WCHAR* lpFileName, win::DWORD dwFileAttributes) override;
  win::BOOL RemoveDirectoryW(const win::WCHAR* lpPathName) override;
  win::HANDLE CreateFileW(const win::WCHAR* lpFileName, win::DWORD dwDesiredAccess,
                          win::DWORD dwShareMode,
                          const win::SECURITY_ATTRIBUTES* lpSecurityAttributes,
                          win::DWORD dwCreationDisposition, win::DWORD dwFlagsAndAttributes,
                          win::HANDLE hTemplateFile) override;
  win::BOOL ReadFile(win::HANDLE hFile, void* lpBuffer, win::DWORD nNumberOfBytesToRead,
                     win::DWORD* lpNumberOfBytesRead, void* lpOverlapped) override;
  win::BOOL WriteFile(win::HANDLE hFile, const void* lpBuffer, win::DWORD nNumberOfBytesToWrite,
                      win::DWORD* lpNumberOfBytesWritten, void* lpOverlapped) override;
  win::DWORD GetLastError() override { return lastError; }

  // --- ISecurity
  win::BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(
      const win::WCHAR* StringSecurityDescriptor, win::DWORD StringSDRevision,
      win::PSECURITY_DESCRIPTOR* SecurityDescriptor, win::ULONG* SecurityDescriptorSize) override;
  void* LocalFree(void* hMem) override;
  win::BOOL CryptAcquireContextW(win::HCRYPTPROV* phProv, const win::WCHAR* szContainer,
                                 const win::WCHAR* szProvider, win::DWORD dwProvType,
                                 win::DWORD dwFlags) override;
  win::BOOL CryptGenRandom(win::HCRYPTPROV hProv, win::DWORD dwLen, win::BYTE* pbBuffer) override;
  win::BOOL CryptReleaseContext(win::HCRYPTPROV hProv, win::DWORD dwFlags) override;

  // --- IEventLog
  win::HANDLE RegisterEventSourceW(const win::WCHAR* lpUNCServerName,
                                   const win::WCHAR* lpSourceName) override;
  win::BOOL ReportEventW(win::HANDLE hEventLog, win::WORD wType, win::WORD wCategory,
                         win::DWORD dwEventID, void* lpUserSid, win::WORD wNumStrings,
                         win::DWORD dwDataSize, const win::WCHAR** lpStrings,
                         void* lpRawData) override;
  win::BOOL DeregisterEventSource(win::HANDLE hEventLog) override;

  // --- the machine's state --------------------------------------------------------------------
  // Who may write in a folder: as its parent (Inherit), or as set.
  enum class UserAccess { Inherit, Write, Deny };
  struct Node {
    std::string path;  // normalized, as first written
    bool folder = false;
    SimFile file;      // for files; folders use only file.attributes
    std::string sddl;  // folders: the security descriptor they were created with
    UserAccess userAccess = UserAccess::Inherit;  // folders
  };
  struct WindowEntry {
    win::HWND hwnd{};
    SimWindow window;
    bool own = false;
    bool alive = true;
  };
  struct ShellLinkObject;
  std::set<ShellLinkObject*> shellLinks;  // alive shell link objects
  void ReleaseShellLinks();               // at the machine's end: objects the program leaked

  SimMachine& m;
  SimCodePage codePage;
  win::HINSTANCE module{};
  std::string cwd;
  std::map<std::string, Node> fs;  // by folded normalized path
  std::map<int, std::string> specialFolders;
  std::map<std::string, bool> userRights;  // folded folder path: the user may write there
  std::map<int, win::HRESULT> specialFolderResults;
  std::vector<WindowEntry> windows;
  win::HWND foreground{};
  std::set<std::pair<win::DWORD, win::DWORD>> attached;
  std::deque<Answer> answers;
  std::vector<std::pair<std::string, ProcessEffect>> effects;  // folded image path
  std::set<std::string> failingImages;                         // folded image path
  std::map<std::string, std::pair<win::DWORD, win::DWORD>> exits;  // folded image: code, ms
  std::map<std::uintptr_t, std::string> eventSources;          // handle -> source name
  std::map<std::uintptr_t, std::size_t> processOfHandle;       // process handle -> record
  std::map<std::uintptr_t, std::size_t> versionBuffers;        // filled buffer -> its length
  // Security descriptors from ConvertStringSecurityDescriptorToSecurityDescriptorW, by address:
  // their text.
  std::map<std::uintptr_t, std::string> securityDescriptors;
  // Files the program opened (CreateFileW), by handle.
  struct OpenFile {
    std::string key;  // the folded normalized path
    win::DWORD access = 0, share = 0;
    std::size_t position = 0;
  };
  std::map<std::uintptr_t, OpenFile> openFiles;
  std::uint64_t randomState;
  std::string lastCreatedFolder;  // the folder CreateDirectoryW made last (normalized)
  bool dialogShown = false;       // the first dialog has been shown (user writes during it)
  win::DWORD nextProcessId = 5000;
  win::DWORD lastError = 0;
  int initCommonControls = 0;
  win::DWORD comMode = 0;

  std::string Normalize(const std::string& path) const { return NormalizePath(path, cwd); }
  // The file a program of the updater's word size reaches by this normalized path: on 64-bit
  // Windows a 32-bit process's accesses to the system folder go to SysWOW64 (the file system
  // redirector), but for the subfolders Windows exempts. Machine set-up is never redirected.
  std::string Redirect(const std::string& normalized) const;
  // A path the program passed, normalized and redirected.
  std::string ProgramPath(const std::string& path) const { return Redirect(Normalize(path)); }
  Node* Lookup(const std::string& normalized);
  const Node* Lookup(const std::string& normalized) const;
  bool IsFolder(const std::string& normalized) const;
  bool IsFile(const std::string& normalized) const;
  void MakeFolders(const std::string& normalized);  // with its parents; logs nothing
  void Log(std::string entry);
  // The user's writes of this moment, each once.
  void RunUserWrites(UserMoment moment);
  void ApplyUserWrite(const UserWrite& write);
  void ShowingDialog();  // each dialog, before its answer
  bool UserMayWrite(const std::string& normalized) const;
  win::BOOL Fail(win::DWORD error);  // sets the last error, gives FALSE
  // Why nothing is at `normalized`: ERROR_FILE_NOT_FOUND in an existing folder (or at a drive's
  // root), ERROR_PATH_NOT_FOUND when its folder is missing too.
  win::DWORD MissingError(const std::string& normalized) const;
  // Whether a handle open on the file at `normalized`, or on a file below it, stops a change of
  // this kind: a write needs every handle to share writing, a delete, rename or replace every
  // handle to share deleting.
  bool HeldOpen(const std::string& normalized, win::DWORD neededShare) const;
  const WindowEntry* Window(win::HWND hwnd) const;
  WindowEntry* Window(win::HWND hwnd);
  bool ThreadKnown(win::DWORD threadId) const;
  // The executable a command line or application name names, by Windows' rules; empty when none.
  std::string ResolveImage(const std::optional<std::string>& applicationName,
                           const std::optional<std::string>& commandLine,
                           const std::string& currentDirectory) const;
  std::string SearchExecutable(const std::string& name, const std::string& currentDirectory) const;
};

}  // namespace qv::sim
