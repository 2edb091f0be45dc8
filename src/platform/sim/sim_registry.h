// The simulated registry: predefined roots, keys compared without regard to case and kept as
// written, values as raw bytes with their type, the 32- and 64-bit views of a 64-bit Windows,
// keys that deny access, and the ANSI code page of the simulated machine.
//
// Paths given to the test-facing functions are physical paths as regedit shows them on the
// machine, e.g. "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\orvanta\\Quorvia" for the 32-bit
// view of a 64-bit Windows. Roots may be spelled long (HKEY_LOCAL_MACHINE) or short (HKLM).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam.h"
#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_kernel.h"

namespace qv::sim {

struct RegValue {
  win::DWORD type = win::REG_NONE;
  std::vector<std::uint8_t> data;
  bool operator==(const RegValue& o) const { return type == o.type && data == o.data; }
  bool operator!=(const RegValue& o) const { return !(*this == o); }
};

// One change the program made, for reports and tests.
struct RegChange {
  enum class Kind { KeyCreated, KeyDeleted, ValueSet, ValueDeleted } kind;
  std::string keyPath;  // physical path
  std::string valueName;
  std::optional<RegValue> before;
  std::optional<RegValue> after;
};

struct RegKeyDump {
  std::string path;  // physical path, names as written
  std::vector<std::pair<std::string, RegValue>> values;  // in the order they were created
};

class SimRegistry : public win::IRegistry {
 public:
  SimRegistry(SimKernel& kernel, int windowsBits, int processBits);
  ~SimRegistry() override;

  // --- IRegistry ---------------------------------------------------------------------------
  win::LONG RegOpenKeyExA(win::HKEY hKey, const char* lpSubKey, win::DWORD ulOptions,
                          win::REGSAM samDesired, win::HKEY* phkResult) override;
  win::LONG RegCreateKeyExA(win::HKEY hKey, const char* lpSubKey, win::DWORD Reserved,
                            const char* lpClass, win::DWORD dwOptions, win::REGSAM samDesired,
                            const win::SECURITY_ATTRIBUTES* lpSecurityAttributes,
                            win::HKEY* phkResult, win::DWORD* lpdwDisposition) override;
  win::LONG RegCloseKey(win::HKEY hKey) override;
  win::LONG RegDeleteKeyA(win::HKEY hKey, const char* lpSubKey) override;
  win::LONG RegDeleteKeyExA(win::HKEY hKey, const char* lpSubKey, win::REGSAM samDesired,
                            win::DWORD Reserved) override;
  win::LONG RegDeleteValueA(win::HKEY hKey, const char* lpValueName) override;
  win::LONG RegQueryValueExA(win::HKEY hKey, const char* lpValueName, win::DWORD* lpReserved,
                             win::DWORD* lpType, win::BYTE* lpData,
                             win::DWORD* lpcbData) override;
  win::LONG RegSetValueExA(win::HKEY hKey, const char* lpValueName, win::DWORD Reserved,
                           win::DWORD dwType, const win::BYTE* lpData,
                           win::DWORD cbData) override;
  win::LONG RegQueryInfoKeyA(win::HKEY hKey, char* lpClass, win::DWORD* lpcchClass,
                             win::DWORD* lpReserved, win::DWORD* lpcSubKeys,
                             win::DWORD* lpcbMaxSubKeyLen, win::DWORD* lpcbMaxClassLen,
                             win::DWORD* lpcValues, win::DWORD* lpcbMaxValueNameLen,
                             win::DWORD* lpcbMaxValueLen, win::DWORD* lpcbSecurityDescriptor,
                             win::FILETIME* lpftLastWriteTime) override;
  win::LONG RegEnumValueA(win::HKEY hKey, win::DWORD dwIndex, char* lpValueName,
                          win::DWORD* lpcchValueName, win::DWORD* lpReserved, win::DWORD* lpType,
                          win::BYTE* lpData, win::DWORD* lpcbData) override;
  win::LONG RegEnumKeyA(win::HKEY hKey, win::DWORD dwIndex, char* lpName,
                        win::DWORD cchName) override;
  win::DWORD ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, win::DWORD nSize) override;

  // --- the machine's contents (physical paths) ---------------------------------------------
  void CreateKey(const std::string& path);
  bool KeyExists(const std::string& path) const;
  void SetValue(const std::string& path, const std::string& name, RegValue value);
  std::optional<RegValue> GetValue(const std::string& path, const std::string& name) const;
  // A key whose reads (KEY_QUERY_VALUE, KEY_ENUMERATE_SUB_KEYS) and/or writes (KEY_SET_VALUE,
  // KEY_CREATE_SUB_KEY, DELETE) are refused with ERROR_ACCESS_DENIED.
  void DenyAccess(const std::string& path, bool denyRead, bool denyWrite);
  // RegSetValueExA on values of this key fails with `code` (e.g. a quota or a policy).
  void RefuseValueWrites(const std::string& path, win::LONG code = win::ERROR_ACCESS_DENIED);
  void SetEnvironment(const std::string& name, const std::string& value);
  // Every key with its values, depth first, subkeys in creation order.
  std::vector<RegKeyDump> Dump() const;
  // What the program changed through the IRegistry functions, in order.
  const std::vector<RegChange>& Changes() const;
  void ClearChanges();
  int windowsBits() const;
  int processBits() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::sim
