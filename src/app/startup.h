// Portable pieces of the entry point of QV3Update.exe: what it takes from the process's command
// line and module name, and the texts of its top-level error report.
#pragma once


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

}  // namespace qv::app
