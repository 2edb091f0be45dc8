#include "platform/win32/win32_areas.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "platform/win32/late_binding.h"

namespace qv::win {

namespace {

static_assert(sizeof(::OSVERSIONINFOA) == sizeof(OSVERSIONINFOA), "OSVERSIONINFOA layout");
static_assert(offsetof(::OSVERSIONINFOA, dwMajorVersion) == offsetof(OSVERSIONINFOA, dwMajorVersion) &&
                  offsetof(::OSVERSIONINFOA, szCSDVersion) == offsetof(OSVERSIONINFOA, szCSDVersion),
              "OSVERSIONINFOA layout");
static_assert(sizeof(::SYSTEMTIME) == sizeof(SYSTEMTIME), "SYSTEMTIME layout");
static_assert(sizeof(::STARTUPINFOW) == sizeof(STARTUPINFOW), "STARTUPINFOW layout");
static_assert(offsetof(::STARTUPINFOW, dwFlags) == offsetof(STARTUPINFOW, dwFlags) &&
                  offsetof(::STARTUPINFOW, wShowWindow) == offsetof(STARTUPINFOW, wShowWindow) &&
                  offsetof(::STARTUPINFOW, hStdError) == offsetof(STARTUPINFOW, hStdError),
              "STARTUPINFOW layout");
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68, "STARTUPINFOW is 68 bytes in 32-bit");
static_assert(sizeof(::PROCESS_INFORMATION) == sizeof(PROCESS_INFORMATION) &&
                  offsetof(::PROCESS_INFORMATION, dwThreadId) == offsetof(PROCESS_INFORMATION, dwThreadId),
              "PROCESS_INFORMATION layout");
static_assert(sizeof(::SECURITY_ATTRIBUTES) == sizeof(SECURITY_ATTRIBUTES) &&
                  offsetof(::SECURITY_ATTRIBUTES, bInheritHandle) ==
                      offsetof(SECURITY_ATTRIBUTES, bInheritHandle),
              "SECURITY_ATTRIBUTES layout");
static_assert(sizeof(::HANDLE) == sizeof(HANDLE) && sizeof(::HINSTANCE) == sizeof(HINSTANCE),
              "handles are pointer-sized");
static_assert(sizeof(::BOOL) == sizeof(BOOL) && sizeof(::DWORD) == sizeof(DWORD),
              "BOOL and DWORD are 32 bits");

::HANDLE ToWin(HANDLE h) { return reinterpret_cast<::HANDLE>(HandleValue(h)); }
HANDLE FromWin(::HANDLE h) { return MakeHandle<HANDLE>(reinterpret_cast<std::uintptr_t>(h)); }

using IsWow64ProcessFunction = ::BOOL(WINAPI*)(::HANDLE, ::PBOOL);

}  // namespace

// --- Win32System -------------------------------------------------------------------------------

BOOL Win32System::GetVersionExA(OSVERSIONINFOA* lpVersionInformation) {
  return ::GetVersionExA(reinterpret_cast<::OSVERSIONINFOA*>(lpVersionInformation));
}

HANDLE Win32System::GetCurrentProcess() { return FromWin(::GetCurrentProcess()); }

BOOL Win32System::IsWow64Process(HANDLE hProcess, BOOL* Wow64Process) {
  // Windows 2000 and XP before SP2 lack the function; kernel32 is always loaded.
  static const auto function = reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
  if (!function) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return function(ToWin(hProcess), reinterpret_cast<::PBOOL>(Wow64Process));
}

DWORD Win32System::GetModuleFileNameW(HINSTANCE hModule, WCHAR* lpFilename, DWORD nSize) {
  return ::GetModuleFileNameW(reinterpret_cast<::HMODULE>(HandleValue(hModule)),
                              reinterpret_cast<wchar_t*>(lpFilename), nSize);
}

UINT Win32System::GetSystemDirectoryW(WCHAR* lpBuffer, UINT uSize) {
  return ::GetSystemDirectoryW(reinterpret_cast<wchar_t*>(lpBuffer), uSize);
}

UINT Win32System::GetWindowsDirectoryW(WCHAR* lpBuffer, UINT uSize) {
  return ::GetWindowsDirectoryW(reinterpret_cast<wchar_t*>(lpBuffer), uSize);
}

UINT Win32System::GetSystemWindowsDirectoryW(WCHAR* lpBuffer, UINT uSize) {
  return ::GetSystemWindowsDirectoryW(reinterpret_cast<wchar_t*>(lpBuffer), uSize);
}

HINSTANCE Win32System::GetModuleHandleA(const char* lpModuleName) {
  return MakeHandle<HINSTANCE>(reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(lpModuleName)));
}

// --- Win32Processes ----------------------------------------------------------------------------

BOOL Win32Processes::CreateProcessW(const WCHAR* lpApplicationName, WCHAR* lpCommandLine,
                                    const SECURITY_ATTRIBUTES* lpProcessAttributes,
                                    const SECURITY_ATTRIBUTES* lpThreadAttributes,
                                    BOOL bInheritHandles, DWORD dwCreationFlags,
                                    void* lpEnvironment, const WCHAR* lpCurrentDirectory,
                                    STARTUPINFOW* lpStartupInfo,
                                    PROCESS_INFORMATION* lpProcessInformation) {
  return ::CreateProcessW(
      reinterpret_cast<const wchar_t*>(lpApplicationName),
      reinterpret_cast<wchar_t*>(lpCommandLine),
      const_cast<::SECURITY_ATTRIBUTES*>(reinterpret_cast<const ::SECURITY_ATTRIBUTES*>(lpProcessAttributes)),
      const_cast<::SECURITY_ATTRIBUTES*>(reinterpret_cast<const ::SECURITY_ATTRIBUTES*>(lpThreadAttributes)),
      bInheritHandles, dwCreationFlags, lpEnvironment,
      reinterpret_cast<const wchar_t*>(lpCurrentDirectory),
      reinterpret_cast<::STARTUPINFOW*>(lpStartupInfo),
      reinterpret_cast<::PROCESS_INFORMATION*>(lpProcessInformation));
}

DWORD Win32Processes::WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return ::WaitForSingleObject(ToWin(hHandle), dwMilliseconds);
}

BOOL Win32Processes::GetExitCodeProcess(HANDLE hProcess, DWORD* lpExitCode) {
  return ::GetExitCodeProcess(ToWin(hProcess), reinterpret_cast<::DWORD*>(lpExitCode));
}

BOOL Win32Processes::CloseHandle(HANDLE hObject) { return ::CloseHandle(ToWin(hObject)); }

void Win32System::GetSystemTime(SYSTEMTIME* lpSystemTime) {
  ::GetSystemTime(reinterpret_cast<::SYSTEMTIME*>(lpSystemTime));
}

DWORD Win32System::GetTickCount() { return ::GetTickCount(); }

LANGID Win32System::GetUserDefaultUILanguage() { return ::GetUserDefaultUILanguage(); }

// The Application event log: advapi32, bound at first use.
HANDLE Win32EventLog::RegisterEventSourceW(const WCHAR* lpUNCServerName, const WCHAR* lpSourceName) {
  QV_BIND(advapi32, RegisterEventSourceW);
  if (!RegisterEventSourceW_bound) return HANDLE{};
  return MakeHandle<HANDLE>(reinterpret_cast<std::uintptr_t>(RegisterEventSourceW_bound(
      reinterpret_cast<const wchar_t*>(lpUNCServerName),
      reinterpret_cast<const wchar_t*>(lpSourceName))));
}

BOOL Win32EventLog::ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID,
                                 void* lpUserSid, WORD wNumStrings, DWORD dwDataSize,
                                 const WCHAR** lpStrings, void* lpRawData) {
  QV_BIND(advapi32, ReportEventW);
  if (!ReportEventW_bound) return FALSE;
  return ReportEventW_bound(ToWin(hEventLog), wType, wCategory, dwEventID, lpUserSid, wNumStrings,
                            dwDataSize, reinterpret_cast<const wchar_t**>(lpStrings), lpRawData);
}

BOOL Win32EventLog::DeregisterEventSource(HANDLE hEventLog) {
  QV_BIND(advapi32, DeregisterEventSource);
  if (!DeregisterEventSource_bound) return FALSE;
  return DeregisterEventSource_bound(ToWin(hEventLog));
}

}  // namespace qv::win
