#include "platform/win32/win32_areas.h"

#include <windows.h>

#include <cstddef>

namespace qv::win {

namespace {

static_assert(sizeof(::OSVERSIONINFOA) == sizeof(OSVERSIONINFOA), "OSVERSIONINFOA layout");
static_assert(offsetof(::OSVERSIONINFOA, dwMajorVersion) == offsetof(OSVERSIONINFOA, dwMajorVersion) &&
                  offsetof(::OSVERSIONINFOA, szCSDVersion) == offsetof(OSVERSIONINFOA, szCSDVersion),
              "OSVERSIONINFOA layout");
static_assert(sizeof(::STARTUPINFOA) == sizeof(STARTUPINFOA), "STARTUPINFOA layout");
static_assert(offsetof(::STARTUPINFOA, dwFlags) == offsetof(STARTUPINFOA, dwFlags) &&
                  offsetof(::STARTUPINFOA, wShowWindow) == offsetof(STARTUPINFOA, wShowWindow) &&
                  offsetof(::STARTUPINFOA, hStdError) == offsetof(STARTUPINFOA, hStdError),
              "STARTUPINFOA layout");
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68, "STARTUPINFOA is 68 bytes in 32-bit");
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

DWORD Win32System::GetModuleFileNameA(HINSTANCE hModule, char* lpFilename, DWORD nSize) {
  return ::GetModuleFileNameA(reinterpret_cast<::HMODULE>(HandleValue(hModule)), lpFilename, nSize);
}

UINT Win32System::GetSystemDirectoryA(char* lpBuffer, UINT uSize) {
  return ::GetSystemDirectoryA(lpBuffer, uSize);
}

HINSTANCE Win32System::GetModuleHandleA(const char* lpModuleName) {
  return MakeHandle<HINSTANCE>(reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(lpModuleName)));
}

// --- Win32Processes ----------------------------------------------------------------------------

BOOL Win32Processes::CreateProcessA(const char* lpApplicationName, char* lpCommandLine,
                                    const SECURITY_ATTRIBUTES* lpProcessAttributes,
                                    const SECURITY_ATTRIBUTES* lpThreadAttributes,
                                    BOOL bInheritHandles, DWORD dwCreationFlags,
                                    void* lpEnvironment, const char* lpCurrentDirectory,
                                    STARTUPINFOA* lpStartupInfo,
                                    PROCESS_INFORMATION* lpProcessInformation) {
  return ::CreateProcessA(
      lpApplicationName, lpCommandLine,
      const_cast<::SECURITY_ATTRIBUTES*>(reinterpret_cast<const ::SECURITY_ATTRIBUTES*>(lpProcessAttributes)),
      const_cast<::SECURITY_ATTRIBUTES*>(reinterpret_cast<const ::SECURITY_ATTRIBUTES*>(lpThreadAttributes)),
      bInheritHandles, dwCreationFlags, lpEnvironment, lpCurrentDirectory,
      reinterpret_cast<::STARTUPINFOA*>(lpStartupInfo),
      reinterpret_cast<::PROCESS_INFORMATION*>(lpProcessInformation));
}

DWORD Win32Processes::WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return ::WaitForSingleObject(ToWin(hHandle), dwMilliseconds);
}

BOOL Win32Processes::CloseHandle(HANDLE hObject) { return ::CloseHandle(ToWin(hObject)); }

}  // namespace qv::win
