#include "platform/win32/win32_areas.h"

#include <windows.h>

#include <cstddef>

#include "platform/win32/late_binding.h"

namespace qv::win {

namespace {

static_assert(sizeof(::VS_FIXEDFILEINFO) == sizeof(VS_FIXEDFILEINFO) &&
                  offsetof(::VS_FIXEDFILEINFO, dwFileVersionLS) ==
                      offsetof(VS_FIXEDFILEINFO, dwFileVersionLS),
              "VS_FIXEDFILEINFO layout");

using SizeFunction = ::DWORD(WINAPI*)(::LPCWSTR, ::LPDWORD);
using InfoFunction = ::BOOL(WINAPI*)(::LPCWSTR, ::DWORD, ::DWORD, ::LPVOID);
using QueryFunction = ::BOOL(WINAPI*)(::LPCVOID, ::LPCWSTR, ::LPVOID*, ::PUINT);

const wchar_t* Wide(const WCHAR* text) { return reinterpret_cast<const wchar_t*>(text); }

// version.dll is no known DLL: a copy planted beside the updater would be found first by name,
// so it is loaded from the system folder by full path.
struct VersionFunctions {
  SizeFunction size = nullptr;
  InfoFunction info = nullptr;
  QueryFunction query = nullptr;
  VersionFunctions() {
    const ::HMODULE module = LoadSystemLibrary(L"version.dll");
    size = reinterpret_cast<SizeFunction>(BindFunction(module, "GetFileVersionInfoSizeW"));
    info = reinterpret_cast<InfoFunction>(BindFunction(module, "GetFileVersionInfoW"));
    query = reinterpret_cast<QueryFunction>(BindFunction(module, "VerQueryValueW"));
  }
};

const VersionFunctions& Version() {
  static const VersionFunctions functions;
  return functions;
}

}  // namespace

DWORD Win32Files::GetFileAttributesW(const WCHAR* lpFileName) {
  return ::GetFileAttributesW(Wide(lpFileName));
}

BOOL Win32Files::DeleteFileW(const WCHAR* lpFileName) { return ::DeleteFileW(Wide(lpFileName)); }

BOOL Win32Files::MoveFileExW(const WCHAR* lpExistingFileName, const WCHAR* lpNewFileName,
                             DWORD dwFlags) {
  return ::MoveFileExW(Wide(lpExistingFileName), Wide(lpNewFileName), dwFlags);
}

DWORD Win32Files::GetFileVersionInfoSizeW(const WCHAR* lptstrFilename, DWORD* lpdwHandle) {
  if (!Version().size) {
    if (lpdwHandle) *lpdwHandle = 0;
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return 0;
  }
  return Version().size(Wide(lptstrFilename), reinterpret_cast<::DWORD*>(lpdwHandle));
}

BOOL Win32Files::GetFileVersionInfoW(const WCHAR* lptstrFilename, DWORD dwHandle, DWORD dwLen,
                                     void* lpData) {
  if (!Version().info) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return Version().info(Wide(lptstrFilename), dwHandle, dwLen, lpData);
}

BOOL Win32Files::VerQueryValueW(const void* pBlock, const WCHAR* lpSubBlock, void** lplpBuffer,
                                UINT* puLen) {
  if (!Version().query) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return Version().query(pBlock, Wide(lpSubBlock), lplpBuffer, reinterpret_cast<::UINT*>(puLen));
}

}  // namespace qv::win
