#include "platform/win32/registry.h"

#include <windows.h>

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

using RegDeleteKeyExAFunction = ::LONG(WINAPI*)(::HKEY, ::LPCSTR, ::REGSAM, ::DWORD);

}  // namespace

LONG Win32Registry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions,
                                  REGSAM samDesired, HKEY* phkResult) {
  ::HKEY opened = nullptr;
  const LONG result = ::RegOpenKeyExA(ToWin(hKey), lpSubKey, ulOptions, samDesired,
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
  const LONG result = ::RegCreateKeyExA(
      ToWin(hKey), lpSubKey, Reserved, const_cast<char*>(lpClass), dwOptions, samDesired,
      lpSecurityAttributes ? &security : nullptr, phkResult ? &created : nullptr,
      ToWin(lpdwDisposition));
  if (phkResult) *phkResult = FromWin(created);
  return result;
}

LONG Win32Registry::RegCloseKey(HKEY hKey) { return ::RegCloseKey(ToWin(hKey)); }

LONG Win32Registry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  return ::RegDeleteKeyA(ToWin(hKey), lpSubKey);
}

LONG Win32Registry::RegDeleteKeyExA(HKEY hKey, const char* lpSubKey, REGSAM samDesired,
                                    DWORD Reserved) {
  static const auto function = reinterpret_cast<RegDeleteKeyExAFunction>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("advapi32.dll"), "RegDeleteKeyExA")));
  if (!function) return ERROR_CALL_NOT_IMPLEMENTED;
  return function(ToWin(hKey), lpSubKey, samDesired, Reserved);
}

LONG Win32Registry::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  return ::RegDeleteValueA(ToWin(hKey), lpValueName);
}

LONG Win32Registry::RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved,
                                     DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  return ::RegQueryValueExA(ToWin(hKey), lpValueName, ToWin(lpReserved), ToWin(lpType), lpData,
                            ToWin(lpcbData));
}

LONG Win32Registry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved,
                                   DWORD dwType, const BYTE* lpData, DWORD cbData) {
  return ::RegSetValueExA(ToWin(hKey), lpValueName, Reserved, dwType, lpData, cbData);
}

LONG Win32Registry::RegQueryInfoKeyA(HKEY hKey, char* lpClass, DWORD* lpcchClass,
                                     DWORD* lpReserved, DWORD* lpcSubKeys,
                                     DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                                     DWORD* lpcValues, DWORD* lpcbMaxValueNameLen,
                                     DWORD* lpcbMaxValueLen, DWORD* lpcbSecurityDescriptor,
                                     FILETIME* lpftLastWriteTime) {
  return ::RegQueryInfoKeyA(ToWin(hKey), lpClass, ToWin(lpcchClass), ToWin(lpReserved),
                            ToWin(lpcSubKeys), ToWin(lpcbMaxSubKeyLen), ToWin(lpcbMaxClassLen),
                            ToWin(lpcValues), ToWin(lpcbMaxValueNameLen), ToWin(lpcbMaxValueLen),
                            ToWin(lpcbSecurityDescriptor),
                            reinterpret_cast<::PFILETIME>(lpftLastWriteTime));
}

LONG Win32Registry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName,
                                  DWORD* lpcchValueName, DWORD* lpReserved, DWORD* lpType,
                                  BYTE* lpData, DWORD* lpcbData) {
  return ::RegEnumValueA(ToWin(hKey), dwIndex, lpValueName, ToWin(lpcchValueName),
                         ToWin(lpReserved), ToWin(lpType), lpData, ToWin(lpcbData));
}

LONG Win32Registry::RegEnumKeyA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD cchName) {
  return ::RegEnumKeyA(ToWin(hKey), dwIndex, lpName, cchName);
}

DWORD Win32Registry::ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, DWORD nSize) {
  return ::ExpandEnvironmentStringsA(lpSrc, lpDst, nSize);
}

}  // namespace qv::win
