#include "report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "platform/sim/sim_ui_language.h"
#include "platform/text.h"

namespace qv3sim {

using qv::sim::Answer;
using qv::sim::DialogRecord;
using qv::sim::ProcessRecord;
using qv::sim::RegChange;
namespace win = qv::win;

namespace {

constexpr int kBoxInner = 68;  // characters between the box's side lines

std::string Hex(unsigned long long value, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, value);
  return buf;
}

std::string Utf8(const qv::Text& text) { return qv::TextToUtf8(text); }

std::size_t Width(const std::string& utf8) {
  std::size_t n = 0;
  for (char c : utf8)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

// The first `count` code points of a UTF-8 text, as bytes.
std::size_t BytesOf(const std::string& utf8, std::size_t count) {
  std::size_t i = 0, n = 0;
  while (i < utf8.size()) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
      if (n == count) break;
      ++n;
    }
    ++i;
  }
  return i;
}

// Splits at CR LF (and a lone LF or CR, shown the same way), then wraps each line by words.
std::vector<std::string> Wrap(const std::string& text, std::size_t width) {
  std::vector<std::string> paragraphs;
  std::string current;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      paragraphs.push_back(current);
      current.clear();
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current.push_back(text[i]);
    }
  }
  paragraphs.push_back(current);
  std::vector<std::string> lines;
  for (const std::string& p : paragraphs) {
    std::string rest = p;
    if (rest.empty()) {
      lines.emplace_back();
      continue;
    }
    while (Width(rest) > width) {
      const std::size_t limit = BytesOf(rest, width);
      std::size_t cut = rest.rfind(' ', limit);
      if (cut == std::string::npos || cut == 0) {
        lines.push_back(rest.substr(0, limit));
        rest.erase(0, limit);
      } else {
        lines.push_back(rest.substr(0, cut));
        rest.erase(0, cut + 1);
      }
    }
    lines.push_back(rest);
  }
  return lines;
}

class Box {
 public:
  void Top() { out_ += "╭" + Repeat("─", kBoxInner + 2) + "╮\n"; }
  void Rule() { out_ += "├" + Repeat("─", kBoxInner + 2) + "┤\n"; }
  void Bottom() { out_ += "╰" + Repeat("─", kBoxInner + 2) + "╯\n"; }
  void Line(const std::string& text) {
    for (const std::string& l : Wrap(text, kBoxInner)) {
      out_ += "│ " + l + std::string(kBoxInner - std::min<std::size_t>(Width(l), kBoxInner), ' ') +
              " │\n";
    }
  }
  // Text at the left and a tag at the right of one line.
  void LeftRight(const std::string& left, const std::string& right) {
    const std::size_t room = kBoxInner - Width(right) - 1;
    std::string l = left;
    if (Width(l) > room) l = l.substr(0, BytesOf(l, room));
    out_ += "│ " + l + std::string(kBoxInner - Width(l) - Width(right), ' ') + right + " │\n";
  }
  void RightAligned(const std::string& text) {
    const std::size_t w = std::min<std::size_t>(Width(text), kBoxInner);
    out_ += "│ " + std::string(kBoxInner - w, ' ') + text + " │\n";
  }
  const std::string& str() const { return out_; }

 private:
  static std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  }
  std::string out_;
};

std::string MessageBoxIconTag(unsigned style) {
  switch (style & 0xF0u) {
    case 0x10: return "(x) ";
    case 0x20: return "(?) ";
    case 0x30: return "(!) ";
    case 0x40: return "(i) ";
    default: return "";
  }
}

std::string TaskDialogIconText(std::uintptr_t icon, bool isHandle) {
  if (icon == 0) return "none";
  if (isHandle) return "icon handle " + Hex(icon, 1);
  switch (icon) {
    case 0xFFFF: return "TD_WARNING_ICON (0xFFFF)";
    case 0xFFFE: return "TD_ERROR_ICON (0xFFFE)";
    case 0xFFFD: return "TD_INFORMATION_ICON (0xFFFD)";
    case 0xFFFC: return "TD_SHIELD_ICON (0xFFFC)";
    default: return "resource " + Hex(icon, 4);
  }
}

std::string TaskDialogIconTag(std::uintptr_t icon, bool isHandle) {
  if (icon == 0) return "";
  if (isHandle) return "[icon] ";
  switch (icon) {
    case 0xFFFF: return "(!) ";
    case 0xFFFE: return "(x) ";
    case 0xFFFD: return "(i) ";
    case 0xFFFC: return "(shield) ";
    default: return "[icon] ";
  }
}

std::string ButtonsRow(const DialogRecord& d, win::LANGID language) {
  std::string row;
  for (const auto& [id, text] : qv::sim::ButtonsShown(d, language))
    row += (row.empty() ? "" : "  ") + ("[ " + Utf8(text) + " ]");
  return row;
}

std::string Flags(unsigned value, const std::vector<std::pair<unsigned, const char*>>& names) {
  std::string out;
  unsigned rest = value;
  for (const auto& [bit, name] : names) {
    if (bit != 0 && (value & bit) == bit) {
      out += (out.empty() ? "" : " | ") + std::string(name);
      rest &= ~bit;
    }
  }
  if (rest != 0) out += (out.empty() ? "" : " | ") + Hex(rest, 1);
  return out.empty() ? "none" : out;
}

std::string UiLanguageTag(win::LANGID language) {
  const qv::sim::UiLanguage* known = qv::sim::FindUiLanguage(language);
  return known ? known->tag : Hex(language, 4);
}

std::string Fold(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string ProcessTitle(const ProcessRecord& p) {
  if (p.commandLine) return *p.commandLine;
  if (p.applicationName) return *p.applicationName;
  return "(no command line)";
}

}  // namespace

std::string DialogResultName(int result) {
  switch (result) {
    case 0: return "0 (no button: the dialog was not shown)";
    case 1: return "1 (IDOK)";
    case 2: return "2 (IDCANCEL)";
    case 3: return "3 (IDABORT)";
    case 4: return "4 (IDRETRY)";
    case 5: return "5 (IDIGNORE)";
    case 6: return "6 (IDYES)";
    case 7: return "7 (IDNO)";
    case 8: return "8 (IDCLOSE)";
    default: return std::to_string(result);
  }
}

std::string MessageBoxStyleText(unsigned style) {
  static const char* const kButtons[] = {"MB_OK", "MB_OKCANCEL", "MB_ABORTRETRYIGNORE",
                                         "MB_YESNOCANCEL", "MB_YESNO", "MB_RETRYCANCEL",
                                         "MB_CANCELTRYCONTINUE"};
  // Buttons, icon, default button and modality are numbered fields; the rest are flags.
  std::string out = (style & 0xFu) < 7 ? kButtons[style & 0xFu] : Hex(style & 0xFu, 1);
  static const char* const kIcons[] = {nullptr, "MB_ICONERROR", "MB_ICONQUESTION",
                                       "MB_ICONWARNING", "MB_ICONINFORMATION"};
  const unsigned icon = (style >> 4) & 0xFu;
  if (icon != 0) out += " | " + (icon < 5 ? std::string(kIcons[icon]) : Hex(icon << 4, 2));
  const unsigned defButton = (style >> 8) & 0xFu;
  if (defButton != 0) out += " | MB_DEFBUTTON" + std::to_string(defButton + 1);
  const unsigned modality = (style >> 12) & 0x3u;
  if (modality == 1) out += " | MB_SYSTEMMODAL";
  if (modality == 2) out += " | MB_TASKMODAL";
  if (modality == 3) out += " | " + Hex(0x3000, 4);
  const std::string rest = Flags(style & ~0x3FFFu, {{0x4000, "MB_HELP"},
                                                    {0x10000, "MB_SETFOREGROUND"},
                                                    {0x20000, "MB_DEFAULT_DESKTOP_ONLY"},
                                                    {0x40000, "MB_TOPMOST"},
                                                    {0x80000, "MB_RIGHT"},
                                                    {0x100000, "MB_RTLREADING"},
                                                    {0x200000, "MB_SERVICE_NOTIFICATION"}});
  if (rest != "none") out += " | " + rest;
  return out;
}

std::string TaskDialogFlagsText(unsigned flags) {
  return Flags(flags, {{0x1, "TDF_ENABLE_HYPERLINKS"},
                       {0x2, "TDF_USE_HICON_MAIN"},
                       {0x4, "TDF_USE_HICON_FOOTER"},
                       {0x8, "TDF_ALLOW_DIALOG_CANCELLATION"},
                       {0x10, "TDF_USE_COMMAND_LINKS"},
                       {0x20, "TDF_USE_COMMAND_LINKS_NO_ICON"},
                       {0x40, "TDF_EXPAND_FOOTER_AREA"},
                       {0x80, "TDF_EXPANDED_BY_DEFAULT"},
                       {0x100, "TDF_VERIFICATION_FLAG_CHECKED"},
                       {0x200, "TDF_SHOW_PROGRESS_BAR"},
                       {0x400, "TDF_SHOW_MARQUEE_PROGRESS_BAR"},
                       {0x800, "TDF_CALLBACK_TIMER"},
                       {0x1000, "TDF_POSITION_RELATIVE_TO_WINDOW"},
                       {0x2000, "TDF_RTL_LAYOUT"},
                       {0x4000, "TDF_NO_DEFAULT_RADIO_BUTTON"},
                       {0x8000, "TDF_CAN_BE_MINIMIZED"},
                       {0x1000000, "TDF_SIZE_TO_CONTENT"}});
}

std::string CommonButtonsText(unsigned buttons) {
  return Flags(buttons, {{0x1, "OK"},
                         {0x2, "Yes"},
                         {0x4, "No"},
                         {0x8, "Cancel"},
                         {0x10, "Retry"},
                         {0x20, "Close"}});
}

std::string DrawDialog(const DialogRecord& d, int number, win::LANGID uiLanguage) {
  Box box;
  std::string head;
  std::string details;
  if (d.kind == DialogRecord::Kind::MessageBox) {
    head = "Dialog " + std::to_string(number) + ": message box\n";
    box.Top();
    box.LeftRight(Utf8(d.caption), "[×]");
    box.Rule();
    box.Line(MessageBoxIconTag(d.type) + Utf8(d.text));
    box.Line("");
    box.RightAligned(ButtonsRow(d, uiLanguage));
    box.Bottom();
    details += "  style " + Hex(d.type, 8) + ": " + MessageBoxStyleText(d.type) + "\n";
    details += "  owner window: " + (win::IsNull(d.owner) ? std::string("none") :
                                     Hex(win::HandleValue(d.owner), 1)) + "\n";
  } else {
    head = "Dialog " + std::to_string(number) + ": task dialog\n";
    const bool cancellable = (d.dwFlags & win::TDF_ALLOW_DIALOG_CANCELLATION) != 0;
    box.Top();
    box.LeftRight(Utf8(d.windowTitle), cancellable ? "[×]" : "");
    box.Rule();
    const bool mainIsHandle = (d.dwFlags & win::TDF_USE_HICON_MAIN) != 0;
    box.Line(TaskDialogIconTag(d.mainIcon, mainIsHandle) + Utf8(d.mainInstruction));
    if (!d.content.empty()) {
      box.Line("");
      box.Line(Utf8(d.content));
    }
    box.Line("");
    box.RightAligned(ButtonsRow(d, uiLanguage));
    if (!d.footer.empty() || d.footerIcon != 0) {
      box.Rule();
      const bool footerIsHandle = (d.dwFlags & win::TDF_USE_HICON_FOOTER) != 0;
      box.Line(TaskDialogIconTag(d.footerIcon, footerIsHandle) + Utf8(d.footer));
    }
    box.Bottom();
    details += "  window title: \"" + Utf8(d.windowTitle) + "\"; main instruction: \"" +
               Utf8(d.mainInstruction) + "\"\n";
    details += "  flags " + Hex(d.dwFlags, 4) + ": " + TaskDialogFlagsText(d.dwFlags) + "\n";
    details += "  common buttons " + Hex(d.dwCommonButtons, 4) + ": " +
               CommonButtonsText(d.dwCommonButtons) + "\n";
    std::string own;
    for (const auto& [id, text] : d.buttons)
      own += (own.empty() ? "" : ", ") + std::to_string(id) + " \"" + Utf8(text) + "\"";
    details += "  own buttons: " + (own.empty() ? std::string("none") : own) +
               "; default button: " + std::to_string(d.nDefaultButton) + "\n";
    details += "  main icon: " + TaskDialogIconText(d.mainIcon, mainIsHandle) +
               "; footer icon: " +
               TaskDialogIconText(d.footerIcon, (d.dwFlags & win::TDF_USE_HICON_FOOTER) != 0) +
               "\n";
    // The simulation runs natively, so the record has this build's layout; what matters is
    // that the program passed the record's own size.
    details += "  width: " + std::to_string(d.cxWidth) + " dialog units; cbSize " +
               (d.cbSize == sizeof(win::TASKDIALOGCONFIG)
                    ? std::string("= the record's size (96 bytes in the 32-bit program)")
                    : std::to_string(d.cbSize) + " (not the record's size)") +
               "; parent: " +
               (win::IsNull(d.hwndParent) ? std::string("none") :
                Hex(win::HandleValue(d.hwndParent), 1)) +
               "; hInstance: " +
               (win::IsNull(d.hInstance) ? std::string("0") :
                Hex(win::HandleValue(d.hInstance), 1)) + "\n";
    std::string extras;
    if (d.cRadioButtons) extras += " radio buttons: " + std::to_string(d.cRadioButtons) + ";";
    if (d.hasVerificationText) extras += " verification check box;";
    if (d.hasExpandedInformation) extras += " expanded information;";
    if (d.hasExpandedControlText || d.hasCollapsedControlText) extras += " expando texts;";
    if (d.hasCallback) extras += " callback;";
    if (d.lpCallbackData) extras += " callback data;";
    if (!extras.empty()) details += "  also:" + extras + "\n";
  }
  std::string answer = "  answer: " + std::string(AnswerName(d.answer)) + " → ";
  if (d.answer == Answer::CannotShow) {
    answer += "the dialog could not be shown";
    if (d.kind == DialogRecord::Kind::TaskDialog)
      answer += " (TaskDialogIndirect gave " + Hex(static_cast<std::uint32_t>(d.hr), 8) + ")";
    else
      answer += " (MessageBoxW gave 0)";
  } else if (d.kind == DialogRecord::Kind::TaskDialog) {
    answer += "pressed button " + DialogResultName(d.result);
  } else {
    answer += DialogResultName(d.result);
  }
  return head + box.str() + details + answer + "\n";
}

std::string ViewOfPath(const std::string& physicalPath, int windowsBits) {
  const std::string f = Fold(physicalPath) + "\\";
  if (f.find("\\wow6432node\\") != std::string::npos) return "32-bit view";
  return windowsBits == 64 ? "64-bit view" : "registry";
}

std::vector<ViewChanges> CollectRegistryChanges(const qv::sim::SimRegistry& registry) {
  const int bits = registry.windowsBits();
  std::vector<ViewChanges> views;
  auto viewFor = [&views](const std::string& name) -> ViewChanges& {
    for (ViewChanges& v : views)
      if (v.view == name) return v;
    views.push_back(ViewChanges{name, {}, {}, {}, 0});
    return views.back();
  };
  auto keyIn = [](RegFile& file, const std::string& path, bool deleted) -> RegFileKey& {
    for (RegFileKey& k : file.keys)
      if (Fold(k.path) == Fold(path) && k.deleted == deleted) return k;
    RegFileKey k;
    k.path = path;
    k.deleted = deleted;
    file.keys.push_back(k);
    return file.keys.back();
  };
  // The first data a value had before the run, and its last data, per value.
  struct ValueTrack {
    std::string key, name;
    std::optional<qv::sim::RegValue> first, last;
    bool deleted = false;
  };
  std::vector<ValueTrack> tracks;
  // Every key the changes mention, in the order of first mention, with its view.
  std::vector<std::pair<std::string, bool>> keyOrder;  // path, deleted
  std::vector<std::pair<std::string, bool>> createdKeys;
  auto mention = [&keyOrder](const std::string& path, bool deleted) {
    for (const auto& k : keyOrder)
      if (Fold(k.first) == Fold(path) && k.second == deleted) return;
    keyOrder.emplace_back(path, deleted);
  };
  for (const RegChange& c : registry.Changes()) {
    ViewChanges& view = viewFor(ViewOfPath(c.keyPath, bits));
    switch (c.kind) {
      case RegChange::Kind::KeyCreated:
        mention(c.keyPath, false);
        createdKeys.emplace_back(c.keyPath, false);
        break;
      case RegChange::Kind::KeyDeleted:
        mention(c.keyPath, true);
        createdKeys.emplace_back(c.keyPath, true);
        break;
      case RegChange::Kind::ValueSet:
      case RegChange::Kind::ValueDeleted: {
        mention(c.keyPath, false);
        if (c.kind == RegChange::Kind::ValueSet) ++view.valuesWritten;
        auto it = std::find_if(tracks.begin(), tracks.end(), [&c](const ValueTrack& t) {
          return Fold(t.key) == Fold(c.keyPath) && Fold(t.name) == Fold(c.valueName);
        });
        if (it == tracks.end()) {
          tracks.push_back(ValueTrack{c.keyPath, c.valueName, c.before, {}, false});
          it = tracks.end() - 1;
        }
        it->last = c.after;
        it->deleted = c.kind == RegChange::Kind::ValueDeleted;
        break;
      }
    }
  }
  // Sections in order of first mention: keys created or deleted, and keys with values that are
  // new, changed or deleted.
  std::map<std::string, std::vector<RegFileValue>> changedValues;  // by folded key path
  for (const ValueTrack& t : tracks) {
    ViewChanges& view = viewFor(ViewOfPath(t.key, bits));
    RegFileValue v;
    v.name = t.name;
    v.isDefault = t.name.empty();
    if (t.deleted) {
      if (!t.first) continue;  // deleted a value that was not there
      v.deleted = true;
    } else if (t.last) {
      v.value = *t.last;
      if (t.first && *t.first == *t.last) {
        view.rewritten.push_back(v);
        view.rewrittenKeys.push_back(t.key);
        continue;
      }
    } else {
      continue;
    }
    changedValues[Fold(t.key)].push_back(v);
  }
  for (const auto& entry : keyOrder) {
    // Named copies rather than structured bindings: clang 14 cannot capture those in a lambda.
    const auto& path = entry.first;
    const bool deleted = entry.second;
    const bool createdOrDeleted =
        std::any_of(createdKeys.begin(), createdKeys.end(), [&](const auto& k) {
          return Fold(k.first) == Fold(path) && k.second == deleted;
        });
    auto values = deleted ? changedValues.end() : changedValues.find(Fold(path));
    if (!createdOrDeleted && values == changedValues.end()) continue;
    RegFileKey& key = keyIn(viewFor(ViewOfPath(path, bits)).changed, path, deleted);
    if (values != changedValues.end()) key.values = values->second;
  }
  // Keys in their order of first mention are kept; the 64-bit (or only) view comes first.
  std::stable_sort(views.begin(), views.end(), [](const ViewChanges& a, const ViewChanges& b) {
    return a.view != "32-bit view" && b.view == "32-bit view";
  });
  return views;
}

std::string RegistryChangesFile(const std::vector<ViewChanges>& views) {
  std::string out = std::string(kRegHeader) + "\n\n";
  for (const ViewChanges& v : views) {
    std::string comment = "; " + v.view;
    if (v.view == "32-bit view")
      comment += " (what a 32-bit program reaches; regedit on 64-bit Windows shows it under "
                 "Wow6432Node)";
    else if (v.view == "64-bit view")
      comment += " (and keys both views share)";
    out += comment + ": " + std::to_string(v.valuesWritten) + " value writes\n\n";
    const std::string body = WriteRegFile(v.changed);
    out += body.substr(std::string(kRegHeader).size() + 2);
    if (!v.rewritten.empty()) {
      out += "; written again with the data they already had:\n";
      for (std::size_t i = 0; i < v.rewritten.size(); ++i)
        out += ";   [" + AnsiToUtf8(v.rewrittenKeys[i]) + "] " + FormatRegValue(v.rewritten[i]) + "\n";
      out += "\n";
    }
  }
  return out;
}

namespace {

std::string Section(const std::string& title) {
  return "\n== " + title + " " + std::string(title.size() < 66 ? 66 - title.size() : 0, '=') +
         "\n";
}

std::string ProcessDetails(const ProcessRecord& p, int number) {
  std::string out = std::to_string(number) + ". " + ProcessTitle(p) + "\n";
  out += "   application name: " +
         (p.applicationName ? "\"" + *p.applicationName + "\"" : std::string("none (NULL)")) +
         "\n";
  out += "   command line:     " +
         (p.commandLine ? *p.commandLine : std::string("none (NULL)")) + "\n";
  out += "   program found:    " +
         (p.imagePath.empty() ? std::string("none (the program was not found)")
                              : p.imagePath) +
         "\n";
  out += std::string("   ") + (p.started ? "started" : "not started") +
         (p.waitedFor ? ", waited for to its end" : ", not waited for") +
         "; inherit handles: " + (p.inheritHandles ? "yes" : "no") + "; creation flags " +
         Hex(p.creationFlags, 8) + (p.creationFlags == win::NORMAL_PRIORITY_CLASS
                                        ? " (NORMAL_PRIORITY_CLASS)" : "") + "\n";
  out += "   environment: " + std::string(p.environmentGiven ? "given" : "inherited") +
         "; current directory: " +
         (p.currentDirectory ? *p.currentDirectory : std::string("inherited")) +
         "; STARTUPINFOW cb " +
         (p.startupInfo.cb == sizeof(win::STARTUPINFOW)
              ? std::string("= the record's size (68 bytes in the 32-bit program)")
              : std::to_string(p.startupInfo.cb) + " (not the record's size)") +
         (p.processAttributesGiven || p.threadAttributesGiven ? "; security attributes given"
                                                                : "") + "\n";
  return out;
}

std::string Shortcut(const qv::sim::ShortcutData& s) {
  std::string out;
  out += "     target:            " + s.target + "\n";
  out += "     arguments:         " + (s.arguments.empty() ? "(none)" : s.arguments) + "\n";
  out += "     working folder:    " +
         (s.workingDirectory.empty() ? "(none)" : s.workingDirectory) + "\n";
  out += "     description:       " + s.description + "\n";
  out += "     icon:              " + s.iconPath + "," + std::to_string(s.iconIndex) + "\n";
  out += "     show command:      " + std::to_string(s.showCommand) +
         (s.showCommand == win::SW_SHOWNORMAL ? " (SW_SHOWNORMAL)" : "") + "\n";
  return out;
}

// The file version in a VS_VERSIONINFO block: the record after the signature 0xFEEF04BD.
std::optional<qv::sim::FileVersion> VersionInBlock(const std::vector<std::uint8_t>& block) {
  for (std::size_t i = 0; i + 16 <= block.size(); ++i) {
    if (block[i] == 0xBD && block[i + 1] == 0x04 && block[i + 2] == 0xEF && block[i + 3] == 0xFE) {
      auto word = [&block](std::size_t at) {
        return static_cast<qv::win::WORD>(block[at] | (block[at + 1] << 8));
      };
      qv::sim::FileVersion v;
      v.b = word(i + 8);
      v.a = word(i + 10);
      v.d = word(i + 12);
      v.c = word(i + 14);
      return v;
    }
  }
  return std::nullopt;
}

// The file a file-log entry leaves behind ("created X", "replaced X", "A -> X"), or "".
std::string FileOfEntry(const std::string& entry) {
  const std::size_t arrow = entry.find(" -> ");
  if (arrow != std::string::npos) return entry.substr(arrow + 4);
  if (entry.rfind("created ", 0) == 0) return entry.substr(8);
  if (entry.rfind("replaced ", 0) == 0) return entry.substr(9);
  return "";
}

// The shortcuts at the files the log's entries leave behind, each once, in the order of their
// last entry.
std::vector<std::string> ShortcutsLeft(const qv::sim::SimMachine& m) {
  std::vector<std::string> paths;
  for (const std::string& entry : m.FileLog()) {
    const std::string path = FileOfEntry(entry);
    const qv::sim::SimFile* file = path.empty() ? nullptr : m.FindFile(path);
    if (!file || !file->shortcut) continue;
    paths.erase(std::remove(paths.begin(), paths.end(), path), paths.end());
    paths.push_back(path);
  }
  return paths;
}

std::string VersionOrNone(const std::optional<qv::sim::FileVersion>& v) {
  return v ? VersionText(*v) : std::string("none");
}

std::string OutcomeLine(const RunResult& r) {
  if (r.error)
    return "error: Main raised error " + std::to_string(r.error->number) + " \"" +
           r.error->description + "\" (source " + r.error->source +
           "); the program reports it in a message box and ends";
  if (r.usage) return "usage: \"/?\" showed the usage message; nothing else happened";
  if (!r.outcome) return "failure: an unexpected exception left Main: " + r.failure;
  switch (*r.outcome) {
    case qv::RunOutcome::Updated:
      return std::string("updated: the version of QVApp.exe changed and the success report was ") +
             (r.quiet ? "answered without a window (/quiet)" : "shown");
    case qv::RunOutcome::NotInstalled: return "not installed: the product key is missing";
    case qv::RunOutcome::Cancelled: return "cancelled: the user cancelled the close-programs prompt";
    case qv::RunOutcome::VersionUnchanged:
      return "version unchanged: the fourth number of QVApp.exe's version is as before; no report";
    case qv::RunOutcome::PackageUnusable:
      return "package unusable: the patch package is missing or unreadable; the message said "
             "which, and nothing was changed";
    case qv::RunOutcome::PackageRejected:
      return "package rejected: the patch package is not the one the release was made for (another "
             "SHA-256); the message said so, and nothing was changed";
    case qv::RunOutcome::NoProtectedFolder:
      return "no protected folder: the patch package could not be copied where only "
             "administrators can change it; nothing was changed";
  }
  return "?";
}

}  // namespace

std::string TextReport(const MachineDescription& machine, const RunResult& r) {
  qv::sim::SimMachine& m = *r.machine;
  const AnsiCodePageScope codePageScope(machine.codePage);
  std::string out;
  out += "qv3sim: QV3Update on a simulated Windows machine\n";
  if (!machine.description.empty()) out += "Machine:   " + machine.description + "\n";
  out += "Windows:   " +
         (machine.windowsVersion == "fail" ? std::string("version query fails")
                                           : machine.windowsVersion) +
         ", " + std::to_string(machine.windowsBits) + "-bit, ANSI code page " +
         std::to_string(machine.codePage) + "\n";
  out += "Updater:   " + machine.updaterPath + " (" + std::to_string(machine.updaterBits) +
         "-bit)\n";
  out += "Arguments: " + (machine.arguments.empty() ? std::string("(none)") : machine.arguments) +
         "\n";
  out += std::string("Language:  the updater's texts ") +
         (qv::ChoosesEnglish(qv::Utf8ToText(machine.arguments))
              ? "English (\"/en\" in the arguments)"
              : "German (no \"/en\" in the arguments)") +
         "; Windows' own (buttons, folder names) " + UiLanguageTag(machine.uiLanguage) + "\n";

  const auto& dialogs = m.Dialogs();
  out += Section("Dialogs (" + std::to_string(dialogs.size()) + ")");
  if (dialogs.empty()) out += "(none)\n";
  for (std::size_t i = 0; i < dialogs.size(); ++i) {
    if (i) out += "\n";
    out += DrawDialog(dialogs[i], static_cast<int>(i + 1), machine.uiLanguage);
  }

  const auto& processes = m.Processes();
  out += Section("Child processes (" + std::to_string(processes.size()) + ")");
  if (processes.empty()) out += "(none)\n";
  for (std::size_t i = 0; i < processes.size(); ++i)
    out += ProcessDetails(processes[i], static_cast<int>(i + 1));

  const auto views = CollectRegistryChanges(m.registry());
  out += Section("Registry changes");
  if (views.empty()) out += "(none)\n";
  else out += RegistryChangesFile(views);

  out += Section("Error reporting exclusions");
  if (m.WerExclusions().empty()) out += "(none)\n";
  for (const auto& [name, allUsers] : m.WerExclusions())
    out += "WerAddExcludedApplication(\"" + Utf8(name) + "\", " +
           (allUsers ? "TRUE: all users" : "FALSE: this user") + ")\n";

  out += Section("File changes");
  if (m.FileLog().empty()) out += "(none)\n";
  for (const std::string& entry : m.FileLog()) {
    out += entry + "\n";
    const std::string path = FileOfEntry(entry);
    if (path.empty()) continue;
    const qv::sim::SimFile* file = m.FindFile(path);
    if (file && file->shortcut) out += Shortcut(*file->shortcut);
    // A file the run wrote (its log): its text, line by line.
    else if (file && !file->content.empty() && entry.rfind("created ", 0) == 0)
      for (std::size_t at = file->content.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
           at < file->content.size();) {
        const std::size_t end = std::min(file->content.find("\r\n", at), file->content.size());
        out += "  | " + file->content.substr(at, end - at) + "\n";
        at = end + 2;
      }
  }
  for (const std::string& entry : m.UserLog()) out += "the standard user: " + entry + "\n";
  // The installer's effect on the product's version, as the run saw it.
  for (const FileSpec& f : machine.files) {
    const qv::sim::SimFile* now = m.FindFile(f.path);
    if (!now || f.folder) continue;
    const auto after = VersionInBlock(now->versionData);
    if (!(after == f.version))
      out += "version of " + f.path + ": " + VersionOrNone(f.version) + " -> " +
             VersionOrNone(after) + "\n";
  }

  out += Section("Application event log (" + std::to_string(m.Events().size()) + ")");
  if (m.Events().empty()) out += "(none)\n";
  for (const qv::sim::EventRecord& e : m.Events()) {
    out += std::string(e.type == win::EVENTLOG_ERROR_TYPE     ? "error"
                       : e.type == win::EVENTLOG_WARNING_TYPE ? "warning"
                                                              : "information") +
           ", source " + e.source + ", event " + std::to_string(e.eventId) + ":\n";
    for (const qv::Text& text : e.strings) out += "  " + Utf8(text) + "\n";
  }

  out += Section("Outcome");
  out += "Outcome:     " + OutcomeLine(r) + "\n";
  if (r.installerExitCode) out += "Installer:   exit code " + std::to_string(*r.installerExitCode) + "\n";
  out += "Exit status: " + std::to_string(r.exitStatus) + "\n";
  const auto open = m.kernel().OpenHandles();
  out += "Windows calls: " +
         std::to_string(m.kernel().CallCount()) +
         "; handles left open: " + std::to_string(open.size()) + "\n";
  for (const auto& [value, entry] : open)
    out += "  open " + std::string(qv::sim::HandleKindName(entry.kind)) + " " + Hex(value, 1) +
           ": " + entry.description + "\n";
  return out;
}

std::string JsonReport(const MachineDescription& machine, const RunResult& r) {
  using J = nlohmann::ordered_json;
  qv::sim::SimMachine& m = *r.machine;
  const AnsiCodePageScope codePageScope(machine.codePage);
  J j;
  j["machine"] = machine.description;
  j["ui_language"] = UiLanguageTag(machine.uiLanguage);
  j["outcome"] = OutcomeName(r);
  j["exit_status"] = r.exitStatus;
  if (r.error)
    j["error"] = {{"number", r.error->number},
                  {"description", r.error->description},
                  {"source", r.error->source}};
  if (!r.failure.empty()) j["failure"] = r.failure;
  j["dialogs"] = J::array();
  for (const DialogRecord& d : m.Dialogs()) {
    J o;
    if (d.kind == DialogRecord::Kind::MessageBox) {
      o["kind"] = "message box";
      o["caption"] = Utf8(d.caption);
      o["text"] = Utf8(d.text);
      o["style"] = d.type;
    } else {
      o["kind"] = "task dialog";
      o["window_title"] = Utf8(d.windowTitle);
      o["main_instruction"] = Utf8(d.mainInstruction);
      o["content"] = Utf8(d.content);
      o["footer"] = Utf8(d.footer);
      o["flags"] = d.dwFlags;
      o["common_buttons"] = d.dwCommonButtons;
      o["buttons"] = J::array();
      for (const auto& [id, text] : d.buttons) o["buttons"].push_back({{"id", id}, {"text", Utf8(text)}});
      o["main_icon"] = d.mainIcon;
      o["footer_icon"] = d.footerIcon;
      o["width"] = d.cxWidth;
      o["cb_size"] = d.cbSize;
    }
    // The buttons as shown, Windows' own labelled in the machine's UI language.
    o["shown_buttons"] = J::array();
    for (const auto& [id, text] : qv::sim::ButtonsShown(d, machine.uiLanguage))
      o["shown_buttons"].push_back({{"id", id}, {"text", Utf8(text)}});
    o["answer"] = AnswerName(d.answer);
    o["result"] = d.result;
    j["dialogs"].push_back(o);
  }
  j["processes"] = J::array();
  for (const ProcessRecord& p : m.Processes()) {
    J o;
    o["application_name"] = p.applicationName ? J(*p.applicationName) : J(nullptr);
    o["command_line"] = p.commandLine ? J(*p.commandLine) : J(nullptr);
    o["image"] = p.imagePath;
    o["started"] = p.started;
    o["waited_for"] = p.waitedFor;
    o["creation_flags"] = p.creationFlags;
    o["inherit_handles"] = p.inheritHandles;
    j["processes"].push_back(o);
  }
  const auto views = CollectRegistryChanges(m.registry());
  j["registry"] = J::object();
  for (const ViewChanges& v : views) {
    J o;
    o["values_written"] = v.valuesWritten;
    o["changes"] = J::array();
    for (const RegFileKey& k : v.changed.keys) {
      J key;
      key["key"] = AnsiToUtf8(k.path);
      if (k.deleted) key["deleted"] = true;
      key["values"] = J::array();
      for (const RegFileValue& value : k.values) key["values"].push_back(FormatRegValue(value));
      o["changes"].push_back(key);
    }
    o["rewritten_unchanged"] = v.rewritten.size();
    j["registry"][v.view] = o;
  }
  j["registry_file"] = views.empty() ? std::string() : RegistryChangesFile(views);
  j["error_reporting_exclusions"] = J::array();
  for (const auto& [name, allUsers] : m.WerExclusions())
    j["error_reporting_exclusions"].push_back({{"name", Utf8(name)}, {"all_users", allUsers != 0}});
  j["file_changes"] = J::array();
  for (const std::string& e : m.FileLog()) j["file_changes"].push_back(e);
  j["user_writes"] = J::array();
  for (const std::string& e : m.UserLog()) j["user_writes"].push_back(e);
  // Every shortcut the run left behind, with its fields, as the file change naming it last.
  j["shortcuts"] = J::array();
  for (const std::string& path : ShortcutsLeft(m)) {
    const qv::sim::ShortcutData& s = *m.FindFile(path)->shortcut;
    j["shortcuts"].push_back({{"path", path},
                              {"target", s.target},
                              {"arguments", s.arguments},
                              {"working_directory", s.workingDirectory},
                              {"description", s.description},
                              {"icon_path", s.iconPath},
                              {"icon_index", s.iconIndex},
                              {"show_command", s.showCommand}});
  }
  j["windows_calls"] = m.kernel().CallCount();
  j["handles_left_open"] = m.kernel().OpenHandleCount();
  return j.dump(2) + "\n";
}

}  // namespace qv3sim
