#include "app/startup.h"

namespace qv::app {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

Text ArgumentText(TextView commandLine) {
  // The program path runs to the first blank outside quotes; a quote only switches quoting on
  // or off (no escaping), so "C:\Program Files\x.exe" and C:\"Program Files"\x.exe are one path.
  std::size_t i = 0;
  const std::size_t n = commandLine.size();
  bool quoted = false;
  while (i < n && (quoted || !IsBlank(commandLine[i]))) {
    if (commandLine[i] == u'"') quoted = !quoted;
    ++i;
  }
  while (i < n && IsBlank(commandLine[i])) ++i;
  return Text(commandLine.substr(i));
}

Text ExeBaseName(TextView modulePath) {
  std::size_t slash = modulePath.find_last_of(u"\\/");
  TextView name = (slash == TextView::npos) ? modulePath : modulePath.substr(slash + 1);
  std::size_t dot = name.rfind(u'.');
  if (dot != TextView::npos && dot > 0) name = name.substr(0, dot);
  return Text(name);
}

}  // namespace qv::app
