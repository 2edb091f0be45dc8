// Unicode text to and from the system ANSI code page, for the ANSI functions of Windows, by one
// rule: no text reaches Windows changed. A conversion that fails, or that had to replace or
// best-fit a character (the fullwidth quotation mark U+FF02 becomes '"' by best fit in code
// page 1252), is never passed on and never becomes empty text: it raises kErrAnsiText.
#pragma once

#include <cstdint>

#include "platform/seam.h"
#include "registry/error.h"

namespace qv {

// The number raised for a text that the ANSI code page cannot carry unchanged.
inline constexpr std::int32_t kErrAnsiText = -2147194368;  // 0x80046A00

class AnsiCodec {
 public:
  // `source`: the source of the errors raised (e.g. u"QV3Update.cRegistry").
  AnsiCodec(win::ICodePage& codePage, Text source)
      : codePage_(codePage), source_(std::move(source)) {}

  // The text in the system ANSI code page; raises kErrAnsiText unless every character arrives
  // unchanged.
  AnsiString ToAnsi(TextView text);
  // The bytes as Unicode; raises kErrAnsiText for bytes that are not valid in the code page
  // (which Windows would read as a replacement character).
  Text FromAnsi(const AnsiString& bytes);
  // ToAnsi without the error: false (and `out` empty) where ToAnsi would raise.
  bool TryToAnsi(TextView text, AnsiString& out);

 private:
  [[noreturn]] void Raise(TextView text, win::UINT codePage);

  win::ICodePage& codePage_;
  Text source_;
};

}  // namespace qv
