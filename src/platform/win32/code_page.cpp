#include "platform/win32/registry.h"

#include <windows.h>

namespace qv::win {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is Windows' wide text");

UINT Win32CodePage::GetACP() { return ::GetACP(); }

int Win32CodePage::WideCharToMultiByte(UINT CodePage, DWORD dwFlags, const WCHAR* lpWideCharStr,
                                       int cchWideChar, char* lpMultiByteStr, int cbMultiByte,
                                       const char* lpDefaultChar, BOOL* lpUsedDefaultChar) {
  return ::WideCharToMultiByte(CodePage, dwFlags, reinterpret_cast<const wchar_t*>(lpWideCharStr),
                               cchWideChar, lpMultiByteStr, cbMultiByte, lpDefaultChar,
                               reinterpret_cast<::BOOL*>(lpUsedDefaultChar));
}

int Win32CodePage::MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr,
                                       int cbMultiByte, WCHAR* lpWideCharStr, int cchWideChar) {
  return ::MultiByteToWideChar(CodePage, dwFlags, lpMultiByteStr, cbMultiByte,
                               reinterpret_cast<wchar_t*>(lpWideCharStr), cchWideChar);
}

DWORD Win32CodePage::GetLastError() { return ::GetLastError(); }

}  // namespace qv::win
