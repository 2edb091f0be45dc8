#include "platform/win32/registry.h"

#include <windows.h>

#include "platform/win32/late_binding.h"

namespace qv::win {

namespace {

static_assert(sizeof(::DWORD) == sizeof(DWORD) && sizeof(::LONG) == sizeof(LONG),
              "Windows' DWORD and LONG are 32 bits in both Windows builds");
static_assert(sizeof(::FILETIME) == sizeof(FILETIME), "FILETIME layout");
static_assert(sizeof(::HKEY) == sizeof(HKEY), "handles are pointer-sized");

// Our HKEY carries the pointer value as Windows has it, predefined roots already sign-extended.
::HKEY ToWin(HKEY key) { return reinterpret_cast<::HKEY>(HandleValue(key)); }
HKEY FromWin(::HKEY key) { return MakeHandle<HKEY>(reinterpret_cast<std::uintptr_t>(key)); }
::LPDWORD ToWin(DWORD* p) { return reinterpret_cast<::LPDWORD>(p); }

}  // namespace

LONG Win32Registry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions,
                                  REGSAM samDesired, HKEY* phkResult) {
  ::HKEY opened = nullptr;
  QV_BIND(advapi32, RegOpenKeyExA);
  if (!RegOpenKeyExA_bound) return ERROR_PROC_NOT_FOUND;
  const LONG result = RegOpenKeyExA_bound(ToWin(hKey), lpSubKey, ulOptions, samDesired,
                                      phkResult ? &opened : nullptr);
  if (phkResult) *phkResult = FromWin(opened);
  return result;
}

LONG Win32Registry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved,
                                    const char* lpClass, DWORD dwOptions, REGSAM samDesired,
                                    const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                    HKEY* phkResult, DWORD* lpdwDisposition) {
  ::SECURITY_ATTRIBUTES security{};
  if (lpSecurityAttributes) {
    security.nLength = lpSecurityAttributes->nLength;
    security.lpSecurityDescriptor = lpSecurityAttributes->lpSecurityDescriptor;
    security.bInheritHandle = lpSecurityAttributes->bInheritHandle;
  }
  ::HKEY created = nullptr;
  QV_BIND(advapi32, RegCreateKeyExA);
  if (!RegCreateKeyExA_bound) return ERROR_PROC_NOT_FOUND;
  const LONG result = RegCreateKeyExA_bound(
      ToWin(hKey), lpSubKey, Reserved, const_cast<char*>(lpClass), dwOptions, samDesired,
      lpSecurityAttributes ? &security : nullptr, phkResult ? &created : nullptr,
      ToWin(lpdwDisposition));
  if (phkResult) *phkResult = FromWin(created);
  return result;
}

LONG Win32Registry::RegCloseKey(HKEY hKey) {
  QV_BIND(advapi32, RegCloseKey);
  if (!RegCloseKey_bound) return ERROR_PROC_NOT_FOUND;
  return RegCloseKey_bound(ToWin(hKey));
}

LONG Win32Registry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  QV_BIND(advapi32, RegDeleteKeyA);
  if (!RegDeleteKeyA_bound) return ERROR_PROC_NOT_FOUND;
  return RegDeleteKeyA_bound(ToWin(hKey), lpSubKey);
}

LONG Win32Registry::RegDeleteKeyExA(HKEY hKey, const char* lpSubKey, REGSAM samDesired,
                                    DWORD Reserved) {
  // Windows Vista on (and 64-bit XP).
  QV_BIND(advapi32, RegDeleteKeyExA);
  if (!RegDeleteKeyExA_bound) return ERROR_CALL_NOT_IMPLEMENTED;
  return RegDeleteKeyExA_bound(ToWin(hKey), lpSubKey, samDesired, Reserved);
}

LONG Win32Registry::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  QV_BIND(advapi32, RegDeleteValueA);
  if (!RegDeleteValueA_bound) return ERROR_PROC_NOT_FOUND;
  return RegDeleteValueA_bound(ToWin(hKey), lpValueName);
}

LONG Win32Registry::RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved,
                                     DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  QV_BIND(advapi32, RegQueryValueExA);
  if (!RegQueryValueExA_bound) return ERROR_PROC_NOT_FOUND;
  return RegQueryValueExA_bound(ToWin(hKey), lpValueName, ToWin(lpReserved), ToWin(lpType), lpData,
                            ToWin(lpcbData));
}

LONG Win32Registry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved,
                                   DWORD dwType, const BYTE* lpData, DWORD cbData) {
  QV_BIND(advapi32, RegSetValueExA);
  if (!RegSetValueExA_bound) return ERROR_PROC_NOT_FOUND;
  return RegSetValueExA_bound(ToWin(hKey), lpValueName, Reserved, dwType, lpData, cbData);
}

LONG Win32Registry::RegQueryInfoKeyA(HKEY hKey, char* lpClass, DWORD* lpcchClass,
                                     DWORD* lpReserved, DWORD* lpcSubKeys,
                                     DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                                     DWORD* lpcValues, DWORD* lpcbMaxValueNameLen,
                                     DWORD* lpcbMaxValueLen, DWORD* lpcbSecurityDescriptor,
                                     FILETIME* lpftLastWriteTime) {
  QV_BIND(advapi32, RegQueryInfoKeyA);
  if (!RegQueryInfoKeyA_bound) return ERROR_PROC_NOT_FOUND;
  return RegQueryInfoKeyA_bound(ToWin(hKey), lpClass, ToWin(lpcchClass), ToWin(lpReserved),
                            ToWin(lpcSubKeys), ToWin(lpcbMaxSubKeyLen), ToWin(lpcbMaxClassLen),
                            ToWin(lpcValues), ToWin(lpcbMaxValueNameLen), ToWin(lpcbMaxValueLen),
                            ToWin(lpcbSecurityDescriptor),
                            reinterpret_cast<::PFILETIME>(lpftLastWriteTime));
}

LONG Win32Registry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName,
                                  DWORD* lpcchValueName, DWORD* lpReserved, DWORD* lpType,
                                  BYTE* lpData, DWORD* lpcbData) {
  QV_BIND(advapi32, RegEnumValueA);
  if (!RegEnumValueA_bound) return ERROR_PROC_NOT_FOUND;
  return RegEnumValueA_bound(ToWin(hKey), dwIndex, lpValueName, ToWin(lpcchValueName),
                         ToWin(lpReserved), ToWin(lpType), lpData, ToWin(lpcbData));
}

LONG Win32Registry::RegEnumKeyA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD cchName) {
  QV_BIND(advapi32, RegEnumKeyA);
  if (!RegEnumKeyA_bound) return ERROR_PROC_NOT_FOUND;
  return RegEnumKeyA_bound(ToWin(hKey), dwIndex, lpName, cchName);
}

DWORD Win32Registry::ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, DWORD nSize) {
  return ::ExpandEnvironmentStringsA(lpSrc, lpDst, nSize);
}

}  // namespace qv::win
