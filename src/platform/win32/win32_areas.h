// The real Windows behind the seam, one class per area: each function converts its arguments
// to the Windows types and calls the system, nothing more. Functions that older Windows lacks,
// and the DLLs that are not always loaded, are bound at first use by full path in the system
// folder, so no DLL is ever taken from the folder the updater was started from.
#pragma once

#include "platform/seam.h"

namespace qv::win {

class Win32System : public ISystem {
 public:
  BOOL GetVersionExA(OSVERSIONINFOA* lpVersionInformation) override;
  HANDLE GetCurrentProcess() override;
  BOOL IsWow64Process(HANDLE hProcess, BOOL* Wow64Process) override;
  DWORD GetModuleFileNameW(HINSTANCE hModule, WCHAR* lpFilename, DWORD nSize) override;
  UINT GetSystemDirectoryW(WCHAR* lpBuffer, UINT uSize) override;
  UINT GetWindowsDirectoryW(WCHAR* lpBuffer, UINT uSize) override;
  UINT GetSystemWindowsDirectoryW(WCHAR* lpBuffer, UINT uSize) override;
  HINSTANCE GetModuleHandleA(const char* lpModuleName) override;
  void GetSystemTime(SYSTEMTIME* lpSystemTime) override;
  DWORD GetTickCount() override;
  LANGID GetUserDefaultUILanguage() override;
};

class Win32Processes : public IProcesses {
 public:
  BOOL CreateProcessW(const WCHAR* lpApplicationName, WCHAR* lpCommandLine,
                      const SECURITY_ATTRIBUTES* lpProcessAttributes,
                      const SECURITY_ATTRIBUTES* lpThreadAttributes, BOOL bInheritHandles,
                      DWORD dwCreationFlags, void* lpEnvironment, const WCHAR* lpCurrentDirectory,
                      STARTUPINFOW* lpStartupInfo,
                      PROCESS_INFORMATION* lpProcessInformation) override;
  DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) override;
  BOOL GetExitCodeProcess(HANDLE hProcess, DWORD* lpExitCode) override;
  BOOL CloseHandle(HANDLE hObject) override;
};

class Win32Windows : public IWindows {
 public:
  HWND FindWindowExA(HWND hWndParent, HWND hWndChildAfter, const char* lpszClass,
                     const char* lpszWindow) override;
  HWND GetForegroundWindow() override;
  DWORD GetWindowThreadProcessId(HWND hWnd, DWORD* lpdwProcessId) override;
  BOOL AttachThreadInput(DWORD idAttach, DWORD idAttachTo, BOOL fAttach) override;
  BOOL SetForegroundWindow(HWND hWnd) override;
  HWND CreateFormWindow(HINSTANCE hInstance, const WCHAR* caption, int iconId) override;
  BOOL DestroyWindow(HWND hWnd) override;
  HICON LoadIconW(HINSTANCE hInstance, const WCHAR* lpIconName) override;
  BOOL DestroyIcon(HICON hIcon) override;
};

class Win32Dialogs : public IDialogs {
 public:
  void InitCommonControls() override;
  int MessageBoxW(HWND hWnd, const WCHAR* lpText, const WCHAR* lpCaption, UINT uType) override;
  HRESULT TaskDialogIndirect(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton,
                             int* pnRadioButton, BOOL* pfVerificationFlagChecked) override;
};

class Win32Shell : public IShell {
 public:
  HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit) override;
  void CoUninitialize() override;
  HRESULT CoCreateShellLink(IShellLinkW** ppv) override;
  HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags,
                           WCHAR* pszPath) override;
  HRESULT WerAddExcludedApplication(const WCHAR* pwzExeName, BOOL bAllUsers) override;
};

class Win32Files : public IFiles {
 public:
  DWORD GetFileAttributesW(const WCHAR* lpFileName) override;
  BOOL DeleteFileW(const WCHAR* lpFileName) override;
  BOOL MoveFileExW(const WCHAR* lpExistingFileName, const WCHAR* lpNewFileName,
                   DWORD dwFlags) override;
  DWORD GetFileVersionInfoSizeW(const WCHAR* lptstrFilename, DWORD* lpdwHandle) override;
  BOOL GetFileVersionInfoW(const WCHAR* lptstrFilename, DWORD dwHandle, DWORD dwLen,
                           void* lpData) override;
  BOOL VerQueryValueW(const void* pBlock, const WCHAR* lpSubBlock, void** lplpBuffer,
                      UINT* puLen) override;
  BOOL CreateDirectoryW(const WCHAR* lpPathName,
                        const SECURITY_ATTRIBUTES* lpSecurityAttributes) override;
  BOOL CopyFileW(const WCHAR* lpExistingFileName, const WCHAR* lpNewFileName,
                 BOOL bFailIfExists) override;
  BOOL SetFileAttributesW(const WCHAR* lpFileName, DWORD dwFileAttributes) override;
  BOOL RemoveDirectoryW(const WCHAR* lpPathName) override;
  HANDLE CreateFileW(const WCHAR* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                     const SECURITY_ATTRIBUTES* lpSecurityAttributes, DWORD dwCreationDisposition,
                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) override;
  BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                DWORD* lpNumberOfBytesRead, void* lpOverlapped) override;
  BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
                 DWORD* lpNumberOfBytesWritten, void* lpOverlapped) override;
  DWORD GetLastError() override;
};

class Win32Security : public ISecurity {
 public:
  BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(
      const WCHAR* StringSecurityDescriptor, DWORD StringSDRevision,
      PSECURITY_DESCRIPTOR* SecurityDescriptor, ULONG* SecurityDescriptorSize) override;
  void* LocalFree(void* hMem) override;
  BOOL CryptAcquireContextW(HCRYPTPROV* phProv, const WCHAR* szContainer, const WCHAR* szProvider,
                            DWORD dwProvType, DWORD dwFlags) override;
  BOOL CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) override;
  BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) override;
};

class Win32EventLog : public IEventLog {
 public:
  HANDLE RegisterEventSourceW(const WCHAR* lpUNCServerName, const WCHAR* lpSourceName) override;
  BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID,
                    void* lpUserSid, WORD wNumStrings, DWORD dwDataSize, const WCHAR** lpStrings,
                    void* lpRawData) override;
  BOOL DeregisterEventSource(HANDLE hEventLog) override;
};

// The class name of the hidden form window (CreateFormWindow).
inline constexpr char16_t kFormWindowClass[] = u"QV3UpdateIconForm";

}  // namespace qv::win
