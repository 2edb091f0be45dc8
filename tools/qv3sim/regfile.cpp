#include "regfile.h"

#include "update/regedit_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "platform/text.h"

namespace qv3sim {

using qv::sim::RegValue;
namespace win = qv::win;

namespace {

// Registry names compare without regard to case.
std::string Fold(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

thread_local unsigned activeCodePage = 1252;

// Converts a UTF-16 text that may hold NUL characters piece by piece, keeping the NULs.
std::string TextToAnsiKeepNul(const qv::Text& text) {
  const qv::sim::SimCodePage cp(activeCodePage);
  std::string out;
  std::size_t start = 0;
  while (true) {
    const std::size_t nul = text.find(u'\0', start);
    const qv::TextView piece =
        qv::TextView(text).substr(start, nul == qv::Text::npos ? qv::Text::npos : nul - start);
    out += cp.ToAnsi(piece).bytes();
    if (nul == qv::Text::npos) break;
    out.push_back('\0');
    start = nul + 1;
  }
  return out;
}

qv::Text AnsiToTextKeepNul(const std::string& ansi) {
  const qv::sim::SimCodePage cp(activeCodePage);
  qv::Text out;
  std::size_t start = 0;
  while (true) {
    const std::size_t nul = ansi.find('\0', start);
    out += cp.FromAnsi(qv::AnsiString(
        ansi.substr(start, nul == std::string::npos ? std::string::npos : nul - start)));
    if (nul == std::string::npos) break;
    out.push_back(u'\0');
    start = nul + 1;
  }
  return out;
}

std::vector<std::uint8_t> Utf16LeBytes(const qv::Text& text) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return out;
}

qv::Text TextFromUtf16Le(const std::vector<std::uint8_t>& bytes) {
  qv::Text out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return out;
}

bool IsStringType(win::DWORD type) {
  return type == win::REG_SZ || type == win::REG_EXPAND_SZ || type == win::REG_MULTI_SZ;
}

// --- reading ---------------------------------------------------------------------------------

class LineParser {
 public:
  LineParser(const std::string& line, int lineNo) : s_(line), line_(lineNo) {}

  [[noreturn]] void Fail(const std::string& message) const {
    throw RegParseError(line_, static_cast<int>(pos_) + 1, message);
  }
  bool AtEnd() const { return pos_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[pos_]; }
  std::size_t pos() const { return pos_; }
  void SkipBlanks() {
    while (!AtEnd() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
  }
  bool Consume(const std::string& literal) {
    if (s_.compare(pos_, literal.size(), literal) != 0) return false;
    pos_ += literal.size();
    return true;
  }

  // A quoted string with \\ and \" escapes; the opening quote is at the current position.
  std::string QuotedString(const char* what) {
    if (Peek() != '"') Fail(std::string("expected a quoted ") + what);
    const std::size_t open = pos_;
    ++pos_;
    std::string out;
    while (true) {
      if (AtEnd()) {
        pos_ = open;
        Fail(std::string("unterminated ") + what + ": missing closing quotation mark");
      }
      const char c = s_[pos_++];
      if (c == '"') break;
      if (c == '\\') {
        if (AtEnd()) Fail(std::string("unterminated ") + what + " after \\");
        const char e = s_[pos_];
        if (e != '\\' && e != '"') Fail(std::string("unknown escape \\") + e + " in " + what +
                                        " (only \\\\ and \\\" are allowed)");
        out.push_back(e);
        ++pos_;
        continue;
      }
      out.push_back(c);
    }
    return out;
  }

  std::string Rest() const { return s_.substr(std::min(pos_, s_.size())); }

 private:
  const std::string& s_;
  std::size_t pos_ = 0;
  int line_;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "aa,bb,cc" (blanks allowed around the items) -> bytes.
std::vector<std::uint8_t> ParseHexBytes(LineParser& p) {
  std::vector<std::uint8_t> out;
  p.SkipBlanks();
  if (p.AtEnd()) return out;
  while (true) {
    p.SkipBlanks();
    int value = 0, digits = 0;
    while (!p.AtEnd() && HexDigit(p.Peek()) >= 0) {
      // Digits beyond the second are only counted (the item is refused below): a long run of
      // them must not overflow the number.
      if (digits < 2) value = value * 16 + HexDigit(p.Peek());
      ++digits;
      p.Consume(std::string(1, p.Peek()));
    }
    if (digits == 0) p.Fail("expected a hex byte (two hex digits)");
    if (digits > 2) p.Fail("hex byte with more than two digits");
    out.push_back(static_cast<std::uint8_t>(value));
    p.SkipBlanks();
    if (p.AtEnd()) break;
    if (!p.Consume(",")) p.Fail("expected \",\" between hex bytes");
  }
  return out;
}

RegValue StringValue(win::DWORD type, const std::string& utf8) {
  RegValue v;
  v.type = type;
  std::string ansi = Utf8ToAnsi(utf8);
  v.data.assign(ansi.begin(), ansi.end());
  v.data.push_back(0);
  return v;
}

// Value data after "=": "string", -, dword:, hex:, hex(N):.
void ParseValueData(LineParser& p, RegFileValue& value) {
  p.SkipBlanks();
  if (p.Peek() == '"') {
    const std::string s = p.QuotedString("string value");
    value.value = StringValue(win::REG_SZ, s);
  } else if (p.Consume("-")) {
    value.deleted = true;
  } else if (p.Consume("dword:")) {
    std::uint32_t n = 0;
    int digits = 0;
    while (!p.AtEnd() && HexDigit(p.Peek()) >= 0) {
      n = n * 16 + static_cast<std::uint32_t>(HexDigit(p.Peek()));
      ++digits;
      p.Consume(std::string(1, p.Peek()));
    }
    if (digits == 0) p.Fail("dword: needs 1 to 8 hex digits");
    if (digits > 8) p.Fail("dword: has more than 8 hex digits");
    value.value.type = win::REG_DWORD;
    value.value.data = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                        static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
  } else if (p.Consume("hex")) {
    win::DWORD type = win::REG_BINARY;
    if (p.Consume("(")) {
      std::uint32_t t = 0;
      int digits = 0;
      while (!p.AtEnd() && HexDigit(p.Peek()) >= 0) {
        t = t * 16 + static_cast<std::uint32_t>(HexDigit(p.Peek()));
        ++digits;
        p.Consume(std::string(1, p.Peek()));
      }
      if (digits == 0 || digits > 8) p.Fail("hex(N): needs a type number in hex");
      if (!p.Consume(")")) p.Fail("expected \")\" after the type number of hex(");
      type = t;
    }
    if (!p.Consume(":")) p.Fail("expected \":\" after hex");
    std::vector<std::uint8_t> bytes = ParseHexBytes(p);
    value.value.type = type;
    if (IsStringType(type) || type == win::REG_LINK) {
      if (bytes.size() % 2 != 0)
        p.Fail("hex(" + std::to_string(type) +
               ") data is UTF-16LE and needs an even number of bytes");
    }
    if (IsStringType(type)) {
      const std::string ansi = TextToAnsiKeepNul(TextFromUtf16Le(bytes));
      value.value.data.assign(ansi.begin(), ansi.end());
    } else {
      value.value.data = std::move(bytes);
    }
  } else {
    p.Fail("expected value data: \"string\", dword:, hex:, hex(N): or -");
  }
  p.SkipBlanks();
  if (!p.AtEnd()) p.Fail("unexpected text after the value data: " + p.Rest());
}

bool KnownRoot(const std::string& path) {
  static const char* const kRoots[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER",
                                       "HKEY_CLASSES_ROOT", "HKEY_USERS", "HKEY_CURRENT_CONFIG",
                                       "HKLM", "HKCU", "HKCR", "HKU", "HKCC"};
  const std::string root = Fold(path.substr(0, path.find('\\')));
  for (const char* r : kRoots)
    if (root == Fold(r)) return true;
  return false;
}

}  // namespace

unsigned AnsiCodePage() { return activeCodePage; }

AnsiCodePageScope::AnsiCodePageScope(unsigned codePage) : previous_(activeCodePage) {
  activeCodePage = codePage;
}

AnsiCodePageScope::~AnsiCodePageScope() { activeCodePage = previous_; }

std::string AnsiToUtf8(const std::string& ansi) {
  return qv::TextToUtf8(AnsiToTextKeepNul(ansi));
}

std::string Utf8ToAnsi(const std::string& utf8) {
  return TextToAnsiKeepNul(qv::Utf8ToText(utf8));
}

std::string DecodeRegFileBytes(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0)
      throw RegParseError(0, 0, "UTF-16 file with an odd number of bytes");
    std::vector<std::uint8_t> raw(bytes.begin() + 2, bytes.end());
    return qv::TextToUtf8(TextFromUtf16Le(raw));
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  return bytes;
}

RegFile ParseRegFile(const std::string& fileText) {
  // A UTF-8 byte-order mark may lead the text.
  const std::string text =
      fileText.compare(0, 3, "\xEF\xBB\xBF") == 0 ? fileText.substr(3) : fileText;
  // Split into lines, dropping the CR of CR LF.
  std::vector<std::string> lines;
  {
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find('\n', start);
      std::string line = text.substr(start, end == std::string::npos ? std::string::npos
                                                                      : end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(std::move(line));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  RegFile file;
  bool sawHeader = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int lineNo = static_cast<int>(i) + 1;
    std::string line = lines[i];
    // Leading blanks are allowed (regedit ignores them); trailing ones too.
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    line = line.substr(first);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (!sawHeader) {
      if (line != kRegHeader) {
        if (line == "REGEDIT4")
          throw RegParseError(lineNo, 1,
                              "REGEDIT4 files are not supported; expected \"" +
                                  std::string(kRegHeader) + "\"");
        throw RegParseError(lineNo, 1,
                            "expected the header \"" + std::string(kRegHeader) + "\"");
      }
      sawHeader = true;
      continue;
    }
    if (line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']')
        throw RegParseError(lineNo, static_cast<int>(line.size()) + 1,
                            "key line without closing \"]\"");
      RegFileKey key;
      key.line = lineNo;
      std::string path = line.substr(1, line.size() - 2);
      if (!path.empty() && path[0] == '-') {
        key.deleted = true;
        path.erase(0, 1);
      }
      if (path.empty()) throw RegParseError(lineNo, 2, "empty key path");
      if (!KnownRoot(path))
        throw RegParseError(lineNo, 2,
                            "unknown root key \"" + path.substr(0, path.find('\\')) +
                                "\" (expected HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, "
                                "HKEY_CLASSES_ROOT, HKEY_USERS or HKEY_CURRENT_CONFIG)");
      if (path.back() == '\\')
        throw RegParseError(lineNo, static_cast<int>(line.size()) - 1,
                            "key path ends with \"\\\"");
      if (path.find("\\\\") != std::string::npos)
        throw RegParseError(lineNo, 2, "key path has an empty key name (\"\\\\\")");
      key.path = Utf8ToAnsi(path);
      file.keys.push_back(std::move(key));
      continue;
    }
    if (line[0] != '"' && line[0] != '@')
      throw RegParseError(lineNo, 1,
                          "expected [key], \"name\"=value, @=value or a ; comment");
    if (file.keys.empty()) throw RegParseError(lineNo, 1, "value before the first [key] line");
    if (file.keys.back().deleted)
      throw RegParseError(lineNo, 1,
                          "value inside a key deletion section [-" +
                              AnsiToUtf8(file.keys.back().path) + "]");
    // Hex data continues on the next lines while a line ends with "\".
    const int valueLine = lineNo;
    while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos &&
           i + 1 < lines.size()) {
      line.pop_back();
      ++i;
      std::string next = lines[i];
      const std::size_t f = next.find_first_not_of(" \t");
      next = f == std::string::npos ? std::string() : next.substr(f);
      while (!next.empty() && (next.back() == ' ' || next.back() == '\t')) next.pop_back();
      line += next;
    }
    LineParser p(line, valueLine);
    RegFileValue value;
    value.line = valueLine;
    if (p.Consume("@")) {
      value.isDefault = true;
    } else {
      value.name = Utf8ToAnsi(p.QuotedString("value name"));
    }
    p.SkipBlanks();
    if (!p.Consume("=")) p.Fail("expected \"=\" after the value name");
    ParseValueData(p, value);
    file.keys.back().values.push_back(std::move(value));
  }
  if (!sawHeader)
    throw RegParseError(1, 1, "empty file: expected the header \"" + std::string(kRegHeader) +
                                  "\"");
  return file;
}

std::string FormatRegValue(const RegFileValue& value) {
  const RegValue& v = value.value;
  const std::string raw(v.data.begin(), v.data.end());
  return qv::RegeditValue(qv::Utf8ToText(AnsiToUtf8(value.name)), value.isDefault, value.deleted,
                          v.type, IsStringType(v.type) ? AnsiToTextKeepNul(raw) : qv::Text(),
                          v.data);
}

std::string WriteRegFile(const RegFile& file) {
  std::string out = std::string(kRegHeader) + "\n\n";
  for (const RegFileKey& key : file.keys) {
    out += key.deleted ? "[-" : "[";
    out += AnsiToUtf8(key.path) + "]\n";
    for (const RegFileValue& value : key.values) out += FormatRegValue(value) + "\n";
    out += "\n";
  }
  return out;
}

std::string ToRegeditBytes(const std::string& utf8) {
  std::string withCrLf;
  for (char c : utf8) {
    if (c == '\n') withCrLf.push_back('\r');
    withCrLf.push_back(c);
  }
  const std::vector<std::uint8_t> bytes = Utf16LeBytes(qv::Utf8ToText(withCrLf));
  std::string out = "\xFF\xFE";
  out.append(bytes.begin(), bytes.end());
  return out;
}

RegFile Flatten(const RegFile& file) {
  RegFile out;
  auto findKey = [&out](const std::string& path) -> RegFileKey* {
    const std::string folded = Fold(path);
    for (RegFileKey& k : out.keys)
      if (Fold(k.path) == folded) return &k;
    return nullptr;
  };
  for (const RegFileKey& section : file.keys) {
    if (section.deleted) {
      const std::string folded = Fold(section.path);
      out.keys.erase(std::remove_if(out.keys.begin(), out.keys.end(),
                                    [&folded](const RegFileKey& k) {
                                      const std::string f = Fold(k.path);
                                      return f == folded ||
                                             (f.size() > folded.size() &&
                                              f.compare(0, folded.size(), folded) == 0 &&
                                              f[folded.size()] == '\\');
                                    }),
                     out.keys.end());
      continue;
    }
    RegFileKey* key = findKey(section.path);
    if (!key) {
      // A key implies its parents, as regedit creates them on import.
      std::size_t sep = section.path.find('\\');
      while (sep != std::string::npos) {
        const std::string parent = section.path.substr(0, sep);
        if (parent.find('\\') != std::string::npos && !findKey(parent)) {
          RegFileKey p;
          p.path = parent;
          out.keys.push_back(p);
        }
        sep = section.path.find('\\', sep + 1);
      }
      RegFileKey k;
      k.path = section.path;
      k.line = section.line;
      out.keys.push_back(k);
      key = &out.keys.back();
    }
    for (const RegFileValue& value : section.values) {
      auto it = std::find_if(key->values.begin(), key->values.end(),
                             [&value](const RegFileValue& v) {
                               return v.isDefault == value.isDefault &&
                                      Fold(v.name) == Fold(value.name);
                             });
      if (value.deleted) {
        if (it != key->values.end()) key->values.erase(it);
      } else if (it != key->values.end()) {
        it->value = value.value;
        it->line = value.line;
      } else {
        key->values.push_back(value);
      }
    }
  }
  return out;
}

}  // namespace qv3sim
