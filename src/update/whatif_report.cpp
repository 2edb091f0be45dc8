#include "update/whatif_report.h"

#include "update/regedit_text.h"
#include "update/session.h"
#include "winhelpers/winhelpers.h"

namespace qv {

namespace {

std::string U8(const Text& text) { return TextToUtf8(text); }

std::string Section(const std::string& title) {
  std::string line = "\n== " + title + " ";
  while (line.size() < 71) line += '=';
  return line + "\n";
}

// Bytes of the ANSI code page as Unicode, NULs kept.
Text Decode(win::ICodePage& codePage, const std::string& bytes) {
  if (bytes.empty()) return Text();
  Text out(bytes.size(), u'\0');
  const int n = codePage.MultiByteToWideChar(win::CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                             out.data(), static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

std::string Value(win::ICodePage& codePage, const std::string& name, bool deleted, win::DWORD type,
                  const std::string& data) {
  return RegeditValue(Decode(codePage, name), name.empty(), deleted, type,
                      IsRegistryStringType(type) ? Decode(codePage, data) : Text(),
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
  struct Key {
    Text path;
    bool deleted = false;
    std::vector<std::string> lines;
  };
  std::vector<Key> views[2];  // shared or 64-bit, 32-bit
  auto find = [&](const Text& path, int view) -> Key& {
    const auto [physical, redirected] = Physical(path, view, windowsBits);
    auto& keys = views[redirected ? 1 : 0];
    for (Key& k : keys)
      if (ToLower(k.path) == ToLower(physical)) return k;
    keys.push_back({physical, false, {}});
    return keys.back();
  };
  for (const WhatIfRecord::Key& k : r.keys) find(k.path, k.view).deleted = k.deleted;
  for (const WhatIfRecord::Value& v : r.values) {
    Key& k = find(v.key, v.view);
    k.lines.push_back(Value(codePage, v.name, v.deleted, v.type, v.data));
    k.lines.push_back("; before: " + (v.current ? Value(codePage, v.name, false, v.current->first,
                                                         v.current->second)
                                                : std::string("none (a new value)")));
  }
  if (views[0].empty() && views[1].empty()) return "(none)\n";
  std::string out = "Windows Registry Editor Version 5.00\n";
  for (int i = 0; i < 2; ++i) {
    if (views[i].empty()) continue;
    out += windowsBits != 64 ? "\n; registry\n"
           : i == 0          ? "\n; 64-bit view (and keys both views share)\n"
                             : "\n; 32-bit view\n";
    for (const Key& k : views[i]) {
      out += "\n[" + std::string(k.deleted ? "-" : "") + U8(k.path) + "]\n";
      for (const std::string& line : k.lines) out += line + "\n";
    }
  }
  return out;
}

}  // namespace

std::string WhatIfReport(win::Platform& machine, const WhatIfRecord& r, const WhatIfFacts& f) {
  std::string out = "QV3Update what-if: what the update would do on this computer. Nothing was done.\n";
  win::SYSTEMTIME t{};
  machine.system.GetSystemTime(&t);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u UTC", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond);
  out += "Read:      " + std::string(stamp) + "\n";

  out += Section("Machine (as read)");
  win::OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  WindowsLevel level;
  if (machine.system.GetVersionExA(&v))
    out += "Windows:        " + std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion) +
           " build " + std::to_string(v.dwBuildNumber) + (v.szCSDVersion[0] ? " " + std::string(v.szCSDVersion) : "") +
           ", level " + std::to_string(GetWindowsLevel(machine.system, level)) + "; " +
           std::to_string(f.windowsBits) + "-bit Windows\n";
  char language[8];
  std::snprintf(language, sizeof language, "0x%04x", machine.system.GetUserDefaultUILanguage());
  out += "Updater:        " + U8(f.updater) + " (" + std::to_string(f.processBits) + "-bit), version " +
         U8(kUpdaterVersion) + "\n";
  out += "Arguments:      " + U8(f.arguments) + "\n";
  out += "Code page:      ANSI " + std::to_string(machine.codePage.GetACP()) + "; UI language " + language + "\n";
  out += "Install folder: " + (f.result.installFolder.empty() ? std::string("(not read)") : U8(f.result.installFolder)) + "\n";
  out += "QVApp.exe:      " + (f.result.appVersionBefore.empty() ? std::string("(not read)") : U8(f.result.appVersionBefore)) + "\n";
  out += std::string("Product window: ") +
         (f.result.productRunning ? "there: Quorvia is running" : "not there") + "\n";

  out += Section("Package");
  out += "qvupdate.msp:   " + (f.result.package.empty() ? std::string("(not looked for)") : U8(f.result.package)) + "\n";
  out += "SHA-256:        " + (f.result.packageSha256 ? DigestHex(*f.result.packageSha256) : std::string("(not read)")) + "\n";
  out += "Release:        ";
  if (!f.releaseSha256) out += "a development build: any package is applied\n";
  else if (f.result.packageSha256 == f.releaseSha256) out += "made for this package: it is the release's own\n";
  else out += "made for another package (SHA-256 " + DigestHex(*f.releaseSha256) + ")\n";
  out += "Installer:      not asked; it would decide when it applies the patch\n";

  out += Section("Dialogs (" + std::to_string(r.dialogs.size()) + ")");
  if (r.dialogs.empty()) out += "(none)\n";
  for (std::size_t i = 0; i < r.dialogs.size(); ++i) {
    const auto& d = r.dialogs[i];
    out += "Dialog " + std::to_string(i + 1) + ": " + (d.taskDialog ? "task dialog" : "message box") +
           " \"" + U8(d.title) + "\", not shown\n";
    auto text = [&](const char* label, const Text& t) {
      if (!t.empty()) out += std::string("  ") + label + ": " + U8(ReplaceAll(t, u"\r\n", u"\n  | ")) + "\n";
    };
    text("main instruction", d.instruction);
    text("text", d.text);
    text("footer", d.footer);
    out += "  buttons:";
    for (const Text& b : d.buttons) out += " [" + U8(b) + "]";
    out += "; taken as button " + std::to_string(d.answer) + "\n";
  }

  out += Section("Child processes (" + std::to_string(r.children.size()) + "), none started");
  if (r.children.empty()) out += "(none)\n";
  for (std::size_t i = 0; i < r.children.size(); ++i) {
    const auto& c = r.children[i];
    out += std::to_string(i + 1) + ". " + U8(c.commandLine) + "\n   application name: " +
           U8(c.application) + "\n   folder:           " + U8(c.folder) + "\n";
  }

  out += Section("Registry changes");
  out += Registry(machine.codePage, r, f.windowsBits);

  out += Section("File changes");
  if (r.files.empty()) out += "(none)\n";
  for (const Text& line : r.files) out += U8(line) + "\n";
  for (const Text& line : r.shortcuts) out += "  shortcut " + U8(line) + "\n";

  out += Section("Error reporting exclusions");
  if (r.exclusions.empty()) out += "(none)\n";
  for (const Text& e : r.exclusions) out += U8(e) + "\n";

  out += Section("Application event log");
  if (r.events.empty()) out += "(none)\n";
  for (const Text& e : r.events) out += U8(e) + "\n";

  out += Section("Outcome so far");
  if (!f.error.empty()) out += "Error:       " + U8(ReplaceAll(f.error, u"\r\n", u" ")) + "\n";
  out += "Outcome:     " + U8(f.outcome) + "\n";
  out += "Exit status: " + std::to_string(f.exitStatus) + "\n";
  return out;
}

Text WhatIfSummary(const WhatIfRecord& r, const WhatIfFacts& f) {
  const Text product = f.result.installFolder.empty()
                           ? Text(u"Quorvia 3 was not found.")
                           : u"Quorvia 3 " + f.result.appVersionBefore + u" in " + f.result.installFolder +
                                 (f.result.productRunning ? u" (running)." : u".");
  const Text package = !f.result.packageSha256   ? Text(u"The package was not read.")
                       : !f.releaseSha256        ? Text(u"Any package would be applied (a development build).")
                       : f.result.packageSha256 == f.releaseSha256 ? Text(u"The package is the release's own.")
                                                                   : Text(u"The package is not the release's own.");
  return product + u"\r\n" + package + u"\r\n" + IntToText(static_cast<std::int64_t>(r.values.size())) +
         u" registry values, " + IntToText(static_cast<std::int64_t>(r.children.size())) +
         u" programs, " + IntToText(static_cast<std::int64_t>(r.files.size())) +
         u" file changes; exit status " + IntToText(f.exitStatus) + u".";
}

}  // namespace qv
