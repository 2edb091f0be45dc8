#include "update/whatif_report.h"

#include "update/regedit_text.h"
#include "update/session.h"
#include "winhelpers/winhelpers.h"

namespace qv {

namespace {

std::string U8(const Text& text) { return TextToUtf8(text); }


std::string Value(win::ICodePage& codePage, const std::string& name, bool deleted, win::DWORD type,
                  const std::string& data) {
  return RegeditValue(AnsiText(codePage, name), name.empty(), deleted, type,
                      IsRegistryStringType(type) ? AnsiText(codePage, data) : Text(),
                      std::vector<std::uint8_t>(data.begin(), data.end()));
}

// The key as regedit shows it: under WOW64 the 32-bit view of the machine's software and
// classes lies below Wow6432Node. Empty `view` label: the key both views share.
std::pair<Text, bool> Physical(const Text& path, int view, int windowsBits) {
  const Text lower = ToLower(path);
  if (windowsBits != 64 || view != 32 || lower.find(u"wow6432node") != Text::npos) return {path, false};
  const Text software = u"hkey_local_machine\\software\\", clsid = u"hkey_classes_root\\clsid";
  if (lower.rfind(software, 0) == 0)
    return {path.substr(0, software.size()) + u"Wow6432Node\\" + path.substr(software.size()), true};
  if (lower.rfind(clsid, 0) == 0) return {u"HKEY_CLASSES_ROOT\\Wow6432Node\\" + path.substr(18), true};
  return {path, false};
}

std::string Registry(win::ICodePage& codePage, const WhatIfRecord& r, int windowsBits) {
  if (r.values.empty()) return "(none)\n";
  std::string out = "Windows Registry Editor Version 5.00\n";
  // Each view's part: the changes in the order the run made them, each under its key's line
  // (again where the run comes back to a key).
  for (int part = 0; part < 2; ++part) {
    Text last;
    bool first = true;
    for (const WhatIfRecord::Value& v : r.values) {
      const auto [physical, redirected] = Physical(v.key, v.view, windowsBits);
      if (redirected != (part == 1)) continue;
      if (first)
        out += windowsBits != 64 ? "\n; registry\n"
               : part == 0       ? "\n; 64-bit view (and keys both views share)\n"
                                 : "\n; 32-bit view\n";
      first = false;
      if (v.keyOnly || physical != last) {
        out += v.keyOnly && v.deleted ? "\n[-" : "\n[";
        out += U8(physical);
        out += v.keyOnly && !v.deleted ? "]\n; a new key\n" : "]\n";
      }
      last = v.keyOnly && v.deleted ? Text() : physical;
      if (v.keyOnly) continue;
      out += Value(codePage, v.name, v.deleted, v.type, v.data);
      out += "\n; before: ";
      out += v.existed ? Value(codePage, v.name, false, v.beforeType, v.before) : "none (a new value)";
      out += '\n';
    }
  }
  return out;
}

}  // namespace

// Appends without temporaries: text, Unicode text (as UTF-8) and numbers.
struct Out {
  std::string s;
  Out& operator<<(const char* t) { s += t; return *this; }
  Out& operator<<(const std::string& t) { s += t; return *this; }
  Out& operator<<(const Text& t) { s += TextToUtf8(t); return *this; }
  Out& operator<<(long long n) { s += std::to_string(n); return *this; }
  // A titled section: "== Title ====".
  void Section(const char* title, long long count = -1) {
    const std::size_t start = s.size();
    *this << "\n== " << title;
    if (count >= 0) *this << " (" << count << ")";
    s += ' ';
    s.append(s.size() - start < 71 ? 71 - (s.size() - start) : 0, '=');
    s += '\n';
  }
  // "label: value" when there is a value; `none` otherwise ("" leaves the line out).
  void Field(const char* label, const Text& value, const char* none) {
    if (value.empty() && !*none) return;
    *this << label;
    if (value.empty()) *this << none;
    else *this << value;
    *this << "\n";
  }
};

std::string WhatIfReport(win::Platform& machine, const WhatIfRecord& r, const WhatIfFacts& f) {
  Out out;
  win::SYSTEMTIME t{};
  machine.system.GetSystemTime(&t);
  char stamp[] = "0000-00-00 00:00:00";
  const unsigned fields[] = {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
  for (unsigned i = 0, end = 4; i < 6; end += 3, ++i)  // each field's digits end at `end`
    for (unsigned v = fields[i], at = end, n = i ? 2 : 4; n--; v /= 10) stamp[--at] = static_cast<char>('0' + v % 10);
  out << "QV3Update what-if: what the update would do on this computer. Nothing was done.\nRead:      "
      << stamp << " UTC\n";

  out.Section("Machine (as read)");
  win::OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  WindowsLevel level;
  if (machine.system.GetVersionExA(&v))
    out << "Windows:        " << static_cast<long long>(v.dwMajorVersion) << "." << static_cast<long long>(v.dwMinorVersion)
        << " build " << static_cast<long long>(v.dwBuildNumber) << (v.szCSDVersion[0] ? " " : "") << v.szCSDVersion
        << ", level " << static_cast<long long>(GetWindowsLevel(machine.system, level)) << "; "
        << static_cast<long long>(f.windowsBits) << "-bit Windows\n";
  out << "Updater:        " << f.updater << " (" << static_cast<long long>(f.processBits) << "-bit), version "
      << Text(kUpdaterVersion) << "\nArguments:      " << f.arguments << "\nCode page:      ANSI "
      << static_cast<long long>(machine.codePage.GetACP()) << "; UI language "
      << static_cast<long long>(machine.system.GetUserDefaultUILanguage()) << " (a LANGID)\n";
  out.Field("Install folder: ", f.result->installFolder, "(not read)");
  out.Field("QVApp.exe:      ", f.result->appVersionBefore, "(not read)");
  out << "Product window: " << (f.result->productRunning ? "there: Quorvia is running\n" : "not there\n");

  out.Section("Package");
  out.Field("qvupdate.msp:   ", f.result->package, "(not looked for)");
  out << "SHA-256:        " << (f.result->packageSha256 ? DigestHex(*f.result->packageSha256) : "(not read)")
      << "\nRelease:        ";
  if (!f.releaseSha256) out << "a development build: any package is applied\n";
  else if (f.result->packageSha256 == f.releaseSha256) out << "made for this package: it is the release's own\n";
  else out << "made for another package (SHA-256 " << DigestHex(*f.releaseSha256) << ")\n";
  out << "Installer:      not asked; it would decide when it applies the patch\n";

  // The sections the run wrote as it went.
  const std::pair<const char*, const Text*> sections[] = {
      {"Dialogs", &r.dialogs},
      {"Child processes, none started", &r.children},
      {"Registry changes", nullptr},
      {"File changes", &r.files},
      {"Error reporting exclusions", &r.exclusions},
      {"Application event log", &r.events}};
  for (const auto& [title, lines] : sections) {
    out.Section(lines == &r.dialogs && f.quiet ? "Dialogs, answered without being shown (/quiet)" : title,
                lines == &r.dialogs ? r.dialogCount : lines == &r.children ? r.childCount : -1);
    if (!lines) out << Registry(machine.codePage, r, f.windowsBits);
    else if (lines->empty())
      out << (lines == &r.events ? "one at the run's end (every run writes one), its type and text as it ends\n"
                                 : "(none)\n");
    else out << *lines;
  }

  out.Section("Outcome so far");
  out.Field("Error:       ", ReplaceAll(f.error, u"\r\n", u" "), "");
  out << "Outcome:     " << f.outcome << "\nExit status: " << static_cast<long long>(f.exitStatus) << "\n";
  return out.s;
}

Text WhatIfSummary(const WhatIfRecord& r, const WhatIfFacts& f) {
  Out out;
  if (f.result->installFolder.empty()) out << "Quorvia 3 was not found.";
  else out << "Quorvia 3 " << f.result->appVersionBefore << " in " << f.result->installFolder << ".";
  out << "\r\n"
      << (!f.result->packageSha256                        ? "The package was not read."
          : !f.releaseSha256                             ? "Any package would be applied (a development build)."
          : f.result->packageSha256 == f.releaseSha256    ? "The package is the release's own."
                                                         : "The package is not the release's own.")
      << "\r\n" << static_cast<long long>(r.values.size()) << " registry changes, "
      << static_cast<long long>(r.childCount) << " programs, " << static_cast<long long>(r.fileCount)
      << " file changes; exit status " << static_cast<long long>(f.exitStatus) << ".";
  return Utf8ToText(out.s);
}

}  // namespace qv
