// The platform seam: the Windows functions the updater calls, one small interface per area,
// with Windows' names, arguments, result codes and out-parameters. Two implementations exist
// under the same file names: win32/ (the real one, convert and call) and sim/ (a simulated
// Windows machine for tests and for the qv3sim tool).
//
// Nothing behind this seam decides anything about the update: the logic lives in src/registry,
// src/winhelpers and src/update, over these interfaces.
#pragma once

#include "platform/text.h"
#include "platform/win_types.h"

namespace qv::win {

// kernel32's code page functions: the system ANSI code page and the conversions between it and
// UTF-16, with Windows' flags, counting mode (output size 0), default character and result
// codes. A result of 0 is a failure; GetLastError then tells why.
class ICodePage {
 public:
  virtual ~ICodePage() = default;
  virtual UINT GetACP() = 0;
  virtual int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, const WCHAR* lpWideCharStr,
                                  int cchWideChar, char* lpMultiByteStr, int cbMultiByte,
                                  const char* lpDefaultChar, BOOL* lpUsedDefaultChar) = 0;
  virtual int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr,
                                  int cbMultiByte, WCHAR* lpWideCharStr, int cchWideChar) = 0;
  // The error code the last failing conversion left.
  virtual DWORD GetLastError() = 0;
};

// advapi32 registry functions and ExpandEnvironmentStringsA (kernel32). Sizes are in bytes,
// names are ANSI, results are Windows error codes. `lpSubKey`/`lpValueName` may be null where
// Windows allows null.
class IRegistry {
 public:
  virtual ~IRegistry() = default;
  virtual LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             HKEY* phkResult) = 0;
  virtual LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               const SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                               DWORD* lpdwDisposition) = 0;
  virtual LONG RegCloseKey(HKEY hKey) = 0;
  virtual LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) = 0;
  // Reaches an explicit view (KEY_WOW64_32KEY / KEY_WOW64_64KEY); used only by a 64-bit build,
  // which runs only on Windows versions that have it.
  virtual LONG RegDeleteKeyExA(HKEY hKey, const char* lpSubKey, REGSAM samDesired,
                               DWORD Reserved) = 0;
  virtual LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) = 0;
  virtual LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved,
                                DWORD* lpType, BYTE* lpData, DWORD* lpcbData) = 0;
  virtual LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) = 0;
  virtual LONG RegQueryInfoKeyA(HKEY hKey, char* lpClass, DWORD* lpcchClass, DWORD* lpReserved,
                                DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen,
                                DWORD* lpcbMaxClassLen, DWORD* lpcValues,
                                DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                                DWORD* lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) = 0;
  virtual LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                             DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) = 0;
  virtual LONG RegEnumKeyA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD cchName) = 0;
  // kernel32: the size needed (terminator included) or 0 on failure.
  virtual DWORD ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, DWORD nSize) = 0;
};

// kernel32: the version, the process and its word size, the program's own file, the system
// folder.
class ISystem {
 public:
  virtual ~ISystem() = default;
  virtual BOOL GetVersionExA(OSVERSIONINFOA* lpVersionInformation) = 0;
  virtual HANDLE GetCurrentProcess() = 0;
  // Bound by name at first use: Windows 2000 and XP before SP2 lack it (then FALSE).
  virtual BOOL IsWow64Process(HANDLE hProcess, BOOL* Wow64Process) = 0;
  // hModule null: the running executable. Returns the length copied (without terminator),
  // nSize when truncated, 0 on failure.
  virtual DWORD GetModuleFileNameW(HINSTANCE hModule, WCHAR* lpFilename, DWORD nSize) = 0;
  virtual UINT GetSystemDirectoryW(WCHAR* lpBuffer, UINT uSize) = 0;
  // The Windows folder, with GetSystemDirectoryW's length rules. On a Terminal Server this is a
  // folder of the user's own for a program not marked Terminal-Server-aware.
  virtual UINT GetWindowsDirectoryW(WCHAR* lpBuffer, UINT uSize) = 0;
  // The machine's Windows folder, on a Terminal Server too (Windows 2000 and later).
  virtual UINT GetSystemWindowsDirectoryW(WCHAR* lpBuffer, UINT uSize) = 0;
  // The instance handle of the running executable (GetModuleHandleA(NULL)).
  virtual HINSTANCE GetModuleHandleA(const char* lpModuleName) = 0;
  // The time now, in UTC.
  virtual void GetSystemTime(SYSTEMTIME* lpSystemTime) = 0;
  // Milliseconds since Windows started (wraps after 49.7 days).
  virtual DWORD GetTickCount() = 0;
  // The user's interface language (Windows 2000 and later).
  virtual LANGID GetUserDefaultUILanguage() = 0;
};

// kernel32: child processes and handles.
class IProcesses {
 public:
  virtual ~IProcesses() = default;
  virtual BOOL CreateProcessW(const WCHAR* lpApplicationName, WCHAR* lpCommandLine,
                              const SECURITY_ATTRIBUTES* lpProcessAttributes,
                              const SECURITY_ATTRIBUTES* lpThreadAttributes, BOOL bInheritHandles,
                              DWORD dwCreationFlags, void* lpEnvironment,
                              const WCHAR* lpCurrentDirectory, STARTUPINFOW* lpStartupInfo,
                              PROCESS_INFORMATION* lpProcessInformation) = 0;
  virtual DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) = 0;
  // STILL_ACTIVE while the process runs; its exit code once it has ended.
  virtual BOOL GetExitCodeProcess(HANDLE hProcess, DWORD* lpExitCode) = 0;
  virtual BOOL CloseHandle(HANDLE hObject) = 0;
};

// user32: top-level and child windows, the foreground, the hidden icon-carrier window, icons.
class IWindows {
 public:
  virtual ~IWindows() = default;
  virtual HWND FindWindowExA(HWND hWndParent, HWND hWndChildAfter, const char* lpszClass,
                             const char* lpszWindow) = 0;
  virtual HWND GetForegroundWindow() = 0;
  virtual DWORD GetWindowThreadProcessId(HWND hWnd, DWORD* lpdwProcessId) = 0;
  virtual BOOL AttachThreadInput(DWORD idAttach, DWORD idAttachTo, BOOL fAttach) = 0;
  virtual BOOL SetForegroundWindow(HWND hWnd) = 0;
  // The hidden form window: a top-level window that is never shown, with the given caption and
  // the icon group `iconId` of `hInstance` as its icon (RegisterClassW + CreateWindowExW).
  virtual HWND CreateFormWindow(HINSTANCE hInstance, const WCHAR* caption, int iconId) = 0;
  virtual BOOL DestroyWindow(HWND hWnd) = 0;
  virtual HICON LoadIconW(HINSTANCE hInstance, const WCHAR* lpIconName) = 0;
  virtual BOOL DestroyIcon(HICON hIcon) = 0;
};

// comctl32 and user32 dialogs. Message boxes go through the wide function, so German texts
// show on every code page.
class IDialogs {
 public:
  virtual ~IDialogs() = default;
  virtual void InitCommonControls() = 0;
  // 0 when the box cannot be shown.
  virtual int MessageBoxW(HWND hWnd, const WCHAR* lpText, const WCHAR* lpCaption, UINT uType) = 0;
  // Bound by name at first use (common controls 6, Windows Vista and later).
  virtual HRESULT TaskDialogIndirect(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton,
                                     int* pnRadioButton, BOOL* pfVerificationFlagChecked) = 0;
};

// The shell link object's two interfaces, reference counted like their COM originals.
class IPersistFile {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual HRESULT Save(const WCHAR* pszFileName, BOOL fRemember) = 0;

 protected:
  ~IPersistFile() = default;
};

class IShellLinkW {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  // QueryInterface for IID_IPersistFile.
  virtual HRESULT QueryInterfacePersistFile(IPersistFile** ppv) = 0;
  virtual HRESULT SetPath(const WCHAR* pszFile) = 0;
  virtual HRESULT SetWorkingDirectory(const WCHAR* pszDir) = 0;
  virtual HRESULT SetArguments(const WCHAR* pszArgs) = 0;
  virtual HRESULT SetDescription(const WCHAR* pszName) = 0;
  virtual HRESULT SetIconLocation(const WCHAR* pszIconPath, int iIcon) = 0;
  virtual HRESULT SetShowCmd(int iShowCmd) = 0;
  virtual HRESULT Resolve(HWND hwnd, DWORD fFlags) = 0;

 protected:
  ~IShellLinkW() = default;
};

// ole32, shell32/shfolder, wer.
class IShell {
 public:
  virtual ~IShell() = default;
  virtual HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit) = 0;
  virtual void CoUninitialize() = 0;
  // CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW, ppv).
  virtual HRESULT CoCreateShellLink(IShellLinkW** ppv) = 0;
  // pszPath receives at least MAX_PATH characters.
  virtual HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags,
                                   WCHAR* pszPath) = 0;
  // Bound by name at first use (Windows Vista and later).
  virtual HRESULT WerAddExcludedApplication(const WCHAR* pwzExeName, BOOL bAllUsers) = 0;
};

// kernel32 file functions and version.dll, in their wide forms: a path is passed as the user
// named it, whatever the ANSI code page holds.
class IFiles {
 public:
  virtual ~IFiles() = default;
  virtual DWORD GetFileAttributesW(const WCHAR* lpFileName) = 0;
  virtual BOOL DeleteFileW(const WCHAR* lpFileName) = 0;
  virtual BOOL MoveFileExW(const WCHAR* lpExistingFileName, const WCHAR* lpNewFileName,
                           DWORD dwFlags) = 0;
  virtual DWORD GetFileVersionInfoSizeW(const WCHAR* lptstrFilename, DWORD* lpdwHandle) = 0;
  virtual BOOL GetFileVersionInfoW(const WCHAR* lptstrFilename, DWORD dwHandle, DWORD dwLen,
                                   void* lpData) = 0;
  virtual BOOL VerQueryValueW(const void* pBlock, const WCHAR* lpSubBlock, void** lplpBuffer,
                              UINT* puLen) = 0;
  // A new folder, with the security descriptor of lpSecurityAttributes (null: inherited);
  // ERROR_ALREADY_EXISTS when the name is taken, by a folder or a file.
  virtual BOOL CreateDirectoryW(const WCHAR* lpPathName,
                                const SECURITY_ATTRIBUTES* lpSecurityAttributes) = 0;
  // Copies the content and the attributes (not the security descriptor); bFailIfExists TRUE
  // refuses an existing target with ERROR_FILE_EXISTS, FALSE replaces it unless it is read-only
  // or hidden.
  virtual BOOL CopyFileW(const WCHAR* lpExistingFileName, const WCHAR* lpNewFileName,
                         BOOL bFailIfExists) = 0;
  virtual BOOL SetFileAttributesW(const WCHAR* lpFileName, DWORD dwFileAttributes) = 0;
  // Only an empty folder: ERROR_DIR_NOT_EMPTY otherwise.
  virtual BOOL RemoveDirectoryW(const WCHAR* lpPathName) = 0;
  // A file handle (closed with IProcesses::CloseHandle), INVALID_HANDLE_VALUE on failure. Windows
  // refuses an open whose access another open handle's share mode does not allow, or whose share
  // mode does not allow another handle's access (ERROR_SHARING_VIOLATION); a file open without
  // FILE_SHARE_DELETE cannot be deleted, renamed or replaced.
  virtual HANDLE CreateFileW(const WCHAR* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                             const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                             DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                             HANDLE hTemplateFile) = 0;
  // Synchronous reads only (lpOverlapped null); *lpNumberOfBytesRead 0 at the end of the file.
  virtual BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                        DWORD* lpNumberOfBytesRead, void* lpOverlapped) = 0;
  // Synchronous writes at the file's position (lpOverlapped null).
  virtual BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
                         DWORD* lpNumberOfBytesWritten, void* lpOverlapped) = 0;
  // The error code the last failing file call left.
  virtual DWORD GetLastError() = 0;
};

// advapi32 and kernel32: a security descriptor from its string form, random bytes from the
// system's generator.
class ISecurity {
 public:
  virtual ~ISecurity() = default;
  // A self-relative security descriptor, to be freed with LocalFree.
  virtual BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(
      const WCHAR* StringSecurityDescriptor, DWORD StringSDRevision,
      PSECURITY_DESCRIPTOR* SecurityDescriptor, ULONG* SecurityDescriptorSize) = 0;
  // Null when the memory was freed.
  virtual void* LocalFree(void* hMem) = 0;
  virtual BOOL CryptAcquireContextW(HCRYPTPROV* phProv, const WCHAR* szContainer,
                                    const WCHAR* szProvider, DWORD dwProvType,
                                    DWORD dwFlags) = 0;
  virtual BOOL CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) = 0;
  virtual BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) = 0;
};

// advapi32: the Application event log. An event source is registered in the registry
// (HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\NAME) for the Event Viewer to
// find the file with its messages; the functions work without that too.
class IEventLog {
 public:
  virtual ~IEventLog() = default;
  // Null on failure.
  virtual HANDLE RegisterEventSourceW(const WCHAR* lpUNCServerName, const WCHAR* lpSourceName) = 0;
  virtual BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID,
                            void* lpUserSid, WORD wNumStrings, DWORD dwDataSize,
                            const WCHAR** lpStrings, void* lpRawData) = 0;
  virtual BOOL DeregisterEventSource(HANDLE hEventLog) = 0;
};

// Everything the updater reaches of Windows, handed to Main as one bundle.
struct Platform {
  ICodePage& codePage;
  IRegistry& registry;
  ISystem& system;
  IProcesses& processes;
  IWindows& windows;
  IDialogs& dialogs;
  IShell& shell;
  IFiles& files;
  ISecurity& security;
  IEventLog& eventLog;
};

}  // namespace qv::win
