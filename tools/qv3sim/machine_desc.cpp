#include "machine_desc.h"

#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "json_locator.h"
#include "tool_files.h"

namespace qv3sim {

using json = nlohmann::ordered_json;
using qv::sim::Answer;
using qv::sim::FileVersion;
namespace win = qv::win;

namespace {

// "/files/2/version" -> "files[2].version"
std::string FieldName(const std::string& pointer) {
  std::string out;
  std::size_t i = 1;
  while (i <= pointer.size() && !pointer.empty()) {
    std::size_t next = pointer.find('/', i);
    std::string part = pointer.substr(i, next == std::string::npos ? std::string::npos : next - i);
    const bool index = !part.empty() && part.find_first_not_of("0123456789") == std::string::npos;
    if (index) out += "[" + part + "]";
    else out += (out.empty() ? "" : ".") + part;
    if (next == std::string::npos) break;
    i = next + 1;
  }
  return out.empty() ? "(top level)" : out;
}

std::string TypeName(const json& j) {
  switch (j.type()) {
    case json::value_t::null: return "null";
    case json::value_t::object: return "an object";
    case json::value_t::array: return "an array";
    case json::value_t::string: return "a string";
    case json::value_t::boolean: return "a boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned: return "an integer";
    case json::value_t::number_float: {
      const double d = j.get<double>();
      if (d != std::floor(d)) return "a number with a fraction (" + j.dump() + ")";
      if (std::fabs(d) >= 9.2e18) return "a number too large for an integer (" + j.dump() + ")";
      return "a number written with an exponent or a decimal point (" + j.dump() + ")";
    }
    default: return "something else";
  }
}

bool ParseVersionPart(const std::string& s, int& out) {
  if (s.empty() || s.size() > 3 || s.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = std::stoi(s);
  return true;
}

class Reader {
 public:
  Reader(const std::string& text, std::string fileName)
      : text_(text), file_(std::move(fileName)), locator_(text) {}

  [[noreturn]] void Fail(const std::string& pointer, const std::string& message) const {
    const TextPosition pos = locator_.Find(pointer);
    throw DescriptionError(file_, pos.line, pos.column, FieldName(pointer) + ": " + message);
  }

  void Expect(const json& j, bool ok, const std::string& pointer, const char* wanted) const {
    if (!ok) Fail(pointer, std::string("expected ") + wanted + ", got " + TypeName(j));
  }
  std::string Str(const json& j, const std::string& pointer) const {
    Expect(j, j.is_string(), pointer, "a string");
    return j.get<std::string>();
  }
  std::int64_t Int(const json& j, const std::string& pointer, std::int64_t lo,
                   std::int64_t hi) const {
    Expect(j, j.is_number_integer(), pointer, "an integer");
    if (j.is_number_unsigned() && j.get<std::uint64_t>() > static_cast<std::uint64_t>(hi))
      Fail(pointer, "number out of range (" + std::to_string(lo) + " to " + std::to_string(hi) +
                        ")");
    const std::int64_t v = j.get<std::int64_t>();
    if (v < lo || v > hi)
      Fail(pointer, "number " + std::to_string(v) + " out of range (" + std::to_string(lo) +
                        " to " + std::to_string(hi) + ")");
    return v;
  }
  // An integer that must be one of `choices` ("32 or 64"): any other says which are taken.
  int OneOf(const json& j, const std::string& pointer, std::initializer_list<int> choices,
            const char* accepted) const {
    Expect(j, j.is_number_integer(), pointer, "an integer");
    for (int c : choices)
      if (j == c) return c;
    Fail(pointer, std::string("expected ") + accepted + ", got " + j.dump());
  }
  bool Bool(const json& j, const std::string& pointer) const {
    Expect(j, j.is_boolean(), pointer, "true or false");
    return j.get<bool>();
  }
  const json& Array(const json& j, const std::string& pointer) const {
    Expect(j, j.is_array(), pointer, "an array");
    return j;
  }
  // An object whose members are all among `allowed`.
  const json& Object(const json& j, const std::string& pointer,
                     std::initializer_list<const char*> allowed) const {
    Expect(j, j.is_object(), pointer, "an object");
    for (auto it = j.begin(); it != j.end(); ++it) {
      bool known = false;
      for (const char* a : allowed) known = known || it.key() == a;
      if (!known) {
        std::string list;
        for (const char* a : allowed) list += (list.empty() ? "" : ", ") + std::string(a);
        Fail(JsonLocator::Child(pointer, it.key()),
             "unknown field \"" + it.key() + "\" (known fields: " + list + ")");
      }
    }
    return j;
  }

  FileVersion Version(const json& j, const std::string& pointer) const {
    const std::string s = Str(j, pointer);
    auto v = ParseVersion(s);
    if (!v) Fail(pointer, "expected a version \"a.b.c.d\" (four numbers 0 to 65535), got \"" + s +
                              "\"");
    return *v;
  }

  MachineDescription Read() {
    json root;
    try {
      root = json::parse(text_);
    } catch (const json::parse_error& e) {
      // nlohmann reports the byte after which it stopped; show that character's line.
      std::size_t offset = e.byte == 0 ? 0 : e.byte - 1;
      // Point at the start of a string token that ends there, not at its closing quote.
      if (offset < text_.size() && offset > 0 && text_[offset] == '"') {
        std::size_t open = offset;
        while (open > 0 && text_[open - 1] != '\n') {
          --open;
          if (text_[open] == '"' && (open == 0 || text_[open - 1] != '\\')) break;
        }
        if (text_[open] == '"') offset = open;
      }
      const TextPosition pos = PositionOfOffset(text_, offset);
      std::string what = e.what();
      const std::size_t col = what.find("column ");
      const std::size_t colon = col == std::string::npos ? what.find("] ") : what.find(": ", col);
      if (colon != std::string::npos) what = what.substr(colon + 2);
      throw DescriptionError(file_, pos.line, pos.column, "invalid JSON: " + what);
    } catch (const json::exception& e) {
      // Well-formed text the parser cannot hold, such as a number too large for any type; the
      // message quotes the token, which shows where it is.
      std::string what = e.what();
      const std::size_t quote = what.find('\'');
      const std::size_t end = what.rfind('\'');
      std::size_t offset = 0;
      if (quote != std::string::npos && end > quote) {
        const std::size_t at = text_.find(what.substr(quote + 1, end - quote - 1));
        if (at != std::string::npos) offset = at;
      }
      const std::size_t bracket = what.find("] ");
      if (bracket != std::string::npos) what = what.substr(bracket + 2);
      const TextPosition pos = PositionOfOffset(text_, offset);
      throw DescriptionError(file_, pos.line, pos.column, "invalid JSON: " + what);
    }
    // The parser keeps the last of a key given twice; a description gives each field once.
    for (const DuplicateKey& d : locator_.Duplicates()) {
      const TextPosition first = PositionOfOffset(text_, d.first);
      const TextPosition second = PositionOfOffset(text_, d.second);
      throw DescriptionError(file_, second.line, second.column,
                             FieldName(d.pointer) + ": given twice, on line " +
                                 std::to_string(first.line) + " and on line " +
                                 std::to_string(second.line) + "; give it once");
    }
    MachineDescription m;
    m.specialFolders.clear();
    Object(root, "",
           {"description", "windows_version", "windows_bits", "updater_bits", "updater_path",
            "arguments", "system_folder", "code_page", "ui_language", "registry",
            "registry_file", "files", "windows",
            "special_folders", "answers", "installer", "faults", "environment",
            "windows_folder", "updater_package", "user_writes"});
    if (root.contains("registry") && root.contains("registry_file"))
      Fail("/registry_file", "give either \"registry\" or \"registry_file\", not both");
    // The code page first: the registry's names and texts are read into it.
    if (root.contains("code_page")) {
      m.codePage = static_cast<unsigned>(Int(root["code_page"], "/code_page", 0, 65535));
      if (!qv::sim::SimCodePage::Supported(m.codePage) || m.codePage == 0)
        Fail("/code_page", "expected a system code page the simulation knows: 1252, 1250, "
                           "1251, 932 or 65001");
    }
    const AnsiCodePageScope codePageScope(m.codePage);
    for (auto it = root.begin(); it != root.end(); ++it) {
      const std::string key = it.key();
      const std::string p = JsonLocator::Child("", key);
      const json& v = it.value();
      if (key == "description") {
        m.description = Str(v, p);
      } else if (key == "windows_version") {
        m.windowsVersion = Str(v, p);
        const std::size_t dot = m.windowsVersion.find('.');
        int major = 0, minor = 0;
        if (m.windowsVersion != "fail" &&
            (dot == std::string::npos || !ParseVersionPart(m.windowsVersion.substr(0, dot), major) ||
             !ParseVersionPart(m.windowsVersion.substr(dot + 1), minor)))
          Fail(p, "expected \"major.minor\" (e.g. \"5.0\", \"5.1\", \"6.1\", \"10.0\") or "
                  "\"fail\", got \"" + m.windowsVersion + "\"");
      } else if (key == "windows_bits") {
        m.windowsBits = OneOf(v, p, {32, 64}, "32 or 64");
      } else if (key == "updater_bits") {
        m.updaterBits = OneOf(v, p, {32, 64}, "32 or 64");
      } else if (key == "updater_path") {
        m.updaterPath = Str(v, p);
        if (m.updaterPath.find('\\') == std::string::npos)
          Fail(p, "expected a full Windows path such as C:\\\\Users\\\\User\\\\QV3Update.exe");
      } else if (key == "arguments") {
        m.arguments = Str(v, p);
      } else if (key == "system_folder") {
        m.systemFolder = Str(v, p);
      } else if (key == "code_page") {
        // read above
      } else if (key == "ui_language") {
        const std::string tag = Str(v, p);
        const qv::sim::UiLanguage* language = qv::sim::FindUiLanguage(tag);
        if (!language) {
          std::string known;
          for (const qv::sim::UiLanguage& l : qv::sim::UiLanguages())
            known += (known.empty() ? "" : ", ") + ("\"" + std::string(l.tag) + "\" (" + l.name + ")");
          Fail(p, "expected a Windows UI language the simulation knows: " + known + "; got \"" +
                      tag + "\"");
        }
        m.uiLanguage = language->id;
      } else if (key == "registry") {
        ReadInlineRegistry(v, p, m);
      } else if (key == "registry_file") {
        ReadRegistryFile(v, p, m);
      } else if (key == "files") {
        const json& a = Array(v, p);
        for (std::size_t i = 0; i < a.size(); ++i) m.files.push_back(ReadFile(a[i], JsonLocator::Child(p, i)));
      } else if (key == "windows") {
        const json& a = Array(v, p);
        for (std::size_t i = 0; i < a.size(); ++i)
          m.windows.push_back(ReadWindow(a[i], JsonLocator::Child(p, i), 0));
      } else if (key == "special_folders") {
        ReadSpecialFolders(v, p, m);
      } else if (key == "answers") {
        const json& a = Array(v, p);
        for (std::size_t i = 0; i < a.size(); ++i) {
          const std::string ep = JsonLocator::Child(p, i);
          const std::string s = Str(a[i], ep);
          auto answer = AnswerFromName(s);
          if (!answer)
            Fail(ep, "unknown answer \"" + s +
                         "\" (expected confirm, cancel, escape, closebox, close or cannot-show)");
          m.answers.push_back(*answer);
        }
      } else if (key == "installer") {
        m.installer = ReadInstaller(v, p);
      } else if (key == "faults") {
        const json& a = Array(v, p);
        for (std::size_t i = 0; i < a.size(); ++i) {
          const std::string ep = JsonLocator::Child(p, i);
          const json& f = Object(a[i], ep, {"function", "nth", "code"});
          FaultSpec fault;
          if (!f.contains("function")) Fail(ep, "a fault needs \"function\"");
          fault.function = Str(f["function"], JsonLocator::Child(ep, "function"));
          if (f.contains("nth"))
            fault.nth = static_cast<std::uint64_t>(
                Int(f["nth"], JsonLocator::Child(ep, "nth"), 0, 1000000000));
          if (f.contains("code"))
            fault.code = Int(f["code"], JsonLocator::Child(ep, "code"), INT32_MIN, UINT32_MAX);
          m.faults.push_back(fault);
        }
      } else if (key == "windows_folder") {
        m.windowsFolder = Str(v, p);
        if (m.windowsFolder.find('\\') == std::string::npos)
          Fail(p, "expected a full Windows path such as C:\\\\Windows");
      } else if (key == "updater_package") {
        m.updaterPackage = Str(v, p);
        if (m.updaterPackage.empty())
          Fail(p, "expected the package's SHA-256 (64 hexadecimal digits) or its content");
      } else if (key == "user_writes") {
        const json& a = Array(v, p);
        for (std::size_t i = 0; i < a.size(); ++i)
          m.userWrites.push_back(ReadUserWrite(a[i], JsonLocator::Child(p, i)));
      } else if (key == "environment") {
        Expect(v, v.is_object(), p, "an object");
        for (auto e = v.begin(); e != v.end(); ++e)
          m.environment.emplace_back(e.key(), Str(e.value(), JsonLocator::Child(p, e.key())));
      }
    }
    if (m.updaterBits == 64 && m.windowsBits == 32)
      Fail(root.contains("updater_bits") ? "/updater_bits" : "/windows_bits",
           "a 64-bit updater cannot run on 32-bit Windows");
    return m;
  }

 private:
  UserWriteSpec ReadUserWrite(const json& j, const std::string& p) const {
    const json& o = Object(j, p, {"moment", "path", "delete", "content"});
    UserWriteSpec w;
    if (!o.contains("moment") || !o.contains("path"))
      Fail(p, "a user's write needs \"moment\" and \"path\"");
    const std::string mp = JsonLocator::Child(p, "moment");
    const std::string moment = Str(o["moment"], mp);
    const auto parsed = MomentFromName(moment);
    if (!parsed)
      Fail(mp, "unknown moment \"" + moment +
                   "\" (expected before-run, after-copy, after-check or during-prompt)");
    w.moment = *parsed;
    w.path = Str(o["path"], JsonLocator::Child(p, "path"));
    if (w.path.empty()) Fail(JsonLocator::Child(p, "path"), "empty path");
    if (o.contains("delete")) w.remove = Bool(o["delete"], JsonLocator::Child(p, "delete"));
    if (o.contains("content")) w.content = Str(o["content"], JsonLocator::Child(p, "content"));
    if (w.remove && o.contains("content")) Fail(p, "a deleted file has no content");
    return w;
  }

  FileSpec ReadFile(const json& j, const std::string& p) const {
    const json& o = Object(j, p, {"path", "version", "attributes", "content"});
    FileSpec f;
    if (!o.contains("path")) Fail(p, "a file needs \"path\"");
    f.path = Str(o["path"], JsonLocator::Child(p, "path"));
    if (f.path.empty()) Fail(JsonLocator::Child(p, "path"), "empty path");
    if (o.contains("version") && !o["version"].is_null())
      f.version = Version(o["version"], JsonLocator::Child(p, "version"));
    if (o.contains("attributes")) {
      const std::string ap = JsonLocator::Child(p, "attributes");
      const json& a = Array(o["attributes"], ap);
      for (std::size_t i = 0; i < a.size(); ++i) {
        const std::string ep = JsonLocator::Child(ap, i);
        const std::string s = Str(a[i], ep);
        if (s == "hidden") f.hidden = true;
        else if (s == "system") f.system = true;
        else if (s == "readonly") f.readonly = true;
        else if (s == "folder") f.folder = true;
        else Fail(ep, "unknown attribute \"" + s + "\" (expected hidden, system, readonly or folder)");
      }
    }
    if (f.folder && f.version) Fail(p, "a folder has no version");
    if (o.contains("content")) f.content = Str(o["content"], JsonLocator::Child(p, "content"));
    if (f.folder && o.contains("content")) Fail(p, "a folder has no content");
    return f;
  }

  WindowSpec ReadWindow(const json& j, const std::string& p, int depth) const {
    const json& o = Object(j, p, {"class", "caption", "visible", "children"});
    WindowSpec w;
    if (o.contains("class")) w.className = Str(o["class"], JsonLocator::Child(p, "class"));
    if (o.contains("caption")) w.caption = Str(o["caption"], JsonLocator::Child(p, "caption"));
    if (o.contains("visible")) w.visible = Bool(o["visible"], JsonLocator::Child(p, "visible"));
    if (o.contains("children")) {
      const std::string cp = JsonLocator::Child(p, "children");
      const json& a = Array(o["children"], cp);
      if (depth >= 8 && !a.empty()) Fail(cp, "windows nested deeper than 8 levels");
      for (std::size_t i = 0; i < a.size(); ++i)
        w.children.push_back(ReadWindow(a[i], JsonLocator::Child(cp, i), depth + 1));
    }
    return w;
  }

  void ReadSpecialFolders(const json& v, const std::string& p, MachineDescription& m) const {
    Expect(v, v.is_object(), p, "an object");
    for (auto it = v.begin(); it != v.end(); ++it) {
      const std::string ep = JsonLocator::Child(p, it.key());
      SpecialFolderSpec f;
      const std::string& name = it.key();
      if (name == "common_programs") {
        f.csidl = win::CSIDL_COMMON_PROGRAMS;
      } else if (!name.empty() && name.size() <= 5 &&
                 name.find_first_not_of("0123456789") == std::string::npos) {
        f.csidl = std::stoi(name);
      } else {
        Fail(ep, "unknown special folder \"" + name +
                     "\" (expected a CSIDL number such as \"23\" or \"common_programs\")");
      }
      const std::string s = Str(it.value(), ep);
      if (s == "invalid") f.state = FolderState::Invalid;
      else if (s == "missing") f.state = FolderState::Missing;
      else if (s == "fail") f.state = FolderState::Fail;
      else if (s.find('\\') != std::string::npos) f.path = s;
      else Fail(ep, "expected a folder path or \"invalid\", \"missing\" or \"fail\", got \"" + s + "\"");
      for (const SpecialFolderSpec& other : m.specialFolders)
        if (other.csidl == f.csidl) Fail(ep, "special folder " + std::to_string(f.csidl) + " given twice");
      m.specialFolders.push_back(f);
    }
  }

  InstallerSpec ReadInstaller(const json& v, const std::string& p) const {
    const json& o = Object(v, p, {"effect", "version", "path", "target", "exit_code"});
    InstallerSpec s;
    if (!o.contains("effect")) Fail(p, "the installer needs \"effect\": \"raise\", \"leave\" or \"fail\"");
    const std::string ep = JsonLocator::Child(p, "effect");
    const std::string e = Str(o["effect"], ep);
    if (e == "raise") s.effect = InstallerEffect::Raise;
    else if (e == "leave") s.effect = InstallerEffect::Leave;
    else if (e == "fail") s.effect = InstallerEffect::Fail;
    else if (e == "missing") s.effect = InstallerEffect::Missing;
    else Fail(ep, "unknown effect \"" + e + "\" (expected raise, leave, fail or missing)");
    if (o.contains("version")) s.version = Version(o["version"], JsonLocator::Child(p, "version"));
    else if (s.effect == InstallerEffect::Raise) Fail(p, "effect \"raise\" needs \"version\"");
    if (o.contains("path")) s.path = Str(o["path"], JsonLocator::Child(p, "path"));
    if (o.contains("target")) s.target = Str(o["target"], JsonLocator::Child(p, "target"));
    if (o.contains("exit_code"))
      s.exitCode = static_cast<std::uint32_t>(Int(o["exit_code"], JsonLocator::Child(p, "exit_code"), 0, UINT32_MAX));
    return s;
  }

  void ReadInlineRegistry(const json& v, const std::string& p, MachineDescription& m) const {
    std::string text;
    std::vector<int> firstLineOfElement;  // for an array of lines: where each element starts
    if (v.is_array()) {
      int line = 1;
      for (std::size_t i = 0; i < v.size(); ++i) {
        const std::string s = Str(v[i], JsonLocator::Child(p, i));
        firstLineOfElement.push_back(line);
        text += s + "\n";
        for (char c : s) line += c == '\n';
        ++line;
      }
    } else {
      Expect(v, v.is_string(), p, "regedit text (a string or an array of lines)");
      text = v.get<std::string>();
    }
    try {
      m.registry = ParseRegFile(text);
    } catch (const RegParseError& e) {
      if (!firstLineOfElement.empty()) {
        std::size_t element = 0;
        while (element + 1 < firstLineOfElement.size() &&
               firstLineOfElement[element + 1] <= e.line())
          ++element;
        Fail(JsonLocator::Child(p, element), e.what());
      }
      Fail(p, "line " + std::to_string(e.line()) + " of the regedit text: " + e.what());
    }
  }

  // A file a description names: a relative path is taken from the description's own folder,
  // wherever the tool is started.
  std::filesystem::path BesideDescription(const std::string& name) const {
    const std::filesystem::path path(name);
    if (!path.is_relative()) return path;
    std::error_code ec;
    const std::filesystem::path folder =
        std::filesystem::absolute(std::filesystem::path(file_), ec).parent_path();
    return (ec ? std::filesystem::path(file_).parent_path() : folder) / path;
  }

  void ReadRegistryFile(const json& v, const std::string& p, MachineDescription& m) const {
    const std::string name = Str(v, p);
    const std::filesystem::path path = BesideDescription(name);
    std::string why;
    const std::optional<std::string> bytes = ReadFileBytes(path, why);
    if (!bytes)
      Fail(p, "cannot read the registry file " + path.lexically_normal().string() + ": " + why +
                  (std::filesystem::path(name).is_relative()
                       ? " (a relative path is taken from the description's folder)"
                       : ""));
    try {
      // A regedit export is UTF-16LE with a byte-order mark; anything else must be UTF-8.
      const bool utf16 = bytes->compare(0, 2, "\xFF\xFE") == 0;
      m.registry = ParseRegFile(DecodeRegFileBytes(
          utf16 ? *bytes
                : Utf8FileText(*bytes, path.string(),
                               "a registry file must be UTF-16 little-endian with a byte-order "
                               "mark (as regedit exports it) or UTF-8",
                               "save it as UTF-8, or export it again with regedit")));
      m.inputFiles.emplace_back("the description's registry file", path.string());
    } catch (const RegParseError& e) {
      throw DescriptionError(path.string(), e.line(), e.column(), e.what());
    }
  }

  const std::string& text_;
  std::string file_;
  JsonLocator locator_;
};

std::string FormatError(const std::string& file, int line, int column, const std::string& msg) {
  std::string out = file;
  if (line > 0) {
    out += ":" + std::to_string(line);
    if (column > 0) out += ":" + std::to_string(column);
  }
  return out + ": error: " + msg;
}

}  // namespace

DescriptionError::DescriptionError(std::string file, int line, int column, std::string message)
    : std::runtime_error(FormatError(file, line, column, message)),
      file_(std::move(file)),
      line_(line),
      column_(column),
      message_(std::move(message)) {}

bool MachineDescription::operator==(const MachineDescription& o) const {
  return description == o.description && windowsVersion == o.windowsVersion &&
         windowsBits == o.windowsBits && updaterBits == o.updaterBits &&
         updaterPath == o.updaterPath && arguments == o.arguments &&
         systemFolder == o.systemFolder && codePage == o.codePage && uiLanguage == o.uiLanguage &&
         Flatten(registry) == Flatten(o.registry) &&
         files == o.files && windows == o.windows && specialFolders == o.specialFolders &&
         answers == o.answers && installer == o.installer && faults == o.faults &&
         environment == o.environment && windowsFolder == o.windowsFolder &&
         updaterPackage == o.updaterPackage && userWrites == o.userWrites;
}

const char* MomentName(qv::sim::UserMoment moment) {
  switch (moment) {
    case qv::sim::UserMoment::BeforeRun: return "before-run";
    case qv::sim::UserMoment::AfterCopy: return "after-copy";
    case qv::sim::UserMoment::AfterCheck: return "after-check";
    case qv::sim::UserMoment::DuringPrompt: return "during-prompt";
  }
  return "?";
}

std::optional<qv::sim::UserMoment> MomentFromName(const std::string& name) {
  using qv::sim::UserMoment;
  for (UserMoment m : {UserMoment::BeforeRun, UserMoment::AfterCopy, UserMoment::AfterCheck,
                       UserMoment::DuringPrompt})
    if (name == MomentName(m)) return m;
  return std::nullopt;
}

std::string WindowsFolderOf(const MachineDescription& machine) {
  if (!machine.windowsFolder.empty()) return machine.windowsFolder;
  const std::size_t slash = machine.systemFolder.find_last_of('\\');
  if (slash == std::string::npos || slash < 2) return "C:\\Windows";
  return machine.systemFolder.substr(0, slash == 2 ? 3 : slash);
}

const char* AnswerName(Answer answer) {
  switch (answer) {
    case Answer::Confirm: return "confirm";
    case Answer::Cancel: return "cancel";
    case Answer::Escape: return "escape";
    case Answer::CloseBox: return "closebox";
    case Answer::Close: return "close";
    case Answer::CannotShow: return "cannot-show";
  }
  return "?";
}

std::optional<Answer> AnswerFromName(const std::string& name) {
  for (Answer a : {Answer::Confirm, Answer::Cancel, Answer::Escape, Answer::CloseBox,
                   Answer::Close, Answer::CannotShow})
    if (name == AnswerName(a)) return a;
  return std::nullopt;
}

std::string VersionText(const FileVersion& v) {
  return std::to_string(v.a) + "." + std::to_string(v.b) + "." + std::to_string(v.c) + "." +
         std::to_string(v.d);
}

std::optional<FileVersion> ParseVersion(const std::string& text) {
  std::uint32_t parts[4];
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t end = i == 3 ? text.size() : text.find('.', start);
    if (end == std::string::npos) return std::nullopt;
    const std::string part = text.substr(start, end - start);
    if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    parts[i] = static_cast<std::uint32_t>(std::stoul(part));
    if (parts[i] > 0xFFFF) return std::nullopt;
    start = end + 1;
  }
  if (text.find('.', 0) == std::string::npos) return std::nullopt;
  FileVersion v;
  v.a = static_cast<win::WORD>(parts[0]);
  v.b = static_cast<win::WORD>(parts[1]);
  v.c = static_cast<win::WORD>(parts[2]);
  v.d = static_cast<win::WORD>(parts[3]);
  return v;
}

std::string ProductKeyPath(int windowsBits) {
  return windowsBits == 64 ? "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\orvanta\\Quorvia"
                           : "HKEY_LOCAL_MACHINE\\SOFTWARE\\orvanta\\Quorvia";
}

MachineDescription ReadDescription(const std::string& jsonText, const std::string& fileName) {
  const std::string text =
      Utf8FileText(jsonText, fileName,
                   "a description must be UTF-8 (with or without a byte-order mark)",
                   "save it as UTF-8");
  Reader reader(text, fileName);
  return reader.Read();
}

MachineDescription ReadDescriptionFile(const std::string& path) {
  std::string why;
  const std::optional<std::string> bytes = ReadFileBytes(path, why);
  if (!bytes) throw DescriptionError(path, 0, 0, "cannot read the description: " + why);
  MachineDescription machine = ReadDescription(*bytes, path);
  machine.inputFiles.insert(machine.inputFiles.begin(), {"the description", path});
  return machine;
}

MachineDescription DefaultMachine() {
  MachineDescription m;
  m.description =
      "Windows 7 64-bit; the 32-bit updater in the Downloads folder; Quorvia 3 3.10.0.68 "
      "installed and running; English shortcut present; the installer raises QVApp.exe to "
      "3.10.0.69; the user confirms";
  m.windowsVersion = "6.1";
  m.windowsBits = 64;
  m.updaterBits = 32;
  m.updaterPath = "C:\\Users\\User\\Downloads\\QV3Update.exe";
  m.arguments = "/en";
  m.systemFolder = "C:\\Windows\\system32";
  m.registry = ParseRegFile(
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\orvanta\\Quorvia]\n"
      "\"AppPath\"=\"C:\\\\Program Files (x86)\\\\Quorvia 3\\\\\"\n"
      "\"Version\"=\"3.10.0.68\"\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Internet Explorer\\Main\\"
      "FeatureControl\\FEATURE_BROWSER_EMULATION]\n"
      "\"QVApp.exe\"=dword:00001f40\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run]\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Main]\n"
      "\"Start Page\"=\"about:blank\"\n"
      "\n");
  const std::string folder = "C:\\Program Files (x86)\\Quorvia 3\\";
  const FileVersion installed{3, 10, 0, 68};
  m.files = {
      {m.updaterPath, FileVersion{3, 10, 0, 69}},
      {"C:\\Users\\User\\Downloads\\qvupdate.msp", std::nullopt},
      {folder + "QVApp.exe", installed},
      {folder + "QVGet.exe", installed},
      {folder + "QVSaver.exe", installed},
      {folder + "QVThumbs.exe", installed},
      {folder + "QVSync.exe", installed},
      {folder + "QVInit.exe", installed},
      {"C:\\Windows\\system32\\msiexec.exe", FileVersion{5, 0, 7601, 17514}},
      {"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quorvia 3\\Synchronizing.lnk",
       std::nullopt},
  };
  WindowSpec communicator;
  communicator.className = "ThunderRT6FormDC";
  communicator.caption = "QVShellCommunicator2006";
  WindowSpec textBox;
  textBox.className = "ThunderRT6TextBox";
  communicator.children.push_back(textBox);
  m.windows = {communicator};
  m.specialFolders = {{win::CSIDL_COMMON_PROGRAMS, FolderState::Path,
                       "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"}};
  m.answers = {Answer::Confirm};
  m.installer.effect = InstallerEffect::Raise;
  m.installer.version = FileVersion{3, 10, 0, 69};
  return m;
}

namespace {

}  // namespace

std::string DescriptionToJson(const MachineDescription& m) {
  nlohmann::ordered_json j;
  if (!m.description.empty()) j["description"] = m.description;
  j["windows_version"] = m.windowsVersion;
  j["windows_bits"] = m.windowsBits;
  j["updater_bits"] = m.updaterBits;
  j["updater_path"] = m.updaterPath;
  j["arguments"] = m.arguments;
  j["system_folder"] = m.systemFolder;
  if (m.codePage != 1252) j["code_page"] = m.codePage;
  if (const qv::sim::UiLanguage* language = qv::sim::FindUiLanguage(m.uiLanguage))
    j["ui_language"] = language->tag;
  const AnsiCodePageScope codePageScope(m.codePage);
  {
    nlohmann::ordered_json lines = nlohmann::ordered_json::array();
    std::string text = WriteRegFile(m.registry);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::size_t start = 0;
    while (true) {
      const std::size_t nl = text.find('\n', start);
      lines.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
      if (nl == std::string::npos) break;
      start = nl + 1;
    }
    j["registry"] = lines;
  }
  j["files"] = nlohmann::ordered_json::array();
  for (const FileSpec& f : m.files) {
    nlohmann::ordered_json o;
    o["path"] = f.path;
    if (f.version) o["version"] = VersionText(*f.version);
    nlohmann::ordered_json attrs = nlohmann::ordered_json::array();
    if (f.hidden) attrs.push_back("hidden");
    if (f.system) attrs.push_back("system");
    if (f.readonly) attrs.push_back("readonly");
    if (f.folder) attrs.push_back("folder");
    if (!attrs.empty()) o["attributes"] = attrs;
    if (!f.content.empty()) o["content"] = f.content;
    j["files"].push_back(o);
  }
  std::function<nlohmann::ordered_json(const WindowSpec&)> window = [&window](const WindowSpec& w) {
    nlohmann::ordered_json o;
    o["class"] = w.className;
    o["caption"] = w.caption;
    if (!w.visible) o["visible"] = false;
    if (!w.children.empty()) {
      o["children"] = nlohmann::ordered_json::array();
      for (const WindowSpec& c : w.children) o["children"].push_back(window(c));
    }
    return o;
  };
  j["windows"] = nlohmann::ordered_json::array();
  for (const WindowSpec& w : m.windows) j["windows"].push_back(window(w));
  j["special_folders"] = nlohmann::ordered_json::object();
  for (const SpecialFolderSpec& f : m.specialFolders) {
    const std::string key =
        f.csidl == win::CSIDL_COMMON_PROGRAMS ? "common_programs" : std::to_string(f.csidl);
    switch (f.state) {
      case FolderState::Path: j["special_folders"][key] = f.path; break;
      case FolderState::Invalid: j["special_folders"][key] = "invalid"; break;
      case FolderState::Missing: j["special_folders"][key] = "missing"; break;
      case FolderState::Fail: j["special_folders"][key] = "fail"; break;
    }
  }
  j["answers"] = nlohmann::ordered_json::array();
  for (Answer a : m.answers) j["answers"].push_back(AnswerName(a));
  {
    nlohmann::ordered_json o;
    o["effect"] = m.installer.effect == InstallerEffect::Raise   ? "raise"
                  : m.installer.effect == InstallerEffect::Leave ? "leave"
                  : m.installer.effect == InstallerEffect::Fail  ? "fail"
                                                                 : "missing";
    if (m.installer.effect == InstallerEffect::Raise) o["version"] = VersionText(m.installer.version);
    if (!m.installer.path.empty()) o["path"] = m.installer.path;
    if (!m.installer.target.empty()) o["target"] = m.installer.target;
    if (m.installer.exitCode) o["exit_code"] = m.installer.exitCode;
    j["installer"] = o;
  }
  if (!m.faults.empty()) {
    j["faults"] = nlohmann::ordered_json::array();
    for (const FaultSpec& f : m.faults)
      j["faults"].push_back({{"function", f.function}, {"nth", f.nth}, {"code", f.code}});
  }
  if (!m.environment.empty()) {
    j["environment"] = nlohmann::ordered_json::object();
    for (const auto& [k, v] : m.environment) j["environment"][k] = v;
  }
  if (!m.windowsFolder.empty()) j["windows_folder"] = m.windowsFolder;
  if (!m.updaterPackage.empty()) j["updater_package"] = m.updaterPackage;
  if (!m.userWrites.empty()) {
    j["user_writes"] = nlohmann::ordered_json::array();
    for (const UserWriteSpec& w : m.userWrites) {
      nlohmann::ordered_json o;
      o["moment"] = MomentName(w.moment);
      o["path"] = w.path;
      if (w.remove) o["delete"] = true;
      if (!w.remove) o["content"] = w.content;
      j["user_writes"].push_back(o);
    }
  }
  return j.dump(2) + "\n";
}

std::unique_ptr<qv::sim::SimMachine> BuildMachine(const MachineDescription& d) {
  using namespace qv::sim;
  MachineConfig config;
  if (d.windowsVersion == "fail") {
    config.versionQueryFails = true;
    config.major = 0;
    config.minor = 0;
  } else {
    const std::size_t dot = d.windowsVersion.find('.');
    config.major = static_cast<win::DWORD>(std::stoul(d.windowsVersion.substr(0, dot)));
    config.minor = static_cast<win::DWORD>(std::stoul(d.windowsVersion.substr(dot + 1)));
  }
  config.windowsBits = d.windowsBits;
  config.processBits = d.updaterBits;
  config.exePath = d.updaterPath;
  config.systemDirectory = d.systemFolder;
  config.windowsDirectory = WindowsFolderOf(d);
  config.codePage = d.codePage;
  config.uiLanguage = d.uiLanguage;
  const AnsiCodePageScope codePageScope(d.codePage);
  // The description lists every file; the machine starts with an empty drive C:.
  config.standardFiles = false;
  auto machine = std::make_unique<SimMachine>(config);

  for (const RegFileKey& key : Flatten(d.registry).keys) {
    machine->registry().CreateKey(key.path);
    for (const RegFileValue& value : key.values)
      machine->registry().SetValue(key.path, value.name, value.value);
  }
  for (const FileSpec& f : d.files) {
    const std::string& path = f.path;
    if (f.folder) {
      machine->AddFolder(path);
      continue;
    }
    SimFile file;
    file.attributes = win::FILE_ATTRIBUTE_ARCHIVE;
    if (f.hidden) file.attributes |= win::FILE_ATTRIBUTE_HIDDEN;
    if (f.system) file.attributes |= win::FILE_ATTRIBUTE_SYSTEM;
    if (f.readonly) file.attributes |= win::FILE_ATTRIBUTE_READONLY;
    if (f.version) file.versionData = MakeVersionData(*f.version);
    file.content = f.content;
    machine->AddFile(path, std::move(file));
  }
  // The Windows folder's Temp is part of Windows, as the installer is.
  if (!machine->FolderExists(config.windowsDirectory + "\\Temp"))
    machine->AddFolder(config.windowsDirectory + "\\Temp");
  std::uint32_t nextProcess = 5000;
  std::function<void(const WindowSpec&, win::HWND, win::DWORD, win::DWORD)> addWindow =
      [&](const WindowSpec& w, win::HWND parent, win::DWORD pid, win::DWORD tid) {
        SimWindow sw;
        sw.parent = parent;
        sw.className = Utf8ToAnsi(w.className);
        sw.caption = Utf8ToAnsi(w.caption);
        sw.processId = pid;
        sw.threadId = tid;
        sw.visible = w.visible;
        const win::HWND hwnd = machine->AddWindow(sw);
        for (const WindowSpec& c : w.children) addWindow(c, hwnd, pid, tid);
      };
  for (const WindowSpec& w : d.windows) {
    addWindow(w, win::HWND{}, nextProcess, nextProcess + 4);
    nextProcess += 8;
  }
  for (const SpecialFolderSpec& f : d.specialFolders) {
    switch (f.state) {
      case FolderState::Path: machine->SetSpecialFolder(f.csidl, f.path); break;
      case FolderState::Invalid: machine->SetSpecialFolderResult(f.csidl, win::E_INVALIDARG); break;
      case FolderState::Missing: machine->SetSpecialFolderResult(f.csidl, win::S_FALSE); break;
      case FolderState::Fail: machine->SetSpecialFolderResult(f.csidl, win::E_FAIL); break;
    }
  }
  for (Answer a : d.answers) machine->QueueAnswer(a);

  // The installer as the updater names it; under WOW64 the file it reaches is SysWOW64's.
  const std::string installer =
      d.installer.path.empty() ? d.systemFolder + "\\msiexec.exe" : d.installer.path;
  const std::string reached = machine->ReachedPath(installer);
  // The installer is part of Windows: present unless the description says it is missing.
  if (d.installer.effect == InstallerEffect::Missing) machine->RemoveFile(reached);
  else if (!machine->FindFile(reached)) machine->AddExecutable(reached, std::nullopt);
  machine->SetProcessExit(reached, d.installer.exitCode);
  switch (d.installer.effect) {
    case InstallerEffect::Raise: {
      const FileVersion version = d.installer.version;
      const std::string target = d.installer.target;
      const std::string productKey = ProductKeyPath(d.windowsBits);
      const unsigned codePage = d.codePage;
      machine->OnProcessStart(installer, [version, target, productKey, codePage](
                                             SimMachine& m, const ProcessRecord&) {
        std::string file = target;
        if (file.empty()) {
          // The patch updates the product where its AppPath says it is installed.
          auto appPath = m.registry().GetValue(productKey, "AppPath");
          if (!appPath || (appPath->type != win::REG_SZ && appPath->type != win::REG_EXPAND_SZ))
            return;
          file.assign(appPath->data.begin(), appPath->data.end());
          while (!file.empty() && file.back() == '\0') file.pop_back();
          // The stored bytes are in the machine's code page; the file system keeps UTF-8.
          const AnsiCodePageScope scope(codePage);
          file = AnsiToUtf8(file) + "QVApp.exe";
        }
        m.SetFileVersion(file, version);
      });
      break;
    }
    case InstallerEffect::Leave:
    case InstallerEffect::Missing: break;
    case InstallerEffect::Fail: machine->FailProcessStart(installer); break;
  }
  for (const UserWriteSpec& w : d.userWrites) {
    UserWrite write;
    write.moment = w.moment;
    write.path = w.path;
    if (!w.remove) {
      SimFile file;
      file.content = w.content;
      write.file = file;
    }
    machine->AddUserWrite(std::move(write));
  }
  for (const FaultSpec& f : d.faults) machine->kernel().AddFault({f.function, f.nth, f.code});
  for (const auto& [name, value] : d.environment)
    machine->SetEnvironment(Utf8ToAnsi(name), Utf8ToAnsi(value));
  return machine;
}

}  // namespace qv3sim
