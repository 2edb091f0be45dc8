#include "platform/win32/registry.h"

#include <windows.h>

namespace qv::win {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is Windows' wide text");

AnsiString Win32CodePage::ToAnsi(TextView text) {
  if (text.empty()) return AnsiString();
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  const int needed =
      ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return AnsiString();
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, bytes.data(), needed, nullptr,
                        nullptr);
  return AnsiString(std::move(bytes));
}

Text Win32CodePage::FromAnsi(const AnsiString& bytes) {
  if (bytes.empty()) return Text();
  const int length = static_cast<int>(bytes.size());
  const int needed = ::MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), length, nullptr, 0);
  if (needed <= 0) return Text();
  Text text(static_cast<std::size_t>(needed), u'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), length, reinterpret_cast<wchar_t*>(text.data()),
                        needed);
  return text;
}

}  // namespace qv::win
