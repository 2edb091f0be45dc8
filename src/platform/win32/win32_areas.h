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
  DWORD GetModuleFileNameA(HINSTANCE hModule, char* lpFilename, DWORD nSize) override;
  UINT GetSystemDirectoryA(char* lpBuffer, UINT uSize) override;
  HINSTANCE GetModuleHandleA(const char* lpModuleName) override;
};

class Win32Processes : public IProcesses {
 public:
  BOOL CreateProcessA(const char* lpApplicationName, char* lpCommandLine,
                      const SECURITY_ATTRIBUTES* lpProcessAttributes,
                      const SECURITY_ATTRIBUTES* lpThreadAttributes, BOOL bInheritHandles,
                      DWORD dwCreationFlags, void* lpEnvironment, const char* lpCurrentDirectory,
                      STARTUPINFOA* lpStartupInfo,
                      PROCESS_INFORMATION* lpProcessInformation) override;
  DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) override;
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
  HRESULT CoCreateShellLink(IShellLinkA** ppv) override;
  HRESULT SHGetFolderPathA(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags,
                           char* pszPath) override;
  HRESULT WerAddExcludedApplication(const WCHAR* pwzExeName, BOOL bAllUsers) override;
};

class Win32Files : public IFiles {
 public:
  DWORD GetFileAttributesA(const char* lpFileName) override;
  BOOL DeleteFileA(const char* lpFileName) override;
  BOOL MoveFileExA(const char* lpExistingFileName, const char* lpNewFileName,
                   DWORD dwFlags) override;
  DWORD GetFileVersionInfoSizeA(const char* lptstrFilename, DWORD* lpdwHandle) override;
  BOOL GetFileVersionInfoA(const char* lptstrFilename, DWORD dwHandle, DWORD dwLen,
                           void* lpData) override;
  BOOL VerQueryValueA(const void* pBlock, const char* lpSubBlock, void** lplpBuffer,
                      UINT* puLen) override;
};

// The class name of the hidden form window (CreateFormWindow).
inline constexpr char16_t kFormWindowClass[] = u"QV3UpdateIconForm";

}  // namespace qv::win
