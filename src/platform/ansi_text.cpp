#include "platform/ansi_text.h"

#include <string>

namespace qv {

namespace {

// What WideCharToMultiByte and MultiByteToWideChar allow per code page. UTF-8 and GB18030 take
// only 0 or the "invalid characters" flag and no default character; the stateful and symbol
// pages take no flag at all; the others take WC_NO_BEST_FIT_CHARS and report a default
// character through lpUsedDefaultChar.
enum class FlagRule { BestFitControl, Utf, NoFlags };

FlagRule RuleOf(win::UINT codePage) {
  if (codePage == win::CP_UTF8 || codePage == 54936) return FlagRule::Utf;
  if (codePage == 42 || codePage == win::CP_UTF7 || (codePage >= 50220 && codePage <= 50229) ||
      (codePage >= 57002 && codePage <= 57011))
    return FlagRule::NoFlags;
  return FlagRule::BestFitControl;
}

}  // namespace

bool AnsiCodec::TryToAnsi(TextView text, AnsiString& out) {
  out = AnsiString();
  if (text.empty()) return true;
  const win::UINT codePage = codePage_.GetACP();
  const FlagRule rule = RuleOf(codePage);
  const int length = static_cast<int>(text.size());
  if (static_cast<std::size_t>(length) != text.size()) return false;

  // Where the code page allows it, Windows is told not to best-fit and asked whether it had to
  // use the default character; everywhere the bytes must read back as the same text.
  const win::DWORD flags = rule == FlagRule::BestFitControl ? win::WC_NO_BEST_FIT_CHARS : 0;
  win::BOOL usedDefault = win::FALSE;
  win::BOOL* usedDefaultOut = rule == FlagRule::BestFitControl ? &usedDefault : nullptr;
  const int needed = codePage_.WideCharToMultiByte(codePage, flags, text.data(), length, nullptr,
                                                   0, nullptr, usedDefaultOut);
  if (needed <= 0) return false;
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  if (codePage_.WideCharToMultiByte(codePage, flags, text.data(), length, bytes.data(), needed,
                                    nullptr, usedDefaultOut) != needed ||
      usedDefault != win::FALSE)
    return false;

  const win::DWORD backFlags = rule == FlagRule::NoFlags ? 0 : win::MB_ERR_INVALID_CHARS;
  const int back =
      codePage_.MultiByteToWideChar(codePage, backFlags, bytes.data(), needed, nullptr, 0);
  if (back != length) return false;
  Text check(static_cast<std::size_t>(back), u'\0');
  if (codePage_.MultiByteToWideChar(codePage, backFlags, bytes.data(), needed, check.data(),
                                    back) != back ||
      check != text)
    return false;
  out = AnsiString(std::move(bytes));
  return true;
}

AnsiString AnsiCodec::ToAnsi(TextView text) {
  AnsiString out;
  if (!TryToAnsi(text, out)) Raise(text, codePage_.GetACP());
  return out;
}

Text AnsiCodec::FromAnsi(const AnsiString& bytes) {
  if (bytes.empty()) return Text();
  const win::UINT codePage = codePage_.GetACP();
  const win::DWORD flags = RuleOf(codePage) == FlagRule::NoFlags ? 0 : win::MB_ERR_INVALID_CHARS;
  const int length = static_cast<int>(bytes.size());
  const int needed = static_cast<std::size_t>(length) == bytes.size()
                         ? codePage_.MultiByteToWideChar(codePage, flags, bytes.c_str(), length,
                                                         nullptr, 0)
                         : 0;
  Text text(needed > 0 ? static_cast<std::size_t>(needed) : 0, u'\0');
  if (needed <= 0 || codePage_.MultiByteToWideChar(codePage, flags, bytes.c_str(), length,
                                                   text.data(), needed) != needed) {
    // The bytes cannot be shown as they are; name them by their hexadecimal values.
    Text hex;
    constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    for (const char c : bytes.bytes()) {
      const auto b = static_cast<unsigned char>(c);
      if (!hex.empty()) hex += u' ';
      hex += kDigits[b >> 4];
      hex += kDigits[b & 0xF];
    }
    throw Error(kErrAnsiText, source_,
                u"The bytes " + hex + u" are not valid text in the system code page " +
                    IntToText(codePage) + u".");
  }
  return text;
}

void AnsiCodec::Raise(TextView text, win::UINT codePage) {
  throw Error(kErrAnsiText, source_,
              u"The text '" + Text(text) +
                  u"' cannot be passed to Windows unchanged: the system code page " +
                  IntToText(codePage) + u" lacks some of its characters.");
}

}  // namespace qv
