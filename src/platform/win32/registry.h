// The real registry and code page: each function converts its arguments to the Windows types
// and calls advapi32 / kernel32 with them, nothing more.
#pragma once

#include "platform/seam.h"

namespace qv::win {

class Win32CodePage : public ICodePage {
 public:
  UINT GetACP() override;
  int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, const WCHAR* lpWideCharStr,
                          int cchWideChar, char* lpMultiByteStr, int cbMultiByte,
                          const char* lpDefaultChar, BOOL* lpUsedDefaultChar) override;
  int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr,
                          int cbMultiByte, WCHAR* lpWideCharStr, int cchWideChar) override;
  DWORD GetLastError() override;
};

class Win32Registry : public IRegistry {
 public:
  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                     HKEY* phkResult) override;
  LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                       DWORD dwOptions, REGSAM samDesired,
                       const SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                       DWORD* lpdwDisposition) override;
  LONG RegCloseKey(HKEY hKey) override;
  LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override;
  // Bound by name at first use: advapi32 of 32-bit Windows XP and older lacks it.
  LONG RegDeleteKeyExA(HKEY hKey, const char* lpSubKey, REGSAM samDesired,
                       DWORD Reserved) override;
  LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) override;
  LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                        BYTE* lpData, DWORD* lpcbData) override;
  LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                      const BYTE* lpData, DWORD cbData) override;
  LONG RegQueryInfoKeyA(HKEY hKey, char* lpClass, DWORD* lpcchClass, DWORD* lpReserved,
                        DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                        DWORD* lpcValues, DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                        DWORD* lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) override;
  LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                     DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override;
  LONG RegEnumKeyA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD cchName) override;
  DWORD ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, DWORD nSize) override;
};

}  // namespace qv::win
