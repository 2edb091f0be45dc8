#include "update/regedit_text.h"

#include <algorithm>

namespace qv {

namespace {

// `digits` lower-case hexadecimal digits of `value` (no printf: mingw's would bring its whole
// formatting engine into the program).
std::string Hex(std::uint32_t value, int digits) {
  std::string out(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[static_cast<std::size_t>(i)] = "0123456789abcdef"[value & 0xF];
  return out;
}

std::string Escape(const std::string& utf8) {
  std::string out;
  for (char c : utf8) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::size_t CodePoints(const std::string& utf8) {
  std::size_t n = 0;
  for (char c : utf8)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

// regedit's wrapping: the line breaks after the comma that takes it to 77 characters or more;
// continuation lines start with two blanks.
std::string HexData(const std::string& prefix, const std::vector<std::uint8_t>& bytes) {
  std::string out = prefix;
  std::size_t lineLen = CodePoints(prefix);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out += Hex(bytes[i], 2);
    if (i + 1 == bytes.size()) break;
    out.push_back(',');
    lineLen += 3;
    if (lineLen >= 77) {
      out += "\\\n  ";
      lineLen = 2;
    }
  }
  return out;
}

}  // namespace

bool IsRegistryStringType(win::DWORD type) {
  return type == win::REG_SZ || type == win::REG_EXPAND_SZ || type == win::REG_MULTI_SZ;
}

std::string RegeditValue(const Text& name, bool isDefault, bool deleted, win::DWORD type,
                         const Text& text, const std::vector<std::uint8_t>& bytes) {
  const std::string prefix = isDefault ? "@=" : "\"" + Escape(TextToUtf8(name)) + "\"=";
  if (deleted) return prefix + "-";
  if (type == win::REG_SZ && !text.empty() && text.back() == u'\0' &&
      text.find_first_of(Text(u"\0\r\n", 3)) == text.size() - 1)
    return prefix + "\"" + Escape(TextToUtf8(text.substr(0, text.size() - 1))) + "\"";
  if (type == win::REG_DWORD && bytes.size() == 4) {
    return prefix + "dword:" +
           Hex(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24), 8);
  }
  std::vector<std::uint8_t> data = bytes;
  if (IsRegistryStringType(type)) {
    data.clear();
    for (char16_t c : text) {
      data.push_back(static_cast<std::uint8_t>(c & 0xFF));
      data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
  }
  std::string tag = "hex:";
  if (type != win::REG_BINARY) {
    tag = Hex(type, 8);
    tag = "hex(" + tag.substr(std::min(tag.find_first_not_of('0'), tag.size() - 1)) + "):";
  }
  return HexData(prefix + tag, data);
}

}  // namespace qv
