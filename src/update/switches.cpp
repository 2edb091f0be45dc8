#include "update/switches.h"

namespace qv {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

std::optional<Text> SwitchPath(TextView arguments, TextView name) {
  const Text lower = ToLower(arguments);
  const Text key = ToLower(name);
  for (std::size_t at = lower.find(key); at != Text::npos; at = lower.find(key, at + 1)) {
    std::size_t i = at + key.size();
    // "/logfile" is not "/log": the switch ends at a blank or a quotation mark.
    if (i < lower.size() && !IsBlank(lower[i]) && lower[i] != u'"') continue;
    while (i < arguments.size() && IsBlank(arguments[i])) ++i;
    if (i >= arguments.size()) return std::nullopt;
    std::size_t end;
    if (arguments[i] == u'"') {
      ++i;
      end = arguments.find(u'"', i);
      if (end == TextView::npos) end = arguments.size();
    } else {
      end = i;
      while (end < arguments.size() && !IsBlank(arguments[end])) ++end;
    }
    if (end == i) return std::nullopt;
    return Text(arguments.substr(i, end - i));
  }
  return std::nullopt;
}

Switches ParseSwitches(TextView arguments) {
  const Text lower = ToLower(arguments);
  Switches s;
  s.quiet = lower.find(u"/quiet") != Text::npos;
  s.noRestart = lower.find(u"/norestart") != Text::npos;
  s.usage = lower.find(u"/?") != Text::npos;
  s.logPath = SwitchPath(arguments, u"/log");
  s.whatIfPath = SwitchPath(arguments, u"/whatif");
  return s;
}

}  // namespace qv
