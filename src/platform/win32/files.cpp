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

using SizeFunction = ::DWORD(WINAPI*)(::LPCSTR, ::LPDWORD);
using InfoFunction = ::BOOL(WINAPI*)(::LPCSTR, ::DWORD, ::DWORD, ::LPVOID);
using QueryFunction = ::BOOL(WINAPI*)(::LPCVOID, ::LPCSTR, ::LPVOID*, ::PUINT);

// version.dll is no known DLL: a copy planted beside the updater would be found first by name,
// so it is loaded from the system folder by full path.
struct VersionFunctions {
  SizeFunction size = nullptr;
  InfoFunction info = nullptr;
  QueryFunction query = nullptr;
  VersionFunctions() {
    const ::HMODULE module = LoadSystemLibrary(L"version.dll");
    size = reinterpret_cast<SizeFunction>(BindFunction(module, "GetFileVersionInfoSizeA"));
    info = reinterpret_cast<InfoFunction>(BindFunction(module, "GetFileVersionInfoA"));
    query = reinterpret_cast<QueryFunction>(BindFunction(module, "VerQueryValueA"));
  }
};

const VersionFunctions& Version() {
  static const VersionFunctions functions;
  return functions;
}

}  // namespace

DWORD Win32Files::GetFileAttributesA(const char* lpFileName) {
  return ::GetFileAttributesA(lpFileName);
}

BOOL Win32Files::DeleteFileA(const char* lpFileName) { return ::DeleteFileA(lpFileName); }

BOOL Win32Files::MoveFileExA(const char* lpExistingFileName, const char* lpNewFileName,
                             DWORD dwFlags) {
  return ::MoveFileExA(lpExistingFileName, lpNewFileName, dwFlags);
}

DWORD Win32Files::GetFileVersionInfoSizeA(const char* lptstrFilename, DWORD* lpdwHandle) {
  if (!Version().size) {
    if (lpdwHandle) *lpdwHandle = 0;
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return 0;
  }
  return Version().size(lptstrFilename, reinterpret_cast<::DWORD*>(lpdwHandle));
}

BOOL Win32Files::GetFileVersionInfoA(const char* lptstrFilename, DWORD dwHandle, DWORD dwLen,
                                     void* lpData) {
  if (!Version().info) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return Version().info(lptstrFilename, dwHandle, dwLen, lpData);
}

BOOL Win32Files::VerQueryValueA(const void* pBlock, const char* lpSubBlock, void** lplpBuffer,
                                UINT* puLen) {
  if (!Version().query) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return Version().query(pBlock, lpSubBlock, lplpBuffer, reinterpret_cast<::UINT*>(puLen));
}

}  // namespace qv::win
