// Portable pieces of the entry point of QV3Update.exe: what it takes from the process's command
// line and module name, and the texts of its top-level error report.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/text.h"

namespace qv::app {

// The program's title: the caption of the top-level error report.
inline constexpr char16_t kProgramTitle[] = u"QV3Update";

// The argument text of a full command line, as the process received it (GetCommandLineW): the
// program path (up to the first blank outside double quotes) and the
// blanks after it are skipped; the rest is given unchanged.
Text ArgumentText(TextView commandLine);

// The file name of a module path without folder and extension ("C:\x\QV3Update.exe" gives
// "QV3Update").
Text ExeBaseName(TextView modulePath);

// The top-level report of an error that left the update run: its number, description and
// source, with CR LF line breaks.
Text ErrorReport(std::int32_t number, TextView description, TextView source);

// The top-level report of a failure that is not one of the program's errors (a C++ exception
// with only a message; UTF-8 as the standard library gives it).
Text FailureReport(std::string_view message);

// The top-level report when memory ran out.
Text OutOfMemoryReport();

}  // namespace qv::app
