#include "platform/win32/win32_areas.h"

#include <windows.h>
#include <winver.h>

#include <cstddef>
#include <cstdint>

#include "platform/win32/late_binding.h"

namespace qv::win {

namespace {

static_assert(sizeof(::VS_FIXEDFILEINFO) == sizeof(VS_FIXEDFILEINFO) &&
                  offsetof(::VS_FIXEDFILEINFO, dwFileVersionLS) ==
                      offsetof(VS_FIXEDFILEINFO, dwFileVersionLS),
              "VS_FIXEDFILEINFO layout");

const wchar_t* Wide(const WCHAR* text) { return reinterpret_cast<const wchar_t*>(text); }

}  // namespace

DWORD Win32Files::GetFileAttributesW(const WCHAR* lpFileName) {
  return ::GetFileAttributesW(Wide(lpFileName));
}

BOOL Win32Files::DeleteFileW(const WCHAR* lpFileName) { return ::DeleteFileW(Wide(lpFileName)); }

BOOL Win32Files::CreateDirectoryW(const WCHAR* lpPathName,
                                  const SECURITY_ATTRIBUTES* lpSecurityAttributes) {
  return ::CreateDirectoryW(Wide(lpPathName),
                            const_cast<::SECURITY_ATTRIBUTES*>(
                                reinterpret_cast<const ::SECURITY_ATTRIBUTES*>(lpSecurityAttributes)));
}

BOOL Win32Files::CopyFileW(const WCHAR* lpExistingFileName, const WCHAR* lpNewFileName,
                           BOOL bFailIfExists) {
  return ::CopyFileW(Wide(lpExistingFileName), Wide(lpNewFileName), bFailIfExists);
}

BOOL Win32Files::SetFileAttributesW(const WCHAR* lpFileName, DWORD dwFileAttributes) {
  return ::SetFileAttributesW(Wide(lpFileName), dwFileAttributes);
}

BOOL Win32Files::RemoveDirectoryW(const WCHAR* lpPathName) {
  return ::RemoveDirectoryW(Wide(lpPathName));
}

HANDLE Win32Files::CreateFileW(const WCHAR* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                               const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                               DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                               HANDLE hTemplateFile) {
  return MakeHandle<HANDLE>(reinterpret_cast<std::uintptr_t>(::CreateFileW(
      Wide(lpFileName), dwDesiredAccess, dwShareMode,
      const_cast<::SECURITY_ATTRIBUTES*>(
          reinterpret_cast<const ::SECURITY_ATTRIBUTES*>(lpSecurityAttributes)),
      dwCreationDisposition, dwFlagsAndAttributes,
      reinterpret_cast<::HANDLE>(HandleValue(hTemplateFile)))));
}

BOOL Win32Files::ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                          DWORD* lpNumberOfBytesRead, void* lpOverlapped) {
  return ::ReadFile(reinterpret_cast<::HANDLE>(HandleValue(hFile)), lpBuffer, nNumberOfBytesToRead,
                    reinterpret_cast<::DWORD*>(lpNumberOfBytesRead),
                    static_cast<::OVERLAPPED*>(lpOverlapped));
}

BOOL Win32Files::WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
                           DWORD* lpNumberOfBytesWritten, void* lpOverlapped) {
  return ::WriteFile(reinterpret_cast<::HANDLE>(HandleValue(hFile)), lpBuffer, nNumberOfBytesToWrite,
                     reinterpret_cast<::DWORD*>(lpNumberOfBytesWritten),
                     static_cast<::OVERLAPPED*>(lpOverlapped));
}

DWORD Win32Files::GetLastError() { return ::GetLastError(); }

BOOL Win32Files::MoveFileExW(const WCHAR* lpExistingFileName, const WCHAR* lpNewFileName,
                             DWORD dwFlags) {
  return ::MoveFileExW(Wide(lpExistingFileName), Wide(lpNewFileName), dwFlags);
}

DWORD Win32Files::GetFileVersionInfoSizeW(const WCHAR* lptstrFilename, DWORD* lpdwHandle) {
  // version.dll is no known DLL: it is bound from the system folder by full path.
  QV_BIND(version, GetFileVersionInfoSizeW);
  if (!GetFileVersionInfoSizeW_bound) {
    if (lpdwHandle) *lpdwHandle = 0;
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return 0;
  }
  return GetFileVersionInfoSizeW_bound(Wide(lptstrFilename), reinterpret_cast<::DWORD*>(lpdwHandle));
}

BOOL Win32Files::GetFileVersionInfoW(const WCHAR* lptstrFilename, DWORD dwHandle, DWORD dwLen,
                                     void* lpData) {
  QV_BIND(version, GetFileVersionInfoW);
  if (!GetFileVersionInfoW_bound) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return GetFileVersionInfoW_bound(Wide(lptstrFilename), dwHandle, dwLen, lpData);
}

BOOL Win32Files::VerQueryValueW(const void* pBlock, const WCHAR* lpSubBlock, void** lplpBuffer,
                                UINT* puLen) {
  QV_BIND(version, VerQueryValueW);
  if (!VerQueryValueW_bound) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return VerQueryValueW_bound(pBlock, Wide(lpSubBlock), lplpBuffer, reinterpret_cast<::UINT*>(puLen));
}

}  // namespace qv::win
