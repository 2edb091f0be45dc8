// Text types of the updater.
//
// Inside the program every text is Unicode (`Text`, UTF-16 code units, as Windows' wide
// functions take them). The ANSI functions of Windows take bytes in the system ANSI code page;
// those bytes travel in `AnsiString`, a distinct type, so a Unicode text can never be handed to an
// ANSI function (or the other way round) without an explicit conversion through the code page
// (see ICodePage in seam.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

using Text = std::u16string;
using TextView = std::u16string_view;

// Bytes in the system ANSI code page, as the "A" functions of Windows take and give them.
class AnsiString {
 public:
  AnsiString() = default;
  explicit AnsiString(std::string bytes) : bytes_(std::move(bytes)) {}
  // Only for texts the program itself spells in plain ASCII (class names, switches).
  static AnsiString Ascii(std::string_view s) { return AnsiString(std::string(s)); }

  const std::string& bytes() const { return bytes_; }
  std::string& bytes() { return bytes_; }
  const char* c_str() const { return bytes_.c_str(); }
  char* data() { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }

  friend bool operator==(const AnsiString& a, const AnsiString& b) { return a.bytes_ == b.bytes_; }
  friend bool operator!=(const AnsiString& a, const AnsiString& b) { return a.bytes_ != b.bytes_; }

 private:
  std::string bytes_;
};

// UTF-8 <-> UTF-16, for the program's own literals, reports and files of the Linux tools.
Text Utf8ToText(std::string_view utf8);
std::string TextToUtf8(TextView text);

// Decimal digits with a leading "-" for negative numbers, as the program shows numbers.
Text IntToText(std::int64_t value);

// Lower case for the characters of Windows-1252's letter range (ASCII and Latin-1), which is
// all the updater's command line test needs.
Text ToLower(TextView text);

// Replace every occurrence of `from` by `to`, scanning from the first character.
Text ReplaceAll(TextView text, TextView from, TextView to);

}  // namespace qv
