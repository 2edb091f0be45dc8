// The simulated machine's code page functions: GetACP, WideCharToMultiByte and
// MultiByteToWideChar as Windows documents them, for the code pages 1250, 1251, 1252 (single
// byte), 932 (Shift-JIS, double byte) and 65001 (UTF-8).
//
// What the two conversions do, as on Windows:
// - The result is the number of bytes (characters) written, or with an output size of 0 the
//   number needed, the output pointer being ignored. 0 means failure and LastError() tells why:
//   ERROR_INSUFFICIENT_BUFFER when the output does not hold the whole result (the whole
//   characters that fit are written), ERROR_INVALID_PARAMETER for a null or zero-length input,
//   a negative size, a null output with a size, the same buffer for input and output or a code
//   page this machine lacks, ERROR_INVALID_FLAGS for flags the code page does not take,
//   ERROR_NO_UNICODE_TRANSLATION for invalid input under WC_ERR_INVALID_CHARS or
//   MB_ERR_INVALID_CHARS. An input length of -1 means a NUL-terminated input; the terminator is
//   then converted and counted too.
// - Flags: 65001 and 54936 take only 0 or the "invalid characters" flag, and 65001 no default
//   character and no lpUsedDefaultChar; 42, 50220-50229, 57002-57011 and 65000 take no flag
//   (these pages are then refused as unknown); 1250, 1251, 1252 and 932 take WC_NO_BEST_FIT_CHARS
//   and WC_COMPOSITECHECK with at most one of WC_SEPCHARS, WC_DISCARDNS, WC_DEFAULTCHAR (these
//   three only with WC_COMPOSITECHECK), and MB_PRECOMPOSED or MB_COMPOSITE, MB_USEGLYPHCHARS,
//   MB_ERR_INVALID_CHARS.
// - The pages' base mappings are glibc's (iconv) with Windows' own additions: the bytes 1250,
//   1251 and 1252 leave undefined read as the C1 control of the same value (0x81 <-> U+0081);
//   in 932 0x80 <-> U+0080, 0xA0 <-> U+F8F0 and 0xFD-0xFF <-> U+F8F1-U+F8F3. Where 932 gives
//   a character several codes, WideCharToMultiByte picks JIS X 0208 before NEC row 13, NEC row
//   13 before the IBM extensions (0xFA-0xFC), and those before NEC's copy of them (0xED-0xEE).
// - Best fit (WideCharToMultiByte without WC_NO_BEST_FIT_CHARS): a character the page lacks
//   becomes a look-alike where Windows' best-fit table has one, silently: lpUsedDefaultChar
//   stays FALSE. Otherwise it becomes the default character ("?" or *lpDefaultChar, which in
//   932 may be a double-byte character) and sets *lpUsedDefaultChar. A character outside the
//   BMP (a surrogate pair) becomes one default character, a lone surrogate one as well.
//   The best-fit table here is PARTIAL, only these characters: the fullwidth forms
//   U+FF01-U+FF5E -> ASCII in 1250, 1251, 1252; in 1252 the Latin letters of 1250 that are an
//   ASCII letter with one diacritic (Ą Ć Č Ę Ń Ő Ř Ś Ź Ż ...) -> that letter, and Ł ł -> L l;
//   in 1250 the Latin-1 letters it lacks that are an ASCII letter with one diacritic (à ñ ...)
//   -> that letter; in 932 U+00A5 -> 0x5C and U+203E -> 0x7E. Any other character the page
//   lacks falls back to the default character, where Windows may have a look-alike.
// - WC_NO_BEST_FIT_CHARS: no look-alikes; every character that would not come back unchanged
//   becomes the default character and sets *lpUsedDefaultChar.
// - WC_COMPOSITECHECK joins a character and a following nonspacing mark (U+0300-U+036F,
//   U+20D0-U+20FF, U+3099, U+309A) into the precomposed character where Unicode has one that one
//   of these pages holds; otherwise WC_SEPCHARS (the default) converts both separately,
//   WC_DISCARDNS drops the marks, WC_DEFAULTCHAR gives one default character. MB_COMPOSITE
//   splits such precomposed characters into character and mark.
// - MB_USEGLYPHCHARS is taken but changes nothing: these ANSI pages have no glyph table here.
// - UTF-8: a lone surrogate becomes U+FFFD (EF BF BD); invalid UTF-8 (overlong forms, encoded
//   surrogates, beyond U+10FFFF, truncated or stray bytes) becomes one U+FFFD per maximal
//   invalid part. Under WC_ERR_INVALID_CHARS / MB_ERR_INVALID_CHARS both fail instead.
// - 932 MultiByteToWideChar: a lead byte with a trail byte that makes no character reads as
//   the page's default Unicode character U+30FB (KATAKANA MIDDLE DOT), taking both bytes; a
//   lead byte at the end of the input or before a NUL reads as U+30FB alone. Under
//   MB_ERR_INVALID_CHARS either fails.
// - CP_ACP is the machine's ANSI code page; there is no OEM, Macintosh or thread code page.
#pragma once

#include <string>
#include <string_view>

#include "platform/seam.h"

namespace qv::win {

// The conversion flags that win_types.h does not name (winnls.h values).
constexpr DWORD WC_DISCARDNS = 0x10;
constexpr DWORD WC_SEPCHARS = 0x20;
constexpr DWORD WC_DEFAULTCHAR = 0x40;
constexpr DWORD WC_COMPOSITECHECK = 0x200;
constexpr DWORD MB_COMPOSITE = 0x2;
constexpr DWORD MB_USEGLYPHCHARS = 0x4;

}  // namespace qv::win

namespace qv::sim {

class SimCodePage : public win::ICodePage {
 public:
  // `acp`: the system ANSI code page, what GetACP gives.
  explicit SimCodePage(win::UINT acp = 1252) : acp_(acp) {}

  win::UINT GetACP() override { return acp_; }
  int WideCharToMultiByte(win::UINT CodePage, win::DWORD dwFlags, const win::WCHAR* lpWideCharStr,
                          int cchWideChar, char* lpMultiByteStr, int cbMultiByte,
                          const char* lpDefaultChar, win::BOOL* lpUsedDefaultChar) override;
  int MultiByteToWideChar(win::UINT CodePage, win::DWORD dwFlags, const char* lpMultiByteStr,
                          int cbMultiByte, win::WCHAR* lpWideCharStr, int cchWideChar) override;
  // The error code the last failing call set (ERROR_SUCCESS before any failure).
  win::DWORD GetLastError() override { return lastError_; }

  // The pages this simulation converts (1250, 1251, 1252, 932 where glibc's iconv has them,
  // and 65001).
  static bool Supported(win::UINT codePage);

  // As Windows' own "A" functions convert: CP_ACP, flags 0 (best fit, then the default
  // character); for the simulated machine's ANSI side (window captions) and for tools that
  // describe a machine. Empty for empty input.
  AnsiString ToAnsi(TextView text) const;
  Text FromAnsi(const AnsiString& bytes) const;

 private:
  win::UINT acp_;
  win::DWORD lastError_ = 0;
};

}  // namespace qv::sim
