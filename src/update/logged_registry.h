// The registry as a run with a log sees it: every call goes to the registry underneath, and each
// value written is logged with its key, its view and its data, and whether Windows took it.
#pragma once

#include <map>
#include <string>

#include "platform/seam.h"
#include "update/run_log.h"

namespace qv {

class LoggedRegistry final : public win::IRegistry {
 public:
  // `processBits`/`windowsBits`: which view a key opened without a view flag is in.
  LoggedRegistry(win::IRegistry& inner, win::ICodePage& codePage, RunLog& log, int processBits,
                 int windowsBits)
      : inner_(inner), codePage_(codePage), log_(log), processBits_(processBits),
        windowsBits_(windowsBits) {}

  win::LONG RegOpenKeyExA(win::HKEY hKey, const char* lpSubKey, win::DWORD ulOptions,
                          win::REGSAM samDesired, win::HKEY* phkResult) override;
  win::LONG RegCreateKeyExA(win::HKEY hKey, const char* lpSubKey, win::DWORD Reserved,
                            const char* lpClass, win::DWORD dwOptions, win::REGSAM samDesired,
                            const win::SECURITY_ATTRIBUTES* lpSecurityAttributes,
                            win::HKEY* phkResult, win::DWORD* lpdwDisposition) override;
  win::LONG RegCloseKey(win::HKEY hKey) override;
  win::LONG RegDeleteKeyA(win::HKEY hKey, const char* lpSubKey) override {
    return inner_.RegDeleteKeyA(hKey, lpSubKey);
  }
  win::LONG RegDeleteKeyExA(win::HKEY hKey, const char* lpSubKey, win::REGSAM samDesired,
                            win::DWORD Reserved) override {
    return inner_.RegDeleteKeyExA(hKey, lpSubKey, samDesired, Reserved);
  }
  win::LONG RegDeleteValueA(win::HKEY hKey, const char* lpValueName) override {
    return inner_.RegDeleteValueA(hKey, lpValueName);
  }
  win::LONG RegQueryValueExA(win::HKEY hKey, const char* lpValueName, win::DWORD* lpReserved,
                             win::DWORD* lpType, win::BYTE* lpData, win::DWORD* lpcbData) override {
    return inner_.RegQueryValueExA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
  }
  win::LONG RegSetValueExA(win::HKEY hKey, const char* lpValueName, win::DWORD Reserved,
                           win::DWORD dwType, const win::BYTE* lpData, win::DWORD cbData) override;
  win::LONG RegQueryInfoKeyA(win::HKEY hKey, char* lpClass, win::DWORD* lpcchClass,
                             win::DWORD* lpReserved, win::DWORD* lpcSubKeys,
                             win::DWORD* lpcbMaxSubKeyLen, win::DWORD* lpcbMaxClassLen,
                             win::DWORD* lpcValues, win::DWORD* lpcbMaxValueNameLen,
                             win::DWORD* lpcbMaxValueLen, win::DWORD* lpcbSecurityDescriptor,
                             win::FILETIME* lpftLastWriteTime) override {
    return inner_.RegQueryInfoKeyA(hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys,
                                   lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues,
                                   lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor,
                                   lpftLastWriteTime);
  }
  win::LONG RegEnumValueA(win::HKEY hKey, win::DWORD dwIndex, char* lpValueName,
                          win::DWORD* lpcchValueName, win::DWORD* lpReserved, win::DWORD* lpType,
                          win::BYTE* lpData, win::DWORD* lpcbData) override {
    return inner_.RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType,
                                lpData, lpcbData);
  }
  win::LONG RegEnumKeyA(win::HKEY hKey, win::DWORD dwIndex, char* lpName,
                        win::DWORD cchName) override {
    return inner_.RegEnumKeyA(hKey, dwIndex, lpName, cchName);
  }
  win::DWORD ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, win::DWORD nSize) override {
    return inner_.ExpandEnvironmentStringsA(lpSrc, lpDst, nSize);
  }

 private:
  void Opened(win::HKEY parent, const char* subKey, win::REGSAM sam, win::HKEY key);
  Text Decode(const char* bytes, std::size_t size);

  win::IRegistry& inner_;
  win::ICodePage& codePage_;
  RunLog& log_;
  int processBits_, windowsBits_;
  struct Key {
    Text path;
    int view = 0;  // 32, 64, or 0 on 32-bit Windows
  };
  std::map<std::uintptr_t, Key> keys_;
};

}  // namespace qv
