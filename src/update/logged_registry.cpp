#include "update/logged_registry.h"

#include <cstring>

namespace qv {

namespace {

Text RootName(win::HKEY key) {
  if (key == win::HKEY_CLASSES_ROOT) return u"HKEY_CLASSES_ROOT";
  if (key == win::HKEY_CURRENT_USER) return u"HKEY_CURRENT_USER";
  if (key == win::HKEY_LOCAL_MACHINE) return u"HKEY_LOCAL_MACHINE";
  if (key == win::HKEY_USERS) return u"HKEY_USERS";
  return Text();
}

Text Hex(std::uint32_t value, int digits) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  Text text;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
  return text;
}

}  // namespace

Text LoggedRegistry::Decode(const char* bytes, std::size_t size) {
  while (size > 0 && bytes[size - 1] == '\0') --size;
  if (size == 0) return Text();
  Text text(size, u'\0');
  const int n = codePage_.MultiByteToWideChar(win::CP_ACP, 0, bytes, static_cast<int>(size),
                                              text.data(), static_cast<int>(text.size()));
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

void LoggedRegistry::Opened(win::HKEY parent, const char* subKey, win::REGSAM sam, win::HKEY key) {
  Key k;
  if (auto it = keys_.find(win::HandleValue(parent)); it != keys_.end()) k = it->second;
  else k.path = RootName(parent);
  if (subKey && *subKey) k.path += u"\\" + Decode(subKey, std::strlen(subKey));
  if (windowsBits_ == 64) {
    if (sam & win::KEY_WOW64_64KEY) k.view = 64;
    else if (sam & win::KEY_WOW64_32KEY) k.view = 32;
    else if (k.view == 0) k.view = processBits_;
  }
  keys_[win::HandleValue(key)] = k;
}

win::LONG LoggedRegistry::RegOpenKeyExA(win::HKEY hKey, const char* lpSubKey, win::DWORD ulOptions,
                                        win::REGSAM samDesired, win::HKEY* phkResult) {
  const win::LONG result = inner_.RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
  if (result == win::ERROR_SUCCESS && phkResult) Opened(hKey, lpSubKey, samDesired, *phkResult);
  return result;
}

win::LONG LoggedRegistry::RegCreateKeyExA(win::HKEY hKey, const char* lpSubKey,
                                          win::DWORD Reserved, const char* lpClass,
                                          win::DWORD dwOptions, win::REGSAM samDesired,
                                          const win::SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                          win::HKEY* phkResult, win::DWORD* lpdwDisposition) {
  const win::LONG result = inner_.RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions,
                                                  samDesired, lpSecurityAttributes, phkResult,
                                                  lpdwDisposition);
  if (result == win::ERROR_SUCCESS && phkResult) Opened(hKey, lpSubKey, samDesired, *phkResult);
  return result;
}

win::LONG LoggedRegistry::RegCloseKey(win::HKEY hKey) {
  keys_.erase(win::HandleValue(hKey));
  return inner_.RegCloseKey(hKey);
}

win::LONG LoggedRegistry::RegSetValueExA(win::HKEY hKey, const char* lpValueName,
                                         win::DWORD Reserved, win::DWORD dwType,
                                         const win::BYTE* lpData, win::DWORD cbData) {
  const win::LONG result = inner_.RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
  Key key;
  if (auto it = keys_.find(win::HandleValue(hKey)); it != keys_.end()) key = it->second;
  const Text name = lpValueName && *lpValueName
                        ? u"\"" + Decode(lpValueName, std::strlen(lpValueName)) + u"\""
                        : Text(u"@");
  Text data;
  if ((dwType == win::REG_SZ || dwType == win::REG_EXPAND_SZ) && lpData) {
    data = u"\"" + Decode(reinterpret_cast<const char*>(lpData), cbData) + u"\"";
    if (dwType == win::REG_EXPAND_SZ) data = u"expand:" + data;
  } else if (dwType == win::REG_DWORD && lpData && cbData == 4) {
    std::uint32_t v = 0;
    std::memcpy(&v, lpData, 4);
    data = u"dword:" + Hex(v, 8);
  } else {
    data = u"hex(" + IntToText(dwType) + u"):";
    for (win::DWORD i = 0; lpData && i < cbData; ++i) data += (i ? u"," : u"") + Hex(lpData[i], 2);
  }
  // Only the machine's software keys and the classes have a view of their own.
  const Text lower = ToLower(key.path);
  const bool viewed = lower.rfind(u"hkey_local_machine\\software", 0) == 0 ||
                      lower.rfind(u"hkey_classes_root", 0) == 0;
  const Text view = !viewed ? Text() : key.view == 64 ? u" (64-bit view)" : key.view == 32 ? u" (32-bit view)" : u"";
  log_.Line(u"Registry: [" + key.path + u"]" + view + u" " + name + u"=" + data +
            (result == win::ERROR_SUCCESS ? Text() : u" -- refused, error " + IntToText(result)));
  return result;
}

}  // namespace qv
